// The four-line error text every failure shows.
#include "engine/base/errors.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(CZRErr, GetTextHasFourLinesAndRecordsErrno) {
  errno = 0;
  CZRErr zero(1, u"Directory for fingerprinting does  not exists: /x", ".\\rezeriravodu", 42);
  EXPECT_EQ(zero.GetText(),
            u"Error type:1\nMessage: Directory for fingerprinting does  not exists: /x\n"
            u"Error Code: 0\nLocation: .\\rezeriravodu line:42\n");
  errno = ENOENT;
  CZRErr e(0, u"m", ".\\fileio", 7);
  EXPECT_EQ(e.lastError, static_cast<uint32_t>(ENOENT));
  e.lastError = 0x80070005;
  EXPECT_NE(e.GetText().find(u"Error Code: 80070005\n"), std::u16string::npos);
}
