// The apply journal's text: what it writes reads back, a journal cut short by
// a crash holds nothing, and anything else is refused; the staged names.
#include "engine/jobs/apply_journal.h"

#include <gtest/gtest.h>

using namespace torquelin;

namespace {

JournalRecord Sample() {
  JournalRecord record;
  record.patch = {u"older", u"newer", 1234, u"digest", u"/p/a patch%.dov"};
  record.token = "0123456789abcdef";
  record.root = 0x416d0011;
  record.opened = {{u"\\a b\\\u00e9", 0x41ed0011}};
  return record;
}

}  // namespace

TEST(ApplyJournal, TextRoundTripsAndACutJournalHoldsNothing) {
  const JournalRecord record = Sample();
  const std::string text = JournalText(record);
  EXPECT_EQ(text,
            "torquelin-journal 2\nroot 416d0011\nolder older\nnewer newer\nsize 1234\n"
            "digest digest\npatch /p/a%20patch%25.dov\ntoken 0123456789abcdef\n"
            "opened \\a%20b\\\xc3\xa9 41ed0011\nend\n");
  const ParsedJournal staging = ParseJournal(text);
  ASSERT_EQ(staging.kind, ParsedJournal::Kind::Record);
  EXPECT_FALSE(staging.record.committing);
  EXPECT_TRUE(staging.record.patch.SamePatch(record.patch));
  EXPECT_EQ(staging.record.patch.path, record.patch.path);
  EXPECT_EQ(staging.record.token, record.token);
  EXPECT_EQ(staging.record.root, record.root);
  ASSERT_EQ(staging.record.opened.size(), 1u);
  EXPECT_EQ(staging.record.opened[0].path, record.opened[0].path);
  EXPECT_EQ(staging.record.opened[0].word, record.opened[0].word);
  // The root's word is known from the moment the journal is made.
  EXPECT_EQ(ParseJournal(JournalPreamble(0x416d0011)).record.root, 0x416d0011u);

  const ParsedJournal committing = ParseJournal(text + JournalCommitText({3, 7}));
  ASSERT_EQ(committing.kind, ParsedJournal::Kind::Record);
  EXPECT_TRUE(committing.record.committing);
  EXPECT_EQ(committing.record.unstaged, (std::vector<uint32_t>{3, 7}));

  using Kind = ParsedJournal::Kind;
  struct Case {
    std::string bytes;
    Kind kind;
    bool committing;
  };
  const Case cases[] = {
      {"", Kind::Nothing, false},
      {"torquelin-jour", Kind::Nothing, false},
      {text.substr(0, text.find("token")), Kind::Nothing, false},
      {text.substr(0, text.size() - 1), Kind::Nothing, false},
      // A commit cut short had not begun.
      {text + "skip 3\ncomm", Kind::Record, false},
      {text + "commit\n", Kind::Record, true},
      // Anything this program never writes.
      {"torquelin-journal 1\nolder o\n", Kind::Invalid, false},
      {"#!/bin/sh\nrm -rf /\n", Kind::Invalid, false},
      {text + "commit\nstage \\x \\..\\y\n", Kind::Invalid, false},
      {text + "commit\ncommit\n", Kind::Invalid, false},
      {text + "skip -1\ncommit\n", Kind::Invalid, false},
      {text.substr(0, text.find("end")) + "opened \\..\\etc 41ed0011\nend\n", Kind::Invalid, false},
      {text.substr(0, text.find("end")) + "opened \\ 41ed0011\nend\n", Kind::Invalid, false},
      {text.substr(0, text.find("end")) + "stage \\.tq-1 \\..\\x\nend\n", Kind::Invalid, false},
      {text.substr(0, text.find("token")) + "token ../../x\n", Kind::Invalid, false},
      {"torquelin-journal 2\nolder o\nnewer n\nsize 1\ndigest d\npatch %1b[2J\n", Kind::Invalid,
       false},
      {"torquelin-journal 2\nolder o\nnewer n\nsize 1\ndigest d\npatch %zz\n", Kind::Invalid,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    const ParsedJournal parsed = ParseJournal(c.bytes);
    EXPECT_EQ(parsed.kind, c.kind);
    EXPECT_EQ(parsed.record.committing, c.committing);
  }
}

// Staged files lie beside their destination, or in the nearest directory
// above it that the commit does not create; the token and the file's place
// in the patch make the name.
TEST(ApplyJournal, StagedPathsFollowFromThePatchAndTheToken) {
  const StagingPlaces places({u"\\n\\m", u"\\a\\x", u"\\n"});
  EXPECT_EQ(places.PathFor(u"\\a\\f", "00000000000000ff", 0), u"\\a\\.tq-00000000000000ff.0");
  EXPECT_EQ(places.PathFor(u"\\n\\m\\f", "00000000000000ff", 12), u"\\.tq-00000000000000ff.12");
  EXPECT_EQ(places.PathFor(u"\\a\\x\\f", "00000000000000ff", 1), u"\\a\\.tq-00000000000000ff.1");
  EXPECT_EQ(places.PathFor(u"\\f", "00000000000000ff", 3), u"\\.tq-00000000000000ff.3");
  EXPECT_NE(NewStagingToken(), NewStagingToken());
  EXPECT_EQ(NewStagingToken().size(), 16u);
}
