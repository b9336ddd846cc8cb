// Grades a profile and judges one unit pairing with the installed core; prints what it found.
#include <cstdio>

#include "qorv_chemical_engineering_edge/data_readiness.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency.hpp"

int main() {
    namespace readiness = qorv_chemical_engineering_edge::data_readiness;
    namespace units = qorv_chemical_engineering_edge::unit_consistency;
    const auto court = readiness::IndustrialDataReadinessCourtV1::grade({.n_tags = 10,
                                                                         .n_rows = 1000,
                                                                         .baseline_present = true,
                                                                         .license_cleared = true,
                                                                         .missingness = 0.05,
                                                                         .unit_coverage = 0.95});
    const auto hazard = units::name(units::classify("kPa", "Pa"));
    std::printf("%s %s %.*s\n", court.verdict.c_str(), court.court_hash.c_str(),
                static_cast<int>(hazard.size()), hazard.data());
    return court.court_hash.size() == 64 ? 0 : 1;
}
