// The XML document layer: saved form, value round trips, the decimal reader,
// path trees built from awkward names, failures and the safe save.
#include "engine/xml/xml_document.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <type_traits>

#include "engine/base/errors.h"
#include "platform/fault_injection.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace {

static_assert(!std::is_base_of_v<CZRErr, XmlFailure>,
              "an XML failure that escapes must reach the runner as an unknown failure");

// A new document with an empty main element `m` ready for lists.
void StartDocument(XmlDocument& document) {
  document.CreateNew();
  document.mainElement = document.CreateElement(u"m");
  document.documentElement().AppendChild(document.mainElement);
}

}  // namespace

TEST(XmlDocument, NewDocumentSavedEmptyIsTheBareXmlElement) {
  TempDir dir;
  XmlDocument document;
  document.CreateNew();
  document.Save(dir.wpath() + u"/new.xml");
  EXPECT_EQ(dir.ReadFile("new.xml"), "<?xml version=\"1.0\"?>\n<xml version=\"1.0\" />\n");
}

TEST(XmlDocument, ValuesSurviveSaveAndOpen) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"", u""},
      {u"\"quoted\" 'single' <tag> & amp; &amp; ]]> --> <?pi?>", {}},
      {u"Error type:0\nMessage: m\nError Code: 2\nLocation: .\\fileio line:7\n", {}},
      {u"cr\r\nlf\ttab  two blanks ", {}},
      {u"\u00e9\u4e2d\U0001F600\\sub\\file.txt", {}},
      // What XML 1.0 cannot hold travels escaped and comes back as it was.
      {std::u16string(u"a") + char16_t(0xD800) + u"b" + char16_t(0xD800) + char16_t(0xDC00), {}},
      {std::u16string(u"nul\0\x01\x1F\x7F", 7) + u"\uFFFE\uFFFF", {}},
      {u"\u241B\u241B0001\u241B0041\u241B", {}},
      // Only what the writer escapes is undone.
      {u"\u241B0041\u241Bzz", {}},
  };
  PathList written;
  for (const auto& [value, read] : cases) written.push_back(value);
  TempDir dir;
  {
    XmlDocument document;
    StartDocument(document);
    document.WriteList(u"L", written, u"i", u"v");
    document.Save(dir.wpath() + u"/v.xml");
  }
  XmlDocument reread;
  reread.Open(dir.wpath() + u"/v.xml");
  const PathList got =
      ReadList(reread.documentElement().FindChild(u"m").FindChild(u"L"), u"i", u"v");
  ASSERT_EQ(got.size(), std::size(cases));
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i], cases[i].second.empty() ? cases[i].first : cases[i].second) << i;
  }
  const std::string saved = dir.ReadFile("v.xml");
  EXPECT_NE(saved.find("a\xE2\x90\x9B"
                       "d800b\xF0\x90\x80\x80"),
            std::string::npos)
      << "a lone high surrogate is escaped, a pair is not";
}

TEST(XmlDocument, ReadAttributeMapReadsDecimalAsWtoiSaturating) {
  struct Case {
    const char16_t* text;
    uint32_t word;
  } cases[] = {
      // clang-format off
      {u"abc", 0}, {u"16", 16}, {u"  +7x", 7}, {u"\t\n-1", 0xFFFFFFFF},
      {u"-2119958496", 0x81A40020}, {u"2147483647", 0x7FFFFFFF}, {u"2175008800", 0x7FFFFFFF},
      {u"4294967296", 0x7FFFFFFF}, {u"-2147483648", 0x80000000}, {u"-99999999999", 0x80000000},
      {u"- 5", 0}, {u"0x10", 0}, {u"", 0},
      // clang-format on
  };
  XmlDocument document;
  StartDocument(document);
  XmlElement list = document.CreateElement(u"FSAttributes");
  document.mainElement.AppendChild(list);
  for (size_t i = 0; i < std::size(cases); ++i) {
    XmlElement item = document.CreateElement(u"fNode");
    item.SetAttribute(u"path", u"\\" + std::u16string(1, char16_t(u'a' + i)));
    item.SetAttribute(u"attr", cases[i].text);
    list.AppendChild(item);
  }
  const AttributeMap words = ReadAttributeMap(list);
  ASSERT_EQ(words.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(words.at(u"\\" + std::u16string(1, char16_t(u'a' + i))), cases[i].word)
        << Narrow(cases[i].text);
  }
}

TEST(XmlDocument, PathTreeTreatsComponentsAsData) {
  const PathList paths = {
      u"\\a\\b.txt",   u"\\a\\c.txt", u"\\a\\b.txt",
      u"\\q\"\\x",     u"\\q\"\\y",   u"\\it's\\\"] | //*[@path=\"",
      u"\\\\a\\\\d\\", u"\\sub\\a",
  };
  TempDir dir;
  XmlDocument document;
  StartDocument(document);
  document.WritePathTree(u"T", paths);
  document.Save(dir.wpath() + u"/t.xml");
  EXPECT_EQ(dir.ReadFile("t.xml"),
            "<?xml version=\"1.0\"?>\n"
            "<xml version=\"1.0\">\n"
            "  <m>\n"
            "    <T>\n"
            "      <fNode path=\"a\">\n"
            "        <fNode path=\"b.txt\" />\n"
            "        <fNode path=\"c.txt\" />\n"
            "        <fNode path=\"d\" />\n"
            "      </fNode>\n"
            "      <fNode path=\"q&quot;\">\n"
            "        <fNode path=\"x\" />\n"
            "        <fNode path=\"y\" />\n"
            "      </fNode>\n"
            "      <fNode path=\"it's\">\n"
            "        <fNode path=\"&quot;] | //*[@path=&quot;\" />\n"
            "      </fNode>\n"
            "      <fNode path=\"sub\">\n"
            "        <fNode path=\"a\" />\n"
            "      </fNode>\n"
            "    </T>\n"
            "  </m>\n"
            "</xml>\n");
}

TEST(XmlDocument, SaveReplacesAtomicallyAndKeepsPermissions) {
  namespace fs = std::filesystem;
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write;
  TempDir dir;
  dir.WriteFile("out.xml", "previous");
  fs::permissions(dir.Native("out.xml"), mode);
  dir.MakeDir("dir.xml/inner");
  XmlDocument document;
  document.CreateNew();

  const auto failure = [&](const std::u16string& name) {
    try {
      document.Save(dir.wpath() + name);
    } catch (const CZRErr& e) {
      return Narrow(e.message);
    }
    return std::string("saved");
  };
  platform::fault_injection::Arm(platform::fault_injection::FaultPoint::Rename, 1, EIO);
  EXPECT_EQ(failure(u"/out.xml"),
            "Unable to save an XML file:" + dir.Native("out.xml") + ": Input/output error");
  platform::fault_injection::DisarmAll();
  // A directory in the way, and a directory that does not exist.
  EXPECT_EQ(failure(u"/dir.xml"),
            "Refusing to replace what is not a regular file: " + dir.Native("dir.xml"));
  EXPECT_EQ(failure(u"/none/out.xml"), "Unable to save an XML file:" + dir.Native("none/out.xml") +
                                           ": No such file or directory");
  EXPECT_EQ(dir.ReadFile("out.xml"), "previous");
  EXPECT_TRUE(fs::is_directory(dir.Native("dir.xml/inner")));

  document.Save(dir.wpath() + u"/out.xml");
  EXPECT_EQ(dir.ReadFile("out.xml"), "<?xml version=\"1.0\"?>\n<xml version=\"1.0\" />\n");
  EXPECT_EQ(fs::status(dir.Native("out.xml")).permissions(), mode);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}
