// A compact patch's magic, head, index and end record: exact bytes where zstd
// does not make them, round trips where it does, and the refusals.
#include "engine/patch/compact_sections.h"

#include <gtest/gtest.h>

#include "engine/patch/compact_format.h"
#include "engine/patch/packed_records.h"
#include "tests/support/memory_contents.h"
#include "tests/support/patch_test_util.h"

using namespace torquelin;

namespace {

ChangeSet SampleChanges() {
  ChangeSet changes;
  changes.NewerTreeID = u"a94a8fe5ccb19ba61c4c0873d391e987982fbbd3";
  changes.OlderTreeID = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";
  changes.Info = {{u"NewFiles", u"1"}, {u"UserName", u"ana"}};
  changes.IgnoreFilter = u"*.tmp;cache";
  changes.ignoredNew = {u"\\x.tmp"};
  changes.UnlinkedDirectories = {u"\\gone"};
  changes.UnlinkedFiles = {u"\\gone\\a.txt"};
  changes.NewDirs = {u"\\new"};
  changes.ChangedFiles = {u"\\b.txt"};
  changes.NewFiles = {u"\\new\\c.txt"};
  changes.AttributeChanges = {{u"\\b.txt", 0x81A40020}, {u"\\new", 0x41ED0010}};
  return changes;
}

}  // namespace

TEST(CompactSections, FixedRecordsAreWrittenByteExact) {
  MemoryOutput end;
  WriteCompactEnd(end, 0x5A);
  EXPECT_EQ(Hex(end.bytes), Hex(Bytes({0x1E, 0x14, 0x5A, 0,   0,   0,   0,   0,   0,   0,
                                       'z',  'e',  'R',  'i', 'z', 'e', 'D', 'u', 'v', 'u',
                                       'z',  ' ',  '0',  '2', '.', '0', '0', '.', '0', '0'})));
  EXPECT_EQ(end.bytes.size(), static_cast<size_t>(kCompactEndSize));
  MemoryOutput digest;
  WriteDigest(digest, IdOf("abc"));
  EXPECT_EQ(Hex(digest.bytes),
            Hex(Bytes({0x1C, 0xA9, 0x99, 0x3E, 0x36, 0x47, 0x06, 0x81, 0x6A, 0xBA, 0x3E,
                       0x25, 0x71, 0x78, 0x50, 0xC2, 0x6C, 0x9C, 0xD0, 0xD8, 0x9D})));
}

TEST(CompactSections, TheMagicTellsTheFormats) {
  struct Case {
    std::string bytes;
    std::string result;
  } cases[] = {
      {"zeRizeDuvuz 01.01.02", "classic"},
      {"zeRizeDuvuz 02.00.00", "compact"},
      {"zeRizeDuvuz 02.00.01", "Unable to open a patch file, missing magic number."},
      {"zeRizeDuvuz 02", "Unable to read a buffer from a patch."},
  };
  for (const Case& c : cases) {
    MemoryInput in(c.bytes);
    std::string result;
    const std::string error = ErrorOf(
        [&] { result = ReadPatchMagic(in) == PatchFormat::Classic ? "classic" : "compact"; });
    EXPECT_EQ(error == "<no error>" ? result : error, c.result) << c.bytes;
  }
}

TEST(CompactSections, HeadAndIndexRoundTrip) {
  CompactHead head{SampleChanges(), {{u"\\b.txt", IdOf("b")}, {u"\\gone\\a.txt", IdOf("a")}}};
  const PatchFileIndex index{{u"\\b.txt", 96}, {u"\\new\\c.txt", 96}};
  FrameEncoder frames;
  MemoryOutput out;
  WriteCompactHead(out, frames, 12, head);
  WriteCompactIndex(out, frames, 12, index);
  MemoryInput in(out.bytes);
  int steps = 0;
  const CompactHead read = ReadCompactHead(in, [&] { ++steps; });
  EXPECT_EQ(read.changes, head.changes);
  EXPECT_EQ(read.olderIds, head.olderIds);
  EXPECT_EQ(steps, 8);  // seven lists and the attribute map
  EXPECT_EQ(ReadCompactIndex(in), index);
  EXPECT_EQ(in.left(), 0u);
}

TEST(CompactSections, DamagedOrUnfinishedPartsAreRefused) {
  FrameEncoder frames;
  MemoryOutput head;
  WriteCompactHead(head, frames, 12, {SampleChanges(), {}});
  MemoryOutput end;
  WriteCompactEnd(end, 34);
  auto readHead = [](std::string bytes) {
    return [bytes] {
      MemoryInput in(bytes);
      ReadCompactHead(in);
    };
  };
  auto readEnd = [](std::string bytes) {
    return [bytes] {
      MemoryInput in(bytes);
      ReadCompactEnd(in);
    };
  };
  std::string flipped = head.bytes;
  flipped.back() ^= 0x20;  // in the frame's checksum: every record still reads
  std::string bomb = head.bytes;
  bomb[9] = 0x10;  // the decoded length's top byte: 2^60 bytes from a few hundred
  std::string longer = head.bytes;
  longer[2] += 1;  // one decoded byte more than the frame gives
  std::string wrongEnd = end.bytes;
  wrongEnd.back() = '1';
  struct Case {
    const char* name;
    std::function<void()> read;
    std::string message;
  } cases[] = {
      {"checksum differs", readHead(flipped), "Refusing a damaged compact patch: the patch info"},
      {"decoded length of a bomb", readHead(bomb),
       "Refusing a damaged compact patch: the patch info"},
      {"decoded length beyond the frame", readHead(longer),
       "Refusing a damaged compact patch: the patch info"},
      {"head cut short", readHead(head.bytes.substr(0, head.bytes.size() - 1)),
       "Unable to read a buffer from a patch."},
      {"end record cut short", readEnd(end.bytes.substr(1)),
       "This patch file has not been properly written."},
      {"end record with another magic", readEnd(wrongEnd),
       "This patch file has not been properly written."},
      {"contents where the end record belongs", readEnd(std::string(30, 'x')),
       "This patch file has not been properly written."},
  };
  for (const Case& c : cases) {
    const std::string message = ErrorOf(c.read);
    EXPECT_EQ(message.substr(0, c.message.size()), c.message) << c.name << ": " << message;
  }
}
