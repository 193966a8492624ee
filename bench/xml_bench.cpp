// Writing and reading XML at scale: the diff report and the vault for trees
// of many paths, flat (one directory) and deep. Both must grow linearly.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "engine/base/silent_sink.h"
#include "engine/xml/diff_report.h"
#include "engine/xml/vault_file.h"
#include "platform/encoding.h"

using namespace torquelin;

namespace {

std::u16string Number(int64_t n) { return platform::FromUtf8(std::to_string(n)); }

// n file paths: all in one directory, or eight directory levels deep with
// four subdirectories per level.
PathList MakePaths(int64_t n, bool deep) {
  PathList paths;
  paths.reserve(n);
  for (int64_t i = 0; i < n; ++i) {
    std::u16string path;
    if (deep) {
      for (int level = 7; level >= 0; --level)
        path += u"\\dir" + Number((i >> (2 * level + 2)) & 3);
    }
    paths.push_back(path + u"\\file" + Number(i) + u".txt");
  }
  return paths;
}

std::u16string OutputPath(const char* name) {
  return platform::NameFromNative((std::filesystem::temp_directory_path() / name).string());
}

void BM_DiffReport(benchmark::State& state) {
  ChangeSet changes;
  changes.NewFiles = MakePaths(state.range(0), state.range(1) != 0);
  for (const auto& path : changes.NewFiles) changes.AttributeChanges[path] = 0x81A40020;
  const std::u16string path = OutputPath("torquelin-bench-report.xml");
  CSilentSink sink;
  for (auto _ : state) WriteDiffReport(sink, path, changes, {});
  std::filesystem::remove(platform::ToNativePath(path));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

CDirSnapshot MakeSnapshot(int64_t n, bool deep) {
  CDirSnapshot snapshot;
  snapshot.files = MakePaths(n, deep);
  for (const auto& path : snapshot.files) {
    snapshot.attributes[path] = 0x81A40020;
    snapshot.fileIds[path] = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";
  }
  return snapshot;
}

void BM_WriteVault(benchmark::State& state) {
  const CDirSnapshot snapshot = MakeSnapshot(state.range(0), state.range(1) != 0);
  const std::u16string path = OutputPath("torquelin-bench-vault.zov");
  CSilentSink sink;
  for (auto _ : state) WriteVault(sink, path, snapshot);
  std::filesystem::remove(platform::ToNativePath(path));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ReadVault(benchmark::State& state) {
  const std::u16string path = OutputPath("torquelin-bench-vault-read.zov");
  CSilentSink sink;
  WriteVault(sink, path, MakeSnapshot(state.range(0), state.range(1) != 0));
  for (auto _ : state) benchmark::DoNotOptimize(ReadVault(sink, path));
  std::filesystem::remove(platform::ToNativePath(path));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// {paths, deep}: 50,000 and 200,000 paths show whether time grows linearly.
void Sizes(benchmark::internal::Benchmark* b) {
  for (int64_t deep : {0, 1}) {
    for (int64_t n : {50000, 200000}) b->Args({n, deep});
  }
  b->ArgNames({"paths", "deep"})->Unit(benchmark::kMillisecond)->Iterations(3);
}

}  // namespace

BENCHMARK(BM_DiffReport)->Apply(Sizes);
BENCHMARK(BM_WriteVault)->Apply(Sizes);
BENCHMARK(BM_ReadVault)->Apply(Sizes);

BENCHMARK_MAIN();
