#include "qorv_chemical_engineering_edge/fixed_point.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

using qorv_chemical_engineering_edge::text::format_fixed;

struct FixedCase {
    double value;
    int decimals;
    const char* expected;
};

class FixedPoint : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedPoint, RendersExactly) {
    const auto& c = GetParam();
    EXPECT_EQ(format_fixed(c.value, c.decimals), c.expected) << c.value << " / " << c.decimals;
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, FixedPoint,
    ::testing::Values(
        // Ties go to the even digit; 0.125 * 100 is exactly 12.5.
        FixedCase{12.5, 0, "12"}, FixedCase{13.5, 0, "14"}, FixedCase{0.125 * 100.0, 0, "12"},
        FixedCase{0.5, 0, "0"}, FixedCase{1.5, 0, "2"}, FixedCase{2.5, 0, "2"},
        // Rounding is from the exact binary value: 0.07 * 100 is 7.000000000000001 and
        // 2.675 is stored below the tie.
        FixedCase{0.07 * 100.0, 1, "7.0"}, FixedCase{2.675, 2, "2.67"},
        FixedCase{1.0 / 3600.0, 6, "0.000278"}, FixedCase{1000.0, 6, "1000.000000"},
        FixedCase{0.0, 2, "0.00"}, FixedCase{48.0, 1, "48.0"}, FixedCase{23.96, 1, "24.0"},
        FixedCase{99.95, 1, "100.0"},
        // Signs: negative zero keeps its sign.
        FixedCase{-0.0, 1, "-0.0"}, FixedCase{-20.0, 1, "-20.0"}, FixedCase{-1e-9, 2, "-0.00"},
        // Non-finite values ignore the decimals.
        FixedCase{kNaN, 6, "NaN"}, FixedCase{-kNaN, 0, "NaN"}, FixedCase{kInf, 2, "inf"},
        FixedCase{-kInf, 0, "-inf"},
        // Huge and tiny values are never written in exponent notation.
        FixedCase{1e20, 0, "100000000000000000000"}, FixedCase{5e-324, 6, "0.000000"}));

TEST(FixedPointLimits, HugeValuesAreWrittenInFull) {
    const std::string huge = format_fixed(1e300, 1);
    EXPECT_EQ(huge.size(), 301u + 2u);
    EXPECT_EQ(huge.substr(0, 17), "10000000000000000");  // 1e300 is not exactly 10^300
    EXPECT_EQ(huge.substr(huge.size() - 2), ".0");
    EXPECT_EQ(huge.find('e'), std::string::npos);

    const std::string largest = format_fixed(-std::numeric_limits<double>::max(), 6);
    EXPECT_EQ(largest.size(), 1u + 309u + 1u + 6u);
    EXPECT_EQ(largest.substr(0, 6), "-17976");
    // The widest text there is: the most decimals on the largest magnitude.
    const std::string widest = format_fixed(-std::numeric_limits<double>::max(), 99);
    EXPECT_EQ(widest.size(), 1u + 309u + 1u + 17u);
    EXPECT_EQ(widest.substr(widest.size() - 18), "." + std::string(17, '0'));
}

}  // namespace

namespace {

// The fast exact path must agree with the general exact formatter on every kind of double:
// random bit patterns, values near rounding ties, and integers.
TEST(FixedPointAgreement, MatchesTheGeneralFormatter) {
    std::uint64_t state = 0x9e3779b97f4a7c15u;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    auto reference = [](double value, int decimals) {
        char buffer[400];
        auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed,
                               decimals);
        return std::string(buffer, r.ptr);
    };
    for (int i = 0; i < 300000; ++i) {
        const std::uint64_t bits = next();
        double value;
        switch (i % 3) {
            case 0:  // any finite double
                value = std::bit_cast<double>(bits);
                if (!std::isfinite(value)) continue;
                break;
            case 1:  // ordinary magnitudes, where messages live
                value = static_cast<double>(static_cast<std::int64_t>(bits >> 11) - (1LL << 52)) /
                        static_cast<double>(1ULL << (bits % 60));
                break;
            default:  // exact ties at some decimal: k / 2^j
                value =
                    std::ldexp(static_cast<double>(bits % 100000), -static_cast<int>(bits % 24));
        }
        for (int decimals = 0; decimals <= 6; ++decimals) {
            ASSERT_EQ(format_fixed(value, decimals), reference(value, decimals))
                << std::hexfloat << value << " / " << decimals;
        }
    }
}

}  // namespace
