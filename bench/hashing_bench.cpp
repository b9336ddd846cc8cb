// Raw SHA-256 on each block function, several 1 MiB blocks hashed together, and the canonical
// hasher's framing.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

#include "qorv_chemical_engineering_edge/hashing.hpp"
#include "qorv_chemical_engineering_edge/sha256.hpp"

namespace {

namespace hashing = qorv_chemical_engineering_edge::hashing;

// About the size of what a readiness seal feeds.
constexpr std::size_t kSealSizedInput = 970;
// Exactly what the seal of the required-only readiness record feeds.
constexpr std::size_t kRequiredOnlySealInput = 1001;

std::string input_bytes(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    return bytes;
}

// Pins `engine` for the run and puts back whatever was in use before.
void run_sha256(benchmark::State& state, hashing::Sha256Engine engine) {
    if (engine == hashing::Sha256Engine::CpuExtensions &&
        !hashing::sha256_cpu_extensions_available()) {
        state.SkipWithError("this processor has no SHA extensions");
        return;
    }
    const hashing::Sha256Engine previous = hashing::sha256_engine();
    hashing::pin_sha256_engine(engine);
    const std::string bytes = input_bytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto digest = hashing::sha256(bytes);
        benchmark::DoNotOptimize(digest);
    }
    hashing::pin_sha256_engine(previous);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_Sha256_Portable(benchmark::State& state) {
    run_sha256(state, hashing::Sha256Engine::Portable);
}
void BM_Sha256_CpuExtensions(benchmark::State& state) {
    run_sha256(state, hashing::Sha256Engine::CpuExtensions);
}
// 55 bytes is one block after padding; 8192 bytes shows the steady per-block rate.
BENCHMARK(BM_Sha256_Portable)
    ->Arg(55)
    ->Arg(kSealSizedInput)
    ->Arg(kRequiredOnlySealInput)
    ->Arg(8192);
BENCHMARK(BM_Sha256_CpuExtensions)
    ->Arg(55)
    ->Arg(302)
    ->Arg(kSealSizedInput)
    ->Arg(kRequiredOnlySealInput)
    ->Arg(8192);

// The export's input digest: 1 MiB blocks, `range(0)` of them hashed together (1: one stream;
// 3: three streams interleaved on the SHA extensions). Bytes per second compare the two.
void BM_Sha256_MiBBlocksTogether(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    constexpr std::size_t kBlock = std::size_t{1} << 20;
    const std::string bytes = input_bytes(count * kBlock);
    std::vector<const std::uint8_t*> at;
    for (std::size_t i = 0; i < count; ++i)
        at.push_back(reinterpret_cast<const std::uint8_t*>(bytes.data()) + i * kBlock);
    std::vector<hashing::Sha256Digest> out(count);
    for (auto _ : state) {
        hashing::sha256_same_length(at.data(), count, kBlock, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * count * kBlock));
}
BENCHMARK(BM_Sha256_MiBBlocksTogether)->Arg(1)->Arg(2)->Arg(3)->Arg(6);

}  // namespace
