// The second unit court: parsing typical plant units (budget 100 ns each) and building the
// court over 10,000 assertions (budget 10 ms).
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"

namespace {

namespace uc = qorv_chemical_engineering_edge::unit_consistency;
namespace v2 = qorv_chemical_engineering_edge::unit_consistency_v2;

void parse_v2(benchmark::State& state, std::string_view text) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(text);
        auto parsed = v2::parse_unit(text);
        benchmark::DoNotOptimize(parsed);
    }
}

BENCHMARK_CAPTURE(parse_v2, kg_per_h, std::string_view("kg/h"));
BENCHMARK_CAPTURE(parse_v2, m3_per_h, std::string_view("m3/h"));
BENCHMARK_CAPTURE(parse_v2, degree_C,
                  std::string_view("\xC2\xB0"
                                   "C"));
BENCHMARK_CAPTURE(parse_v2, barg, std::string_view("barg"));
BENCHMARK_CAPTURE(parse_v2, kPa, std::string_view("kPa"));
BENCHMARK_CAPTURE(parse_v2, Nm3_per_h, std::string_view("Nm3/h"));
BENCHMARK_CAPTURE(parse_v2, MMscfd, std::string_view("MMscfd"));
BENCHMARK_CAPTURE(parse_v2, wt_percent, std::string_view("wt%"));
BENCHMARK_CAPTURE(parse_v2, KPA_upper, std::string_view("KPA"));
BENCHMARK_CAPTURE(parse_v2, kJ_per_kg_K, std::string_view("kJ/(kg\xC2\xB7K)"));
BENCHMARK_CAPTURE(parse_v2, unknown_furlong, std::string_view("furlong"));

// The verdict on a pair of typical units, as `classify` gives it.
constexpr std::array<std::array<std::string_view, 2>, 10> kPairs{{
    {"kPa", "Pa"},
    {"kg/h", "kg/hr"},
    {"degC", "K"},
    {"m3/h", "kg/h"},
    {"wt%", "mol%"},
    {"barg", "bara"},
    {"Nm3/h", "m3/h"},
    {"kmol/h", "mol/s"},
    {"MMscfd", "Sm3/d"},
    {"furlong", "m"},
}};

void BM_UnitV2Classify_CommonMix(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& p = kPairs[i++ % kPairs.size()];
        auto verdict = v2::classify(p[0], p[1]);
        benchmark::DoNotOptimize(verdict);
    }
}
BENCHMARK(BM_UnitV2Classify_CommonMix);

std::vector<uc::UnitAssertion> assertions(std::size_t n) {
    std::vector<uc::UnitAssertion> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto& p = kPairs[i % kPairs.size()];
        out.push_back(uc::UnitAssertion{
            .context = "balance_" + std::to_string(i % 17),
            .a_name = "FI" + std::to_string(100 + i),
            .a_unit = std::string(p[0]),
            .b_name = "FI" + std::to_string(2000 + i),
            .b_unit = std::string(p[1]),
            .relation = i % 2 == 0 ? uc::AssertionRelation::SameQuantity
                                   : uc::AssertionRelation::AdditivelyCombined,
        });
    }
    return out;
}

void BM_UnitV2Build_CommonMix(benchmark::State& state) {
    const auto claims = assertions(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto court = v2::UnitConsistencyCourtV2::build(claims);
        benchmark::DoNotOptimize(court);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_UnitV2Build_CommonMix)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
