// Listing what a patch carries or what a check found.
#include "engine/jobs/change_listing.h"

#include "engine/io/large_file.h"
#include "engine/jobs/stored_files.h"
#include "engine/patch/compact_reader.h"
#include "engine/patch/patch_stream.h"

namespace torquelin {

ChangeListing ListChanges(const ChangeSet& changes) {
  return ChangeListing{
      changes.OlderTreeID, changes.NewerTreeID, ListDifferences(changes), {}, 0, 0};
}

ChangeListing ListPatch(CProgressSink& progress, const std::u16string& patchPath) {
  StoredContents contents;
  const ChangeSet info = LoadAnyPatchInfo(progress, patchPath, &contents);
  ChangeListing listing = ListChanges(info);
  zrFile::Reader reader(patchPath);
  const int64_t size = reader.size();
  listing.patchBytes = size < 0 ? 0 : static_cast<uint64_t>(size);
  for (const auto& [path, content] : contents) {
    listing.sizes[path] = content.length;
    listing.storedBytes += content.storedSize;
  }
  // A compact patch told its contents' lengths when skimmed; a classic one
  // has them in the heads of its content records.
  const bool carriesFiles = !info.NewFiles.empty() || !info.ChangedFiles.empty();
  if (contents.empty() && carriesFiles) {
    const int64_t indexOffset = ReadPatchHeader(reader);
    std::vector<StoredFile> files = ReadStoredFiles(progress, reader, indexOffset);
    CheckRecords(reader, indexOffset, files, DamagedRecord::Refuse);
    for (const StoredFile& file : files) {
      listing.sizes[file.path] = static_cast<uint64_t>(file.length);
      listing.storedBytes += static_cast<uint64_t>(file.length);
    }
  }
  return listing;
}

}  // namespace torquelin
