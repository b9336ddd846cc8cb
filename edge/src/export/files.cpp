// profile_files: an export's files planned into pieces, scanned on every core, merged in order.
#include <thread>

#include "export/gzip.hpp"
#include "export/plan.hpp"
#include "export/pool.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

Result<ExportProfile> profile_files(std::span<const std::string> paths,
                                    const ProfileOptions& options, const Progress& progress,
                                    const Cancelled& cancelled) {
    if (paths.empty()) return ProfileError{"", "no files were given"};
    const auto settings = make_settings(options);
    if (!settings->zone_error.empty()) return ProfileError{"", settings->zone_error};

    std::vector<FilePlan> plans;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (ends_with_gz(paths[i]) && !has_gzip_support())
            return ProfileError{paths[i],
                                "this build has no gzip support; decompress the file "
                                "or feed its bytes"};
        auto plan = plan_file(paths[i], i, *settings, 0);
        if (!plan) return plan.error();
        plans.push_back(std::move(plan).value());
    }
    const unsigned threads =
        options.threads ? options.threads : std::thread::hardware_concurrency();
    PartialProfile all;
    if (auto error = scan_plans(plans, options, threads, progress, cancelled, all)) return *error;
    // The scan read slash dates month first until the whole export decided their order: where
    // it decides day first, the files are scanned again so, and the order stays a detected one.
    if (!options.day_first && all.state().used && all.state().settings) {
        const DateOrder order = decide_date_order(all.state());
        if (!order.refusal && order.day_first && *order.day_first) {
            ProfileOptions again = options;
            again.day_first = true;
            const auto settings_again = make_settings(again);
            plans.clear();
            for (std::size_t i = 0; i < paths.size(); ++i) {
                auto plan = plan_file(paths[i], i, *settings_again, 0);
                if (!plan) return plan.error();
                plans.push_back(std::move(plan).value());
            }
            all = PartialProfile();
            if (auto error = scan_plans(plans, again, threads, progress, cancelled, all))
                return *error;
            all.state().date_order_detected = true;
        }
    }
    return std::move(all).finalize(options.declared);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
