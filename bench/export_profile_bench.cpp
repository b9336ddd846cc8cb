// Export profiler throughput.
//
// In memory: a wide and a long export generated here (values, gaps, bad-state texts, a unit
// row), scanned by one ExportScanner on one core. From files: profile_files on the exports named
// by QCE_BENCH_WIDE_EXPORT and QCE_BENCH_LONG_EXPORT (for example the 150 MB peer-comparison
// export), with 1 and 2 threads; skipped when unset.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

std::string cell(unsigned r, unsigned c) {
    const unsigned h = (r * 2654435761u) ^ (c * 40503u);
    if (h % 100 == 0) return "";
    if (h % 331 == 0) return "I/O Timeout";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u.%03u", 90 + h % 20, h % 1000);
    return buf;
}

std::string stamp(unsigned r) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "2026-01-%02u %02u:%02u:00", 5 + r / 1440, r / 60 % 24, r % 60);
    return buf;
}

const std::string& wide_export() {
    static const std::string csv = [] {
        constexpr unsigned kTags = 100, kRows = 20000;
        std::string s = "Timestamp";
        for (unsigned c = 0; c < kTags; ++c) s += ",FIC" + std::to_string(100 + c / 3) + ".PV";
        s += "\nUnits";
        for (unsigned c = 0; c < kTags; ++c) s += ",kPa";
        s += '\n';
        for (unsigned r = 0; r < kRows; ++r) {
            s += stamp(r);
            for (unsigned c = 0; c < kTags; ++c) (s += ',') += cell(r, c);
            s += '\n';
        }
        return s;
    }();
    return csv;
}

const std::string& long_export() {
    static const std::string csv = [] {
        constexpr unsigned kTags = 50, kRows = 8000;
        std::string s = "Tag,Timestamp,Value,Quality,Units\n";
        for (unsigned r = 0; r < kRows; ++r)
            for (unsigned c = 0; c < kTags; ++c) {
                const std::string v = cell(r, c);
                s += "FIC" + std::to_string(100 + c) + ".PV," + stamp(r) + ',' + v + ',' +
                     (v.empty() || v[0] == 'I' ? "Bad" : "Good") + ",degC\n";
            }
        return s;
    }();
    return csv;
}

void scan(benchmark::State& state, const std::string& csv) {
    for (auto _ : state) {
        ep::ExportScanner s({}, "bench.csv");
        s.feed(csv);
        auto partial = s.finish();
        benchmark::DoNotOptimize(partial.ok());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * csv.size()));
}

void BM_ScanWideInMemory(benchmark::State& state) {
    scan(state, wide_export());
}
void BM_ScanLongInMemory(benchmark::State& state) {
    scan(state, long_export());
}

void profile_file(benchmark::State& state, const char* variable) {
    const char* path = std::getenv(variable);
    if (!path) {
        state.SkipWithError((std::string(variable) + " is not set").c_str());
        return;
    }
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto bytes = static_cast<std::int64_t>(in.tellg());
    ep::ProfileOptions o;
    o.threads = static_cast<unsigned>(state.range(0));
    const std::vector<std::string> paths{path};
    for (auto _ : state) {
        auto r = ep::profile_files(paths, o);
        if (!r) {
            state.SkipWithError(r.error().reason.c_str());
            return;
        }
        benchmark::DoNotOptimize(r.value().seal.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_ProfileWideFile(benchmark::State& state) {
    profile_file(state, "QCE_BENCH_WIDE_EXPORT");
}
void BM_ProfileLongFile(benchmark::State& state) {
    profile_file(state, "QCE_BENCH_LONG_EXPORT");
}

}  // namespace

BENCHMARK(BM_ScanWideInMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanLongInMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProfileWideFile)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProfileLongFile)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
