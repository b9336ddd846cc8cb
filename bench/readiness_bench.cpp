// Readiness grading: three profiles, and the seal on its own.
#include <benchmark/benchmark.h>

#include "qorv_chemical_engineering_edge/data_readiness.hpp"
#include "qorv_chemical_engineering_edge/sha256.hpp"
#include "reference_profiles.hpp"

namespace {

using qorv_chemical_engineering_edge::data_readiness::IndustrialDataReadinessCourtV1;
using qorv_chemical_engineering_edge::data_readiness::ReadinessProfile;
using namespace qorv_chemical_engineering_edge::data_readiness::reference;
namespace hashing = qorv_chemical_engineering_edge::hashing;

void run_grade(benchmark::State& state, const ReadinessProfile& profile) {
    for (auto _ : state) {
        auto court = IndustrialDataReadinessCourtV1::grade(profile);
        benchmark::DoNotOptimize(court);
    }
}

void BM_ReadinessGrade_AllPresent(benchmark::State& state) {
    run_grade(state, all_present());
}
void BM_ReadinessGrade_RequiredOnly(benchmark::State& state) {
    run_grade(state, required_only());
}
void BM_ReadinessGrade_AllBad(benchmark::State& state) {
    run_grade(state, everything_bad());
}

BENCHMARK(BM_ReadinessGrade_AllPresent);
BENCHMARK(BM_ReadinessGrade_RequiredOnly);
BENCHMARK(BM_ReadinessGrade_AllBad);

// What the Python module runs: levels, counts, verdict and seal, no findings or messages.
void BM_ReadinessJudge_AllPresent(benchmark::State& state) {
    const ReadinessProfile profile = all_present();
    for (auto _ : state) {
        auto judgement = IndustrialDataReadinessCourtV1::judge(profile);
        benchmark::DoNotOptimize(judgement);
    }
}
BENCHMARK(BM_ReadinessJudge_AllPresent);

// The seal of the required-only record feeds 1,001 bytes (16 blocks once padded) in 31 fields.
void BM_ReadinessSeal(benchmark::State& state) {
    const auto court = IndustrialDataReadinessCourtV1::grade(required_only());
    for (auto _ : state) {
        auto hash = court.seal();
        benchmark::DoNotOptimize(hash);
    }
}
BENCHMARK(BM_ReadinessSeal);

// The same seal on the portable block function, to set against the raw portable hash of a
// like-sized input: the difference is the framing, not the compression.
void BM_ReadinessSeal_PortableEngine(benchmark::State& state) {
    const auto court = IndustrialDataReadinessCourtV1::grade(required_only());
    const hashing::Sha256Engine previous = hashing::sha256_engine();
    hashing::pin_sha256_engine(hashing::Sha256Engine::Portable);
    for (auto _ : state) {
        auto hash = court.seal();
        benchmark::DoNotOptimize(hash);
    }
    hashing::pin_sha256_engine(previous);
}
BENCHMARK(BM_ReadinessSeal_PortableEngine);

}  // namespace
