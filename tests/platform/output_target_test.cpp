// What stands at an output path, and the way straight into a device.
#include "platform/output_target.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/temp_dir.h"

using namespace torquelin;

// Only a device or FIFO is written straight into: a regular file that took
// the place of one since it was looked at is refused rather than written
// over in place, which would leave the old file's tail behind it.
TEST(OutputTarget, OnlyADeviceIsOpenedToBeWrittenInto) {
  TempDir dir;
  dir.WriteFile("file", "a longer previous content");
  EXPECT_TRUE(platform::OpenDeviceForWriting(u"/dev/null"));
  const auto replaced = platform::OpenDeviceForWriting(dir.wpath() + u"/file");
  EXPECT_FALSE(replaced);
  EXPECT_EQ(replaced.error(), static_cast<uint32_t>(ENXIO));
  EXPECT_EQ(dir.ReadFile("file"), "a longer previous content");
}
