// The rules a job's outputs obey, checked before the job does any work: an
// output never destroys what is not its own.
#pragma once

#include <string>
#include <vector>

namespace torquelin {

// One file a job is given: the patch, the report or the vault.
struct FileArgument {
  enum class Use {
    Read,    // only read (the patch of apply and query, a vault not updated)
    Write,   // replaced as a whole (a vault)
    Patch,   // replaced as a whole, or "-": written to standard output
    Report,  // replaced, or written straight into a character device or FIFO
  };
  std::u16string path;  // empty: not given, nothing to check
  Use use;
};

// Raises CZRErr (.\fileio) when, for any written argument:
// - something other than a regular file stands at its path: a directory, a
//   device, a FIFO, a socket ("Refusing to replace what is not a regular
//   file: " + path); a report may also be a character device or a FIFO;
// - it names the same file as another argument: the same device and inode
//   when both exist, the same name in the same directory when neither does,
//   the same normalised text otherwise ("Two arguments name the same file: "
//   + path + " and " + path);
// - it, or what a link at its path names, lies inside one of `trees`, the
//   directories the job scans or changes, at any depth and whatever links
//   lead there ("Refusing to write into a
//   directory the job reads or changes: " + path + " is inside " + tree).
// A tree that does not exist is skipped: the job names it in its own words.
// A patch read from "-" is standard input, never in the way: it is read
// whole before anything is written. A patch written to "-" is standard
// output, refused when that is a terminal ("Refusing to write a patch to a
// terminal: standard output"), and is the file behind it when compared with
// another argument or with the trees (named by that file's path).
void CheckOutputs(const std::vector<std::u16string>& trees, const std::vector<FileArgument>& files);

// Apply changes its target before it writes its report, so it asks first
// whether the report could be created: raises "Unable to create the report
// file:" + path + ": " + the system's reason when its directory (or the
// device it names) refuses this process. An empty path passes.
void CheckReportWritable(const std::u16string& reportPath);

}  // namespace torquelin
