// The ignore filter: parsing, the single-pass matcher and its quirks, which
// users' filters depend on and which must therefore stay as they are.
#include "engine/tree/ignore_filter.h"

#include <gtest/gtest.h>

#include "tests/support/test_sink.h"

using namespace torquelin;

TEST(CIgnoreFilter, ParsesPatternsWithoutTrimming) {
  struct Case {
    const char16_t* text;
    std::vector<std::u16string> patterns;
  } cases[] = {
      {u"", {}},
      {u";", {u""}},
      {u"a", {u"a"}},
      {u"a;", {u"a"}},
      {u"a;;b", {u"a", u"", u"b"}},
      {u"*.obj; *.tmp", {u"*.obj", u" *.tmp"}},
      {u";a", {u"", u"a"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CIgnoreFilter(c.text).Patterns(), c.patterns) << Narrow(c.text);
  }
}

TEST(CIgnoreFilter, MatchesLikeTheSinglePassMatcher) {
  struct Case {
    const char16_t* filter;
    const char16_t* path;
    bool ignored;
    const char16_t* pattern;  // the pattern reported on a match
  } cases[] = {
      {u"", u"\\a.txt", false, u""},
      {u";", u"\\a.txt", false, u""},
      {u";;", u"\\a", false, u""},
      // Whole-name, case-insensitive for A-Z, at any depth.
      {u"debug", u"\\debug", true, u"debug"},
      {u"debug", u"\\x\\Debug", true, u"debug"},
      {u"debug", u"\\a\\b\\DEBUG", true, u"debug"},
      {u"Debug", u"\\debug", true, u"Debug"},
      {u"debug", u"\\mydebug", false, u""},
      {u"debug", u"\\debug2", false, u""},
      {u"*.obj", u"\\a.obj", true, u"*.obj"},
      {u"*.obj", u"\\A.OBJ", true, u"*.obj"},
      // The '*' stops at the first ".obj"; the rest does not reach the end.
      {u"*.obj", u"\\x.obj.obj", false, u""},
      {u"*.obj", u"\\.obj", true, u"*.obj"},
      {u"*.obj", u"\\a.objx", false, u""},
      // The blank after ';' belongs to the second pattern.
      {u"*.obj; *.tmp", u"\\b.tmp", false, u""},
      {u"*.obj; *.tmp", u"\\ b.tmp", true, u" *.tmp"},
      {u"*.obj;*.tmp", u"\\b.tmp", true, u"*.tmp"},
      // First matching pattern wins.
      {u"a*;*", u"\\abc", true, u"a*"},
      {u"x*;*", u"\\abc", true, u"*"},
      // '?' before a literal takes one or more characters, else exactly one.
      {u"?.txt", u"\\a.txt", true, u"?.txt"},
      {u"?.txt", u"\\ab.txt", true, u"?.txt"},
      {u"?.txt", u"\\.txt", false, u""},
      {u"a?", u"\\ab", true, u"a?"},
      {u"a?", u"\\abc", false, u""},
      {u"a?", u"\\a", false, u""},
      {u"??", u"\\ab", true, u"??"},
      {u"??", u"\\abc", false, u""},
      // '*' followed by '?' or '*' takes nothing; a final '*' takes the rest.
      {u"*?", u"\\ab", false, u""},
      {u"*?", u"\\a", true, u"*?"},
      {u"**", u"\\anything", true, u"**"},
      {u"a*", u"\\abc", true, u"a*"},
      {u"*", u"\\abc", true, u"*"},
      {u"*", u"\\x\\", true, u"*"},
      // No backtracking: a backtracking matcher would accept these.
      {u"*a*b", u"\\xaxb", true, u"*a*b"},
      {u"*ab", u"\\abab", false, u""},
      {u"*.c*.h", u"\\x.cpp.c.h", true, u"*.c*.h"},
      {u"*a", u"\\aba", false, u""},
      {u"a*a", u"\\abab", false, u""},
      {u"a*a", u"\\aa", true, u"a*a"},
      {u"a*a", u"\\aba", true, u"a*a"},
      {u"*b*", u"\\abcb", true, u"*b*"},
      // Letters outside A-Z are compared exactly.
      {u"\u00C9t\u00E9", u"\\\u00E9t\u00E9", false, u""},
      {u"\u00C9t\u00E9", u"\\\u00C9T\u00E9", true, u"\u00C9t\u00E9"},
      // Any '\' in any pattern: every pattern sees the whole path below the root.
      {u"sub\\*.txt", u"\\sub\\a.txt", true, u"sub\\*.txt"},
      {u"sub\\*.txt", u"\\a.txt", false, u""},
      {u"sub\\*.txt", u"\\x\\sub\\a.txt", false, u""},
      {u"sub\\*.txt", u"\\sub", false, u""},
      {u"sub\\*.txt;debug", u"\\x\\debug", false, u""},
      {u"sub\\*.txt;debug", u"\\debug", true, u"debug"},
  };
  for (const Case& c : cases) {
    const CIgnoreFilter filter(c.filter);
    std::u16string matched = u"stale";
    EXPECT_EQ(filter.Match(c.path, matched), c.ignored)
        << Narrow(c.filter) << " on " << Narrow(c.path);
    EXPECT_EQ(matched, c.pattern) << Narrow(c.filter) << " on " << Narrow(c.path);
  }
}

TEST(MatchStep, ConsumesTheFrontOfTheNameOrEmptiesIt) {
  const PatternElement run{PatternElement::AnyRun, u""};
  const PatternElement one{PatternElement::AnyChar, u""};
  const PatternElement end{PatternElement::End, u""};
  const PatternElement lit{PatternElement::Literal, u".o"};
  struct Case {
    const char16_t* name;
    PatternElement cur, next;
    bool ok;
    const char16_t* rest;
  } cases[] = {
      {u"ab.o.o", run, lit, true, u".o.o"}, {u".o.o", lit, end, false, u""},
      {u".o", lit, end, true, u""},         {u"abc", run, one, true, u"abc"},
      {u"abc", run, run, true, u"abc"},     {u"abc", run, end, true, u""},
      {u"abc", one, end, false, u""},       {u"a", one, end, true, u""},
      {u"", one, end, false, u""},          {u"x.o", one, lit, true, u".o"},
      {u".o", one, lit, false, u""},
  };
  for (const Case& c : cases) {
    std::u16string name = c.name;
    EXPECT_EQ(MatchStep(name, c.cur, c.next), c.ok) << Narrow(c.name);
    EXPECT_EQ(name, c.rest) << Narrow(c.name);
  }
}

// Split in one pass and compiled once: half a million separators are only
// empty patterns, and a match still reports the pattern as written.
TEST(CIgnoreFilter, AHugeFilterSplitsOnceAndReportsThePatternAsWritten) {
  std::u16string text(500000, u';');
  text += u"*.TMP;x";
  const CIgnoreFilter filter(text);
  EXPECT_EQ(filter.Patterns().size(), 500002u);
  std::u16string matched;
  EXPECT_TRUE(filter.Match(u"\\dir\\a.tmp", matched));
  EXPECT_EQ(matched, u"*.TMP");
  EXPECT_FALSE(filter.Match(u"\\dir\\a.txt", matched));
  EXPECT_EQ(matched, u"");
}

// The path and every directory above it, asked in one call, give what Match
// gives when asked about each in turn, shortest first: for every path of up
// to seven units over a small alphabet, under filters that take each turn
// of the matcher (literals at either end, '?', runs, patterns that span
// directories).
TEST(CIgnoreFilter, SelfOrAncestorAgreesWithMatchOnEachDirectory) {
  const char16_t* filters[] = {
      u"a",        u"*",        u"?",     u"a*",    u"*a",     u"*a*",     u"a?",     u"?a",
      u"*?",       u"?*",       u"a*b",   u"*.b",   u"A.*",    u"**",      u"a\\b",   u"a\\*",
      u"*\\b",     u"?\\?",     u"a\\?*", u"*\\*",  u"a*\\*b", u"b;a\\b",  u"\\a",    u"a\\b\\",
      u"*b*;a\\*", u"?.;*\\.a", u"*\\",   u"x;;*.", u"*a\\?",  u"a\\*\\b", u".*\\b?",
  };
  const char16_t alphabet[] = {u'a', u'B', u'.', u'\\'};
  std::vector<std::u16string> paths = {u"\\"};
  for (size_t from = 0; from < paths.size(); ++from) {
    if (paths[from].size() == 7) continue;
    for (const char16_t c : alphabet) paths.push_back(paths[from] + c);
  }
  for (const char16_t* text : filters) {
    const CIgnoreFilter filter(text);
    for (const std::u16string& path : paths) {
      std::u16string expected;
      bool ignored = false;
      for (size_t end = path.find(u'\\', 1); !ignored; end = path.find(u'\\', end + 1)) {
        ignored = filter.Match(path.substr(0, end), expected);
        if (end == std::u16string::npos) break;
      }
      std::u16string matched = u"stale";
      ASSERT_EQ(filter.MatchSelfOrAncestor(path, matched), ignored)
          << Narrow(text) << " on " << Narrow(path);
      ASSERT_EQ(matched, expected) << Narrow(text) << " on " << Narrow(path);
    }
  }
}
