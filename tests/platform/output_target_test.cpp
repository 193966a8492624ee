// What stands at an output path, and the way straight into a device.
#include "platform/output_target.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/temp_dir.h"

// Only a device or FIFO is written straight into: a regular file that took
// the place of one since it was looked at is refused rather than written
// over in place, which would leave the old file's tail behind it.
TEST(OutputTarget, OnlyADeviceIsOpenedToBeWrittenInto) {
  TempDir dir;
  dir.WriteFile("file", "a longer previous content");
  const int device = platform::OpenDeviceForWriting(u"/dev/null");
  EXPECT_GE(device, 0);
  ::close(device);
  errno = 0;
  EXPECT_EQ(platform::OpenDeviceForWriting(dir.wpath() + u"/file"), -1);
  EXPECT_EQ(errno, ENXIO);
  EXPECT_EQ(dir.ReadFile("file"), "a longer previous content");
}
