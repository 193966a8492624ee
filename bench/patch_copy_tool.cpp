// Writes a patch that stores every file directly inside a directory, with no
// progress output: the copy path of the patch writer, timed by
// patch_copy_bench.sh against cat.
#include <cstdio>

#include "engine/errors.h"
#include "engine/patch_writer.h"
#include "platform/encoding.h"
#include "platform/files.h"

namespace {

class QuietSink : public CProgressSink {
 public:
  uint32_t GetBufferSize() override { return kScratchBufferSize; }
  uint8_t* GetBuffer() override { return buffer_; }
  void SetStatus(const std::u16string&) override {}
  void SetDetail(const std::u16string&) override {}
  void ShowMessage(const std::u16string&) override {}
  void SetRange(uint32_t) override {}
  void ResetProgress() override {}
  void Step() override {}

 private:
  alignas(4096) uint8_t buffer_[kScratchBufferSize];
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: patch_copy_tool DIR PATCH\n");
    return 2;
  }
  const std::u16string root = platform::NameFromNative(argv[1]);
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(root, entries)) {
    std::fprintf(stderr, "cannot list %s\n", argv[1]);
    return 2;
  }
  ChangeSet changes;
  for (const platform::DirEntry& e : entries) {
    if (!e.isDirectory) changes.NewFiles.push_back(u"\\" + e.name);
  }
  static QuietSink sink;
  try {
    WritePatch(sink, changes, root, platform::NameFromNative(argv[2]));
  } catch (const CZRErr& e) {
    std::fprintf(stderr, "%s", platform::ToUtf8(e.GetText()).c_str());
    return 1;
  }
  return 0;
}
