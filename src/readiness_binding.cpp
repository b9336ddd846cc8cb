#include "readiness_binding.hpp"

namespace qorv_chemical_engineering_py {

bool convert_readiness_profile(
    const PyRef (&s)[kReadinessParameters.size()],
    qorv_chemical_engineering_edge::data_readiness::ReadinessProfile& p) {
    const auto& n = kReadinessParameters;
    return convert_argument(s[0], n[0], p.n_tags) && convert_argument(s[1], n[1], p.n_rows) &&
           convert_argument(s[2], n[2], p.baseline_present) &&
           convert_argument(s[3], n[3], p.license_cleared) &&
           convert_argument(s[4], n[4], p.missingness) &&
           convert_argument(s[5], n[5], p.unit_coverage) &&
           convert_argument(s[6], n[6], p.duplicate_timestamps) &&
           convert_argument(s[7], n[7], p.time_span_hours) &&
           convert_argument(s[8], n[8], p.sampling_regular) &&
           convert_argument(s[9], n[9], p.has_controllers) &&
           convert_argument(s[10], n[10], p.has_maintenance) &&
           convert_argument(s[11], n[11], p.has_batches) &&
           convert_argument(s[12], n[12], p.has_lab_samples);
}

}  // namespace qorv_chemical_engineering_py
