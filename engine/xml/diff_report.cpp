// The XML diff report writer.
#include "engine/xml/diff_report.h"

#include "engine/base/number_text.h"
#include "engine/xml/xml_document.h"

namespace torquelin {

namespace {

const char16_t* StorageText(ContentKind kind) {
  switch (kind) {
    case ContentKind::Stored:
      return u"stored";
    case ContentKind::Compressed:
      return u"compressed";
    case ContentKind::Delta:
      return u"delta";
    case ContentKind::Copy:
      return u"copy";
  }
  return u"";
}

}  // namespace

void WriteDiffReport(CProgressSink& progress, const std::u16string& reportPath,
                     const ChangeSet& changes, const PathList& errorTexts,
                     const StoredContents* contents) {
  XmlDocument document;
  document.CreateNewWithProduct(u"roRaraVevodIzorov", u"1.0");

  progress.SetStatus(u"Creating an XML report");
  progress.SetRange(10);

  document.WriteNameValueList(u"PatchInfo", changes.Info, u"name", u"value", u"infoEntry");
  progress.Step();
  document.WriteList(u"newIgnoredItems", changes.ignoredNew, u"fNode", u"path")
      .SetAttribute(u"filter", changes.IgnoreFilter);
  progress.Step();
  document.WriteList(u"oldIgnoredItems", changes.ignoredOld, u"fNode", u"path")
      .SetAttribute(u"filter", changes.IgnoreFilter);
  progress.Step();
  const std::pair<const char16_t*, const PathList*> trees[] = {
      {u"UnlinkedFiles", &changes.UnlinkedFiles}, {u"UnlinkedDirs", &changes.UnlinkedDirectories},
      {u"NewFiles", &changes.NewFiles},           {u"NewDirs", &changes.NewDirs},
      {u"ModifyedFiles", &changes.ChangedFiles},
  };
  // How a compact patch stores each content, where it is known.
  const auto storage = [&](const std::u16string& path) {
    XmlDocument::NodeAttributes attributes;
    const auto found = contents->find(path);
    if (found == contents->end()) return attributes;
    const StoredContent& stored = found->second;
    attributes.emplace_back("storage", StorageText(stored.kind));
    attributes.emplace_back("storedSize", DecimalText(static_cast<int64_t>(stored.storedSize)));
    attributes.emplace_back("block", DecimalText(static_cast<int64_t>(stored.block)));
    if (!stored.reference.empty()) attributes.emplace_back("reference", stored.reference);
    return attributes;
  };
  for (const auto& [name, paths] : trees) {
    const bool carried = paths == &changes.NewFiles || paths == &changes.ChangedFiles;
    if (carried && contents != nullptr) {
      document.WritePathTree(name, *paths, storage);
    } else {
      document.WritePathTree(name, *paths);
    }
    progress.Step();
  }
  document.WriteAttributeTree(u"AttributeChanges", changes.AttributeChanges);
  progress.Step();
  document.WriteList(u"Errors", errorTexts, u"Error", u"msg");
  progress.Step();

  document.Save(reportPath);
  progress.Step();
  progress.SetStatus(u"XML Report Created. ");
  progress.SetDetail(reportPath);
}

}  // namespace torquelin
