// When two scales or offsets of the unit court count as the same.
#pragma once

#include <algorithm>
#include <cmath>

namespace qorv_chemical_engineering_edge::unit_consistency {

// Equal within 1e-9 absolute near zero and 1e-9 relative for large magnitudes; false when
// either value is NaN. The order of operations (larger magnitude, plus one, times 1e-9, then
// compare) is fixed so that boundary cases decide the same way on every build.
inline bool approx_equal(double x, double y) noexcept {
    const double bound = (std::max(std::fabs(x), std::fabs(y)) + 1.0) * 1e-9;
    return std::fabs(x - y) <= bound;
}

}  // namespace qorv_chemical_engineering_edge::unit_consistency
