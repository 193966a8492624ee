// Building the "--json" document and the listing's summary line.
#include "cli/json_document.h"

#include <nlohmann/json.hpp>

#include "cli/console_host.h"
#include "platform/encoding.h"

namespace torquelin {

namespace {

struct Counts {
  uint64_t added = 0, removed = 0, modified = 0, attributes = 0;
};

Counts CountsOf(const ChangeListing& listing) {
  Counts counts;
  for (const Difference& d : listing.differences) {
    switch (d.mark) {
      case u'+':
        ++counts.added;
        break;
      case u'-':
        ++counts.removed;
        break;
      case u'M':
        ++counts.modified;
        break;
      default:
        ++counts.attributes;
        break;
    }
  }
  return counts;
}

const char* KindName(char16_t mark) {
  switch (mark) {
    case u'+':
      return "added";
    case u'-':
      return "removed";
    case u'M':
      return "modified";
    default:
      return "attributes";
  }
}

nlohmann::ordered_json ListingJson(const ChangeListing& listing, bool patch) {
  nlohmann::ordered_json doc;
  doc["older_fingerprint"] = platform::ToUtf8(listing.olderTree);
  doc["newer_fingerprint"] = platform::ToUtf8(listing.newerTree);
  const Counts counts = CountsOf(listing);
  doc["counts"] = {{"added", counts.added},
                   {"removed", counts.removed},
                   {"modified", counts.modified},
                   {"attributes", counts.attributes}};
  if (patch) {
    doc["bytes_stored"] = listing.storedBytes;
    doc["patch_bytes"] = listing.patchBytes;
  }
  nlohmann::ordered_json changes = nlohmann::ordered_json::array();
  for (const Difference& d : listing.differences) {
    std::string path = ShownOnConsole(d.path);
    if (!path.empty() && path.front() == '/') path.erase(0, 1);
    nlohmann::ordered_json change = {
        {"path", path}, {"kind", KindName(d.mark)}, {"directory", d.directory}};
    // A removal or a change of attributes stores no content, even where the
    // path is also carried anew.
    const auto size = listing.sizes.find(d.path);
    if (size != listing.sizes.end() && (d.mark == u'+' || d.mark == u'M') && !d.directory) {
      change["size"] = size->second;
    } else {
      change["size"] = nullptr;
    }
    changes.push_back(std::move(change));
  }
  doc["changes"] = std::move(changes);
  return doc;
}

}  // namespace

std::string JsonDocument(JobKind kind, const JobRun& run) {
  nlohmann::ordered_json doc = nlohmann::ordered_json::object();
  if (kind == JobKind::Fingerprint) {
    doc["fingerprint"] = platform::ToUtf8(run.result);
  } else if (run.listing) {
    doc = ListingJson(*run.listing, kind != JobKind::Verify);
    if (kind == JobKind::Verify) doc["matches"] = run.listing->differences.empty();
    if (kind == JobKind::ApplyPatch) doc["check"] = "can-be-applied";
  }
  // Names are shown with their bytes escaped, so the text is UTF-8; replace
  // keeps a document coming whatever slips through.
  return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string ListingSummary(const ChangeListing& listing) {
  const Counts counts = CountsOf(listing);
  return std::to_string(counts.added) + " added, " + std::to_string(counts.removed) + " removed, " +
         std::to_string(counts.modified) + " modified, " + std::to_string(counts.attributes) +
         " attributes only; " + std::to_string(listing.storedBytes) +
         " bytes stored in a patch of " + std::to_string(listing.patchBytes) + " bytes";
}

}  // namespace torquelin
