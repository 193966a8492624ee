// Removing items and digesting files through the scratch buffer at its chunk
// boundaries.
#include "engine/io/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "engine/base/errors.h"
#include "engine/hash/sha1.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace {

// Bytes that differ from position to position and from block to block, so a
// chunk read twice or skipped changes the digest.
std::string Pattern(size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

std::u16string Digest(const std::string& bytes) {
  Sha1Context context;
  Sha1Init(context);
  Sha1Update(context, bytes.data(), static_cast<uint32_t>(bytes.size()));
  Sha1Digest digest;
  Sha1Final(digest, context);
  return DigestToHex(digest);
}

std::u16string DigestFile(CProgressSink& sink, const std::u16string& path) {
  Sha1Context context;
  Sha1Init(context);
  DigestFileContent(sink, path, context);
  Sha1Digest digest;
  Sha1Final(digest, context);
  return DigestToHex(digest);
}

}  // namespace

TEST(RemoveItem, ClearsReadOnlyAndReportsWhatCannotGo) {
  TempDir dir;
  dir.WriteFile("ro.txt", "x");
  ASSERT_EQ(chmod(dir.Native("ro.txt").c_str(), 0444), 0);
  EXPECT_TRUE(RemoveItem(RemoveFailure::Raise, dir.wpath() + u"/ro.txt"));
  EXPECT_FALSE(PathExists(dir.wpath() + u"/ro.txt"));

  dir.WriteFile("full/x", "");
  dir.MakeDir("empty");
  ASSERT_EQ(chmod(dir.Native("empty").c_str(), 0555), 0);
  EXPECT_TRUE(RemoveItem(RemoveFailure::Raise, dir.wpath() + u"/empty"));

  struct Case {
    const char16_t* name;
    int32_t line;
  } cases[] = {{u"/full", 133}, {u"/missing", 146}};
  for (const Case& c : cases) {
    const std::u16string path = dir.wpath() + c.name;
    EXPECT_FALSE(RemoveItem(RemoveFailure::Tolerate, path));
    try {
      RemoveItem(RemoveFailure::Raise, path);
      ADD_FAILURE() << Narrow(c.name);
    } catch (const CZRErr& e) {
      EXPECT_EQ(e.message, u"Unable to remove item. " + path);
      EXPECT_EQ(e.line, c.line);
      EXPECT_STREQ(e.file, ".\\fileio");
    }
  }
}

TEST(DigestFileContent, ReadsEveryChunkAroundTheBufferSize) {
  TempDir dir;
  struct Case {
    size_t size;
    uint32_t buffer;
    const char16_t* digest;  // empty: compare with the in-memory digest
  } cases[] = {
      {0, kScratchBufferSize, u"da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {2097152, kScratchBufferSize, u"2639caa963a7cc379078541453864a4e2e8be9fe"},
      {2097153, kScratchBufferSize, u"c80219773aa0dbc15996e7475612de16b73857d6"},
      // A small buffer puts many boundaries into a small file.
      {4096 * 3, 4096, u""},
      {4096 * 3 + 1, 4096, u""},
      {4095, 4096, u""},
  };
  for (const Case& c : cases) {
    const std::string content = Pattern(c.size);
    dir.WriteFile("f.bin", content);
    RecordingSink sink(c.buffer);
    const std::u16string expected = *c.digest ? std::u16string(c.digest) : Digest(content);
    EXPECT_EQ(DigestFile(sink, dir.wpath() + u"/f.bin"), expected) << c.size << "/" << c.buffer;
    EXPECT_TRUE(sink.calls.empty()) << "reading a file is not a cancellation point";
  }
}

TEST(DigestFileContent, RaisesTheOpenErrorForMissingFilesAndFifos) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.Native("fifo").c_str(), 0644), 0);
  RecordingSink sink;
  for (const char16_t* name : {u"/missing", u"/fifo"}) {
    const std::u16string path = dir.wpath() + name;
    try {
      DigestFile(sink, path);
      ADD_FAILURE() << "no error for " << Narrow(name);
    } catch (const CZRErr& e) {
      EXPECT_EQ(e.message, u"Unable to open file:" + path);
      EXPECT_STREQ(e.file, ".\\fileReader");
    }
  }
}
