// Crafts patches that list a great many paths against a tiny tree, for
// crafted_patch.sh to time `torquelin apply --check` on: each shape makes
// the per-path work of the checks dominate everything else. Writes the tiny
// tree itself (a file `f` and an empty directory `d`), then the patch, with
// the record primitives: its older fingerprint is the tree's and its newer
// one is what applying it would give, so every check runs to the end.
//
//   crafted_patch_tool SHAPE TREE PATCH [COUNT]
//
//   one-path    COUNT removals of \f, the same path each time
//   long-path   one removal of a path COUNT levels deep below \d
//   flat        COUNT new empty files in \d
//   deep        a chain of 1,000 new directories below \d, and COUNT - 1,000
//               new empty files spread along it (by default 3,000 paths in
//               all: the patch grows with the square of the depth)
//   new-dirs    COUNT new directories, a few hundred below each of a few
//               hundred below \n (\n included)
//   attributes  COUNT attribute changes of paths in \d that are not there
//
// COUNT defaults to 300,000.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/base/errors.h"
#include "engine/base/number_text.h"
#include "engine/base/silent_sink.h"
#include "engine/patch/change_set.h"
#include "engine/patch/patch_stream.h"
#include "engine/patch/patch_writer.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/walker.h"
#include "platform/encoding.h"

using namespace torquelin;

namespace {

constexpr uint32_t kFileWord = 0x81A40020;       // a 0644 file
constexpr uint32_t kDirectoryWord = 0x41ED0010;  // a 0755 directory
constexpr size_t kDeepLevels = 1000;

// Six digits, so the names sort as they are numbered.
std::u16string Numbered(const char16_t* prefix, size_t n) {
  std::u16string digits = DecimalText(static_cast<int64_t>(n));
  return prefix + std::u16string(digits.size() < 6 ? 6 - digits.size() : 0, u'0') + digits;
}

// The patch's lists, and the files it carries (all empty).
struct Crafted {
  ChangeSet changes;
  std::map<std::u16string, int64_t> files;  // path -> record offset
};

bool Craft(const std::string& shape, size_t count, Crafted& out) {
  ChangeSet& c = out.changes;
  const auto addFile = [&](const std::u16string& path) {
    c.NewFiles.push_back(path);
    c.AttributeChanges[path] = kFileWord;
    out.files.emplace(path, 0);
  };
  const auto addDirectory = [&](const std::u16string& path) {
    c.NewDirs.push_back(path);
    c.AttributeChanges[path] = kDirectoryWord;
  };
  if (shape == "one-path") {
    c.UnlinkedFiles.assign(count, u"\\f");
  } else if (shape == "long-path") {
    std::u16string path = u"\\d";
    for (size_t level = 0; level < count; ++level) path += u"\\a";
    c.UnlinkedFiles.push_back(path);
  } else if (shape == "flat") {
    for (size_t i = 0; i < count; ++i) addFile(Numbered(u"\\d\\f", i));
  } else if (shape == "deep") {
    std::u16string path = u"\\d";
    std::vector<std::u16string> chain;
    for (size_t level = 0; level < kDeepLevels; ++level) {
      path += u"\\a";
      chain.push_back(path);
      addDirectory(path);
    }
    for (size_t i = 0; i + kDeepLevels < count; ++i) {
      addFile(chain[i % kDeepLevels] + Numbered(u"\\f", i));
    }
  } else if (shape == "new-dirs") {
    addDirectory(u"\\n");
    size_t width = 1;
    while (width * width < count) ++width;
    for (size_t top = 0; c.NewDirs.size() < count; ++top) {
      const std::u16string parent = Numbered(u"\\n\\", top);
      addDirectory(parent);
      for (size_t i = 0; i < width && c.NewDirs.size() < count; ++i) {
        addDirectory(Numbered((parent + u"\\").c_str(), i));
      }
    }
  } else if (shape == "attributes") {
    for (size_t i = 0; i < count; ++i) c.AttributeChanges[Numbered(u"\\d\\x", i)] = kFileWord;
  } else {
    return false;
  }
  return true;
}

// The fingerprint `tree` will have once the patch is applied: what apply
// predicts before it changes anything. A word for a path the tree will not
// hold changes nothing.
std::u16string NewerFingerprint(CProgressSink& sink, CDirSnapshot tree, const ChangeSet& c) {
  for (const std::u16string& gone : c.UnlinkedFiles) {
    std::erase(tree.files, gone);
    tree.attributes.erase(gone);
    tree.fileIds.erase(gone);
  }
  for (const std::u16string& path : c.NewDirs) {
    tree.directories.push_back(path);
    tree.attributes[path] = 0;
  }
  for (const std::u16string& path : c.NewFiles) {
    tree.files.push_back(path);
    tree.attributes[path] = 0;
    tree.fileIds[path] = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";  // no content
  }
  for (const auto& [path, word] : c.AttributeChanges) {
    const auto at = tree.attributes.find(path);
    if (at != tree.attributes.end()) at->second = word;
  }
  return ComputeFingerprint(sink, tree);
}

// The patch as the writer lays it out: header, patch info, one empty
// content per carried file, the index, then the index offset and the flag.
void WriteCrafted(const std::u16string& patchPath, Crafted& crafted) {
  zrFile::Writer file(patchPath);
  BufferedOutput out(file);
  WritePatchStart(out, crafted.changes);
  for (auto& [path, offset] : crafted.files) {
    out.Flush();
    offset = file.tell();
    WriteTag(out, RecordType::FileContent);
    WriteString(out, path);
    WriteQword(out, 0);
  }
  out.Flush();
  const int64_t indexOffset = file.tell();
  WriteTag(out, RecordType::FileIndex);
  WriteDword(out, static_cast<uint32_t>(crafted.files.size()));
  for (const auto& [path, offset] : crafted.files) {
    WriteString(out, path);
    WriteQword(out, offset);
  }
  out.Flush();
  file.seek(kPatchIndexOffsetPosition);
  DirectOutput header(file);
  WriteQword(header, indexOffset);
  WriteDword(header, kPatchComplete);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr,
                 "usage: crafted_patch_tool "
                 "one-path|long-path|flat|deep|new-dirs|attributes TREE PATCH [COUNT]\n");
    return 2;
  }
  const std::string shape = argv[1];
  const size_t count = argc == 5         ? std::strtoul(argv[4], nullptr, 10)
                       : shape == "deep" ? 3 * kDeepLevels
                                         : 300000;
  Crafted crafted;
  if (!Craft(shape, count, crafted)) {
    std::fprintf(stderr, "unknown shape %s\n", argv[1]);
    return 2;
  }
  namespace fs = std::filesystem;
  fs::remove_all(argv[2]);
  fs::remove(argv[3]);
  fs::create_directories(fs::path(argv[2]) / "d");
  std::FILE* f = std::fopen((fs::path(argv[2]) / "f").c_str(), "w");
  if (f == nullptr || std::fputs("x", f) < 0 || std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write the tree %s\n", argv[2]);
    return 1;
  }
  CSilentSink sink;
  try {
    CDirSnapshot tree =
        BuildSnapshot(sink, platform::NameFromNative(argv[2]), u"", FileIds::Compute);
    crafted.changes.OlderTreeID = ComputeFingerprint(sink, tree);
    crafted.changes.NewerTreeID = NewerFingerprint(sink, std::move(tree), crafted.changes);
    WriteCrafted(platform::NameFromNative(argv[3]), crafted);
  } catch (const CZRErr& e) {
    std::fprintf(stderr, "%s", platform::ToUtf8(e.GetText()).c_str());
    return 1;
  }
  return 0;
}
