// The attribute word, removal and 64-bit sizes on a real POSIX file system.
#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/base/errors.h"
#include "engine/hash/sha1.h"
#include "engine/io/file_system.h"
#include "engine/io/large_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

TEST(AttributeWord, FollowsTheZipConvention) {
  TempDir dir;
  dir.WriteFile("rw", "");
  dir.WriteFile("ro", "");
  dir.MakeDir("d");
  ASSERT_EQ(chmod(dir.Native("rw").c_str(), 0644), 0);
  ASSERT_EQ(chmod(dir.Native("ro").c_str(), 0444), 0);
  ASSERT_EQ(chmod(dir.Native("d").c_str(), 0755), 0);
  ASSERT_EQ(symlink("d", dir.Native("link").c_str()), 0);
  struct Case {
    const char16_t* name;
    uint32_t word;
  } cases[] = {
      {u"/rw", 0x81A40020}, {u"/ro", 0x81240021},
      {u"/d", 0x41ED0010},  {u"/link", 0x41ED0010},  // a link reads as what it points to
      {u"/missing", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetAttributesOrZero(dir.wpath() + c.name), c.word) << Narrow(c.name);
  }
  EXPECT_TRUE(DirectoryExists(dir.wpath() + u"/link"));
  EXPECT_FALSE(DirectoryExists(dir.wpath() + u"/rw"));
  EXPECT_TRUE(PathExists(dir.wpath() + u"/rw"));
  EXPECT_FALSE(PathExists(dir.wpath() + u"/missing"));
}

TEST(AttributeWord, SettingChangesPermissionsOnlyAndReadsBack) {
  TempDir dir;
  dir.WriteFile("f", "");
  const std::u16string f = dir.wpath() + u"/f";
  struct Case {
    uint32_t set;
    uint32_t readBack;
  } cases[] = {
      {0x81240021, 0x81240021}, {0x81A40020, 0x81A40020},
      {0x41ED0010, 0x81ED0020},  // a directory's word on a file: the file stays a file
      {0x00000001, 0x816D0021},  // low bits only: read-only drops every write bit
      {0x00000020, 0x81ED0020},  // and clearing it gives the owner write back
      {0x81B60020, 0x81B60020},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(platform::SetAttributeWord(f, c.set)) << std::hex << c.set;
    EXPECT_EQ(GetAttributesOrZero(f), c.readBack) << std::hex << c.set;
  }
}

TEST(RemoveItem, ClearsReadOnlyAndReportsWhatCannotGo) {
  TempDir dir;
  dir.WriteFile("ro.txt", "x");
  ASSERT_EQ(chmod(dir.Native("ro.txt").c_str(), 0444), 0);
  EXPECT_TRUE(RemoveItem(false, dir.wpath() + u"/ro.txt"));
  EXPECT_FALSE(PathExists(dir.wpath() + u"/ro.txt"));

  dir.WriteFile("full/x", "");
  dir.MakeDir("empty");
  ASSERT_EQ(chmod(dir.Native("empty").c_str(), 0555), 0);
  EXPECT_TRUE(RemoveItem(false, dir.wpath() + u"/empty"));

  struct Case {
    const char16_t* name;
    int32_t line;
  } cases[] = {{u"/full", 133}, {u"/missing", 146}};
  for (const Case& c : cases) {
    const std::u16string path = dir.wpath() + c.name;
    EXPECT_FALSE(RemoveItem(true, path));
    try {
      RemoveItem(false, path);
      ADD_FAILURE() << Narrow(c.name);
    } catch (const CZRErr& e) {
      EXPECT_EQ(e.message, u"Unable to remove item. " + path);
      EXPECT_EQ(e.line, c.line);
      EXPECT_STREQ(e.file, ".\\fileio");
    }
  }
}

TEST(LargeFile, SparseFileBeyondFourGiBHasItsFullSizeAndDigest) {
  TempDir dir;
  const int64_t size = 4294967296LL + 5;
  // Marker bytes on both sides of a 2 MiB chunk boundary and of the 4 GiB
  // line, and the very last byte; zeros (holes) everywhere else.
  const std::pair<int64_t, char> marks[] = {{2097151, 0x11},
                                            {2097152, 0x22},
                                            {4294967295LL, 0x33},
                                            {4294967296LL, 0x44},
                                            {size - 1, 0x55}};
  {
    const int fd = open(dir.Native("big").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    for (const auto& [at, byte] : marks) ASSERT_EQ(pwrite(fd, &byte, 1, at), 1);
    close(fd);
  }
  const std::u16string path = dir.wpath() + u"/big";
  zrFile::Reader reader(path);
  reader.seek(12345);
  EXPECT_EQ(reader.size(), size);
  EXPECT_EQ(reader.tell(), 12345);
  EXPECT_FALSE(reader.eof());
  reader.seek(size);
  EXPECT_TRUE(reader.eof());

  RecordingSink sink;
  Sha1Context context;
  Sha1Init(context);
  DigestFileContent(sink, path, context);
  Sha1Digest digest;
  Sha1Final(digest, context);
  EXPECT_EQ(DigestToHex(digest), u"f1725d3ce29589f8b5cfc3cfe410d141dc19e366");
}

TEST(LargeFile, ReaderOnAMissingPathNamesIt) {
  try {
    zrFile::Reader reader(u"/no/such/file");
    ADD_FAILURE();
  } catch (const CZRErr& e) {
    EXPECT_EQ(e.message, u"Unable to ioen file:/no/such/file");
    EXPECT_STREQ(e.file, ".\\fileReader");
  }
}
