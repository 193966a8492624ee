// The questions the engine asks of an attribute word, on the words real
// entries and other systems' patches give.
#include "platform/attribute_word.h"

#include <gtest/gtest.h>

using namespace torquelin;

TEST(AttributeWord, QuestionsReadTheRightBits) {
  struct Case {
    const char* name;
    uint32_t word;
    bool directory, readOnly, link, regular, setId;
    uint32_t permissions;
  } cases[] = {
      {"0644 file", 0x81A40020, false, false, false, true, false, 0644},
      {"0444 file", 0x81240021, false, true, false, true, false, 0444},
      {"0755 directory", 0x41ED0010, true, false, false, false, false, 0755},
      {"link", 0xA1FF0420, false, false, true, false, false, 0777},
      {"set-user-id program", 0x89ED0020, false, false, false, true, true, 04755},
      {"set-group-id directory", 0x45ED0010, true, false, false, false, true, 02755},
      {"FIFO", 0x11A40020, false, false, false, false, false, 0644},
      // A word made elsewhere: only the low bits, no kind to tell.
      {"low bits only", 0x00000011, true, true, false, false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(platform::IsDirectoryWord(c.word), c.directory);
    EXPECT_EQ(platform::IsReadOnlyWord(c.word), c.readOnly);
    EXPECT_EQ(platform::IsLinkWord(c.word), c.link);
    EXPECT_EQ(platform::IsRegularFileWord(c.word), c.regular);
    EXPECT_EQ(platform::HasSetIdBits(c.word), c.setId);
    EXPECT_EQ(platform::PermissionBits(c.word), c.permissions);
    EXPECT_EQ(platform::OwnerWritablePermissions(c.word), c.permissions | 0200);
    EXPECT_FALSE(platform::HasSetIdBits(platform::WithoutSetIdBits(c.word)));
    EXPECT_EQ(platform::WithoutSetIdBits(c.word) & ~(06000u << 16), c.word & ~(06000u << 16));
  }
  EXPECT_EQ(platform::AttributeWordFromMode(0100644), 0x81A40020u);
  EXPECT_EQ(platform::AttributeWordFromMode(0120777), 0xA1FF0420u);
}
