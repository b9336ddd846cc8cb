// Cell classification: the one-word number test against the byte-by-byte definition, bad-state
// texts and quality flags.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "export/cells.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

namespace {

struct CellCase {
    const char* text;
    char decimal;
    bool number;
};

class NumberCells : public ::testing::TestWithParam<CellCase> {};

TEST_P(NumberCells, FollowTheGrammar) {
    const CellCase& c = GetParam();
    EXPECT_EQ(ep::is_number(c.text, c.decimal), c.number) << c.text;
    EXPECT_EQ(ep::is_number_slow(c.text, c.decimal), c.number) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, NumberCells,
    ::testing::Values(
        CellCase{"0", '.', true}, CellCase{"98.123", '.', true}, CellCase{"-1", '.', true},
        CellCase{"+.5", '.', true}, CellCase{"5.", '.', true}, CellCase{"1e5", '.', true},
        CellCase{"-2.5E-3", '.', true}, CellCase{"12345678", '.', true},
        CellCase{"123456789.5", '.', true}, CellCase{"1,5", ',', true}, CellCase{"1,5", '.', false},
        CellCase{"1.5", ',', false}, CellCase{"1,000.5", '.', false}, CellCase{"1.2.3", '.', false},
        CellCase{".", '.', false}, CellCase{"-", '.', false}, CellCase{"+-1", '.', false},
        CellCase{"1-", '.', false}, CellCase{"1e", '.', false}, CellCase{"e5", '.', false},
        CellCase{"0x10", '.', false}, CellCase{"inf", '.', false}, CellCase{"NaN", '.', false},
        CellCase{"1 2", '.', false}, CellCase{"12345678a", '.', false},
        CellCase{"\xd9\xa1", '.', false}));

TEST(NumberCells, OneWordTestAgreesWithTheByteLoop) {
    // Every text of up to three characters over an alphabet of the characters that matter,
    // placed at each end of an eight-byte window, as the scanner reads them.
    const std::string alphabet = "0159.,-+eE x\x80";
    std::string window(16, '7');
    for (std::size_t len = 1; len <= 3; ++len) {
        std::size_t total = 1;
        for (std::size_t k = 0; k < len; ++k) total *= alphabet.size();
        for (std::size_t code = 0; code < total; ++code) {
            std::string text;
            for (std::size_t k = 0, c = code; k < len; ++k, c /= alphabet.size())
                text.push_back(alphabet[c % alphabet.size()]);
            for (const std::string& pad :
                 {std::string(), std::string("12345").substr(0, 8 - len)}) {
                const std::string cell = pad + text;
                window.replace(0, cell.size(), cell);
                for (char decimal : {'.', ','}) {
                    const bool slow = ep::is_number_slow(cell, decimal);
                    const std::uint64_t word =
                        ep::cell_word(window.data(), cell.size(), window.data() + window.size());
                    EXPECT_EQ(ep::is_number_word(word, cell, decimal), slow) << cell;
                    EXPECT_EQ(ep::is_number(cell, decimal), slow) << cell;
                }
            }
        }
    }
}

TEST(BadStateTexts, AnyCaseTrimmedAndNothingElse) {
    for (std::string_view t : ep::bad_state_list()) {
        std::string upper(t), padded = "  " + std::string(t) + "\t";
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_GE(ep::bad_state_index(upper), 0) << t;
        EXPECT_GE(ep::bad_state_index(padded), 0) << t;
    }
    for (const char* other : {"OPEN", "CLOSED", "Running", "Bad Inputs", "I/O", "", "null value"})
        EXPECT_EQ(ep::bad_state_index(other), -1) << other;
}

TEST(QualityCells, DefaultAndDeclaredLists) {
    const std::vector<std::string> none, declared{"valid", " "};
    for (const char* good : {"", "Good", "GOOD", "g", "Ok", "192", " good "})
        EXPECT_TRUE(ep::is_good_quality(good, none)) << good;
    for (const char* bad : {"Bad", "0", "goods", "uncertain", "GooD!"})
        EXPECT_FALSE(ep::is_good_quality(bad, none)) << bad;
    EXPECT_TRUE(ep::is_good_quality("VALID", declared));
    EXPECT_TRUE(ep::is_good_quality("", declared));  // the declared list holds an empty text
    EXPECT_FALSE(ep::is_good_quality("Good", declared));
}

// Quality codes as tools write them, at the edges of 32 bits.
TEST(QualityCodes, SpellingsAndBounds) {
    using Code = std::optional<std::uint32_t>;
    const std::pair<const char*, Code> cases[] = {
        {"192", 192u},
        {" 192.0 ", 192u},
        {"192.000", 192u},
        {"0x000400C0", 0x000400C0u},
        {"0XffffFFFF", 0xFFFFFFFFu},
        {"-2147483648", 0x80000000u},
        {"-1", 0xFFFFFFFFu},
        {"4294967295", 0xFFFFFFFFu},
        {"4294967296", std::nullopt},
        {"-2147483649", std::nullopt},
        {"0x100000000", std::nullopt},
        {"192.5", std::nullopt},
        {"0x", std::nullopt},
        {"1e3", std::nullopt},
        {"Good", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, code] : cases) EXPECT_EQ(ep::quality_code(text), code) << text;
}

// One code under every convention: its verdict.
TEST(QualityCodes, VerdictPerConvention) {
    using C = ep::QualityConvention;
    using V = ep::QualityVerdict;
    const std::vector<std::string> none;
    struct Case {
        const char* text;
        C convention;
        V verdict;
    };
    const Case cases[] = {
        {"192", C::OpcDa, V::Good},
        {"216", C::OpcDa, V::Good},
        {"86", C::OpcDa, V::Uncertain},
        {"0", C::OpcDa, V::Bad},
        {"0x1C0", C::OpcDa, V::Bad},
        {"0x000400C0", C::OpcHda, V::Good},
        {"0x00020054", C::OpcHda, V::Uncertain},
        {"0x00040000", C::OpcHda, V::Bad},
        {"0", C::OpcUa, V::Good},
        {"0x00960000", C::OpcUa, V::Good},
        {"0x40000000", C::OpcUa, V::Uncertain},
        {"0x80000000", C::OpcUa, V::Bad},
        {"0xC0000000", C::OpcUa, V::Bad},
        {"0", C::ZeroGood, V::Good},
        {"192", C::ZeroGood, V::Bad},
        {"", C::ZeroGood, V::Good},
        {"Good", C::OpcDa, V::Good},
        {"192", C::Text, V::Good},
        {"uncertain", C::Text, V::Uncertain},
        {"Good (Local Override)", C::Text, V::Good},
        {"Goodish", C::Text, V::Bad},
        {"uncertainty", C::Text, V::Bad},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ep::quality_verdict(c.text, c.convention, none), c.verdict)
            << c.text << " under " << ep::name(c.convention);
}

}  // namespace
