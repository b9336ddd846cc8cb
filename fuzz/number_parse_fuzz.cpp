// The plain-decimal road of to_double against the general parser: the same bits (or the same
// refusal) for every text and either decimal separator. And a value's decimals (signal health's
// resolution) against the rule as written with the library's nearbyint, for any value and from
// a plain cell's text.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

#include "export/cells.hpp"
#include "export/health.hpp"
#include "fuzz_check.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

std::uint8_t decimals_reference(double v) {
    static constexpr double kPow10[] = {1e0, 1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                        1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
    for (std::uint8_t k = 0; k < std::size(kPow10); ++k)
        if (std::nearbyint(v * kPow10[k]) / kPow10[k] == v) return k;
    return ep::HealthSample::kNoDecimals;
}

// [sign] digits [separator digits], at most 15 bytes: its decimals and trailing zeros among them.
bool plain_cell(std::string_view s, char decimal, unsigned& decimals, unsigned& zeros) {
    if (s.size() > 15) return false;
    std::size_t i = !s.empty() && (s[0] == '-' || s[0] == '+');
    bool digit = false, after = false;
    decimals = zeros = 0;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9') {
            digit = true;
            if (after) {
                ++decimals;
                zeros = s[i] == '0' ? zeros + 1 : 0;
            }
        } else if (s[i] == decimal && !after) {
            after = true;
        } else {
            return false;
        }
    }
    return digit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char decimal : {'.', ','}) {
        const auto fast = ep::to_double(text, decimal);
        const auto exact = ep::to_double_exact(text, decimal);
        check(fast.has_value() == exact.has_value());
        if (!fast) continue;
        check(std::memcmp(&*fast, &*exact, sizeof(double)) == 0);
        const double v = *fast == 0 ? 0.0 : *fast;
        check(ep::decimals_of(v) == decimals_reference(v));
        unsigned decimals = 0, zeros = 0;
        if (plain_cell(text, decimal, decimals, zeros))
            check(ep::decimals_of_plain(v, decimals, zeros) == decimals_reference(v));
    }
    if (size >= sizeof(double)) {  // any double, subnormals and huge ones included
        double v;
        std::memcpy(&v, data, sizeof v);
        check(ep::decimals_of(v) == decimals_reference(v));
    }
    return 0;
}
