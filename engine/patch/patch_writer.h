// Writing a change set and the contents it names as one patch file.
#pragma once

#include <string>

#include "engine/base/progress.h"
#include "engine/patch/change_set.h"
#include "engine/patch/patch_stream.h"
#include "platform/replacement_file.h"

namespace torquelin {

// Writes the patch at patchPath: the header with completion flag 0, the
// change set as the patch info, the content of every new and changed file
// (read from newerRoot + relative path, ascending code-unit order), and the
// file index; then it stores the index offset and flag 1 in the header. The
// body is flushed to the device before the flag is set, and the flag before
// the file takes the patch's name.
//
// The patch is written under a temporary name beside patchPath (private to
// the user until done; see platform::ReplacementFile) and renamed over it
// once complete, keeping the permissions of the file it replaces; a symbolic
// link at patchPath stays, and the file it names is the one replaced. Every
// failure raises CZRErr and a cancel (COPCancel from SetDetail or Step)
// propagates; either way the temporary file is removed and the previous
// file at patchPath stays as it was. Failures name patchPath: "Unable to
// open file:" + path when the temporary cannot be created, a write failure's
// fixed text (the 4GB one included) + " file:" + path, "Unable to flush a
// patch file to disk:" + path, "Unable to move a patch file into place:" +
// path. Progress: SetStatus("Creating a patch file"), SetRange(number of
// files), ResetProgress, then per file SetDetail("Writing File: " + path)
// and Step. Contents pass through the sink's scratch buffer, one read and
// one write per chunk.
//
// scannedIds, when given, maps relative paths to the file ids the scan
// computed: a copied content whose SHA-1 differs (the file changed, shrank
// or was replaced after the scan) raises "Unable read a source file:" +
// path, since such a patch could not produce the tree its fingerprint names.
void WritePatch(CProgressSink& progress, const ChangeSet& changes, const std::u16string& newerRoot,
                const std::u16string& patchPath, const TextMap* scannedIds = nullptr);

// The file a patch of either format is written to: a temporary file beside
// patchPath (private to the user until done; see platform::ReplacementFile),
// renamed over it only once complete and flushed; a link at patchPath stays
// and the file it names is the one replaced. Destroyed without Commit (a
// failure, a cancel), it removes the temporary and the previous file stays.
//
// patchPath "-" is standard output. A patch written front to back goes
// straight there: one cut short by a failure lacks the end its readers
// trust it by. A patch whose header is rewritten at the end is kept in a
// private file with no name until Commit copies it out whole, so nothing
// of a failed run reaches standard output, and the bytes are those a file
// would hold.
class PatchOutputFile {
 public:
  enum class Order {
    RewritesHeader,  // a classic patch: its index offset and flag come last
    FrontToBack,     // a compact patch: its End record comes last
  };
  // Raises "Unable to open file:" + patchPath when the temporary cannot be
  // made; for "-", "Unable to keep the patch for standard output in a
  // temporary file" or "Unable to write the patch to standard output" with
  // the code of the failed call.
  explicit PatchOutputFile(const std::u16string& patchPath, Order order = Order::RewritesHeader);
  // Writes to the temporary (or standard output); failed writes name
  // patchPath.
  zrFile::Writer& writer() { return writer_; }
  // Flushes the file to the device ("Unable to flush a patch file to
  // disk:" + path), closes it and renames it into place ("Unable to move a
  // patch file into place:" + path). For "-", copies a kept patch out
  // ("Unable to write the patch to standard output") and closes.
  void Commit();

 private:
  void CopyToStandardOutput();

  platform::ReplacementFile file_;
  // For "-": standard output, or the private file the patch is kept in.
  platform::FileHandle stream_;
  bool kept_ = false;
  zrFile::Writer writer_;
  std::u16string patchPath_;
};

// The start of every patch, as WritePatch lays it out: the header with index
// offset 0 and completion flag 0, then the patch info (both fingerprints,
// the info map, the filter, the seven lists and the attribute map). The
// lists go as they are, so a tool can write what the writer never would.
void WritePatchStart(RecordOutput& out, const ChangeSet& changes);

// The patch info alone, as WritePatchStart writes it after the header; the
// compact format's head starts with the same records.
void WritePatchInfoRecords(RecordOutput& out, const ChangeSet& changes);

}  // namespace torquelin
