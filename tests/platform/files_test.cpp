// The attribute word and directory listings on a real POSIX file system.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "engine/io/file_system.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

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
