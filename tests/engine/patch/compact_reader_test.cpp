// A compact patch read by Query Patch: each kind of damage refused with
// what is damaged, and no report written.
#include "engine/patch/compact_reader.h"

#include <gtest/gtest.h>

#include "engine/io/file_system.h"
#include "engine/jobs/create_patch.h"
#include "engine/jobs/query_patch.h"
#include "engine/patch/packed_records.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace {

// The patch again with its head (and so every later offset) replaced.
std::string WithHead(const std::string& patch, const CompactPatchInfo& info,
                     const CompactHead& head) {
  FrameEncoder frames;
  MemoryOutput out;
  WriteCompactMagic(out);
  WriteCompactHead(out, frames, 3, head);
  const int64_t shift = static_cast<int64_t>(out.bytes.size()) - info.contentStart;
  out.bytes += patch.substr(info.contentStart, info.indexOffset - info.contentStart);
  PatchFileIndex index = info.index;
  for (auto& [path, offset] : index) offset += shift;
  WriteCompactIndex(out, frames, 3, index);
  WriteCompactEnd(out, info.indexOffset + shift);
  return out.bytes;
}

}  // namespace

TEST(CompactReader, DamagedPatchesAreRefusedNamingWhatIsDamaged) {
  TempDir older, newer, out;
  const std::string text = "line of a source file that a release changes\n";
  older.WriteFile("a.js", text + text + "one\n");
  newer.WriteFile("a.js", text + text + "two\n");
  newer.WriteFile("b.txt", "new");
  RecordingSink sink;
  CreatePatchFromDirectories(sink, older.wpath(), newer.wpath(), out.wpath() + u"/p.dov", u"", u"",
                             {true, 3});
  const std::string patch = ReadBytes(out.Native("p.dov"));
  CompactPatchInfo info;
  {
    zrFile::Reader reader(out.wpath() + u"/p.dov");
    info = ReadCompactPatchInfo(reader, sink);
  }
  const size_t end = patch.size() - 30;
  const size_t block = static_cast<size_t>(info.contentStart);
  auto flipped = [&](size_t at) {
    std::string bytes = patch;
    bytes[at] ^= 0x40;
    return bytes;
  };
  CompactHead extra = info.head;
  extra.changes.NewFiles.push_back(u"\\c.txt");
  CompactHead twice = info.head;
  twice.changes.ChangedFiles.push_back(u"\\b.txt");
  struct Case {
    const char* name;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"cut short", patch.substr(0, patch.size() - 1),
       "This patch file has not been properly written."},
      {"only a magic", patch.substr(0, 20), "This patch file has not been properly written."},
      {"a classic reader's magic", "zeRizeDuvuz 01.01.02" + patch.substr(20),
       "Type mismatch."},  // read as classic: its header's tag is not there
      {"the head's frame", flipped(block - 2), "Refusing a damaged compact patch: the patch info"},
      {"the index where the head is",
       patch.substr(0, end + 2) + Bytes({1, 0, 0, 0, 0, 0, 0, 0}) + patch.substr(end + 10),
       "Refusing a damaged compact patch: the file index"},
      {"a member table's frame", flipped(block + 25),
       "Refusing a damaged compact patch: a member table"},
      {"a path no block holds", WithHead(patch, info, extra),
       "Refusing a damaged compact patch: the file index"},
      {"a path listed twice", WithHead(patch, info, twice),
       "Refusing a damaged compact patch: the file index"},
  };
  for (const Case& c : cases) {
    WriteBytes(out.Native("bad.dov"), c.bytes);
    const std::string message =
        ErrorOf([&] { QueryPatch(sink, out.wpath() + u"/bad.dov", out.wpath() + u"/r.xml"); });
    EXPECT_EQ(message.substr(0, c.message.size()), c.message) << c.name << ": " << message;
    EXPECT_FALSE(PathExists(out.wpath() + u"/r.xml")) << c.name;
  }
}
