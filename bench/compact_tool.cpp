// Makes a compact patch of two trees with the engine's codec, so that its
// level and parameters can be chosen on real upgrades (compare_compact.sh),
// and reads it back: every content is decoded against the older tree and
// checked by its id. Prints one line of numbers; see usage() for the flags.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "engine/base/elapsed_timer.h"
#include "engine/base/errors.h"
#include "engine/base/silent_sink.h"
#include "engine/io/large_file.h"
#include "engine/jobs/compare_trees.h"
#include "engine/patch/compact_sections.h"
#include "engine/patch/content_decoder.h"
#include "engine/patch/parallel_encoding.h"
#include "engine/tree/walker.h"
#include "platform/encoding.h"

using namespace torquelin;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void usage() {
  std::fprintf(stderr,
               "usage: compact_tool OLDER NEWER PATCH [--level N] [--threads N]\n"
               "         [--chunk-mib N] [--reference-mib N] [--small-kib N] [--group-kib N]\n"
               "         [--long-mib N] [--decode-to DIR] [--read-only 1]\n"
               "Writes PATCH, reads it back (decoding into DIR when given), prints\n"
               "  level threads files blocks head contents index total  encode-s decode-s scan-s "
               "peak-mib\n"
               "With --read-only 1 it only reads PATCH back against OLDER and prints\n"
               "  decode-s peak-mib\n");
}

FileId IdFromHex(const std::u16string& hex) {
  FileId id{};
  for (size_t i = 0; i < id.size() && 2 * i + 1 < hex.size(); ++i) {
    auto nibble = [](char16_t c) { return c <= u'9' ? c - u'0' : c - u'a' + 10; };
    id[i] = static_cast<uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
  }
  return id;
}

uint64_t LengthOf(const std::u16string& root, const std::u16string& path) {
  StreamReader reader;
  reader.open(root + path);
  return static_cast<uint64_t>(reader.size());
}

// Counts what goes into the patch file and where it stands.
class CountingOutput : public RecordOutput {
 public:
  explicit CountingOutput(zrFile::Writer& out) : out_(out) {}
  int64_t write(const void* buffer, int64_t n, RecordPiece piece) override {
    const int64_t written = direct_.write(buffer, n, piece);
    if (written > 0) position += written;
    return written;
  }
  int64_t position = 0;

 private:
  zrFile::Writer& out_;
  DirectOutput direct_{out_};
};

// Reads a patch file front to back, counting where it stands.
class FileInput : public RecordInput {
 public:
  explicit FileInput(zrFile::Reader& in) : buffered_(in) {}
  int64_t read(void* buffer, int64_t n) override {
    const int64_t got = buffered_.read(buffer, n);
    if (got > 0) position += got;
    return got;
  }
  int64_t position = 0;

 private:
  BufferedInput buffered_;
};

// Writes decoded contents below a directory, or only counts them.
class DirectoryOutput : public ContentOutput {
 public:
  explicit DirectoryOutput(std::string root) : root_(std::move(root)) {}
  void Begin(const ContentMember& member) override {
    if (root_.empty()) return;
    std::string relative = platform::ToNativePath(member.path);
    const std::filesystem::path path = root_ + relative;
    std::filesystem::create_directories(path.parent_path());
    file_.open(path, std::ios::binary | std::ios::trunc);
  }
  void Write(const uint8_t* bytes, size_t size) override {
    written += size;
    if (file_.is_open()) file_.write(reinterpret_cast<const char*>(bytes), size);
  }
  void End(const ContentMember&) override {
    if (file_.is_open()) file_.close();
  }
  uint64_t written = 0;

 private:
  std::string root_;
  std::ofstream file_;
};

// Reads the patch back front to back, as a streaming reader would, decoding
// every content against the older tree into `out`; checks the End record,
// and the patch info and index against what was written when given.
// Returns the number of contents that failed.
size_t ReadBack(const std::u16string& patchPath, ContentOpener& older, ContentOutput& out,
                const ChangeSet* written, const PatchFileIndex* writtenIndex) {
  zrFile::Reader file(patchPath);
  const int64_t endStart = file.size() - kCompactEndSize;
  file.seek(endStart);
  DirectInput tail(file);
  const int64_t indexStart = ReadCompactEnd(tail);
  file.seek(0);
  FileInput in(file);
  if (ReadPatchMagic(in) != PatchFormat::Compact) throw std::runtime_error("not compact");
  const CompactHead head = ReadCompactHead(in);
  if (written != nullptr && !(head.changes == *written)) {
    throw std::runtime_error("patch info differs");
  }
  ContentBlockDecoder decoder;
  size_t failures = 0;
  while (in.position < indexStart) {
    failures += decoder.Decode(in, head.olderIds, older, out, false).size();
  }
  const PatchFileIndex index = ReadCompactIndex(in);
  if (in.position != endStart || (writtenIndex != nullptr && index != *writtenIndex)) {
    throw std::runtime_error("index differs");
  }
  return failures;
}

void PrintPeak() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf(" %.0f", usage.ru_maxrss / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    usage();
    return 2;
  }
  CompactOptions options;
  unsigned threads = FileIdThreadCount();
  std::string decodeTo;
  bool readOnly = false;
  for (int i = 4; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const uint64_t value = std::strtoull(argv[i + 1], nullptr, 10);
    if (flag == "--level") {
      options.level = static_cast<int>(value);
    } else if (flag == "--threads") {
      threads = static_cast<unsigned>(value);
    } else if (flag == "--chunk-mib") {
      options.chunkContent = value << 20;
    } else if (flag == "--reference-mib") {
      options.chunkReference = value << 20;
    } else if (flag == "--small-kib") {
      options.smallContent = value << 10;
    } else if (flag == "--group-kib") {
      options.groupContent = options.groupReference = value << 10;
    } else if (flag == "--long-mib") {
      options.longMatchesFrom = value << 20;
    } else if (flag == "--decode-to") {
      decodeTo = argv[i + 1];
    } else if (flag == "--read-only") {
      readOnly = value != 0;
    } else {
      usage();
      return 2;
    }
  }
  const std::u16string olderRoot = platform::NameFromNative(argv[1]);
  const std::u16string newerRoot = platform::NameFromNative(argv[2]);
  const std::u16string patchPath = platform::NameFromNative(argv[3]);
  CSilentSink sink;
  try {
    if (readOnly) {
      TreeContentOpener olderFiles(olderRoot);
      if (!decodeTo.empty()) std::filesystem::create_directories(decodeTo);
      DirectoryOutput decoded(decodeTo);
      const auto start = Clock::now();
      const size_t failures = ReadBack(patchPath, olderFiles, decoded, nullptr, nullptr);
      std::printf("%.3f", Seconds(start));
      PrintPeak();
      std::printf("%s\n", failures > 0 ? "  FAILURES" : "");
      return 0;
    }
    const auto scanStart = Clock::now();
    CDirSnapshot older = BuildSnapshot(sink, olderRoot, u"", FileIds::Compute);
    CDirSnapshot newer = BuildSnapshot(sink, newerRoot, u"", FileIds::Compute);
    CElapsedTimer timer;
    timer.Start();
    const ChangeSet changes = CompareSnapshots(sink, newer, older, timer);
    const double scanSeconds = Seconds(scanStart);

    // What the patch carries, as a create-patch job would ask for it.
    std::map<FileId, std::u16string> olderById;
    for (const auto& [path, hex] : older.fileIds) olderById.emplace(IdFromHex(hex), path);
    CompactHead head{changes, {}};
    for (const PathList* list : {&changes.ChangedFiles, &changes.UnlinkedFiles}) {
      for (const std::u16string& path : *list) {
        const auto found = older.fileIds.find(path);
        if (found != older.fileIds.end()) head.olderIds[path] = IdFromHex(found->second);
      }
    }
    PathList carried = changes.NewFiles;
    carried.insert(carried.end(), changes.ChangedFiles.begin(), changes.ChangedFiles.end());
    std::sort(carried.begin(), carried.end());
    std::vector<ContentRequest> requests;
    for (const std::u16string& path : carried) {
      ContentRequest request{path,
                             IdFromHex(newer.fileIds.at(path)),
                             LengthOf(newerRoot, path),
                             ContentKind::Compressed,
                             {},
                             {},
                             0};
      const auto same = olderById.find(request.id);
      const auto before = older.fileIds.find(path);
      if (same != olderById.end()) {
        request.kind = ContentKind::Copy;
        request.reference = same->second;
        request.referenceId = request.id;
      } else if (before != older.fileIds.end()) {
        request.kind = ContentKind::Delta;
        request.reference = path;
        request.referenceId = IdFromHex(before->second);
        request.referenceLength = LengthOf(olderRoot, path);
      }
      if (request.kind != ContentKind::Compressed) {
        head.olderIds[request.reference] = request.referenceId;
      }
      requests.push_back(std::move(request));
    }
    const size_t files = requests.size();

    const auto encodeStart = Clock::now();
    const std::vector<ContentBlockPlan> blocks = PlanContentBlocks(std::move(requests), options);
    TreeContentOpener newerFiles(newerRoot);
    TreeContentOpener olderFiles(olderRoot);
    FrameEncoder frames;
    PatchFileIndex index;
    int64_t headSize = 0;
    int64_t contentStart = 0;
    int64_t indexStart = 0;
    int64_t total = 0;
    {
      std::filesystem::remove(argv[3]);
      zrFile::Writer file(patchPath);
      CountingOutput out(file);
      WriteCompactMagic(out);
      WriteCompactHead(out, frames, options.level, head);
      headSize = out.position;
      contentStart = out.position;
      size_t started = blocks.size();
      EncodeBlocksInOrder(blocks, newerFiles, olderFiles, options, threads,
                          [&](size_t block, std::string&& piece) {
                            if (block != started) {
                              started = block;
                              for (const ContentRequest& r : blocks[block]) {
                                index[r.path] = out.position;
                              }
                            }
                            WriteRaw(out, piece.data(), static_cast<int64_t>(piece.size()));
                          });
      indexStart = out.position;
      WriteCompactIndex(out, frames, options.level, index);
      WriteCompactEnd(out, indexStart);
      total = out.position;
    }
    const double encodeSeconds = Seconds(encodeStart);

    // Read back front to back, as a streaming reader would.
    const auto decodeStart = Clock::now();
    if (!decodeTo.empty()) std::filesystem::create_directories(decodeTo);
    DirectoryOutput decoded(decodeTo);
    const size_t failures = ReadBack(patchPath, olderFiles, decoded, &changes, &index);
    const double decodeSeconds = Seconds(decodeStart);

    std::printf("%d %u %zu %zu %lld %lld %lld %lld  %.3f %.3f %.3f", options.level, threads, files,
                blocks.size(), static_cast<long long>(headSize),
                static_cast<long long>(indexStart - contentStart),
                static_cast<long long>(total - indexStart), static_cast<long long>(total),
                encodeSeconds, decodeSeconds, scanSeconds);
    PrintPeak();
    std::printf("%s\n", failures > 0 ? "  FAILURES" : "");
  } catch (const CZRErr& e) {
    std::fprintf(stderr, "%s", platform::ToUtf8(e.GetText()).c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "compact_tool: %s\n", e.what());
    return 1;
  }
  return 0;
}
