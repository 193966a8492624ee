// The checks apply makes before its first change: the patch's lists, links
// on the way, and whether every removal and change can be made.
#include "engine/jobs/apply_checks.h"

#include <algorithm>
#include <set>

#include "engine/base/error_sites.h"
#include "engine/base/number_text.h"
#include "engine/io/file_system.h"
#include "engine/jobs/apply_journal.h"
#include "engine/jobs/apply_prediction.h"
#include "platform/attribute_word.h"
#include "platform/safe_path.h"
#include "platform/system_error.h"

namespace torquelin {

namespace {

// The lists a path can be in, as bits.
enum ListBit : uint8_t {
  kRemovedFile = 1,
  kRemovedDirectory = 2,
  kNewDirectory = 4,
  kNewFile = 8,
  kChangedFile = 16,
  kStored = 32,
  kAttribute = 64,
};

// Whether the lists (without kAttribute) a path is in are ones a comparison
// of two trees writes together.
bool ListsAgree(uint8_t lists) {
  const uint8_t core = lists & ~kAttribute;
  switch (core) {
    case 0:  // an attribute change alone
    case kNewDirectory:
    case kNewFile | kStored:
    case kChangedFile | kStored:
    case kRemovedFile | kNewDirectory:
    case kRemovedDirectory | kChangedFile | kStored:
    case kRemovedDirectory | kNewFile | kStored:
      return true;
    case kRemovedFile:
    case kRemovedDirectory:
      return (lists & kAttribute) == 0;
    default:
      return false;
  }
}

struct Listed {
  const std::u16string* path;
  uint8_t list;
};

}  // namespace

void CheckListedPaths(const ChangeSet& patch, const std::vector<std::u16string>& stored,
                      const CIgnoreFilter& filter) {
  // Each list comes sorted from a writer; the lists are merged rather than
  // sorted again (a crafted list out of order is sorted first).
  const auto byPath = [](const Listed& a, const Listed& b) { return *a.path < *b.path; };
  std::vector<Listed> all;
  std::vector<size_t> runs = {0};
  const auto add = [&](const PathList& list, uint8_t bit) {
    for (const std::u16string& path : list) all.push_back({&path, bit});
    if (!std::is_sorted(all.begin() + runs.back(), all.end(), byPath)) {
      std::sort(all.begin() + runs.back(), all.end(), byPath);
    }
    runs.push_back(all.size());
  };
  add(patch.UnlinkedFiles, kRemovedFile);
  add(patch.UnlinkedDirectories, kRemovedDirectory);
  add(patch.NewDirs, kNewDirectory);
  add(patch.NewFiles, kNewFile);
  add(patch.ChangedFiles, kChangedFile);
  add(stored, kStored);
  for (const auto& [path, word] : patch.AttributeChanges) all.push_back({&path, kAttribute});
  runs.push_back(all.size());
  for (size_t r = 1; r + 1 < runs.size(); ++r) {
    std::inplace_merge(all.begin(), all.begin() + runs[r], all.begin() + runs[r + 1], byPath);
  }

  const std::u16string journal = std::u16string(u"\\") + kApplyJournalName;
  std::u16string matched;
  for (size_t i = 0; i < all.size();) {
    const std::u16string& path = *all[i].path;
    uint8_t lists = 0;
    bool twice = false;
    for (; i < all.size() && *all[i].path == path; ++i) {
      twice = twice || (lists & all[i].list) != 0;
      lists |= all[i].list;
    }
    if (!platform::IsSafeRelativePath(path)) Raise(site::kApplyUnsafePath, path);
    if (path == journal) Raise(site::kApplyReservedPath, path);
    if (twice || !ListsAgree(lists)) Raise(site::kApplyContradictingPath, path);
    if (filter.MatchSelfOrAncestor(path, matched)) Raise(site::kApplyIgnoredPath, path);
  }
}

void RefuseLinksOnTheWay(const CDirSnapshot& target, const ChangeSet& patch,
                         const std::vector<std::u16string>& stored,
                         const std::u16string& directory) {
  std::vector<const std::u16string*> links;
  for (const auto& [path, word] : target.attributes) {
    if (platform::IsLinkWord(word)) links.push_back(&path);
  }
  if (links.empty()) return;
  const std::set<std::u16string> removed(patch.UnlinkedFiles.begin(), patch.UnlinkedFiles.end());
  std::vector<const std::u16string*> listed;
  for (const PathList* list : {&patch.UnlinkedFiles, &patch.UnlinkedDirectories, &patch.NewDirs}) {
    for (const std::u16string& path : *list) listed.push_back(&path);
  }
  for (const auto& [path, word] : patch.AttributeChanges) listed.push_back(&path);
  for (const std::u16string& path : stored) listed.push_back(&path);
  std::sort(listed.begin(), listed.end(),
            [](const std::u16string* a, const std::u16string* b) { return *a < *b; });
  // Everything beneath a link sorts right after its path and a separator.
  for (const std::u16string* link : links) {
    if (removed.count(*link) != 0) continue;
    const std::u16string below = *link + u"\\";
    const auto at = std::lower_bound(
        listed.begin(), listed.end(), below,
        [](const std::u16string* path, const std::u16string& key) { return *path < key; });
    if (at != listed.end() && (*at)->compare(0, below.size(), below) == 0) {
      Raise(site::kApplyThroughLink, JoinPath(directory, **at));
    }
  }
}

void CheckChangesCanBeMade(const platform::DirectoryHandle& target, const std::u16string& directory,
                           const ChangeSet& patch, const CDirSnapshot& scanned) {
  const auto found = [&](const std::u16string& path) {
    return path.empty() || scanned.attributes.count(path) != 0;
  };
  std::vector<std::u16string> removed = patch.UnlinkedFiles;
  removed.insert(removed.end(), patch.UnlinkedDirectories.begin(), patch.UnlinkedDirectories.end());
  std::sort(removed.begin(), removed.end());
  PathList directories = patch.UnlinkedDirectories;
  std::sort(directories.begin(), directories.end());
  std::vector<std::u16string> names;
  for (const std::u16string& gone : directories) {
    // One that is not there, or cannot be listed, is left to the commit,
    // which says why.
    if (!found(gone) || !target.ListNames(gone, names)) continue;
    std::sort(names.begin(), names.end());
    for (const std::u16string& name : names) {
      const std::u16string inside = gone + u"\\" + name;
      if (!std::binary_search(removed.begin(), removed.end(), inside)) {
        Raise(site::kApplyRemovalBlocked, JoinPath(directory, inside));
      }
    }
  }

  std::vector<std::u16string> changed = std::move(removed);
  changed.insert(changed.end(), patch.ChangedFiles.begin(), patch.ChangedFiles.end());
  for (const auto& [path, word] : patch.AttributeChanges) changed.push_back(path);
  for (std::u16string& parent : ParentsOfChanges(patch, {})) changed.push_back(std::move(parent));
  // An entry that is not there yet is one the patch creates.
  changed.erase(std::remove_if(changed.begin(), changed.end(),
                               [&](const std::u16string& path) { return !found(path); }),
                changed.end());
  std::sort(changed.begin(), changed.end());
  changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
  const size_t first = target.FirstUnchangeable(changed);
  if (first < changed.size()) Raise(site::kApplyUnchangeable, JoinPath(directory, changed[first]));
}

std::vector<std::u16string> ParentsOfChanges(const ChangeSet& patch,
                                             const std::vector<std::u16string>& staged) {
  std::vector<std::u16string> parents;
  for (const PathList* list : {&patch.UnlinkedFiles, &patch.UnlinkedDirectories, &patch.NewDirs,
                               &patch.NewFiles, &patch.ChangedFiles, &staged}) {
    for (const std::u16string& path : *list) parents.push_back(path.substr(0, path.rfind(u'\\')));
  }
  std::sort(parents.begin(), parents.end());
  parents.erase(std::unique(parents.begin(), parents.end()), parents.end());
  return parents;
}

void RequireRoom(const platform::DirectoryHandle& target, const std::u16string& directory,
                 const ChangeSet& patch, const std::vector<StoredFile>& files) {
  uint64_t available = 0, block = 0;
  if (!target.FreeSpace(available, block)) return;  // a file system that cannot say
  block = std::max<uint64_t>(block, 1);
  uint64_t contents = 0;
  for (const StoredFile& file : files) {
    contents += (static_cast<uint64_t>(file.length) + block - 1) / block * block;
  }
  const uint64_t needed =
      contents + (patch.NewDirs.size() + 1) * block + (uint64_t{1} << 20) + contents / 100;
  if (needed > available) {
    Raise(site::kApplyNoRoom, directory + u": needed " + DecimalText(static_cast<int64_t>(needed)) +
                                  u" bytes, available " +
                                  DecimalText(static_cast<int64_t>(available)) + u" bytes");
  }
}

void RequireResumable(CProgressSink& progress, const ContentIds& ids,
                      const platform::DirectoryHandle& target, ApplyJournal& journal,
                      const ChangeSet& patch, const std::vector<StoredFile>& files,
                      const std::vector<std::u16string>& staged,
                      const std::vector<bool>& unstaged) {
  for (size_t i = 0; i < files.size(); ++i) {
    if (unstaged[i] || !ids[i]) continue;
    const bool asLink = CarriedAsLink(patch, files[i].path);
    platform::EntryStatus status;
    std::optional<FileId> found;
    const platform::Status looked = target.Stat(staged[i], status);
    if (looked) {
      if (status.isLink == asLink && !status.isDirectory && status.links == 1 &&
          status.owner == journal.Owner()) {
        found = ContentIdBeneath(progress, target, staged[i], asLink);
      }
    } else if (platform::IsMissingEntry(looked.error()) && target.Stat(files[i].path, status) &&
               status.isLink == asLink && !status.isDirectory) {
      found = ContentIdBeneath(progress, target, files[i].path, asLink);
    }
    if (found != ids[i]) journal.RefusePending();
  }
}

}  // namespace torquelin
