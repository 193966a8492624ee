// Writes a patch that stores every file directly inside a directory, with no
// progress output: the copy path of the patch writer, timed by
// patch_copy_bench.sh against cat.
#include <cstdio>

#include "engine/base/errors.h"
#include "engine/base/silent_sink.h"
#include "engine/patch/patch_writer.h"
#include "platform/directory_listing.h"
#include "platform/encoding.h"

using namespace torquelin;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: patch_copy_tool DIR PATCH\n");
    return 2;
  }
  const std::u16string root = platform::NameFromNative(argv[1]);
  std::vector<platform::ListedEntry> entries;
  platform::DirectoryListing listing;
  std::u16string failed;
  if (!listing.OpenRoot(root) || !listing.ReadEntries(false, entries, failed)) {
    std::fprintf(stderr, "cannot list %s\n", argv[1]);
    return 2;
  }
  ChangeSet changes;
  for (const platform::ListedEntry& e : entries) {
    if (e.kind == platform::EntryKind::Other) changes.NewFiles.push_back(u"\\" + e.name);
  }
  alignas(4096) static uint8_t buffer[kScratchBufferSize];
  CSilentSink sink(buffer, kScratchBufferSize);
  try {
    WritePatch(sink, changes, root, platform::NameFromNative(argv[2]));
  } catch (const CZRErr& e) {
    std::fprintf(stderr, "%s", platform::ToUtf8(e.GetText()).c_str());
    return 1;
  }
  return 0;
}
