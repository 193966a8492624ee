// The patch reader: patch info, file index, compound records and file
// extraction (errors located .\patchReader).
#include "engine/patch/patch_reader.h"

#include "engine/base/error_sites.h"
#include "engine/patch/patch_stream.h"
#include "platform/files.h"
#include "platform/safe_path.h"
#include "platform/system_error.h"

namespace torquelin {

void ReadStringList(RecordInput& in, PathList& into) {
  ExpectTag(in, RecordType::StringList);
  for (uint32_t left = ReadDword(in); left > 0; --left) into.push_back(ReadString(in));
}

// The maps are stored in key order, so each key goes in at the end: reading
// one costs a comparison per key, not a search. A key out of order (a patch
// made elsewhere) is still put in its place.
AttributeMap ReadAttributeMap(RecordInput& in) {
  ExpectTag(in, RecordType::AttributeMap);
  AttributeMap map;
  for (uint32_t left = ReadDword(in); left > 0; --left) {
    std::u16string key = ReadString(in);
    map.insert_or_assign(map.end(), std::move(key), ReadDword(in));
  }
  return map;
}

TextMap ReadInfoMap(RecordInput& in) {
  ExpectTag(in, RecordType::InfoMap);
  TextMap map;
  for (uint32_t left = ReadDword(in); left > 0; --left) {
    std::u16string key = ReadString(in);
    map.insert_or_assign(map.end(), std::move(key), ReadString(in));
  }
  return map;
}

PatchFileIndex ReadFileIndex(RecordInput& in) {
  ExpectTag(in, RecordType::FileIndex);
  PatchFileIndex index;
  for (uint32_t left = ReadDword(in); left > 0; --left) {
    std::u16string key = ReadString(in);
    index.insert_or_assign(index.end(), std::move(key), ReadQword(in));
  }
  return index;
}

PatchFileIndex ReadFileIndex(zrFile::Reader& reader, CProgressSink& /*progress*/) {
  BufferedInput in(reader);
  return ReadFileIndex(in);
}

ChangeSet LoadPatchInfo(CProgressSink& progress, const std::u16string& patchPath) {
  if (patchPath.empty()) {
    Raise(site::kNoPatchToLoad);
  }
  zrFile::Reader reader(patchPath);
  ChangeSet changes = ReadPatchInfo(reader, progress);
  reader.close();
  return changes;
}

ChangeSet ReadPatchInfoRecords(RecordInput& in, CProgressSink& progress) {
  progress.SetStatus(u"Loading patch info.");
  progress.SetRange(9);
  return ReadPatchInfoRecords(in, [&] { progress.Step(); });
}

ChangeSet ReadPatchInfoRecords(RecordInput& in, const std::function<void()>& afterEachList) {
  ChangeSet changes;
  changes.NewerTreeID = ReadString(in);
  changes.OlderTreeID = ReadString(in);
  changes.Info = ReadInfoMap(in);
  changes.IgnoreFilter = ReadString(in);
  for (PathList* list :
       {&changes.ignoredNew, &changes.ignoredOld, &changes.UnlinkedDirectories,
        &changes.UnlinkedFiles, &changes.NewDirs, &changes.ChangedFiles, &changes.NewFiles}) {
    ReadStringList(in, *list);
    if (afterEachList) afterEachList();
  }
  changes.AttributeChanges = ReadAttributeMap(in);
  if (afterEachList) afterEachList();
  return changes;
}

ChangeSet ReadPatchInfo(zrFile::Reader& reader, CProgressSink& progress) {
  ChangeSet changes;
  int64_t indexOffset;
  {
    BufferedInput in(reader);
    indexOffset = ReadPatchHeader(in);
    changes = ReadPatchInfoRecords(in, progress);
  }

  // Read only to prove the file complete; Apply reads it again itself.
  reader.seek(indexOffset);
  ReadFileIndex(reader, progress);
  progress.Step();
  return changes;
}

namespace {

// The longest target a link may hold on Linux (PATH_MAX less its NUL).
constexpr int64_t kLongestLinkTarget = 4095;

// A change beneath the target that failed with `code`: a link met on the
// way says so by name, whatever the operation was.
[[noreturn]] void RaiseFor(const ErrorSite& usual, const std::u16string& destination,
                           uint32_t code) {
  if (platform::IsLinkInTheWay(code)) Raise(site::kApplyThroughLink, destination, code);
  Raise(usual, destination, code);
}

}  // namespace

bool ExtractFileBeneath(zrFile::Reader& reader, ShortContent tolerateShort, CProgressSink& progress,
                        int64_t offset, const platform::DirectoryHandle& target,
                        const std::u16string& targetDirectory, const std::u16string& relPath,
                        ExtractAs asLink, const std::u16string& writeAs, Sha1Context* digest,
                        uint32_t permissions) {
  reader.seek(offset);
  DirectInput in(reader);
  ExpectTag(in, RecordType::FileContent);
  const std::u16string stored = ReadString(in);
  if (!platform::IsSafeRelativePath(stored)) {
    Raise(site::kExtractUnsafePath, stored);
  }
  if (stored != relPath) {
    Raise(site::kApplyIndexMismatch, relPath + u" leads to the content stored for " + stored);
  }
  // The length is read and judged before the destination is touched, so a
  // record damaged this early costs the existing file nothing.
  const int64_t length = ReadQword(in);
  if (length < 0) Raise(site::kApplyRecordLength, relPath);

  // The stored path brings its own leading separator; the doubled one is
  // harmless and keeps the texts the reports show.
  const std::u16string destination = targetDirectory + u"\\" + relPath;
  // A diagnostic "Would write" line could go here, but standard output is
  // the command-line program's data channel, so nothing is printed.
  // A link's target is read whole first: a short one must not replace the
  // entry with a link to somewhere else.
  std::string linkTarget;
  if (asLink == ExtractAs::Link) {
    if (length > kLongestLinkTarget) Raise(site::kExtractWrite, destination);
    linkTarget.resize(static_cast<size_t>(length));
    if (length > 0 && reader.read(linkTarget.data(), length) != length) {
      Raise(site::kExtractShort, {}, reader.error());
    }
  }
  // Whatever is there (a file, a link, an empty directory) goes as the
  // entry it is; a link is never written through. A new name needs no room.
  const std::u16string& written = writeAs.empty() ? relPath : writeAs;
  if (written == relPath) {
    platform::EntryStatus existing;
    const platform::Status looked = target.Stat(relPath, existing);
    if (looked) {
      bool wasDirectory = false;
      const platform::Status removed = target.Remove(relPath, &wasDirectory);
      if (!removed) {
        RaiseFor(wasDirectory ? site::kRemoveDirectory : site::kRemoveFile, destination,
                 removed.error());
      }
    } else if (!platform::IsMissingEntry(looked.error())) {
      RaiseFor(site::kWriterOpen, destination, looked.error());
    }
  }
  // Otherwise nothing at the destination changes.
  if (asLink == ExtractAs::Link) {
    const platform::Status made = target.MakeLink(written, linkTarget);
    if (!made) RaiseFor(site::kWriterOpen, destination, made.error());
    if (digest != nullptr) {
      Sha1Update(*digest, linkTarget.data(), static_cast<uint32_t>(linkTarget.size()));
    }
    return true;
  }
  platform::Result<platform::FileHandle> created = target.CreateFile(written, permissions);
  if (!created) RaiseFor(site::kWriterOpen, destination, created.error());
  zrFile::Writer out;
  out.adopt(std::move(*created));

  const int64_t done =
      CopyThroughBuffer(reader, length, progress.GetBuffer(), progress.GetBufferSize(),
                        [&](const uint8_t* chunk, int64_t n) {
                          if (digest != nullptr) {
                            Sha1Update(*digest, chunk, static_cast<uint32_t>(n));
                          }
                          if (out.write(chunk, n) != n) {
                            Raise(site::kExtractWrite, destination, out.error());
                          }
                        });
  if (done != length && tolerateShort == ShortContent::Raise) {
    Raise(site::kExtractShort, {}, reader.error());
  }
  out.close();
  return done == length;
}

bool ExtractFile(zrFile::Reader& reader, ShortContent tolerateShort, CProgressSink& progress,
                 int64_t offset, const std::u16string& targetDirectory) {
  reader.seek(offset);
  std::u16string stored;
  {
    DirectInput in(reader);
    ExpectTag(in, RecordType::FileContent);
    stored = ReadString(in);
  }
  if (!platform::IsSafeRelativePath(stored)) {
    Raise(site::kExtractUnsafePath, stored);
  }
  platform::DirectoryHandle target;
  const platform::Status opened = target.Open(targetDirectory);
  if (!opened) Raise(site::kWriterOpen, targetDirectory + u"\\" + stored, opened.error());
  return ExtractFileBeneath(reader, tolerateShort, progress, offset, target, targetDirectory,
                            stored, ExtractAs::File, {});
}

}  // namespace torquelin
