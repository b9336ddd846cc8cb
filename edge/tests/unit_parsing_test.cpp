// Unit normalisation, the unit table and dimension tags.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "qorv_chemical_engineering_edge/unit_consistency.hpp"
#include "units/unit_v1_vocabulary.hpp"

namespace uc = qorv_chemical_engineering_edge::unit_consistency;
using uc::CompositionBasis;
using uc::Dimension;
using uc::parse_unit;
using namespace std::string_literals;

namespace {

constexpr auto Pure = CompositionBasis::Pure;
constexpr auto Mass = CompositionBasis::MassFraction;
constexpr auto Mole = CompositionBasis::MoleFraction;

struct Entry {
    std::vector<std::string_view> forms;
    Dimension dim;
    double scale;
    double offset;
    CompositionBasis basis;
};

// The accepted forms, written out from the engineering reference values rather than derived from
// the library's own table. Dimension order: M, L, T, Θ, N.
constexpr Dimension kTheta{0, 0, 0, 1, 0}, kPa{1, -1, -2, 0, 0}, kMassFlow{1, 0, -1, 0, 0},
    kMolarFlow{0, 0, -1, 0, 1}, kVolFlow{0, 3, -1, 0, 0}, kHz{0, 0, -1, 0, 0},
    kWatt{1, 2, -3, 0, 0}, kKg{1, 0, 0, 0, 0}, kM{0, 1, 0, 0, 0}, kM3{0, 3, 0, 0, 0}, kOne{};

const std::vector<Entry> kEntries{
    {{"k", "kelvin"}, kTheta, 1, 0, Pure},
    {{"c", "degc", "celsius"}, kTheta, 1, 273.15, Pure},
    {{"f", "degf", "fahrenheit"}, kTheta, 0.5555555555555556, 255.3722222222222, Pure},
    {{"pa"}, kPa, 1, 0, Pure},
    {{"kpa"}, kPa, 1000, 0, Pure},
    {{"bar"}, kPa, 100000, 0, Pure},
    {{"mbar"}, kPa, 100, 0, Pure},
    {{"psi", "psig"}, kPa, 6894.757, 0, Pure},
    {{"atm"}, kPa, 101325, 0, Pure},
    {{"kg/s"}, kMassFlow, 1, 0, Pure},
    {{"kg/h", "kg/hr"}, kMassFlow, 0.0002777777777777778, 0, Pure},
    {{"g/s"}, kMassFlow, 0.001, 0, Pure},
    {{"t/h", "tonne/h"}, kMassFlow, 0.2777777777777778, 0, Pure},
    {{"kg/min"}, kMassFlow, 0.016666666666666666, 0, Pure},
    {{"mol/s"}, kMolarFlow, 1, 0, Pure},
    {{"mol/h"}, kMolarFlow, 0.0002777777777777778, 0, Pure},
    {{"kmol/h"}, kMolarFlow, 0.2777777777777778, 0, Pure},
    {{"mol/min"}, kMolarFlow, 0.016666666666666666, 0, Pure},
    {{"m3/s"}, kVolFlow, 1, 0, Pure},
    {{"m3/h"}, kVolFlow, 0.0002777777777777778, 0, Pure},
    {{"l/s"}, kVolFlow, 0.001, 0, Pure},
    {{"l/min", "lpm"}, kVolFlow, 1.6666666666666667e-05, 0, Pure},
    {{"l/h", "lph"}, kVolFlow, 2.7777777777777776e-07, 0, Pure},
    {{"gpm"}, kVolFlow, 6.30902e-05, 0, Pure},
    {{"hz", "1/s", "s-1"}, kHz, 1, 0, Pure},
    {{"1/min"}, kHz, 0.016666666666666666, 0, Pure},
    {{"1/h"}, kHz, 0.0002777777777777778, 0, Pure},
    {{"w", "j/s"}, kWatt, 1, 0, Pure},
    {{"kw"}, kWatt, 1000, 0, Pure},
    {{"kj/min"}, kWatt, 16.666666666666668, 0, Pure},
    {{"j/min"}, kWatt, 0.016666666666666666, 0, Pure},
    {{"kg"}, kKg, 1, 0, Pure},
    {{"g"}, kKg, 0.001, 0, Pure},
    {{"m"}, kM, 1, 0, Pure},
    {{"cm"}, kM, 0.01, 0, Pure},
    {{"mm"}, kM, 0.001, 0, Pure},
    {{"m3"}, kM3, 1, 0, Pure},
    {{"l", "liter", "litre"}, kM3, 0.001, 0, Pure},
    {{"", "-", "ratio", "dimensionless"}, kOne, 1, 0, Pure},
    {{"%"}, kOne, 0.01, 0, Pure},
    {{"wt%", "wt_pct", "mass%"}, kOne, 0.01, 0, Mass},
    {{"kg/kg", "mass_frac", "massfraction"}, kOne, 1, 0, Mass},
    {{"mol%", "mole%"}, kOne, 0.01, 0, Mole},
    {{"mol/mol", "mole_frac", "molefraction"}, kOne, 1, 0, Mole},
};

const Entry* entry_of(std::string_view form) {
    for (const Entry& e : kEntries) {
        if (std::find(e.forms.begin(), e.forms.end(), form) != e.forms.end()) return &e;
    }
    return nullptr;
}

void expect_unit(std::string_view input, std::string_view form) {
    SCOPED_TRACE("input '" + std::string(input) + "', form '" + std::string(form) + "'");
    const Entry* want = entry_of(form);
    ASSERT_NE(want, nullptr);
    const std::optional<uc::ParsedUnit> got = parse_unit(input);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->dim, want->dim);
    EXPECT_EQ(got->scale, want->scale);  // exact: the table holds these very doubles
    EXPECT_EQ(got->offset, want->offset);
    EXPECT_EQ(got->basis, want->basis);
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

TEST(UnitTable, EveryFormParsesToItsEntryWhateverTheDecoration) {
    std::size_t n = 0;
    for (const Entry& e : kEntries) {
        for (std::string_view form : e.forms) {
            const std::string f(form);
            // Built with append: GCC 12 warns falsely (-Wrestrict) on literal + string at -O3.
            const auto decorated = [&](std::string_view before, const std::string& text,
                                       std::string_view after) {
                return std::string(before).append(text).append(after);
            };
            for (const std::string& input :
                 {f, upper(f), decorated(" \t", f, "\u3000\n"), decorated("\u00B0\u00B0", f, ""),
                  decorated("^", upper(f), "^")}) {
                expect_unit(input, form);
            }
            ++n;
        }
    }
    EXPECT_EQ(n, 69u);
}

TEST(UnitTable, HoldsNoFormBeyondTheReference) {
    std::set<std::string_view> forms;
    for (const auto& entry : uc::unit_vocabulary::entries()) {
        for (std::string_view form : entry.forms.view()) {
            EXPECT_TRUE(forms.insert(form).second) << "duplicate form '" << form << "'";
            EXPECT_NE(entry_of(form), nullptr) << "unexpected form '" << form << "'";
        }
    }
    EXPECT_EQ(uc::unit_vocabulary::entries().size(), kEntries.size());
    EXPECT_EQ(forms.size(), 69u);
}

TEST(ParseUnit, NormalisesInOrder) {
    // Carets go before leading degree signs are stripped, so "^°C" is degrees Celsius; the
    // length limit applies to the normalised text ("dimension^less" is 14 bytes before).
    // clang-format off
    const std::pair<std::string, std::string_view> cases[] = {
        {"  \u00B0C ", "c"}, {"\u00B0\u00B0C", "c"}, {"^\u00B0C", "c"}, {"\u00B0^\u00B0c", "c"},
        {" \u00B0kg", "kg"}, {"DEGF", "degf"}, {"Fahrenheit", "fahrenheit"}, {"K", "k"},
        {"\u212A", "k"}, {"\u212Ag/\u212Ag", "kg/kg"}, {"\u212AELVIN", "kelvin"},
        {"m^3/h", "m3/h"}, {"s^-1", "s-1"}, {"^^m^^3^", "m3"}, {"kW", "kw"}, {"KW", "kw"},
        {"PA", "pa"}, {"dimension^less", "dimensionless"},
        {"^^^^^^^^^^^^^^^^DIMENSIONLESS", "dimensionless"}, {"", ""}, {" \t\n\v\f\r", ""},
        {"\u00B0", ""}, {"^", ""}, {"^\u00B0", ""}, {"\u0085kg\u00A0", "kg"},
        {"\u1680kg\u2000", "kg"}, {"\u200Akg\u2028", "kg"}, {"\u2029kg\u202F", "kg"},
        {"\u205Fkg\u3000", "kg"}};
    // clang-format on
    for (const auto& [input, form] : cases) expect_unit(input, form);
}

TEST(ParseUnit, RefusesNearMisses) {
    // A blank that the stripped degree sign or the removed caret brings to the front stays, as
    // does inner white space; only leading degree signs go; no prefix of a form and no prefixed
    // or derived unit matches; ZERO WIDTH SPACE and U+180E are not white space; U+0130
    // lower-cases to "i" plus a combining dot; "kk" comes from two KELVIN SIGNs.
    const std::string refused[] = {
        "\u00B0 C", "\u00B0\u00A0C", "^ kg", "deg\u00B0c", "kg\u00B0", "C\u00B0", "k g", "kg/h2",
        "m\u00B3/h", "kmol/s", "ton/h", "m3/min", "mass_fraction", "mole_fraction", "degk", "kpag",
        "1", "s", "h", "min", "mol", "n", "\u212A\u212A", "dimensionlesss", "kg\0"s, "\0kg"s, "\0"s,
        "\u200Bkg", "\u180Ekg", "\u0130",
        // Invalid UTF-8: stray, truncated and overlong sequences, lone lead bytes at either end.
        "\xE2", "\xC2", "kg\xE2", "\xE2kg", "kg\xC2", "\xC2kg", "\x80kg", "kg\x80", "\xE2\x84",
        "\xE2\x84\xAA\x80", "\x80\xE2\x84\xAA", "kg\xE2\xE2\x80\x80", "\xC0\xA0kg", "\xB0kg",
        "\xC2^\xB0kg", "\xE2^\x84\xAA"};
    for (const std::string& s : refused) {
        EXPECT_FALSE(parse_unit(s).has_value()) << "'" << s << "' (" << s.size() << " bytes)";
    }
}

// Parses a copy of `bytes` in an allocation of exactly that size, so that a sanitizer build
// reports any read outside it.
bool parses_alone(std::string_view bytes) {
    const auto copy = std::make_unique<char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return parse_unit(std::string_view(copy.get(), bytes.size())).has_value();
}

TEST(ParseUnit, NeverReadsOutsideTheText) {
    // Each view is cut from a text that parses; the bytes on the far side of the cut would
    // complete a KELVIN SIGN, a white-space character or a degree sign, so a read across the
    // cut would accept the view.
    const std::pair<std::string, std::size_t> heads[] = {
        {"\u212A", 1},   {"\u212A", 2},   {"kg\u2000", 3},
        {"kg\u2000", 4}, {"kg\u00A0", 3}, {"\u00B0kg", 1},
    };
    for (const auto& [text, length] : heads) {
        ASSERT_TRUE(parse_unit(text));
        EXPECT_FALSE(parse_unit(std::string_view(text).substr(0, length))) << text << length;
        EXPECT_FALSE(parses_alone(std::string_view(text).substr(0, length))) << text << length;
    }
    const std::pair<std::string, std::size_t> tails[] = {
        {"\u2000kg", 1}, {"\u2000kg", 2}, {"\u00A0kg", 1}, {"\u00B0kg", 1},
        {"\u2000", 1},   {"\u2000", 2},   {"\u3000", 2},
    };
    for (const auto& [text, start] : tails) {
        ASSERT_TRUE(parse_unit(text));
        EXPECT_FALSE(parse_unit(std::string_view(text).substr(start))) << text << start;
        EXPECT_FALSE(parses_alone(std::string_view(text).substr(start))) << text << start;
    }
}

TEST(DimensionTag, RendersExponentsInFieldOrder) {
    // clang-format off
    const std::pair<Dimension, std::string_view> cases[] = {
        {kTheta, "\u0398"}, {kPa, "ML^-1T^-2"}, {kMassFlow, "MT^-1"}, {kMolarFlow, "T^-1N"},
        {kVolFlow, "L^3T^-1"}, {kHz, "T^-1"}, {kWatt, "ML^2T^-3"}, {kKg, "M"}, {kM, "L"},
        {kM3, "L^3"}, {kOne, "1"}, {{1, 1, 1, 1, 1}, "MLT\u0398N"}, {{0, 0, 0, -1, 0}, "\u0398^-1"},
        {{0, 0, 0, 2, -3}, "\u0398^2N^-3"}, {{10, -10, 0, 0, 0}, "M^10L^-10"},
        {{-128, 127, 100, -99, 0}, "M^-128L^127T^100\u0398^-99"}};
    // clang-format on
    for (const auto& [dim, tag] : cases) EXPECT_EQ(dim.tag(), tag);
}

}  // namespace
