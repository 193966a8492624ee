// Scans that once blew up, each held to a time budget: a ladder of symbolic
// links (24 levels, each with two links to the next; every one of the 2^24
// paths through it was walked when links were followed), a stored filter of
// 500,000 ';', and a filter of a thousand patterns matched against one name.
// A run slower than its budget is reported as an error.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "engine/base/silent_sink.h"
#include "engine/jobs/calculate_fingerprint.h"
#include "engine/tree/ignore_filter.h"
#include "platform/encoding.h"

using namespace torquelin;

namespace fs = std::filesystem;

namespace {

// A scratch tree under the system's temporary directory, removed at exit.
class ScratchTree {
 public:
  explicit ScratchTree(const char* name)
      : path_(fs::temp_directory_path() /
              ("torquelin-walk-bench-" + std::to_string(getpid()) + name)) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchTree() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  std::u16string wpath() const { return platform::NameFromNative(path_.string()); }

 private:
  fs::path path_;
};

// Runs fn per iteration and fails the benchmark when the mean exceeds budget.
template <typename Fn>
void WithinBudget(benchmark::State& state, std::chrono::milliseconds budget, Fn fn) {
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) fn();
  const auto mean = (std::chrono::steady_clock::now() - start) / state.iterations();
  state.counters["budget_ms"] = static_cast<double>(budget.count());
  state.counters["mean_ms"] = std::chrono::duration<double, std::milli>(mean).count();
  if (mean > budget) state.SkipWithError("slower than its budget");
}

std::u16string Fingerprint(const std::u16string& root, const std::u16string& filter) {
  alignas(4096) static uint8_t buffer[kScratchBufferSize];
  CSilentSink sink(buffer, kScratchBufferSize);
  return CalculateFingerprint(sink, root, filter);
}

void BM_FingerprintLinkLadder(benchmark::State& state) {
  ScratchTree tree("ladder");
  constexpr int kLevels = 24;
  for (int i = 0; i <= kLevels; ++i) fs::create_directory(tree.path() / ("d" + std::to_string(i)));
  for (int i = 0; i < kLevels; ++i) {
    const fs::path next = "../d" + std::to_string(i + 1);
    fs::create_directory_symlink(next, tree.path() / ("d" + std::to_string(i)) / "x1");
    fs::create_directory_symlink(next, tree.path() / ("d" + std::to_string(i)) / "x2");
  }
  WithinBudget(state, std::chrono::milliseconds(50),
               [&] { benchmark::DoNotOptimize(Fingerprint(tree.wpath(), u"")); });
}
BENCHMARK(BM_FingerprintLinkLadder)->Unit(benchmark::kMillisecond);

void BM_FingerprintWithAFilterOfSemicolons(benchmark::State& state) {
  ScratchTree tree("semicolons");
  for (int i = 0; i < 100; ++i) fs::create_directory(tree.path() / std::to_string(i));
  const std::u16string filter(500000, u';');
  WithinBudget(state, std::chrono::milliseconds(50),
               [&] { benchmark::DoNotOptimize(Fingerprint(tree.wpath(), filter)); });
}
BENCHMARK(BM_FingerprintWithAFilterOfSemicolons)->Unit(benchmark::kMillisecond);

// A thousand patterns none of which matches: the cost per entry is what a
// scan pays for every name it lists.
void BM_MatchAThousandPatterns(benchmark::State& state) {
  std::u16string text;
  for (int i = 0; i < 1000; ++i) text += u"*.ext" + platform::FromUtf8(std::to_string(i)) + u";";
  const CIgnoreFilter filter(text);
  const std::u16string path = u"\\some\\directory\\a-file-name.txt";
  std::u16string matched;
  WithinBudget(state, std::chrono::milliseconds(1),
               [&] { benchmark::DoNotOptimize(filter.Match(path, matched)); });
}
BENCHMARK(BM_MatchAThousandPatterns)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
