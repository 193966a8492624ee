// The report Query Patch writes from a patch.
#include "engine/jobs/query_patch.h"

#include <gtest/gtest.h>

#include <regex>

#include "engine/io/file_system.h"
#include "engine/jobs/create_patch.h"
#include "tests/support/memory_contents.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

TEST(QueryPatch, ReportEqualsTheOneWrittenWithThePatch) {
  TempDir older, newer, out;
  older.WriteFile("gone/x.txt", "x");
  older.WriteFile("same.txt", "same");
  older.WriteFile("edit.txt", "v1");
  newer.WriteFile("same.txt", "same");
  newer.WriteFile("edit.txt", "v2");
  newer.WriteFile("fresh/y.txt", "y");
  RecordingSink sink;
  CreatePatchFromDirectories(sink, older.wpath(), newer.wpath(), out.wpath() + u"/p.dov",
                             out.wpath() + u"/made.xml", u"");
  // The report made with the patch renders the very change set stored in it,
  // so the queried one must match it byte for byte.
  RecordingSink query;
  QueryPatch(query, out.wpath() + u"/p.dov", out.wpath() + u"/queried.xml");
  EXPECT_EQ(query.statuses.back(), u"XML Report Created. ");
  const std::string queried = out.ReadFile("queried.xml");
  EXPECT_EQ(queried, out.ReadFile("made.xml"));
  EXPECT_NE(queried.find("<ModifyedFiles>\n      <fNode path=\"edit.txt\" />"), std::string::npos)
      << queried;

  // An unfinished patch is refused and no report is written.
  std::string bytes = ReadBytes(out.Native("p.dov"));
  bytes[30] = 0;  // the completion flag, after the tag at 29
  WriteBytes(out.Native("half.dov"), bytes);
  EXPECT_EQ(
      ErrorOf([&] { QueryPatch(query, out.wpath() + u"/half.dov", out.wpath() + u"/h.xml"); }),
      "This patch file has not been properly written.");
  EXPECT_FALSE(PathExists(out.wpath() + u"/h.xml"));
}

TEST(QueryPatch, ACompactPatchAlsoTellsHowEachContentIsStored) {
  TempDir older, newer, out;
  const std::string text = RandomBytes(5000, 1);
  older.WriteFile("edit.txt", text + "1");
  older.WriteFile("old/name.txt", "moved");
  newer.WriteFile("edit.txt", text + "2");
  newer.WriteFile("new/name.txt", "moved");
  newer.WriteFile("fresh.txt", "y");
  RecordingSink sink;
  CreatePatchFromDirectories(sink, older.wpath(), newer.wpath(), out.wpath() + u"/p.dov",
                             out.wpath() + u"/made.xml", u"", {true, 5});
  QueryPatch(sink, out.wpath() + u"/p.dov", out.wpath() + u"/queried.xml");
  const std::string queried = out.ReadFile("queried.xml");
  // Beside our own attributes, the report is the one made with the patch.
  const std::regex ours(R"( storage="[a-z]+" storedSize="[0-9]+" block="0"( reference="[^"]+")?)");
  EXPECT_EQ(std::regex_replace(queried, ours, ""), out.ReadFile("made.xml"));
  for (const char* node :
       {R"(<fNode path="edit.txt" storage="delta" storedSize=)",
        R"(<fNode path="fresh.txt" storage="compressed" storedSize="0" block="0" />)",
        R"(<fNode path="name.txt" storage="copy" storedSize=)",
        R"(block="0" reference="\old\name.txt" />)"}) {
    EXPECT_NE(queried.find(node), std::string::npos) << node << "\n" << queried;
  }
}
