// The Fingerprint job: its refusals and the value it gives for a tree.
#include "engine/jobs/calculate_fingerprint.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/base/errors.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace {

constexpr char16_t kEmptyId[] = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";

}  // namespace

TEST(CalculateFingerprint, MissingDirectoryIsATypeOneError) {
  TempDir dir;
  dir.WriteFile("file", "");
  struct Case {
    std::u16string typed, shown;
  } cases[] = {
      {dir.wpath() + u"/missing/", dir.wpath() + u"/missing"},
      {dir.wpath() + u"/file", dir.wpath() + u"/file"},
      {u"", u""},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    try {
      CalculateFingerprint(sink, c.typed, u"");
      ADD_FAILURE() << Narrow(c.typed);
    } catch (const CZRErr& e) {
      EXPECT_EQ(e.type, 1);
      EXPECT_EQ(e.message, u"Directory for fingerprinting does  not exists: " + c.shown);
      EXPECT_STREQ(e.file, ".\\rezeriravodu");
      EXPECT_TRUE(sink.calls.empty());
    }
  }
}

TEST(CalculateFingerprint, SameTreeSameValueWhereverItLiesAndHoweverTyped) {
  TempDir one, two;
  for (const TempDir* d : {&one, &two}) {
    d->WriteFile("a.txt", "alpha");
    d->WriteFile("sub/deeper/b.txt", "beta");
    d->MakeDir("empty");
  }
  RecordingSink sink;
  const std::u16string fp = CalculateFingerprint(sink, one.wpath(), u"");
  EXPECT_EQ(sink.statuses.back(), u"Fingerprint calculated.");
  EXPECT_EQ(CalculateFingerprint(sink, two.wpath(), u""), fp);
  EXPECT_EQ(CalculateFingerprint(sink, u"/" + one.wpath() + u"//", u""), fp);
  EXPECT_EQ(CalculateFingerprint(sink, one.wpath(), u"*"), kEmptyId);

  ASSERT_EQ(chmod(two.Native("a.txt").c_str(), 0444), 0);
  EXPECT_NE(CalculateFingerprint(sink, two.wpath(), u""), fp);
}
