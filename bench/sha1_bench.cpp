// SHA-1 throughput over buffers of the sizes the engine feeds it.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/progress.h"
#include "engine/sha1.h"

static void BM_Sha1Update(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
  for (auto _ : state) {
    Sha1Context context;
    Sha1Init(context);
    Sha1Update(context, data.data(), static_cast<uint32_t>(data.size()));
    Sha1Digest digest;
    Sha1Final(digest, context);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
// One fingerprint entry, a small file, and one full scratch buffer.
BENCHMARK(BM_Sha1Update)->Arg(100)->Arg(64 * 1024)->Arg(kScratchBufferSize);

BENCHMARK_MAIN();
