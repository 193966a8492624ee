// The vault file writer and reader.
#include "engine/xml/vault_file.h"

#include "engine/base/error_sites.h"
#include "engine/xml/xml_document.h"

namespace torquelin {

namespace {

// A vault this program does not know how to read (no riDerev, another Version).
struct NotAVault {};

}  // namespace

void WriteVault(CProgressSink& progress, const std::u16string& vaultPath,
                const CDirSnapshot& snapshot) {
  XmlDocument document;
  document.CreateNewWithProduct(u"riDerev", u"1.1");

  progress.SetStatus(u"Creating vault file.");
  document.WriteList(u"ignoredItems", snapshot.ignored, u"fNode", u"path")
      .SetAttribute(u"filter", snapshot.filter);
  document.WriteList(u"Files", snapshot.files, u"fNode", u"path");
  document.WriteList(u"Directories", snapshot.directories, u"fNode", u"path");
  document.WriteAttributeList(u"FSAttributes", snapshot.attributes);
  document.WriteNameValueList(u"FileIDs", snapshot.fileIds, u"path", u"id", u"idNode");
  document.WriteNameValueList(u"VaultInfo", snapshot.info, u"name", u"value", u"infoEntry");

  document.Save(vaultPath);
  progress.SetStatus(u"riDerev file Created. ");
  progress.SetDetail(vaultPath);
}

CDirSnapshot ReadVault(CProgressSink&, const std::u16string& vaultPath) {
  try {
    XmlDocument document;
    document.Open(vaultPath);
    if (document.documentElement().IsNull()) {
      throw XmlFailure(document.LoadFailure(), document.LoadFailureCode());
    }
    const XmlElement product = document.documentElement().FindChild(u"riDerev");
    if (product.IsNull()) throw NotAVault();
    if (!product.HasAttribute(u"Version") || product.GetAttribute(u"Version") != u"1.1") {
      throw NotAVault();
    }

    CDirSnapshot snapshot;
    snapshot.root = vaultPath;
    const XmlElement ignored = product.FindChild(u"ignoredItems");
    snapshot.ignored = ReadList(ignored, u"fNode", u"path");
    snapshot.filter = ignored.GetAttribute(u"filter");
    snapshot.files = ReadList(product.FindChild(u"Files"), u"fNode", u"path");
    snapshot.directories = ReadList(product.FindChild(u"Directories"), u"fNode", u"path");
    snapshot.attributes = ReadAttributeMap(product.FindChild(u"FSAttributes"));
    snapshot.fileIds = ReadNameValueMap(product.FindChild(u"FileIDs"), u"idNode", u"path", u"id");
    snapshot.info =
        ReadNameValueMap(product.FindChild(u"VaultInfo"), u"infoEntry", u"name", u"value");
    return snapshot;
  } catch (const XmlFailure& failure) {
    Raise(site::kVaultXml, failure.description, failure.code);
  } catch (...) {
    Raise(site::kVaultRead, vaultPath);
  }
}

}  // namespace torquelin
