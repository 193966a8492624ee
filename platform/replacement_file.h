// A file written under a temporary name beside the one it is to replace, and
// renamed over it only once it is complete: the way every output of a job
// (a patch, a vault, a report) takes its place.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_handle.h"
#include "platform/result.h"

namespace torquelin {

namespace platform {

// The prefix and suffix of every temporary name: a file left by a run that
// was killed is recognisable as ours (".torquelin-" 16 hex digits ".tmp")
// and may be removed.
inline constexpr char16_t kReplacementPrefix[] = u".torquelin-";
inline constexpr char16_t kReplacementSuffix[] = u".tmp";

// Owns the temporary file, open; neither copied nor moved, used by one
// thread. A ReplacementFile that is destroyed (a failure, a cancel) without
// a successful Commit removes its temporary file: the file at the target
// stays as it was. Nothing here throws; a failure carries the code of the
// call that failed.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates a fresh temporary file in the directory of `target` (engine
  // text), exclusively and without following a link (O_CREAT | O_EXCL |
  // O_NOFOLLOW), readable and writable by the owner alone (0600) while it is
  // written, and open for writing as file() until Commit or Discard.
  Status Create(const std::u16string& target);
  const FileHandle& file() const { return file_; }

  // Gives the file its final permissions, those of the regular file at the
  // target when there is one, else those a new file gets (0666 less the
  // umask), and renames it over the target, after making sure its name
  // still names the file this object created. Then closes it. The caller
  // has flushed the content to the device first. On failure the temporary
  // is removed and the target untouched (ESTALE: the temporary name was
  // taken over by another file, which stays).
  Status Commit();

  // Removes the temporary file, if its name still names the file this
  // object created, and closes it. Nothing after Commit.
  void Discard();

 private:
  FileHandle directory_;  // the target's directory (O_PATH)
  FileHandle file_;       // the temporary file, open for writing
  std::string name_;      // the temporary's native name in directory_
  std::string targetName_;
};

}  // namespace platform

}  // namespace torquelin
