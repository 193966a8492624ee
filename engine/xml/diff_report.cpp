// The XML diff report writer.
#include "engine/xml/diff_report.h"

#include "engine/xml/xml_document.h"

void WriteDiffReport(CProgressSink& progress, const std::u16string& reportPath,
                     const ChangeSet& changes, const PathList& errorTexts) {
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
  for (const auto& [name, paths] : trees) {
    document.WritePathTree(name, *paths);
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
