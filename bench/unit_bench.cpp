// Unit parsing, and building the unit consistency court on 1 to 1,000 assertions.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "qorv_chemical_engineering_edge/unit_consistency.hpp"

namespace {

namespace uc = qorv_chemical_engineering_edge::unit_consistency;

void run_parse(benchmark::State& state, std::string_view text) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(text);
        auto parsed = uc::parse_unit(text);
        benchmark::DoNotOptimize(parsed);
    }
}

BENCHMARK_CAPTURE(run_parse, kg_per_h, std::string_view("kg/h"));
BENCHMARK_CAPTURE(run_parse, degC, std::string_view("degC"));
BENCHMARK_CAPTURE(run_parse, padded_degree_C,
                  std::string_view("  \xC2\xB0"
                                   "C "));
BENCHMARK_CAPTURE(run_parse, m_caret_3_per_h, std::string_view("m^3/h"));
BENCHMARK_CAPTURE(run_parse, kPa, std::string_view("kPa"));
BENCHMARK_CAPTURE(run_parse, unknown_furlong, std::string_view("furlong"));

// One assertion of each common kind; a build over n assertions cycles through them, so every
// hazard and every message shape is exercised in fixed proportions.
struct Pair {
    std::string_view a_unit;
    std::string_view b_unit;
    uc::AssertionRelation relation;
};
constexpr std::array<Pair, 8> kCommonPairs{{
    {"kPa", "Pa", uc::AssertionRelation::SameQuantity},              // scale mismatch
    {"kg/h", "kg/hr", uc::AssertionRelation::AdditivelyCombined},    // consistent
    {"degC", "K", uc::AssertionRelation::SameQuantity},              // affine offset
    {"m^3/h", "kg/h", uc::AssertionRelation::AdditivelyCombined},    // dimension mismatch
    {"wt%", "mol%", uc::AssertionRelation::SameQuantity},            // basis mismatch
    {"bar", "bar", uc::AssertionRelation::SameQuantity},             // consistent
    {"kmol/h", "mol/s", uc::AssertionRelation::AdditivelyCombined},  // scale mismatch
    {"furlong", "m", uc::AssertionRelation::SameQuantity},           // unknown unit
}};

std::vector<uc::UnitAssertion> common_assertions(std::size_t n) {
    std::vector<uc::UnitAssertion> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Pair& p = kCommonPairs[i % kCommonPairs.size()];
        out.push_back(uc::UnitAssertion{
            .context = "balance_" + std::to_string(i % 17),
            .a_name = "FI" + std::to_string(100 + i),
            .a_unit = std::string(p.a_unit),
            .b_name = "FI" + std::to_string(2000 + i),
            .b_unit = std::string(p.b_unit),
            .relation = p.relation,
        });
    }
    return out;
}

void BM_UnitBuild_OneSameQuantity(benchmark::State& state) {
    const std::vector<uc::UnitAssertion> assertions{uc::UnitAssertion{
        .context = "py",
        .a_name = "a",
        .a_unit = "kPa",
        .b_name = "b",
        .b_unit = "Pa",
        .relation = uc::AssertionRelation::SameQuantity,
    }};
    for (auto _ : state) {
        auto court = uc::UnitConsistencyCourtV1::build(assertions);
        benchmark::DoNotOptimize(court);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_UnitBuild_OneSameQuantity);

void BM_UnitBuild_CommonMix(benchmark::State& state) {
    const auto assertions = common_assertions(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto court = uc::UnitConsistencyCourtV1::build(assertions);
        benchmark::DoNotOptimize(court);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_UnitBuild_CommonMix)->Arg(1)->Arg(8)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000);

// What the Python module runs: the hazard, counts and seal of one assertion, no messages.
void BM_UnitJudge_OneSameQuantity(benchmark::State& state) {
    const uc::UnitAssertion assertion{"py", "a",  "kPa",
                                      "b",  "Pa", uc::AssertionRelation::SameQuantity};
    for (auto _ : state) {
        uc::UnitHazard hazard{};
        auto judgement = uc::UnitConsistencyCourtV1::judge({&assertion, 1}, {&hazard, 1});
        benchmark::DoNotOptimize(judgement);
        benchmark::DoNotOptimize(hazard);
    }
}
BENCHMARK(BM_UnitJudge_OneSameQuantity);

// The verdict alone, without findings, messages or seal: the floor under build's cost.
void BM_UnitClassify_CommonMix(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) {
        const Pair& p = kCommonPairs[i++ % kCommonPairs.size()];
        auto hazard = uc::classify(p.a_unit, p.b_unit);
        benchmark::DoNotOptimize(hazard);
    }
}
BENCHMARK(BM_UnitClassify_CommonMix);

}  // namespace
