// The patch writer: complete files byte for byte, file order, progress,
// chunking through the scratch buffer, and what a failure leaves behind.
#include "engine/patch/patch_writer.h"

#include <sys/stat.h>

#include <filesystem>

#include "engine/patch/patch_reader.h"
#include "engine/patch/patch_stream.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace {

const std::string kMagic = "zeRizeDuvuz 01.01.02";
const std::string kEmptyString = Bytes({0x10, 0x11, 0, 0, 0, 0});
const std::string kEmptyList = Bytes({0x12, 0x11, 0, 0, 0, 0});
// String \a.txt
const std::string kATxt = Bytes({0x10, 0x11, 0x06, 0x00, 0x00, 0x00, 0x5C, 0x00, 0x61, 0x00, 0x2E,
                                 0x00, 0x74, 0x00, 0x78, 0x00, 0x74, 0x00});

std::string Times(int n, const std::string& s) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

struct Written {
  std::string bytes;
  std::vector<std::u16string> calls;
};

Written Write(const ChangeSet& changes, const TempDir& newer) {
  TempDir out;
  RecordingSink sink;
  WritePatch(sink, changes, newer.wpath(), out.wpath() + u"/p.dov");
  return {ReadBytes(out.Native("p.dov")), sink.calls};
}

}  // namespace

TEST(PatchWriter, EmptyChangeSetGivesHeaderInfoAndEmptyIndex) {
  TempDir newer;
  const Written w = Write(ChangeSet{}, newer);
  const std::string header = kMagic + Bytes({0x14, 0x6A, 0, 0, 0, 0, 0, 0, 0,  // index at 106
                                             0x11, 0x01, 0, 0, 0});            // finished
  EXPECT_EQ(Hex(w.bytes.substr(0, 34)), Hex(header));
  const std::string expected = header + kEmptyString +            // NewerTreeID
                               kEmptyString +                     // OlderTreeID
                               Bytes({0x17, 0x11, 0, 0, 0, 0}) +  // Info
                               kEmptyString +                     // IgnoreFilter
                               Times(7, kEmptyList) +             // the seven lists
                               Bytes({0x16, 0x11, 0, 0, 0, 0}) +  // AttributeChanges
                               Bytes({0x15, 0x11, 0, 0, 0, 0});   // FileIndex, at 106
  EXPECT_EQ(Hex(w.bytes), Hex(expected));
  EXPECT_EQ(w.calls,
            (std::vector<std::u16string>{u"status:Creating a patch file", u"range:0", u"reset"}));
}

TEST(PatchWriter, OneNewFileGivesItsContentAndIndexEntry) {
  TempDir newer;
  newer.WriteFile("a.txt", "abc");
  ChangeSet changes;
  changes.NewFiles = {u"\\a.txt"};
  changes.AttributeChanges[u"\\a.txt"] = 0x81A40020;
  const Written w = Write(changes, newer);

  const std::string fileContent =  // at 147 = 0x93
      Bytes({0x13, 0x10, 0x11, 0x06, 0x00, 0x00, 0x00, 0x5C, 0x00, 0x61, 0x00,
             0x2E, 0x00, 0x74, 0x00, 0x78, 0x00, 0x74, 0x00, 0x14, 0x03, 0x00,
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63});
  ASSERT_EQ(fileContent.size(), 31u);
  const std::string expected =
      kMagic + Bytes({0x14, 0xB2, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x01, 0, 0, 0}) +  // index at 178
      kEmptyString + kEmptyString + Bytes({0x17, 0x11, 0, 0, 0, 0}) + kEmptyString +
      Times(6, kEmptyList) +                     // up to ChangedFiles
      Bytes({0x12, 0x11, 1, 0, 0, 0}) + kATxt +  // NewFiles
      Bytes({0x16, 0x11, 1, 0, 0, 0}) + kATxt + Bytes({0x11, 0x20, 0x00, 0xA4, 0x81}) +
      fileContent +                              // at 147
      Bytes({0x15, 0x11, 1, 0, 0, 0}) + kATxt +  // index at 178
      Bytes({0x14, 0x93, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(Hex(w.bytes), Hex(expected));
  EXPECT_EQ(w.bytes.substr(147, 31), fileContent);
}

TEST(PatchWriter, ContentsGoInCodeUnitOrderWithProgressPerFile) {
  TempDir newer;
  newer.WriteFile("a.txt", "lower");
  newer.WriteFile("B.txt", "upper");
  newer.WriteFile("e", "");
  ChangeSet changes;
  changes.NewFiles = {u"\\a.txt", u"\\e"};
  changes.ChangedFiles = {u"\\B.txt"};
  TempDir out;
  RecordingSink sink;
  WritePatch(sink, changes, newer.wpath(), out.wpath() + u"/p.dov");
  EXPECT_EQ(sink.calls,
            (std::vector<std::u16string>{u"status:Creating a patch file", u"range:3", u"reset",
                                         u"detail:Writing File: \\B.txt", u"step",
                                         u"detail:Writing File: \\a.txt", u"step",
                                         u"detail:Writing File: \\e", u"step"}));

  zrFile::Reader in(out.wpath() + u"/p.dov");
  in.seek(ReadPatchHeader(in));
  const PatchFileIndex index = ReadFileIndex(in, sink);
  ASSERT_EQ(index.size(), 3u);
  EXPECT_LT(index.at(u"\\B.txt"), index.at(u"\\a.txt"));
  EXPECT_LT(index.at(u"\\a.txt"), index.at(u"\\e"));
  const std::string bytes = ReadBytes(out.Native("p.dov"));
  EXPECT_EQ(in.tell(), int64_t(bytes.size())) << "the reader stands right after the index";
  // The zero-length file is a record with length 0 and nothing after it.
  const std::string empty =
      Bytes({0x13, 0x10, 0x11, 2, 0, 0, 0, 0x5C, 0, 0x65, 0, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x15});
  EXPECT_EQ(Hex(bytes.substr(index.at(u"\\e"), empty.size())), Hex(empty));
}

// The scratch buffer's final state shows how the copy was chunked: after a
// file of exactly kBuffer bytes it holds the whole file (one chunk); after kBuffer + 1
// bytes its first byte is the file's last one (a second chunk of one byte).
TEST(PatchWriter, CopiesInChunksOfTheScratchBuffer) {
  constexpr size_t kBuffer = kScratchBufferSize;
  struct Case {
    size_t size;
  } cases[] = {{kBuffer}, {kBuffer + 1}};
  for (const Case& c : cases) {
    std::string content(c.size, '\0');
    for (size_t i = 0; i < c.size; ++i) content[i] = static_cast<char>(i % 251);
    TempDir newer, out, target;
    newer.WriteFile("f", content);
    ChangeSet changes;
    changes.NewFiles = {u"\\f"};
    RecordingSink writeSink;
    WritePatch(writeSink, changes, newer.wpath(), out.wpath() + u"/p.dov");

    RecordingSink extractSink;
    zrFile::Reader in(out.wpath() + u"/p.dov");
    in.seek(ReadPatchHeader(in));
    ExtractFile(in, ShortContent::Raise, extractSink, ReadFileIndex(in, extractSink).at(u"\\f"),
                target.wpath());
    EXPECT_TRUE(target.ReadFile("f") == content) << c.size;

    for (RecordingSink* sink : {&writeSink, &extractSink}) {
      const std::string buffer(reinterpret_cast<const char*>(sink->GetBuffer()), kBuffer);
      if (c.size == kBuffer) {
        EXPECT_TRUE(buffer == content) << "one chunk";
      } else {
        EXPECT_EQ(buffer[0], content[kBuffer]) << "second chunk of one byte";
        EXPECT_TRUE(buffer.compare(1, kBuffer - 1, content, 1, kBuffer - 1) == 0) << "first chunk";
      }
    }
  }
}

TEST(PatchWriter, ReplacesAReadOnlyPatchFile) {
  TempDir newer, out;
  out.WriteFile("p.dov", std::string(500, 'x'));
  ::chmod(out.Native("p.dov").c_str(), 0444);
  RecordingSink sink;
  WritePatch(sink, ChangeSet{}, newer.wpath(), out.wpath() + u"/p.dov");
  EXPECT_EQ(ReadBytes(out.Native("p.dov")).size(), 112u);
}

TEST(PatchWriter, CancelLeavesThePreviousFileAlone) {
  TempDir newer, out;
  newer.WriteFile("a", "abc");
  out.WriteFile("p.dov", "previous");
  ChangeSet changes;
  changes.NewFiles = {u"\\a"};
  RecordingSink sink;
  sink.cancelAfterCalls = 2;  // the status passes, "Writing File: \a" cancels
  EXPECT_THROW(WritePatch(sink, changes, newer.wpath(), out.wpath() + u"/p.dov"), COPCancel);
  EXPECT_EQ(out.ReadFile("p.dov"), "previous");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path()),
                          std::filesystem::directory_iterator()),
            1);
}
