// CPU seconds of inflating .gz files alone, with zlib and with the fast inflater, interleaved
// (medians of the rounds): the part of a .gz profile the inflater thread takes off the scan.
//
//   cmake --build build/bench --target qorv_gz_inflate_bench
//   build/bench/qorv_gz_inflate_bench /tmp/gz/wide.csv.gz [rounds]
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "export/gzip.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Inflated bytes, or -1 on an error.
long long inflate_all(const char* path, ep::Inflater inflater) {
    ep::GzipReader r;
    std::string error;
    if (!r.open(path, &error, inflater)) return -1;
    std::vector<char> buf(std::size_t{1} << 20);
    long long total = 0;
    for (long got; (got = r.read(buf.data(), buf.size(), &error)) > 0;) total += got;
    return error.empty() ? total : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.gz [rounds]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    std::vector<double> times[2];
    long long bytes = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < 2; ++k) {
            const int which = r % 2 ? 1 - k : k;
            const double t0 = cpu_seconds();
            bytes = inflate_all(argv[1], which ? ep::Inflater::Fast : ep::Inflater::Zlib);
            times[which].push_back(cpu_seconds() - t0);
            if (bytes < 0) {
                std::fprintf(stderr, "%s: not read\n", argv[1]);
                return 1;
            }
        }
    }
    std::printf("fast inflater in this process: %s\n", ep::gzip_inflater());
    for (int which = 0; which < 2; ++which) {
        auto& t = times[which];
        std::sort(t.begin(), t.end());
        const double median = t[t.size() / 2];
        std::printf("%-5s %.3f CPU s  %.0f MB/s per CPU-s (inflated)\n", which ? "fast" : "zlib",
                    median, static_cast<double>(bytes) / 1e6 / median);
    }
}
