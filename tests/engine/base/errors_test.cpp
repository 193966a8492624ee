// The four-line error text every failure shows.
#include "engine/base/errors.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "engine/base/error_sites.h"

using namespace torquelin;

// The code shown is the one the error was given, never what errno holds
// when it is built: a check gives none.
TEST(CZRErr, GetTextHasFourLinesAndTheCodeItWasGiven) {
  errno = ENOTTY;
  CZRErr zero(1, u"Directory for fingerprinting does  not exists: /x", ".\\rezeriravodu", 42);
  EXPECT_EQ(zero.GetText(),
            u"Error type:1\nMessage: Directory for fingerprinting does  not exists: /x\n"
            u"Error Code: 0\nLocation: .\\rezeriravodu line:42\n");
  CZRErr e(0, u"m", ".\\fileio", 7, ENOENT);
  EXPECT_EQ(e.lastError, static_cast<uint32_t>(ENOENT));
  e.lastError = 0x80070005;
  EXPECT_NE(e.GetText().find(u"Error Code: 80070005\n"), std::u16string::npos);
  try {
    Raise(site::kRemoveFile, u"/t/a", EACCES);
  } catch (const CZRErr& raised) {
    EXPECT_EQ(raised.message, u"Unable to remove item. /t/a");
    EXPECT_EQ(raised.lastError, static_cast<uint32_t>(EACCES));
  }
}
