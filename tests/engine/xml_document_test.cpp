// The XML document layer: saved form, value round trips, the decimal reader,
// path trees built from awkward names, failures and the safe save.
#include "engine/xml_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <type_traits>

#include "engine/errors.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

namespace {

static_assert(!std::is_base_of_v<CZRErr, XmlFailure>,
              "an XML failure that escapes must reach the runner as an unknown failure");

// A new document with an empty main element `m` ready for lists.
void StartDocument(XmlDocument& document) {
  document.CreateNew();
  document.mainElement = document.CreateElement(u"m");
  document.documentElement().AppendChild(document.mainElement);
}

size_t EntriesIn(const std::string& directory) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++n;
  return n;
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
  const std::u16string values[] = {
      u"",
      u"plain",
      u"\"quoted\" 'single' <tag> & amp; &amp;",
      u"Error type:0\nMessage: m\nError Code: 2\nLocation: .\\fileio line:7\n",
      u"cr\r\nlf\ttab  two blanks ",
      u"\u00e9\u4e2d\U0001F600",
      u"\\sub\\file.txt",
      u"]]> --> <!-- <?pi?>",
  };
  TempDir dir;
  {
    XmlDocument document;
    StartDocument(document);
    document.WriteList(u"L", PathList(std::begin(values), std::end(values)), u"i", u"v");
    document.Save(dir.wpath() + u"/v.xml");
  }
  XmlDocument reread;
  reread.Open(dir.wpath() + u"/v.xml");
  const PathList got =
      ReadList(reread.documentElement().FindChild(u"m").FindChild(u"L"), u"i", u"v");
  ASSERT_EQ(got.size(), std::size(values));
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], values[i]) << i;
}

TEST(XmlDocument, LoneSurrogateIsSavedAsReplacementCharacter) {
  TempDir dir;
  XmlDocument document;
  StartDocument(document);
  document.WriteList(u"L", {std::u16string(u"a") + char16_t(0xD800) + u"b"}, u"i", u"v");
  document.Save(dir.wpath() + u"/s.xml");
  XmlDocument reread;
  reread.Open(dir.wpath() + u"/s.xml");
  EXPECT_EQ(ReadList(reread.documentElement().FindChild(u"m").FindChild(u"L"), u"i", u"v"),
            PathList{u"a\uFFFDb"});
}

TEST(XmlDocument, ReadAttributeMapReadsDecimalAsWtoiWrappedTo32Bits) {
  struct Case {
    const char16_t* text;
    uint32_t word;
  } cases[] = {
      {u"abc", 0},
      {u"16", 16},
      {u"", 0},
      {u"  +7x", 7},
      {u"\t\n-1", 0xFFFFFFFF},
      {u"12 3", 12},
      {u"-2119958496", 0x81A40020},
      {u"2175008800", 0x81A40020},
      {u"4294967296", 0},
      {u"- 5", 0},
      {u"0x10", 0},
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

TEST(XmlDocument, ReadersKeepTheLastValueOfARepeatedKey) {
  XmlDocument document;
  StartDocument(document);
  XmlElement list = document.CreateElement(u"L");
  for (const char16_t* value : {u"1", u"2"}) {
    XmlElement item = document.CreateElement(u"fNode");
    item.SetAttribute(u"path", u"\\p");
    item.SetAttribute(u"attr", value);
    list.AppendChild(item);
  }
  EXPECT_EQ(ReadAttributeMap(list), (AttributeMap{{u"\\p", 2}}));
  EXPECT_EQ(ReadNameValueMap(list, u"fNode", u"path", u"attr"), (TextMap{{u"\\p", u"2"}}));
}

// Names are data: a quote or an XPath fragment in a component must neither
// break the lookup nor match another node.
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

TEST(XmlDocument, MissingElementsAndAttributesFailWithoutDescription) {
  XmlDocument document;
  StartDocument(document);
  XmlElement item = document.CreateElement(u"fNode");
  item.SetAttribute(u"path", u"\\p");
  document.mainElement.AppendChild(item);
  const XmlElement missing = document.mainElement.FindChild(u"Files");
  EXPECT_TRUE(missing.IsNull());

  auto expectFailure = [](auto call, const char* what) {
    try {
      call();
      ADD_FAILURE() << what << " did not fail";
    } catch (const XmlFailure& failure) {
      EXPECT_EQ(failure.description, u"") << what;
    }
  };
  expectFailure([&] { ReadList(missing, u"fNode", u"path"); }, "ReadList of a missing list");
  expectFailure([&] { ReadAttributeMap(document.mainElement); }, "fNode without attr");
  expectFailure([&] { ReadNameValueMap(document.mainElement, u"fNode", u"path", u"id"); },
                "item without value attribute");
  expectFailure([&] { item.GetAttribute(u"nope"); }, "GetAttribute");
  expectFailure([&] { missing.FindChild(u"x"); }, "FindChild on null");

  XmlDocument bare;
  bare.CreateNew();
  expectFailure([&] { bare.WriteList(u"L", {}, u"i", u"v"); }, "list without main element");
}

TEST(XmlDocument, OpenLeavesNoDocumentElementForFilesThatDoNotLoad) {
  TempDir dir;
  dir.WriteFile("broken.xml", "<xml><a></xml>");
  dir.WriteFile("empty.xml", "");
  dir.WriteFile("text.xml", "just text");
  dir.MakeDir("folder.xml");
  for (const char16_t* name :
       {u"/broken.xml", u"/empty.xml", u"/text.xml", u"/folder.xml", u"/missing.xml"}) {
    XmlDocument document;
    document.Open(dir.wpath() + name);
    EXPECT_TRUE(document.documentElement().IsNull()) << Narrow(name);
  }
}

TEST(XmlDocument, SaveReplacesAnExistingFileKeepingItsPermissions) {
  namespace fs = std::filesystem;
  TempDir dir;
  dir.WriteFile("out.xml", std::string(10000, 'x'));
  fs::permissions(dir.Native("out.xml"), fs::perms::owner_read | fs::perms::owner_write);
  XmlDocument document;
  document.CreateNew();
  document.Save(dir.wpath() + u"/out.xml");
  EXPECT_EQ(dir.ReadFile("out.xml"), "<?xml version=\"1.0\"?>\n<xml version=\"1.0\" />\n");
  EXPECT_EQ(fs::status(dir.Native("out.xml")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(XmlDocument, FailedSaveKeepsThePreviousFileAndLeavesNoTemporary) {
  TempDir dir;
  dir.WriteFile("out.xml", "previous");
  dir.MakeDir("dir.xml/inner");
  XmlDocument document;
  document.CreateNew();

  xml_testing::failSaveBeforeRename = true;
  EXPECT_THROW(document.Save(dir.wpath() + u"/out.xml"), XmlFailure);
  xml_testing::failSaveBeforeRename = false;
  // A directory in the way, and a directory that does not exist.
  EXPECT_THROW(document.Save(dir.wpath() + u"/dir.xml"), XmlFailure);
  EXPECT_THROW(document.Save(dir.wpath() + u"/none/out.xml"), XmlFailure);

  EXPECT_EQ(dir.ReadFile("out.xml"), "previous");
  EXPECT_TRUE(std::filesystem::is_directory(dir.Native("dir.xml/inner")));
  EXPECT_EQ(EntriesIn(dir.path()), 2u);
}
