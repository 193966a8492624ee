// Job 6: a directory compared with a vault, reported as lines a script reads.
#include "engine/jobs/verify_tree.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "engine/base/elapsed_timer.h"
#include "engine/base/error_sites.h"
#include "engine/io/file_system.h"
#include "engine/jobs/compare_trees.h"
#include "engine/jobs/output_rules.h"
#include "engine/tree/normalize_path.h"
#include "engine/tree/walker.h"
#include "engine/xml/diff_report.h"
#include "engine/xml/vault_file.h"
#include "platform/attribute_word.h"
#include "platform/encoding.h"
#include "platform/files.h"

namespace torquelin {

namespace {

// In the order the marks of one path are listed.
enum class Mark { Removed, Added, Content, Attributes };

// A difference while the list is sorted: path is first the change set's,
// then the shown one.
struct Found {
  std::u16string path;
  Mark mark;
  std::u16string changeSetPath;
  bool directory = false;
};

// Indexed by Mark.
constexpr char16_t kMarkChars[] = u"-+MA";

// The path as the user knows it (platform::ShownText), '/' between its
// components, without the leading one.
std::u16string ShownPath(const std::u16string& path) {
  std::u16string relative = path.starts_with(u'\\') ? path.substr(1) : path;
  std::replace(relative.begin(), relative.end(), u'\\', u'/');
  return platform::ShownText(relative);
}

bool IsControl(char32_t c) { return c < 0x20 || c == 0x7F; }

// The characters that could end a line or move the text for whoever reads
// it: C0 and C1 controls, DEL, the line and paragraph separators, the
// byte-order mark and the bidirectional embeddings, overrides and isolates.
bool IsSpecial(char32_t c) {
  return IsControl(c) || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0xFEFF ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// What a unit or pair of a shown path stands for: a character, or an
// undecodable byte of the name (shown as a lone surrogate).
enum class Shown { Character, RawByte };

// What a shown path holds, character by character: fn(c, kind, units) with c
// a character or, when kind is RawByte, the byte, and the units that spell it.
template <typename Fn>
void ForEachShown(std::u16string_view shown, Fn fn) {
  for (size_t i = 0; i < shown.size(); ++i) {
    const char16_t u = shown[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < shown.size() && shown[i + 1] >= 0xDC00 &&
        shown[i + 1] <= 0xDFFF) {
      fn(0x10000 + ((char32_t{u} - 0xD800) << 10) + (shown[i + 1] - 0xDC00), Shown::Character,
         shown.substr(i, 2));
      ++i;
    } else {
      const Shown kind = u >= 0xD800 && u <= 0xDFFF ? Shown::RawByte : Shown::Character;
      fn(kind == Shown::RawByte ? char32_t{u} - platform::kShownRawByteBase : char32_t{u}, kind,
         shown.substr(i, 1));
    }
  }
}

bool NeedsQuotes(const std::u16string& shown) {
  bool needs = shown.starts_with(u'"');
  ForEachShown(shown, [&](char32_t c, Shown kind, std::u16string_view) {
    needs = needs || kind == Shown::RawByte || IsSpecial(c);
  });
  return needs;
}

void AppendHex(char32_t value, int digits, std::u16string& out) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

void AppendQuoted(const std::u16string& shown, std::u16string& out) {
  out += u'"';
  ForEachShown(shown, [&](char32_t c, Shown kind, std::u16string_view units) {
    if (kind == Shown::RawByte) {
      out += u"\\x";
      AppendHex(c, 2, out);
      return;
    }
    switch (c) {
      case u'\t':
        out += u"\\t";
        return;
      case u'\n':
        out += u"\\n";
        return;
      case u'\r':
        out += u"\\r";
        return;
      case u'"':
      case u'\\':
        out += u'\\';
        out += units;
        return;
      default:
        break;
    }
    if (IsControl(c)) {
      out += u'\\';
      out += static_cast<char16_t>(u'0' + ((c >> 6) & 7));
      out += static_cast<char16_t>(u'0' + ((c >> 3) & 7));
      out += static_cast<char16_t>(u'0' + (c & 7));
    } else if (IsSpecial(c)) {
      out += u"\\u";
      AppendHex(c, 4, out);
    } else {
      out += units;
    }
  });
  out += u'"';
}

bool ByPathThenMark(const Found& a, const Found& b) {
  return a.path != b.path ? a.path < b.path : a.mark < b.mark;
}

}  // namespace

std::vector<Difference> ListDifferences(const ChangeSet& changes) {
  std::vector<Found> found;
  enum class Kind { File, Directory };
  const auto add = [&](const PathList& paths, Mark mark, Kind kind) {
    for (const std::u16string& path : paths) {
      found.push_back({path, mark, path, kind == Kind::Directory});
    }
  };
  add(changes.UnlinkedFiles, Mark::Removed, Kind::File);
  add(changes.UnlinkedDirectories, Mark::Removed, Kind::Directory);
  add(changes.NewFiles, Mark::Added, Kind::File);
  add(changes.NewDirs, Mark::Added, Kind::Directory);
  // A file where the vault had a directory is the directory's removal (listed
  // above) and a new file, not a change of content.
  for (const std::u16string& path : changes.ChangedFiles) {
    const bool wasDirectory = std::binary_search(changes.UnlinkedDirectories.begin(),
                                                 changes.UnlinkedDirectories.end(), path);
    found.push_back({path, wasDirectory ? Mark::Added : Mark::Content, path, false});
  }
  std::sort(found.begin(), found.end(), ByPathThenMark);
  const size_t listed = found.size();
  for (const auto& [path, word] : changes.AttributeChanges) {
    const Found probe{path, Mark::Removed, {}, false};
    if (!std::binary_search(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(listed),
                            probe,
                            [](const Found& a, const Found& b) { return a.path < b.path; })) {
      found.push_back({path, Mark::Attributes, path, platform::IsDirectoryWord(word)});
    }
  }

  for (Found& f : found) f.path = ShownPath(f.path);
  std::sort(found.begin(), found.end(), ByPathThenMark);
  // A path the change set names twice with one mark is one difference.
  found.erase(std::unique(found.begin(), found.end(),
                          [](const Found& a, const Found& b) {
                            return a.path == b.path && a.mark == b.mark;
                          }),
              found.end());
  std::vector<Difference> differences;
  differences.reserve(found.size());
  for (Found& f : found) {
    differences.push_back(
        {kMarkChars[static_cast<int>(f.mark)], std::move(f.changeSetPath), f.directory});
  }
  return differences;
}

std::u16string DifferenceLine(const Difference& difference) {
  std::u16string shown = ShownPath(difference.path);
  if (difference.directory) shown += u'/';
  std::u16string line{difference.mark, u' '};
  if (NeedsQuotes(shown)) {
    AppendQuoted(shown, line);
  } else {
    line += shown;
  }
  return line;
}

std::u16string DifferenceLines(const std::vector<Difference>& differences) {
  std::u16string lines;
  for (const Difference& d : differences) {
    if (!lines.empty()) lines += u'\n';
    lines += DifferenceLine(d);
  }
  return lines;
}

std::u16string DifferenceLines(const ChangeSet& changes) {
  return DifferenceLines(ListDifferences(changes));
}

std::u16string VerifyTree(CProgressSink& progress, const std::u16string& directory,
                          const std::u16string& vaultPath, const std::u16string& reportPath) {
  return DifferenceLines(VerifyTreeChanges(progress, directory, vaultPath, reportPath));
}

ChangeSet VerifyTreeChanges(CProgressSink& progress, const std::u16string& directory,
                            const std::u16string& vaultPath, const std::u16string& reportPath) {
  const std::u16string root = NormalizePath(directory);
  CElapsedTimer timer;
  timer.Clear();
  timer.Start();
  RequireDirectory(site::kVerifyDirectoryMissing, root);
  if (vaultPath.empty()) {
    Raise(site::kNoVaultToVerify);
  }
  // The report replaces its file: over the vault it would destroy the very
  // record the tree is checked against, inside the tree it would be a
  // difference of its own on the next run.
  CheckOutputs({root},
               {{vaultPath, FileArgument::Use::Read}, {reportPath, FileArgument::Use::Report}});

  CDirSnapshot vault = ReadVault(progress, vaultPath);
  CDirSnapshot tree = BuildSnapshot(progress, root, vault.filter, FileIds::Compute);
  ChangeSet changes = CompareSnapshots(progress, tree, vault, timer);
  if (!reportPath.empty()) WriteDiffReport(progress, reportPath, changes, {});
  progress.SetStatus(ListDifferences(changes).empty() ? kTreeMatchesText : kTreeDiffersText);
  return changes;
}

}  // namespace torquelin
