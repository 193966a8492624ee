// The XML diff report: its exact saved form, the progress it reports, and
// what a failing or cancelled write leaves behind.
#include "engine/xml/diff_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "engine/base/errors.h"
#include "engine/xml/xml_document.h"
#include "platform/fault_injection.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace {

std::vector<std::u16string> ExpectedCalls(const std::u16string& path) {
  std::vector<std::u16string> calls = {u"status:Creating an XML report", u"range:10"};
  calls.insert(calls.end(), 11, u"step");
  calls.push_back(u"status:XML Report Created. ");
  calls.push_back(u"detail:" + path);
  return calls;
}

}  // namespace

TEST(DiffReport, EmptyChangeSetHasAllTenSectionsAndBothFilters) {
  TempDir dir;
  RecordingSink sink;
  const std::u16string path = dir.wpath() + u"/report.xml";
  WriteDiffReport(sink, path, ChangeSet{}, {});
  EXPECT_EQ(dir.ReadFile("report.xml"),
            "<?xml version=\"1.0\"?>\n"
            "<xml version=\"1.0\">\n"
            "  <roRaraVevodIzorov Version=\"1.0\">\n"
            "    <PatchInfo />\n"
            "    <newIgnoredItems filter=\"\" />\n"
            "    <oldIgnoredItems filter=\"\" />\n"
            "    <UnlinkedFiles />\n"
            "    <UnlinkedDirs />\n"
            "    <NewFiles />\n"
            "    <NewDirs />\n"
            "    <ModifyedFiles />\n"
            "    <AttributeChanges />\n"
            "    <Errors />\n"
            "  </roRaraVevodIzorov>\n"
            "</xml>\n");
  EXPECT_EQ(sink.calls, ExpectedCalls(path));
}

TEST(DiffReport, FilledChangeSetIsWrittenElementByElement) {
  ChangeSet changes;
  changes.Info = {{u"OlderDirectory", u"/srv/old"},
                  {u"DateCreated", u"Mon Dec 07 06:40:00 2026\n"}};
  changes.IgnoreFilter = u"*.tmp; *.bak ;";
  changes.ignoredNew = {u"\\x.tmp"};
  changes.ignoredOld = {u"\\y.bak", u"\\s\\z.tmp"};
  changes.UnlinkedFiles = {u"\\old.txt"};
  changes.UnlinkedDirectories = {u"\\gone", u"\\gone\\deeper"};
  changes.NewFiles = {u"\\a\\b.txt", u"\\a\\c.txt", u"\\a\\b.txt", u"\\say \"hi\" & <go>.txt"};
  changes.NewDirs = {u"\\a"};
  changes.ChangedFiles = {u"\\d\\e\\f.txt"};
  changes.AttributeChanges = {
      {u"\\a", 0x10}, {u"\\a\\b.txt", 0x21}, {u"\\z.txt", 0x80}, {u"\\w.txt", 0x81A40020}};
  const auto errorText = [](const std::u16string& path) {
    CZRErr error(0, u"Unable to open file:" + path, location::kFileio, 12);
    error.lastError = 2;
    return error.GetText();
  };
  const PathList errors = {errorText(u"/t/a"), errorText(u"/t/b")};
  ASSERT_EQ(std::count(errors[0].begin(), errors[0].end(), u'\n'), 4);

  TempDir dir;
  RecordingSink sink;
  WriteDiffReport(sink, dir.wpath() + u"/r.xml", changes, errors);
  EXPECT_EQ(dir.ReadFile("r.xml"),
            "<?xml version=\"1.0\"?>\n"
            "<xml version=\"1.0\">\n"
            "  <roRaraVevodIzorov Version=\"1.0\">\n"
            "    <PatchInfo>\n"
            "      <infoEntry name=\"DateCreated\" value=\"Mon Dec 07 06:40:00 2026&#10;\" />\n"
            "      <infoEntry name=\"OlderDirectory\" value=\"/srv/old\" />\n"
            "    </PatchInfo>\n"
            "    <newIgnoredItems filter=\"*.tmp; *.bak ;\">\n"
            "      <fNode path=\"\\x.tmp\" />\n"
            "    </newIgnoredItems>\n"
            "    <oldIgnoredItems filter=\"*.tmp; *.bak ;\">\n"
            "      <fNode path=\"\\y.bak\" />\n"
            "      <fNode path=\"\\s\\z.tmp\" />\n"
            "    </oldIgnoredItems>\n"
            "    <UnlinkedFiles>\n"
            "      <fNode path=\"old.txt\" />\n"
            "    </UnlinkedFiles>\n"
            "    <UnlinkedDirs>\n"
            "      <fNode path=\"gone\">\n"
            "        <fNode path=\"deeper\" />\n"
            "      </fNode>\n"
            "    </UnlinkedDirs>\n"
            "    <NewFiles>\n"
            "      <fNode path=\"a\">\n"
            "        <fNode path=\"b.txt\" />\n"
            "        <fNode path=\"c.txt\" />\n"
            "      </fNode>\n"
            "      <fNode path=\"say &quot;hi&quot; &amp; &lt;go>.txt\" />\n"
            "    </NewFiles>\n"
            "    <NewDirs>\n"
            "      <fNode path=\"a\" />\n"
            "    </NewDirs>\n"
            "    <ModifyedFiles>\n"
            "      <fNode path=\"d\">\n"
            "        <fNode path=\"e\">\n"
            "          <fNode path=\"f.txt\" />\n"
            "        </fNode>\n"
            "      </fNode>\n"
            "    </ModifyedFiles>\n"
            "    <AttributeChanges>\n"
            "      <fNode path=\"a\" attr=\"10\">\n"
            "        <fNode path=\"b.txt\" attr=\"21\" />\n"
            "      </fNode>\n"
            "      <fNode path=\"w.txt\" attr=\"81a40020\" />\n"
            "      <fNode path=\"z.txt\" attr=\"80\" />\n"
            "    </AttributeChanges>\n"
            "    <Errors>\n"
            "      <Error msg=\"Error type:0&#10;Message: Unable to open file:/t/a&#10;"
            "Error Code: 2&#10;Location: .\\fileio line:12&#10;\" />\n"
            "      <Error msg=\"Error type:0&#10;Message: Unable to open file:/t/b&#10;"
            "Error Code: 2&#10;Location: .\\fileio line:12&#10;\" />\n"
            "    </Errors>\n"
            "  </roRaraVevodIzorov>\n"
            "</xml>\n");
}

TEST(DiffReport, FailedSaveNamesTheReasonAndKeepsTheOldReport) {
  TempDir dir;
  dir.WriteFile("r.xml", "old report");
  RecordingSink sink;
  platform::fault_injection::Arm(platform::fault_injection::FaultPoint::Rename, 1, EIO);
  try {
    WriteDiffReport(sink, dir.wpath() + u"/r.xml", ChangeSet{}, {});
    ADD_FAILURE() << "saved";
  } catch (const CZRErr& e) {
    EXPECT_EQ(Narrow(e.GetText()),
              "Error type:0\nMessage: Unable to save an XML file:" + dir.Native("r.xml") +
                  ": Input/output error\nError Code: 5\nLocation: "
                  ".\\xmlrep line:95\n");
  }
  platform::fault_injection::DisarmAll();
  EXPECT_EQ(sink.steps, 10u);
  EXPECT_EQ(sink.statuses, std::vector<std::u16string>{u"Creating an XML report"});
  EXPECT_EQ(dir.ReadFile("r.xml"), "old report");
}

TEST(DiffReport, CancelledReportWritesNoFile) {
  TempDir dir;
  RecordingSink sink;
  sink.cancelAfterCalls = 5;
  EXPECT_THROW(WriteDiffReport(sink, dir.wpath() + u"/r.xml", ChangeSet{}, {}), COPCancel);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}
