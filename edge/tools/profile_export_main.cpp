// Prints the export profile of one export (one or more files) as plain text.
//
//   qorv_profile_export [--threads N] [--zone NAME] [--long|--wide] [--day-first]
//                       [--sentinel X]... FILE...
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

template <class T>
void line(const char* label, const ep::ProfileField<T>& f) {
    char value[40];
    std::snprintf(value, sizeof value, "%.17g", static_cast<double>(f.value));
    std::printf("%-22s %-24s %s\n", label, value, std::string(ep::name(f.provenance)).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    ep::ProfileOptions o;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--threads" && i + 1 < argc)
            o.threads = static_cast<unsigned>(std::atoi(argv[++i]));
        else if (a == "--zone" && i + 1 < argc)
            o.zone_name = argv[++i];
        else if (a == "--sentinel" && i + 1 < argc)
            o.missing_sentinels.push_back(std::atof(argv[++i]));
        else if (a == "--long")
            o.layout = ep::Layout::Long;
        else if (a == "--wide")
            o.layout = ep::Layout::Wide;
        else if (a == "--day-first")
            o.day_first = true;
        else if (a == "--month-first")
            o.day_first = false;
        else
            files.emplace_back(a);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: qorv_profile_export [options] FILE...\n");
        return 2;
    }
    const auto r = ep::profile_files(files, o);
    if (!r) {
        std::fprintf(stderr, "error: %s: %s\n", r.error().file.c_str(), r.error().reason.c_str());
        return 1;
    }
    const ep::ExportProfile& p = r.value();
    std::printf("layout %s\n", p.layout.c_str());
    line("n_tags", p.n_tags);
    line("n_rows", p.n_rows);
    line("baseline_present", p.baseline_present);
    line("license_cleared", p.license_cleared);
    line("missingness", p.missingness);
    line("unit_coverage", p.unit_coverage);
    line("duplicate_timestamps", p.duplicate_timestamps);
    line("time_span_hours", p.time_span_hours);
    line("sampling_regular", p.sampling_regular);
    line("has_controllers", p.has_controllers);
    line("has_maintenance", p.has_maintenance);
    line("has_batches", p.has_batches);
    line("has_lab_samples", p.has_lab_samples);
    std::uint64_t cells = 0, missing = 0, with_unit = 0;
    for (const auto& t : p.tags) {
        cells += t.samples;
        missing += t.samples - t.present;
        with_unit += !t.unit.empty();
    }
    std::printf("cells %llu missing_cells %llu tags_with_unit %llu\n",
                static_cast<unsigned long long>(cells), static_cast<unsigned long long>(missing),
                static_cast<unsigned long long>(with_unit));
    std::printf("unparsed_rows %llu metadata_rows_skipped %llu loops %zu clock_changes %zu\n",
                static_cast<unsigned long long>(p.notes.unparsed_rows),
                static_cast<unsigned long long>(p.notes.metadata_rows_skipped),
                p.notes.loops.size(), p.notes.clock_changes.size());
    for (const auto& b : p.notes.bad_state_texts)
        std::printf("bad_state %s %llu\n", b.text.c_str(),
                    static_cast<unsigned long long>(b.count));
    for (const auto& u : p.notes.unknown_units)
        std::printf("unknown_unit %s %llu\n", u.text.c_str(),
                    static_cast<unsigned long long>(u.count));
    std::printf("input_digest %s\nseal %s\n", p.input_digest.c_str(), p.seal.c_str());
    return 0;
}
