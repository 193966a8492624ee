// The vault file: its saved form, a full round trip, and the exact errors of
// the reader for files it must refuse.
#include "engine/xml/vault_file.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/base/errors.h"
#include "engine/jobs/job_runner.h"
#include "engine/patch/patch_reader.h"
#include "platform/encoding.h"
#include "tests/support/run_job.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace {

bool SameSnapshot(const CDirSnapshot& a, const CDirSnapshot& b) {
  return a.root == b.root && a.filter == b.filter && a.ignored == b.ignored && a.info == b.info &&
         a.directories == b.directories && a.files == b.files && a.attributes == b.attributes &&
         a.fileIds == b.fileIds;
}

const char kSmallVault[] =
    "<?xml version=\"1.0\"?>\n"
    "<xml version=\"1.0\">\n"
    "  <riDerev Version=\"1.1\">\n"
    "    <ignoredItems filter=\"*.o; tmp\">\n"
    "      <fNode path=\"\\x.o\" />\n"
    "    </ignoredItems>\n"
    "    <Files>\n"
    "      <fNode path=\"\\d\\f.txt\" />\n"
    "    </Files>\n"
    "    <Directories>\n"
    "      <fNode path=\"\\d\" />\n"
    "    </Directories>\n"
    "    <FSAttributes>\n"
    "      <fNode path=\"\\d\" attr=\"1106051088\" />\n"
    "      <fNode path=\"\\d\\f.txt\" attr=\"-2119958496\" />\n"
    "    </FSAttributes>\n"
    "    <FileIDs>\n"
    "      <idNode path=\"\\d\\f.txt\" id=\"da39a3ee5e6b4b0d3255bfef95601890afd80709\" />\n"
    "    </FileIDs>\n"
    "    <VaultInfo>\n"
    "      <infoEntry name=\"zrEngineVersion\" value=\"1.2\" />\n"
    "    </VaultInfo>\n"
    "  </riDerev>\n"
    "</xml>\n";

CDirSnapshot SmallSnapshot() {
  CDirSnapshot s;
  s.filter = u"*.o; tmp";
  s.ignored = {u"\\x.o"};
  s.files = {u"\\d\\f.txt"};
  s.directories = {u"\\d"};
  s.attributes = {{u"\\d", 0x41ED0010}, {u"\\d\\f.txt", 0x81A40020}};
  s.fileIds = {{u"\\d\\f.txt", u"da39a3ee5e6b4b0d3255bfef95601890afd80709"}};
  s.info = {{u"zrEngineVersion", u"1.2"}};
  return s;
}

}  // namespace

TEST(Vault, WritesTheFixedFormAndReportsProgress) {
  TempDir dir;
  RecordingSink sink;
  const std::u16string path = dir.wpath() + u"/v.zov";
  WriteVault(sink, path, SmallSnapshot());
  EXPECT_EQ(dir.ReadFile("v.zov"), kSmallVault);
  EXPECT_EQ(sink.calls,
            (std::vector<std::u16string>{u"status:Creating vault file.",
                                         u"status:riDerev file Created. ", u"detail:" + path}));
}

TEST(Vault, ReadReturnsTheSnapshotThatWasWritten) {
  CDirSnapshot snapshot;
  snapshot.root = u"/ignored/on/write";
  snapshot.filter = u" *.tmp ;; Thumbs.db ; ";
  snapshot.ignored = {u"\\b.tmp", u"\\a.tmp", u"\\sub\\Thumbs.db"};
  // Walk order, not sorted: the lists must come back in this order.
  snapshot.directories = {u"\\z", u"\\a \"quoted\"", u"\\\u4e2d\u6587", u"\\z\\it's"};
  snapshot.files = {u"\\z\\2.txt", u"\\z\\1.txt", u"\\a \"quoted\"\\<&>.txt",
                    u"\\\u4e2d\u6587\\\U0001F600.txt"};
  for (const auto& path : snapshot.directories) snapshot.attributes[path] = 0x41ED0010;
  uint32_t word = 0x80000000;
  for (const auto& path : snapshot.files) {
    snapshot.attributes[path] = word++;
    snapshot.fileIds[path] =
        u"0123456789abcdef0123456789abcdef0123456" + std::u16string(1, u'0' + word % 10);
  }
  snapshot.attributes[u"\\z\\it's"] = 0xFFFFFFFF;
  snapshot.info = {{u"ComputerName", u"host"},
                   {u"DateCreated", u"Mon Dec 07 06:40:00 2026\n"},
                   {u"UserName", u"o'neil \"x\""},
                   {u"zrEngineVersion", u"1.2"}};

  TempDir dir;
  RecordingSink sink;
  const std::u16string path = dir.wpath() + u"/v.zov";
  WriteVault(sink, path, snapshot);
  RecordingSink reader;
  const CDirSnapshot back = ReadVault(reader, path);
  snapshot.root = path;
  EXPECT_TRUE(SameSnapshot(back, snapshot));
  EXPECT_EQ(back.files, snapshot.files);
  EXPECT_EQ(back.attributes, snapshot.attributes);
  EXPECT_TRUE(reader.calls.empty());
}

TEST(Vault, EmptySnapshotReadsBackEmpty) {
  TempDir dir;
  RecordingSink sink;
  const std::u16string path = dir.wpath() + u"/e.zov";
  WriteVault(sink, path, CDirSnapshot{});
  CDirSnapshot expected;
  expected.root = path;
  EXPECT_TRUE(SameSnapshot(ReadVault(sink, path), expected));
}

TEST(Vault, RefusedFilesGiveTheirExactErrors) {
  const std::string good = kSmallVault;
  auto without = [&](const std::string& piece) {
    std::string text = good;
    text.erase(text.find(piece), piece.size());
    return text;
  };
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::u16string kNotXml = u"Unable to make an XML object ";
  const std::u16string kNotVault = u"Unable to read vault file:";
  struct Case {
    const char* what;
    std::string content;   // empty: no file at all
    bool notXml;           // line 267 (else 273 with the path)
    const char* why = "";  // after the line-267 text: the path, ": " and this
  } cases[] = {
      {"Version 1.0", replaced("Version=\"1.1\"", "Version=\"1.0\""), false},
      {"no Version", replaced(" Version=\"1.1\"", ""), false},
      {"no riDerev", "<xml version=\"1.0\"><other /></xml>", false},
      {"not XML", "this is not XML <<<", true, "Could not determine tag type at offset 17"},
      {"truncated", good.substr(0, good.size() / 2), true,
       "Error parsing element attribute at offset 310"},
      {"missing file", "", true, "No such file or directory"},
      {"no FSAttributes",
       without("    <FSAttributes>\n"
               "      <fNode path=\"\\d\" attr=\"1106051088\" />\n"
               "      <fNode path=\"\\d\\f.txt\" attr=\"-2119958496\" />\n"
               "    </FSAttributes>\n"),
       true},
      {"no filter", replaced(" filter=\"*.o; tmp\"", ""), true},
      {"item without attr", replaced(" attr=\"1106051088\"", ""), true},
      {"item without id", replaced(" id=\"da39a3ee5e6b4b0d3255bfef95601890afd80709\"", ""), true},
  };
  for (const Case& c : cases) {
    TempDir dir;
    if (!c.content.empty()) dir.WriteFile("v.zov", c.content);
    const std::u16string path = dir.wpath() + u"/v.zov";
    RecordingSink sink;
    try {
      ReadVault(sink, path);
      ADD_FAILURE() << c.what << ": read without error";
    } catch (const CZRErr& e) {
      EXPECT_EQ(e.type, 0) << c.what;
      EXPECT_STREQ(e.file, ".\\xmlrep") << c.what;
      const std::u16string why = *c.why ? path + u": " + platform::FromUtf8(c.why) : u"";
      EXPECT_EQ(Narrow(e.message), Narrow(c.notXml ? kNotXml + why : kNotVault + path)) << c.what;
      EXPECT_EQ(e.line, c.notXml ? 267 : 273) << c.what;
    }
  }
}

// Names XML 1.0 cannot carry as they are: every file written still parses
// with another parser, and the vault gives back exactly the tree it recorded,
// so a patch from it against the same tree changes nothing.
TEST(Vault, AnyNameRoundTripsInWellFormedXml) {
  TempDir tree, out;
  const std::string names[] = {
      "ctl\x01\x1F",
      "tab\tlf\ncr\r",
      "nonchars\xEF\xBF\xBE\xEF\xBF\xBF",
      "esc\xE2\x90\x9B"
      "0001",
      "raw\xFF\xFE",
      "back\\slash",
      "<&\"'>",
  };
  for (const std::string& name : names) tree.WriteFile("d\x02/" + name, name);
  RecordingSink sink;
  const std::u16string vault = out.wpath() + u"/v.zov";
  ASSERT_EQ(RunJobForTest(sink, JobKind::CreateVault, CreateVaultParams{tree.wpath(), u"", vault})
                .outcome,
            JobOutcome::Succeeded);
  const std::u16string patch = out.wpath() + u"/p.dov";
  ASSERT_EQ(RunJobForTest(sink, JobKind::CreateVaultPatch,
                          CreateVaultPatchParams{
                              tree.wpath(), patch, vault, out.wpath() + u"/r.xml", false, {}})
                .outcome,
            JobOutcome::Succeeded)
      << Narrow(sink.messages.empty() ? u"" : sink.messages[0]);
  const ChangeSet changes = LoadPatchInfo(sink, patch);
  EXPECT_EQ(changes.OlderTreeID, changes.NewerTreeID);
  EXPECT_TRUE(changes.NewFiles.empty() && changes.ChangedFiles.empty() &&
              changes.UnlinkedFiles.empty() && changes.AttributeChanges.empty());

  const std::string parse =
      "python3 -c 'import sys, xml.etree.ElementTree as E\nfor p in sys.argv[1:]: E.parse(p)' " +
      out.Native("v.zov") + " " + out.Native("r.xml");
  EXPECT_EQ(std::system(parse.c_str()), 0) << out.ReadFile("v.zov");
}
