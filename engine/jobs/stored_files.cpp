// The files a patch carries as apply checks them, and the patch's identity.
#include "engine/jobs/stored_files.h"

#include "engine/base/error_sites.h"
#include "engine/hash/sha1.h"
#include "engine/patch/patch_format.h"
#include "engine/patch/patch_reader.h"
#include "engine/patch/patch_stream.h"
#include "platform/attribute_word.h"

namespace torquelin {

namespace {

// Reads the record's head as extraction will, so no later step can fail on
// a record this check let pass: its place between the header and the index,
// its tag, its path (the index key that leads to it: the report and the
// attributes would otherwise speak of one file while another is written),
// and a length that ends before the index.
int64_t CheckRecord(RecordInput& in, int64_t indexOffset, const StoredFile& file) {
  ExpectTag(in, RecordType::FileContent);
  const std::u16string stored = ReadString(in);
  if (stored != file.path) {
    Raise(site::kApplyIndexMismatch, file.path + u" leads to the content stored for " + stored);
  }
  const int64_t length = ReadQword(in);
  if (length < 0 || length > indexOffset - ContentStart(file)) {
    Raise(site::kApplyRecordLength, file.path);
  }
  return length;
}

}  // namespace

std::vector<StoredFile> ReadStoredFiles(CProgressSink& progress, zrFile::Reader& reader,
                                        int64_t indexOffset) {
  reader.seek(indexOffset);
  const PatchFileIndex index = ReadFileIndex(reader, progress);
  std::vector<StoredFile> files;
  files.reserve(index.size());
  for (const auto& [path, offset] : index) files.push_back({path, offset, 0, std::nullopt});
  return files;
}

std::vector<std::u16string> PathsOf(const std::vector<StoredFile>& files) {
  std::vector<std::u16string> paths;
  paths.reserve(files.size());
  for (const StoredFile& file : files) paths.push_back(file.path);
  return paths;
}

// The bytes of a content record before its content: its tag, the path as a
// String record (tag, Dword record, UTF-16) and the length as a Qword record.
int64_t ContentStart(const StoredFile& file) {
  return file.offset + 1 + 1 + 5 + 2 * static_cast<int64_t>(file.path.size()) + 9;
}

void CheckRecords(zrFile::Reader& reader, int64_t indexOffset, std::vector<StoredFile>& files,
                  DamagedRecord damaged) {
  std::optional<BufferedInput> in;
  int64_t next = -1;  // where the buffered input stands
  for (StoredFile& file : files) {
    try {
      if (file.offset < kPatchHeaderSize || file.offset >= indexOffset) {
        Raise(site::kApplyRecordPosition, file.path);
      }
      if (!in || file.offset != next) {
        in.reset();
        reader.seek(file.offset);
        in.emplace(reader);
      }
      file.length = CheckRecord(*in, indexOffset, file);
      next = ContentStart(file) + file.length;
      // Content lies between this head and the next: read afresh there.
      if (file.length > 0) in.reset();
    } catch (const CZRErr& error) {
      in.reset();
      if (damaged == DamagedRecord::Refuse) throw;
      file.damage = error;
    }
  }
}

PatchIdentity IdentifyPatch(CProgressSink& progress, zrFile::Reader& reader, int64_t indexOffset,
                            const ChangeSet& patch, const std::u16string& patchPath,
                            int64_t headEnd) {
  PatchIdentity identity{patch.OlderTreeID, patch.NewerTreeID, reader.size(), {}, patchPath};
  Sha1Context context;
  Sha1Init(context);
  const auto hash = [&](int64_t from, int64_t length) {
    reader.seek(from);
    CopyThroughBuffer(reader, length, progress.GetBuffer(), progress.GetBufferSize(),
                      [&](const uint8_t* chunk, int64_t n) {
                        Sha1Update(context, chunk, static_cast<uint32_t>(n));
                      });
  };
  hash(0, headEnd);
  hash(indexOffset, identity.size - indexOffset);
  Sha1Digest digest;
  Sha1Final(digest, context);
  identity.digest = DigestToHex(digest);
  return identity;
}

bool CarriedAsLink(const ChangeSet& patch, const std::u16string& path) {
  const auto word = patch.AttributeChanges.find(path);
  return word != patch.AttributeChanges.end() && platform::IsLinkWord(word->second);
}

}  // namespace torquelin
