// The patch reader: patch info, file index, compound records and file
// extraction (errors located .\patchReader).
#include "engine/patch/patch_reader.h"

#include "engine/base/error_sites.h"
#include "engine/io/file_system.h"
#include "engine/patch/patch_stream.h"
#include "platform/files.h"
#include "platform/safe_path.h"

void ReadStringList(RecordInput& in, PathList& into) {
  ExpectTag(in, RecordType::StringList);
  for (uint32_t left = ReadDword(in); left > 0; --left) into.push_back(ReadString(in));
}

AttributeMap ReadAttributeMap(RecordInput& in) {
  ExpectTag(in, RecordType::AttributeMap);
  AttributeMap map;
  for (uint32_t left = ReadDword(in); left > 0; --left) {
    std::u16string key = ReadString(in);
    map[std::move(key)] = ReadDword(in);
  }
  return map;
}

TextMap ReadInfoMap(RecordInput& in) {
  ExpectTag(in, RecordType::InfoMap);
  TextMap map;
  for (uint32_t left = ReadDword(in); left > 0; --left) {
    std::u16string key = ReadString(in);
    map[std::move(key)] = ReadString(in);
  }
  return map;
}

PatchFileIndex ReadFileIndex(zrFile::Reader& reader, CProgressSink& /*progress*/) {
  BufferedInput in(reader);
  ExpectTag(in, RecordType::FileIndex);
  PatchFileIndex index;
  for (uint32_t left = ReadDword(in); left > 0; --left) {
    std::u16string key = ReadString(in);
    index[std::move(key)] = ReadQword(in);
  }
  return index;
}

ChangeSet LoadPatchInfo(CProgressSink& progress, const std::u16string& patchPath) {
  ChangeSet changes;
  if (patchPath.empty()) {
    Raise(site::kNoPatchToLoad);
  }
  zrFile::Reader reader(patchPath);
  int64_t indexOffset;
  {
    BufferedInput in(reader);
    indexOffset = ReadPatchHeader(in);
    progress.SetStatus(u"Loading patch info.");
    progress.SetRange(9);

    changes.NewerTreeID = ReadString(in);
    changes.OlderTreeID = ReadString(in);
    changes.Info = ReadInfoMap(in);
    changes.IgnoreFilter = ReadString(in);
    for (PathList* list :
         {&changes.ignoredNew, &changes.ignoredOld, &changes.UnlinkedDirectories,
          &changes.UnlinkedFiles, &changes.NewDirs, &changes.ChangedFiles, &changes.NewFiles}) {
      ReadStringList(in, *list);
      progress.Step();
    }
    changes.AttributeChanges = ReadAttributeMap(in);
    progress.Step();
  }

  // Read only to prove the file complete; Apply reads it again itself.
  reader.seek(indexOffset);
  ReadFileIndex(reader, progress);
  progress.Step();
  reader.close();
  return changes;
}

bool ExtractFile(zrFile::Reader& reader, bool tolerateShort, CProgressSink& progress,
                 int64_t offset, const std::u16string& targetDirectory) {
  reader.seek(offset);
  DirectInput in(reader);
  ExpectTag(in, RecordType::FileContent);
  const std::u16string stored = ReadString(in);
  if (!platform::IsSafeRelativePath(stored)) {
    Raise(site::kExtractUnsafePath, stored);
  }
  // The length is read before the destination is touched, so a record
  // damaged this early costs the existing file nothing.
  const int64_t length = ReadQword(in);

  // The stored path brings its own leading separator; the doubled one is
  // harmless to the file system and keeps the texts the reports show.
  const std::u16string destination = targetDirectory + u"\\" + stored;
  // A diagnostic "Would write" line could go here, but standard output is
  // the command-line program's data channel, so nothing is printed.
  // A symbolic link here, dangling or not, is replaced like a file: writing
  // through it could create or change a file outside the target.
  if (PathExists(destination) || platform::IsSymbolicLink(destination)) {
    RemoveItem(false, destination);
  }
  zrFile::Writer out(destination);

  const int64_t done =
      CopyThroughBuffer(reader, length, progress.GetBuffer(), progress.GetBufferSize(),
                        [&](const uint8_t* chunk, int64_t n) {
                          if (out.write(chunk, n) != n) {
                            Raise(site::kExtractWrite, destination);
                          }
                        });
  if (done != length && !tolerateShort) {
    Raise(site::kExtractShort);
  }
  out.close();
  return done == length;
}
