// SHA-1 throughput over buffers of the sizes the engine feeds it: our
// portable code, our code on the SHA instructions, and OpenSSL as the
// yardstick (built only when its development files are installed).
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/base/progress.h"
#include "engine/hash/sha1.h"

#ifdef TORQUELIN_BENCH_OPENSSL
#include <openssl/evp.h>

using namespace torquelin;
#endif

namespace {

std::vector<uint8_t> Input(const benchmark::State& state) {
  return std::vector<uint8_t>(static_cast<size_t>(state.range(0)), 0x5A);
}

void Ours(benchmark::State& state, Sha1Implementation which) {
  if (!Sha1SetImplementation(which)) {
    state.SkipWithError("this processor lacks the instructions");
    return;
  }
  const std::vector<uint8_t> data = Input(state);
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

void BM_Sha1Portable(benchmark::State& state) { Ours(state, Sha1Implementation::Portable); }
void BM_Sha1ShaInstructions(benchmark::State& state) {
  Ours(state, Sha1Implementation::ShaInstructions);
}

#ifdef TORQUELIN_BENCH_OPENSSL
void BM_Sha1OpenSsl(benchmark::State& state) {
  const std::vector<uint8_t> data = Input(state);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  const EVP_MD* sha1 = EVP_sha1();
  for (auto _ : state) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestInit_ex(context, sha1, nullptr);
    EVP_DigestUpdate(context, data.data(), data.size());
    EVP_DigestFinal_ex(context, digest, &length);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_CTX_free(context);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
#endif

}  // namespace

// One fingerprint entry, a small file, and one full scratch buffer.
#define SIZES ->Arg(100)->Arg(64 * 1024)->Arg(kScratchBufferSize)
BENCHMARK(BM_Sha1Portable) SIZES;
BENCHMARK(BM_Sha1ShaInstructions) SIZES;
#ifdef TORQUELIN_BENCH_OPENSSL
BENCHMARK(BM_Sha1OpenSsl) SIZES;
#endif

BENCHMARK_MAIN();
