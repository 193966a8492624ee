// Job 6, Verify: which entries of a directory differ from the state a vault
// recorded, without changing anything.
#pragma once

#include <string>
#include <vector>

#include "engine/base/progress.h"
#include "engine/patch/change_set.h"

namespace torquelin {

// The job's last status, which tells a front end how it ended.
inline constexpr char16_t kTreeMatchesText[] = u"Directory matches the vault.";
inline constexpr char16_t kTreeDiffersText[] = u"Directory differs from the vault.";

// Normalises directory, then checks, in this order, raising CZRErr at the
// first that fails, before anything is read:
//   "Directory to verify does not exist: " + normalised directory (.\vudare)
//   "No vault file specified: " (.\vudare)
//   the output rules (CheckOutputs: the report is never the vault, never
//   inside the directory, never something other than a regular file, a
//   character device or a FIFO).
// Reads the vault, scans the directory with the vault's filter and compares
// the two as CompareSnapshots does (the directory is the newer tree). When
// reportPath is not empty the change set is written there as the diff
// report. Ends with the status kTreeMatchesText or kTreeDiffersText and
// returns DifferenceLines of the change set. Changes nothing in the
// directory or the vault; every failure propagates.
std::u16string VerifyTree(CProgressSink& progress, const std::u16string& directory,
                          const std::u16string& vaultPath, const std::u16string& reportPath);
// VerifyTree's work, giving the change set itself (the vault is the older
// tree, the directory the newer one).
ChangeSet VerifyTreeChanges(CProgressSink& progress, const std::u16string& directory,
                            const std::u16string& vaultPath, const std::u16string& reportPath);

// One difference of a change set, as DifferenceLines lists it.
struct Difference {
  char16_t mark = u'+';    // '-', '+', 'M' or 'A', as below
  std::u16string path;     // the change set's relative path ("\sub\a.txt")
  bool directory = false;  // a directory: its line ends with '/'
  bool operator==(const Difference&) const = default;
};

// The differences of DifferenceLines, one per line, in its order.
std::vector<Difference> ListDifferences(const ChangeSet& changes);
// The line of one difference, without a line feed.
std::u16string DifferenceLine(const Difference& difference);
// The lines of the differences, joined as DifferenceLines joins them.
std::u16string DifferenceLines(const std::vector<Difference>& differences);

// One line per difference, joined by '\n' with none after the last, empty
// when there is none. A line is a mark, a blank and the path, with a '/'
// after it for a directory (a removed or new one, or one whose attribute
// word changed):
//   "+ "  in the newer tree only     (NewFiles, NewDirs)
//   "- "  in the older tree only     (UnlinkedFiles, UnlinkedDirectories)
//   "M "  content differs            (ChangedFiles)
//   "A "  only the attribute word differs (the rest of AttributeChanges)
// An entry that changed between file and directory is "- " then "+ ". The
// path is shown as the user knows it (platform::ShownText): without the
// leading '\', '/' between components, each name its native bytes read as
// UTF-8 (a '\' in a name is a '\'). A path that starts with '"', holds a
// character a terminal or a line splitter treats specially, or holds a byte
// that is not UTF-8 is quoted, so that no name can forge a line or move the
// text around it: in double quotes, with
//   \t \n \r \" \\   for a tab, line feed, carriage return, '"' and '\';
//   \ooo            any other C0 control and DEL (three octal digits);
//   \uxxxx          a C1 control (U+0080-U+009F), U+2028, U+2029, U+FEFF
//                   and the bidirectional controls U+202A-U+202E and
//                   U+2066-U+2069 (four lower-case hexadecimal digits);
//   \xhh            a byte that is not valid UTF-8 (two lower-case digits);
// every other character as itself. Lines are sorted by the unquoted shown
// path in UTF-16 code-unit order (an undecodable byte b counting as the unit
// U+DC00+b), and for one path in the order "-", "+", "M", "A".
std::u16string DifferenceLines(const ChangeSet& changes);

}  // namespace torquelin
