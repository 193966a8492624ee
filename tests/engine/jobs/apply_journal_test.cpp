// The apply journal's text: what it writes reads back, and a journal cut
// short by a crash holds nothing.
#include "engine/jobs/apply_journal.h"

#include <gtest/gtest.h>

TEST(ApplyJournal, TextRoundTripsAndACutJournalHoldsNothing) {
  JournalRecord record;
  record.patch = {u"older", u"newer", 1234, u"digest", u"/p/a patch%.dov"};
  record.files = {{u"\\a b\\new\nline", u"\\a b\\.tq-1"}, {u"\\\u00e9t\u00e9", u"\\.tq-2"}};
  const std::string text = JournalText(record);
  EXPECT_EQ(text,
            "torquelin-journal 1\nolder older\nnewer newer\nsize 1234\ndigest digest\n"
            "patch /p/a%20patch%25.dov\nstage \\a%20b\\.tq-1 \\a%20b\\new%0aline\n"
            "stage \\.tq-2 \\\xc3\xa9t\xc3\xa9\nend\n");

  const auto staging = ParseJournal(text);
  ASSERT_TRUE(staging.has_value());
  EXPECT_FALSE(staging->committing);
  EXPECT_TRUE(staging->patch.SamePatch(record.patch));
  EXPECT_EQ(staging->patch.path, record.patch.path);
  ASSERT_EQ(staging->files.size(), 2u);
  EXPECT_EQ(staging->files[0].path, record.files[0].path);
  EXPECT_EQ(staging->files[1].staged, record.files[1].staged);

  const auto committing = ParseJournal(text + kJournalCommitLine);
  ASSERT_TRUE(committing.has_value());
  EXPECT_TRUE(committing->committing);
  // A commit line cut short: the commit had not begun.
  EXPECT_FALSE(ParseJournal(text + "comm")->committing);

  for (const size_t cut : {size_t{0}, size_t{10}, text.find("stage"), text.size() - 1}) {
    SCOPED_TRACE(cut);
    EXPECT_FALSE(ParseJournal(text.substr(0, cut)).has_value());
  }
  EXPECT_FALSE(ParseJournal("torquelin-journal 2\nend\n").has_value());
  EXPECT_FALSE(ParseJournal("torquelin-journal 1\npatch %zz\nend\n").has_value());
}
