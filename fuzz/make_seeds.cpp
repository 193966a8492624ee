// Writes the committed seed corpora with the program's own writers: patches,
// vaults, stored histories and filter inputs. Run by hand when a format
// changes: make_seeds <fuzz/corpus directory>.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/jobs/create_patch.h"
#include "engine/patch/change_set.h"
#include "engine/patch/compact_writer.h"
#include "engine/patch/patch_writer.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/walker.h"
#include "engine/xml/vault_file.h"
#include "fuzz/fuzz_support.h"
#include "ui/history_codec.h"

using namespace torquelin;

namespace fs = std::filesystem;

namespace {

void WriteBytes(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string Utf16Bytes(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

// A small newer tree: nested directories, an empty file, a read-only file.
void MakeTree(const fs::path& root) {
  fs::create_directories(root / "sub" / "deeper");
  WriteBytes(root / "a.txt", "alpha\n");
  WriteBytes(root / "B.txt", std::string(1500, 'b'));
  WriteBytes(root / "empty", "");
  WriteBytes(root / "sub" / "c.obj", "object");
  WriteBytes(root / "sub" / "deeper" / "d.txt", "delta");
  fs::permissions(root / "a.txt", fs::perms::owner_write, fs::perm_options::remove);
}

void MakePatches(const fs::path& tree, const fs::path& out) {
  CSilentSink sink(kFuzzScratchSize);
  const std::u16string root = ScratchDir::Engine(tree);
  CDirSnapshot newer = BuildSnapshot(sink, root, u"*.obj", FileIds::Compute);
  const std::u16string fingerprint = ComputeFingerprint(sink, newer);

  ChangeSet changes;
  changes.OlderTreeID = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";
  changes.NewerTreeID = fingerprint;
  changes.Info = {{u"ComputerName", u"seed"}, {u"UserName", u"fuzz"}};
  changes.IgnoreFilter = newer.filter;
  changes.ignoredNew = newer.ignored;
  changes.ignoredOld = {u"\\old.obj"};
  changes.UnlinkedDirectories = {u"\\gone", u"\\gone\\inner"};
  changes.UnlinkedFiles = {u"\\gone\\x.txt"};
  changes.NewDirs = newer.directories;
  changes.NewFiles = {u"\\B.txt", u"\\empty", u"\\sub\\deeper\\d.txt"};
  changes.ChangedFiles = {u"\\a.txt"};
  changes.AttributeChanges = newer.attributes;
  fs::create_directories(out);
  WritePatch(sink, changes, root, ScratchDir::Engine(out / "full.dov"));

  ChangeSet nothing;
  nothing.OlderTreeID = nothing.NewerTreeID = fingerprint;
  WritePatch(sink, nothing, root, ScratchDir::Engine(out / "empty.dov"));

  ChangeSet one;
  one.NewFiles = {u"\\a.txt"};
  WritePatch(sink, one, root, ScratchDir::Engine(out / "one.dov"));
}

FileId IdOf(const CDirSnapshot& scan, const std::u16string& path) {
  FileId id;
  DigestFromHex(scan.fileIds.at(path), id.data());
  return id;
}

// Compact patches: one from the older tree (a delta, a copy, compressed and
// empty contents), one of no changes, and one of a delta cut into small
// chunks beside a copy.
void MakeCompactPatches(const fs::path& older, const fs::path& newer, const fs::path& out) {
  CSilentSink sink(kFuzzScratchSize);
  const std::u16string olderRoot = ScratchDir::Engine(older);
  const std::u16string newerRoot = ScratchDir::Engine(newer);
  CreatePatchFromDirectories(sink, olderRoot, newerRoot, ScratchDir::Engine(out / "compact.dov"),
                             u"", u"*.obj", {true, 3});
  CreatePatchFromDirectories(sink, newerRoot, newerRoot,
                             ScratchDir::Engine(out / "compact-empty.dov"), u"", u"", {true, 3});

  const CDirSnapshot olderScan = BuildSnapshot(sink, olderRoot, u"", FileIds::Compute);
  const CDirSnapshot newerScan = BuildSnapshot(sink, newerRoot, u"", FileIds::Compute);
  const std::u16string big = u"\\B.txt";
  const std::u16string copied = u"\\sub\\deeper\\d.txt";
  const std::u16string source = u"\\sub\\deeper\\old-d.txt";
  CompactHead head;
  head.changes.ChangedFiles = {big};
  head.changes.NewFiles = {copied};
  head.olderIds = {{big, IdOf(olderScan, big)}, {source, IdOf(olderScan, source)}};
  std::vector<ContentRequest> requests = {
      {big, IdOf(newerScan, big), 1500, ContentKind::Delta, big, IdOf(olderScan, big), 1406},
      {copied, IdOf(newerScan, copied), 5, ContentKind::Copy, source, IdOf(olderScan, source), 0},
  };
  CompactOptions options;
  options.level = 3;
  options.chunkContent = 512;
  options.chunkReference = 1024;
  options.smallContent = 256;
  TreeContentOpener newerFiles(newerRoot);
  TreeContentOpener olderFiles(olderRoot);
  WriteCompactPatch(sink, head, requests, newerFiles, olderFiles,
                    ScratchDir::Engine(out / "compact-chunked.dov"), options, 1);
}

void MakeVaults(const fs::path& tree, const fs::path& out) {
  CSilentSink sink(kFuzzScratchSize);
  CDirSnapshot snapshot =
      BuildSnapshot(sink, ScratchDir::Engine(tree), u"*.obj;~*", FileIds::Compute);
  ComputeFingerprint(sink, snapshot);
  snapshot.info = {{u"ComputerName", u"seed"}, {u"DateCreated", u"Mon Dec  7 07:00:00 2026"}};
  fs::create_directories(out);
  WriteVault(sink, ScratchDir::Engine(out / "tree.zov"), snapshot);
  WriteVault(sink, ScratchDir::Engine(out / "empty.zov"), CDirSnapshot{});
}

void MakeHistories(const fs::path& out) {
  const torquelin::HistoryList lists[] = {
      {},
      {u"/home/user/old", u"/home/user/new"},
      {u"", u"*.obj;*.tmp", std::u16string(300, u'x'), u"caf\u00e9 \U0001F600"},
  };
  int n = 0;
  for (const torquelin::HistoryList& list : lists) {
    const std::vector<uint8_t> bytes = torquelin::EncodeHistory(list);
    WriteBytes(out / ("history" + std::to_string(n++)), std::string(bytes.begin(), bytes.end()));
  }
}

void MakeFilterInputs(const fs::path& out) {
  const std::u16string inputs[] = {
      std::u16string(u"*.obj;~*") + u'\0' + u"\\sub\\A.OBJ",
      std::u16string(u"sub\\*\\*.txt;;?x*y") + u'\0' + u"\\sub\\deeper\\d.txt",
      std::u16string(u"a*b*c?d") + u'\0' + u"\\aXbYbcZd",
  };
  int n = 0;
  for (const std::u16string& input : inputs) {
    WriteBytes(out / ("filter" + std::to_string(n++)), Utf16Bytes(input));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <corpus directory>\n");
    return 2;
  }
  const fs::path corpus = argv[1];
  const ScratchDir scratch;
  const fs::path tree = scratch.path() / "tree";
  MakeTree(tree);
  MakePatches(tree, corpus / "patch_reader");
  const fs::path older = scratch.path() / "older";
  MakeOlderTree(older);
  MakeCompactPatches(older, tree, corpus / "patch_reader");
  MakeVaults(tree, corpus / "vault_reader");
  MakeHistories(corpus / "history");
  MakeFilterInputs(corpus / "ignore_filter");
  return 0;
}
