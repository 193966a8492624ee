// Apply's side of a compact patch: the patch as a run holds it, the older
// files its contents are made from (read beneath the target), and the one
// pass over its content blocks that stages or checks every content.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/errors.h"
#include "engine/base/progress.h"
#include "engine/io/large_file.h"
#include "engine/jobs/apply_prediction.h"
#include "engine/jobs/stored_files.h"
#include "engine/patch/change_set.h"
#include "engine/patch/compact_reader.h"
#include "engine/patch/content_decoder.h"
#include "engine/patch/content_files.h"
#include "engine/tree/ignore_filter.h"
#include "engine/tree/snapshot.h"
#include "platform/directory_handle.h"
#include "platform/file_handle.h"

namespace torquelin {

// A compact patch as a run of apply holds it: its parts around the contents
// (the change set is the run's own) and what its member tables say.
struct CompactSource {
  CompactPatchInfo info;
  StoredContents contents;
};

// Whether the file at `patchPath` starts with the compact magic. Anything
// else, a file that cannot be read included, is the classic reader's to
// load and to refuse with its own errors.
bool IsCompactPatch(const std::u16string& patchPath);

// Reads a compact patch's head and index as ReadCompactPatchInfo does (its
// errors and progress), keeping them in `source`; returns the change set.
ChangeSet LoadCompactPatch(CProgressSink& progress, const std::u16string& patchPath,
                           CompactSource& source);

// The stored files of a skimmed compact patch, in index order: offset is
// the offset of the block holding the content, length the content's own.
std::vector<StoredFile> CompactStoredFiles(const CompactSource& source);

// The ids the member tables state, one per stored file. Decoding checks
// every content against them, so a staged content that decoded without
// failure holds exactly that id.
ContentIds CompactContentIds(const CompactSource& source, const std::vector<StoredFile>& files);

// The older files beneath the target, read the way apply reads everything
// there: through the target's handle, no link followed on the way; a link
// itself reads as its target text, as a scan reads it. Open raises "Unable
// to ioen file:" + the full path, with the code of the call that failed.
class TargetContentOpener : public ContentOpener {
 public:
  TargetContentOpener(const platform::DirectoryHandle& target, const std::u16string& directory)
      : target_(target), directory_(directory) {}
  std::unique_ptr<ContentReader> Open(const std::u16string& relativePath) override;
  std::u16string Describe(const std::u16string& relativePath) const override;

 private:
  const platform::DirectoryHandle& target_;
  const std::u16string& directory_;
};

// Decodes every content block of the patch, front to back, reading the
// older files through `older` and handing each content to `out`. Returns
// the failed contents when tolerated (ContentBlockDecoder::Decode: a content
// that shares a frame with a damaged one fails with it); otherwise the
// first failure raises. Damage to a block's structure always raises.
std::vector<FailedContent> DecodeCompactContents(zrFile::Reader& reader,
                                                 const CompactSource& source, ContentOpener& older,
                                                 ContentOutput& out, bool tolerate);

// Staging a compact patch's contents: each content is written to a new
// private file (0600) at its staging name, or made a link there when the
// patch's word for it says so, as the classic staging writes them.
// Failures to create or write raise, or, tolerated, cost only their file.
class StagingOutput : public ContentOutput {
 public:
  StagingOutput(CProgressSink& progress, const platform::DirectoryHandle& target,
                const std::u16string& directory, const ChangeSet& patch,
                const std::vector<StoredFile>& files, const std::vector<std::u16string>& staged,
                bool tolerate);

  void Begin(const ContentMember& member) override;
  void Write(const uint8_t* bytes, size_t size) override;
  void End(const ContentMember& member) override;

  // Marks the file at `path` failed (the decoder's verdict) unless it failed
  // already.
  void Fail(const std::u16string& path, const CZRErr& error);
  // Why file i cannot be used, if it cannot: it failed, or no block held it.
  std::optional<CZRErr> Failure(size_t i) const;

 private:
  void Refuse(CZRErr error);

  CProgressSink& progress_;
  const platform::DirectoryHandle& target_;
  const std::u16string& directory_;
  const ChangeSet& patch_;
  const std::vector<StoredFile>& files_;
  const std::vector<std::u16string>& staged_;
  bool tolerate_;
  std::vector<std::optional<CZRErr>> failures_;
  std::vector<bool> ended_;
  // The file being written.
  size_t current_ = 0;
  bool asLink_ = false;
  std::string linkTarget_;
  platform::FileHandle file_;
};

// The check before any change: decodes every content without writing it
// (status "Checking the patch's contents."), and returns the ids of those
// that decoded; tolerated failures go to their files' damage.
ContentIds CheckCompactContents(CProgressSink& progress, zrFile::Reader& reader,
                                const CompactSource& source, ContentOpener& older,
                                std::vector<StoredFile>& files, bool tolerate);

// Refuses (.\fileio) an older file the patch names in its older ids, which
// apply reads: a path that is not a clean relative path (line 27), the
// journal's name in the root (29), or one the patch's filter ignores (31).
void CheckOlderPaths(const OlderIdMap& olderIds, const CIgnoreFilter& filter);

// What a tree that is not the patch's older one holds of the files the patch
// expects (`olderIds`, against the scan `tree` with its `ids`): one line per
// file that is missing or changed, the first ten, then how many more; empty
// when they all match.
std::u16string DescribeWrongTarget(const CDirSnapshot& tree, const std::vector<FileId>& ids,
                                   const OlderIdMap& olderIds);

}  // namespace torquelin
