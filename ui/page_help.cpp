// Help texts of the six job pages.
#include "ui/page_help.h"

namespace torquelin {

QString PageHelpTitle(JobKind kind) {
  switch (kind) {
    case JobKind::CreatePatch:
      return QStringLiteral("Help: Create Patch (Directory)");
    case JobKind::CreateVaultPatch:
      return QStringLiteral("Help: Create Patch (Vault)");
    case JobKind::ApplyPatch:
      return QStringLiteral("Help: Apply Patch");
    case JobKind::QueryPatch:
      return QStringLiteral("Help: Query Patch");
    case JobKind::CreateVault:
      return QStringLiteral("Help: Create Vault File");
    case JobKind::Fingerprint:
      return QStringLiteral("Help: Calculate Fingerprint");
    case JobKind::Verify:  // the command line's alone: no page
      break;
  }
  return QStringLiteral("Help");
}

QString PageHelpText(JobKind kind) {
  switch (kind) {
    case JobKind::CreatePatch:
      return QStringLiteral(
          "Compares two copies of a directory tree and writes everything that changed "
          "into one patch file (.dov).\n\n"
          "Older Directory: the tree as the receiving machines still have it.\n"
          "Newer Directory: the tree as it should become.\n"
          "Patch File: where the patch is written.\n"
          "XML Diff Report: optional; an XML list of every change.\n"
          "File Ignore Filter: names to leave out, separated by \";\", with * and ? as "
          "wildcards (for example *.tmp;*.bak).\n"
          "Compact patch: smaller patches (each file stored as a difference from its "
          "older version, or compressed); Torquelin 1.3 or later is needed to apply "
          "them.");
    case JobKind::CreateVaultPatch:
      return QStringLiteral(
          "Makes a patch without the older tree at hand: the older state comes from a "
          "vault file (.zov) recorded earlier with \"Create Vault File\".\n\n"
          "Directory: the tree as it should become.\n"
          "Vault File: the recorded older state; its ignore filter is used.\n"
          "Patch File: where the patch is written.\n"
          "XML Diff Report: optional; an XML list of every change.\n"
          "Update Vault File: afterwards, record the newer tree in the vault, so the "
          "next patch starts from here.\n"
          "Compact patch: smaller patches (each file compressed, or copied from a "
          "file the vault already lists); Torquelin 1.3 or later is needed to apply "
          "them.");
    case JobKind::ApplyPatch:
      return QStringLiteral(
          "Brings an older tree up to the newer state stored in a patch. The tree's "
          "fingerprint is checked before and after, so a patch is only applied to the "
          "state it was made from.\n\n"
          "Older Directory: the tree to update.\n"
          "Patch File: the patch to apply.\n"
          "XML Diff Report: optional; an XML list of what was done.\n"
          "Ignore Directory Fingerprint: skip both checks. Only for trees you know match.\n"
          "Continue on Filesystem Errors: keep going past files that cannot be changed "
          "and list them in the report instead of stopping.");
    case JobKind::QueryPatch:
      return QStringLiteral(
          "Shows what a patch contains without applying it.\n\n"
          "Patch File: the patch to read.\n"
          "XML Diff Report: where the description of the patch is written; open it "
          "with \"View XML Diff Report\".");
    case JobKind::CreateVault:
      return QStringLiteral(
          "Records the state of a tree (names, attributes and content digests) in a "
          "vault file (.zov). A later \"Create Patch(Vault)\" compares a newer tree "
          "with it, so the older tree itself need not be kept.\n\n"
          "Older Directory: the tree to record.\n"
          "Vault File: where the record is written.\n"
          "File Ignore Filter: names to leave out, separated by \";\".");
    case JobKind::Fingerprint:
      return QStringLiteral(
          "Computes the 40-character fingerprint of a tree: it changes when any name, "
          "attribute or file content in the tree changes. Patches record the "
          "fingerprints of the trees they were made from.\n\n"
          "Directory: the tree to fingerprint.\n"
          "File Ignore Filter: names to leave out, separated by \";\".\n"
          "Fingerprint: the result.");
    case JobKind::Verify:
      break;
  }
  return {};
}

}  // namespace torquelin
