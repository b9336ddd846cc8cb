// The unit grammar of the second court.
//
//   unit    := factor { ('*' | '.' | ' ' | '/' | implicit before '(') factor }
//   factor  := '(' unit ')' [power] | '1' | atom [mark] [power]
//   power   := digits | ('^' | '**') ['+' | '-'] digits | '-' digits   (m3, m^3, s^-1, s-1)
//   mark    := a gauge or absolute mark on a pressure ("barg", "bar g", "kPa(a)"), or a basis
//              mark on an unstated fraction ("ppmv", "ppm(w)", "% v/v")
//
// Everything after a '/' stays in the denominator until the text or the group ends: "kJ/kg K"
// and "W/m2/K" are kJ/(kg*K) and W/(m2*K), as plant engineers mean them. An atom is read
// exact first, then case-insensitively when exactly one unit fits. A degree scale keeps its
// offset only when it stands alone; inside a compound ("kJ/(kg*degC)") it is an interval.
// Nesting is bounded by kMaxNesting (so recursion depth is too) and atoms by kMaxAtoms.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "units/unit_v2_parsing.hpp"
#include "units/unit_v2_vocabulary.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency_v2::detail {
namespace {

using vocabulary::kNoPrefix;
using vocabulary::kPrefixes;
using vocabulary::Reading;
using vocabulary::Role;
using vocabulary::UnitDef;

constexpr int kMaxExponent = 99;

constexpr DimensionV2 kPressureDim{1, -1, -2, 0, 0, 0};
constexpr DimensionV2 kMassDim{1, 0, 0, 0, 0, 0};
constexpr DimensionV2 kAmountDim{0, 0, 0, 0, 1, 0};
constexpr DimensionV2 kLengthDim{0, 1, 0, 0, 0, 0};

bool is_letter(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}
bool is_word(char c) noexcept {
    return is_letter(c) || is_digit(c) || c == '%' || c == '_';
}

bool equal_folded(std::string_view x, std::string_view y) noexcept {
    return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [](char a, char b) {
               const auto la = (a >= 'A' && a <= 'Z') ? a - 'A' + 'a' : a;
               const auto lb = (b >= 'A' && b <= 'Z') ? b - 'A' + 'a' : b;
               return la == lb;
           });
}

struct Mark {
    std::string_view word;
    PressureReference pressure = PressureReference::None;
    FractionBasis basis = FractionBasis::None;
};

// Marks written apart from the unit ("bar g", "ppm (v/v)"); case never matters in them.
constexpr std::array<Mark, 20> kMarks{{
    {"g", PressureReference::Gauge},
    {"gauge", PressureReference::Gauge},
    {"gage", PressureReference::Gauge},
    {"a", PressureReference::Absolute},
    {"abs", PressureReference::Absolute},
    {"absolute", PressureReference::Absolute},
    {"w", PressureReference::None, FractionBasis::Mass},
    {"wt", PressureReference::None, FractionBasis::Mass},
    {"mass", PressureReference::None, FractionBasis::Mass},
    {"w/w", PressureReference::None, FractionBasis::Mass},
    {"v", PressureReference::None, FractionBasis::Volume},
    {"vol", PressureReference::None, FractionBasis::Volume},
    {"volume", PressureReference::None, FractionBasis::Volume},
    {"v/v", PressureReference::None, FractionBasis::Volume},
    {"vol/vol", PressureReference::None, FractionBasis::Volume},
    {"mol", PressureReference::None, FractionBasis::Mole},
    {"mole", PressureReference::None, FractionBasis::Mole},
    {"molar", PressureReference::None, FractionBasis::Mole},
    {"mol/mol", PressureReference::None, FractionBasis::Mole},
    {"n", PressureReference::None, FractionBasis::Mole},
}};

// Marks written onto the unit ("psig", "bara", "ppmv", "%wt").
constexpr std::array<std::string_view, 8> kAttachedMarks{"g",  "a", "abs", "w",
                                                         "wt", "v", "vol", "mol"};

const Mark* find_mark(std::string_view word) noexcept {
    for (const Mark& mark : kMarks) {
        if (equal_folded(mark.word, word)) return &mark;
    }
    return nullptr;
}

// Whether a unit takes a mark of this kind: a pressure a gauge/absolute mark, an unstated
// fraction a basis mark.
bool takes(const UnitDef& def, const Mark& mark) noexcept {
    if (mark.pressure != PressureReference::None) return def.role == Role::Pressure;
    return def.role == Role::Fraction && def.basis == FractionBasis::Unstated;
}

// Words that join the next word: "deg C" is "degC", "wt %" is "wt%", "US gpm" is "USgpm" (not
// microsiemens times gallons a minute).
constexpr std::array<std::pair<std::string_view, std::string_view>, 13> kJoiners{{
    {"deg", "deg"},
    {"degree", "deg"},
    {"degrees", "deg"},
    {"wt", "wt"},
    {"weight", "wt"},
    {"vol", "vol"},
    {"volume", "vol"},
    {"mol", "mol"},
    {"mole", "mol"},
    {"mass", "mass"},
    {"us", "us"},
    {"imp", "imp"},
    {"uk", "uk"},
}};

// No default values: the parser's array of atoms is written before it is read.
struct Atom {
    std::uint16_t unit;
    std::uint8_t prefix;
    int exponent;
    PressureReference pressure;
    FractionBasis basis;
};

enum class Found : std::uint8_t { None, One, Ambiguous };

struct Resolution {
    Found found = Found::None;
    std::array<Reading, vocabulary::kMaxReadings> readings;
    int n = 0;
    PressureReference pressure = PressureReference::None;
    FractionBasis basis = FractionBasis::None;
};

// Reads one word as a prefixed unit, then as a unit with an attached mark. Refused spellings
// ("ton") count only when `refusals` is set: "M3" is not the refused "M" cubed. Written into
// the caller's record: returning it by value measured slower (the copy showed as a stall).
void resolve_word(std::string_view word, bool fold, bool refusals, Resolution& r) noexcept {
    const auto all = vocabulary::units();
    r.found = Found::None;
    r.n = 0;
    r.pressure = PressureReference::None;
    r.basis = FractionBasis::None;
    std::array<Reading, vocabulary::kMaxReadings> raw;
    const int n = vocabulary::read_atom(word, fold, raw);
    for (int k = 0; k < std::min(n, vocabulary::kMaxReadings); ++k) {
        if (!refusals && all[raw[k].unit].role == Role::Ambiguous) continue;
        r.readings[r.n++] = raw[k];
    }
    if (n > vocabulary::kMaxReadings) r.n = n;  // more than kept: ambiguous all the same
    if (r.n == 0) {
        for (std::string_view suffix : kAttachedMarks) {
            if (word.size() <= suffix.size()) continue;
            const std::string_view stem = word.substr(0, word.size() - suffix.size());
            if (!equal_folded(word.substr(stem.size()), suffix)) continue;
            const Mark* mark = find_mark(suffix);
            const int m = vocabulary::read_atom(stem, fold, raw);
            for (int k = 0; k < std::min(m, vocabulary::kMaxReadings); ++k) {
                if (!takes(all[raw[k].unit], *mark) || r.n == vocabulary::kMaxReadings) continue;
                r.readings[r.n++] = raw[k];
                r.pressure = mark->pressure;
                r.basis = mark->basis;
            }
        }
    }
    if (r.n == 1) {
        r.found = all[r.readings[0].unit].role == Role::Ambiguous ? Found::Ambiguous : Found::One;
    } else if (r.n > 1) {
        r.found = Found::Ambiguous;
    }
}

// The pieces are a few bytes each: copied inline rather than through a library call.
void append_short(std::string& out, std::string_view piece) {
    for (char c : piece) out.push_back(c);
}

void append_reading(std::string& out, const Reading& reading) {
    if (reading.prefix != kNoPrefix) append_short(out, kPrefixes[reading.prefix].text);
    append_short(out, vocabulary::units()[reading.unit].canonical);
}

class Parser {
  public:
    Parser(std::string_view text, std::string* why) : s_(text), why_(why) {}

    bool parse_all() {
        if (!group(0)) return false;
        if (pos_ < s_.size()) return fail_at("unexpected ')'");
        return true;
    }

    std::span<const Atom> atoms() const noexcept { return {atoms_.data(), count_}; }

  private:
    char peek(std::size_t ahead = 0) const noexcept {
        return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0';
    }

    bool fail(std::initializer_list<std::string_view> pieces) {
        if (why_ != nullptr) {
            why_->clear();
            for (std::string_view piece : pieces) why_->append(piece);
        }
        return false;
    }

    bool fail_at(std::string_view what) {
        if (why_ == nullptr) return false;
        return fail({what, " at character ", std::to_string(pos_ + 1), " of '", s_, "'"});
    }

    bool group(int depth) {
        int sign = 1;
        for (;;) {
            if (!factor(sign, depth)) return false;
            const char c = peek();
            if (c == '\0' || c == ')') return true;
            if (c == '/') {
                sign = -1;
                ++pos_;
            } else if (c == '*' || c == '.' || c == ' ') {
                ++pos_;
            } else if (c != '(' && !is_word(c)) {
                return fail_at("unexpected character");
            }
            // A word right after a word's digits ("m2K") or a '(' is an implicit product.
        }
    }

    bool factor(int sign, int depth) {
        const std::size_t first = count_;
        const char c = peek();
        if (c == '(') {
            if (depth + 1 > kMaxNesting) {
                return fail({"parentheses nested deeper than ", std::to_string(kMaxNesting)});
            }
            ++pos_;
            if (!group(depth + 1)) return false;
            if (peek() != ')') return fail_at("missing ')'");
            ++pos_;
            int power = 1;
            if (!exponent(power)) return false;
            return scale_exponents(first, power * sign);
        }
        if (c == '1' && !is_digit(peek(1))) {
            ++pos_;  // the numerator of "1/s"; a pure number
            return true;
        }
        if (c == '\0' || !is_word(c)) return fail_at("expected a unit");
        if (is_digit(c)) return fail_at("a number is not a unit");
        if (!atom()) return false;
        return scale_exponents(first, sign);
    }

    // Multiplies the exponents of the atoms read since `first` by `by`, within bounds.
    bool scale_exponents(std::size_t first, int by) {
        for (std::size_t k = first; k < count_; ++k) {
            atoms_[k].exponent *= by;
            if (std::abs(atoms_[k].exponent) > kMaxExponent) return fail({"exponent too large"});
        }
        return true;
    }

    // An optional power after a unit or a group.
    bool exponent(int& power) {
        const std::size_t start = pos_;
        int sign = 1;
        if (peek() == '^' || (peek() == '*' && peek(1) == '*')) {
            pos_ += peek() == '^' ? 1 : 2;
            if (peek() == '-' || peek() == '+') {
                sign = peek() == '-' ? -1 : 1;
                ++pos_;
            }
            if (!is_digit(peek())) return fail_at("expected digits after '^'");
        } else if (peek() == '-' && is_digit(peek(1))) {
            sign = -1;
            ++pos_;
        } else if (!is_digit(peek())) {
            return true;
        }
        int value = 0;
        while (is_digit(peek())) {
            value = value * 10 + (peek() - '0');
            ++pos_;
            if (pos_ - start > 4) return fail({"exponent too large"});
        }
        if (value == 0) return fail_at("a zero exponent");
        power = sign * value;
        return true;
    }

    std::size_t word_end(std::size_t from) const noexcept {
        while (from < s_.size() && is_word(s_[from])) ++from;
        return from;
    }

    bool push(const Reading& reading, int power, PressureReference pressure, FractionBasis basis) {
        if (count_ == kMaxAtoms) {
            return fail({"more than ", std::to_string(kMaxAtoms), " units multiplied together"});
        }
        atoms_[count_++] = Atom{reading.unit, reading.prefix, power, pressure, basis};
        return true;
    }

    bool refuse(std::string_view word, const Resolution& r) {
        if (why_ == nullptr) return false;
        const auto all = vocabulary::units();
        for (int k = 0; k < std::min(r.n, vocabulary::kMaxReadings); ++k) {
            const UnitDef& def = all[r.readings[k].unit];
            if (def.role == Role::Ambiguous)
                return fail({"'", word, "' is ambiguous: ", def.ambiguity});
        }
        std::string readings;
        for (int k = 0; k < std::min(r.n, vocabulary::kMaxReadings); ++k) {
            if (k > 0) readings.append(k + 1 == r.n ? " or " : ", ");
            append_reading(readings, r.readings[k]);
        }
        return fail({"'", word, "' is ambiguous: it could be ", readings,
                     "; write the unit in its exact case"});
    }

    // One atom: a phrase, a joined pair of words, a whole word, or the letters and digits
    // that start a word (the rest of the word is read as the next factor).
    bool atom() {
        const std::size_t start = pos_;
        const std::size_t end = word_end(start);
        const std::string_view word = s_.substr(start, end - start);
        const bool phrase_possible = end < s_.size() && (s_[end] == '/' || s_[end] == '^') &&
                                     vocabulary::may_start_phrase(word[0]);
        const bool joinable = end < s_.size() && (s_[end] == ' ' || s_[end] == '.');

        for (bool fold : {false, true}) {
            if (phrase_possible) {
                if (const int read = phrase(fold); read != 0) return read > 0;
            }
            if (joinable) {
                if (const int joined = join(word, end, fold); joined != 0) return joined > 0;
            }
            // No spelling ends in a digit, so "m3" is read as "m" and its power at once.
            Resolution r;
            if (!is_digit(word.back())) resolve_word(word, fold, true, r);
            std::size_t letters_end = end;
            if (r.found == Found::None) {
                letters_end = start;
                while (letters_end < end && !is_digit(s_[letters_end])) ++letters_end;
                // Digits follow, so a refused spelling ("M") is not read: "M3" is m3.
                if (letters_end < end) {
                    resolve_word(s_.substr(start, letters_end - start), fold, false, r);
                }
            }
            if (r.found == Found::Ambiguous) {
                return refuse(s_.substr(start, letters_end - start), r);
            }
            if (r.found == Found::One) {
                pos_ = letters_end;
                return finish_atom(r.readings[0], r.pressure, r.basis);
            }
        }
        if (why_ == nullptr) return false;
        return fail({"'", word, "' is not a known unit"});
    }

    // The mark written apart, then the power, then the atom itself.
    bool finish_atom(const Reading& reading, PressureReference pressure, FractionBasis basis) {
        const UnitDef& def = vocabulary::units()[reading.unit];
        if (pressure == PressureReference::None && basis == FractionBasis::None) {
            separate_mark(def, pressure, basis);
        }
        int power = 1;
        if (!exponent(power)) return false;
        return push(reading, power, pressure, basis);
    }

    void separate_mark(const UnitDef& def, PressureReference& pressure, FractionBasis& basis) {
        const bool markable = def.role == Role::Pressure ||
                              (def.role == Role::Fraction && def.basis == FractionBasis::Unstated);
        if (!markable) return;
        std::size_t p = pos_;
        if (p < s_.size() && (s_[p] == ' ' || s_[p] == '-')) ++p;
        std::size_t word_begin = p;
        std::size_t word_stop = p;
        std::size_t after = p;
        if (p < s_.size() && s_[p] == '(') {
            word_begin = p + 1;
            word_stop = word_begin;
            while (word_stop < s_.size() && (is_letter(s_[word_stop]) || s_[word_stop] == '/')) {
                ++word_stop;
            }
            if (word_stop >= s_.size() || s_[word_stop] != ')') return;
            after = word_stop + 1;
        } else {
            if (p == pos_) return;  // a mark stands apart: "bar g", "bar-g"
            while (word_stop < s_.size() && (is_letter(s_[word_stop]) || s_[word_stop] == '/')) {
                ++word_stop;
            }
            after = word_stop;
            if (after < s_.size() && is_word(s_[after])) return;
        }
        const Mark* mark = find_mark(s_.substr(word_begin, word_stop - word_begin));
        if (mark == nullptr || !takes(def, *mark)) return;
        pressure = mark->pressure;
        basis = mark->basis;
        pos_ = after;
    }

    // 1 when a phrase was read, -1 when it was read but its power was refused, 0 when none.
    int phrase(bool fold) {
        const vocabulary::PhraseMatch match = vocabulary::match_phrase(s_.substr(pos_), fold);
        if (match.length == 0) return 0;
        const std::size_t tail_end = word_end(pos_ + match.length);
        const std::string_view tail =
            s_.substr(pos_ + match.length, tail_end - pos_ - match.length);
        const UnitDef& def = vocabulary::units()[match.unit];
        PressureReference pressure = PressureReference::None;
        FractionBasis basis = FractionBasis::None;
        if (!tail.empty()) {
            const Mark* mark = find_mark(tail);
            if (mark == nullptr || !takes(def, *mark)) return 0;
            pressure = mark->pressure;
            basis = mark->basis;
        }
        pos_ = tail_end;
        return finish_atom(Reading{match.unit, kNoPrefix}, pressure, basis) ? 1 : -1;
    }

    // 1 when a joined pair was read, -1 when it was refused as ambiguous, 0 when no join.
    int join(std::string_view word, std::size_t end, bool fold) {
        std::string_view stem;
        for (const auto& [written, joined] : kJoiners) {
            if (equal_folded(word, written)) stem = joined;
        }
        if (stem.empty()) return 0;
        std::size_t next = end + 1;
        if (next < s_.size() && s_[next] == ' ') ++next;
        const std::size_t next_end = word_end(next);
        if (next_end == next) return 0;
        char buffer[kNormalisedCap];
        const std::string_view second = s_.substr(next, next_end - next);
        if (stem.size() + second.size() > sizeof buffer) return 0;
        std::copy(stem.begin(), stem.end(), buffer);
        std::copy(second.begin(), second.end(), buffer + stem.size());
        const std::string_view together(buffer, stem.size() + second.size());
        Resolution r;
        resolve_word(together, fold, true, r);
        if (r.found == Found::None) return 0;
        if (r.found == Found::Ambiguous) return refuse(together, r) ? 1 : -1;
        pos_ = next_end;
        return finish_atom(r.readings[0], r.pressure, r.basis) ? 1 : -1;
    }

    std::string_view s_;
    std::string* why_;
    std::size_t pos_ = 0;
    std::array<Atom, kMaxAtoms> atoms_;
    std::size_t count_ = 0;
};

// x^n for a small integer n, by repeated squaring (exact for the powers of ten of prefixes
// as far as doubles allow, and the same on every build, unlike std::pow).
double power_of(double x, int n) noexcept {
    if (n == 1) return x;  // the common cases, without a loop
    if (n == -1) return 1.0 / x;
    double result = 1.0;
    double base = n < 0 ? 1.0 / x : x;
    for (unsigned m = static_cast<unsigned>(n < 0 ? -n : n); m != 0; m >>= 1) {
        if ((m & 1u) != 0) result *= base;
        base *= base;
    }
    return result;
}

void append_atom(std::string& out, const Atom& atom, int exponent) {
    append_reading(out, Reading{atom.unit, atom.prefix});
    if (atom.pressure == PressureReference::Gauge) out.append("(g)");
    if (atom.pressure == PressureReference::Absolute) out.append("(a)");
    // The short basis marks keep every canonical atom within kMaxCanonicalAtom bytes.
    if (atom.basis == FractionBasis::Mass) out.append("(w)");
    if (atom.basis == FractionBasis::Volume) out.append("(v)");
    if (atom.basis == FractionBasis::Mole) out.append("(mol)");
    if (exponent != 1) {  // |exponent| <= kMaxExponent: at most two digits
        out.push_back('^');
        if (exponent < 0) out.push_back('-');
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude >= 10) out.push_back(static_cast<char>('0' + magnitude / 10));
        out.push_back(static_cast<char>('0' + magnitude % 10));
    }
}

// Every factor with its signed power, "kg*cm^-2": the form for a quotient whose usual
// spelling is a phrase meaning something else ("kg/cm^2" is a pressure).
void write_product(std::string& out, std::span<const Atom> atoms) {
    out.clear();
    for (const Atom& a : atoms) {
        if (!out.empty()) out.push_back('*');
        append_atom(out, a, a.exponent);
    }
}

void write_canonical(std::string& out, std::span<const Atom> atoms) {
    out.clear();
    // Where each unit was written: a phrase found where its own unit was not written would
    // read back as something else ("kg/cm^2" of a mass per area reads as the pressure).
    std::array<std::size_t, kMaxAtoms> written_at;
    const auto write = [&](std::size_t k, int exponent) {
        written_at[k] = out.size();
        append_atom(out, atoms[k], exponent);
    };
    int numerators = 0, denominators = 0;
    for (const Atom& a : atoms) (a.exponent > 0 ? numerators : denominators) += 1;
    for (std::size_t k = 0; k < atoms.size(); ++k) {
        if (atoms[k].exponent < 0) continue;
        if (out.size() > 0) out.push_back('*');
        write(k, atoms[k].exponent);
    }
    if (numerators == 0) out.push_back('1');
    if (denominators == 0) return;
    out.append(denominators > 1 ? "/(" : "/");
    bool first = true;
    for (std::size_t k = 0; k < atoms.size(); ++k) {
        if (atoms[k].exponent > 0) continue;
        if (!first) out.push_back('*');
        first = false;
        write(k, -atoms[k].exponent);
    }
    if (denominators > 1) out.push_back(')');
    for (std::size_t k = 0; k < atoms.size(); ++k) {
        const std::size_t at = written_at[k];
        if (!vocabulary::may_start_phrase(out[at])) continue;
        const vocabulary::PhraseMatch phrase =
            vocabulary::match_phrase(std::string_view(out).substr(at), false);
        if (phrase.length > 0 && phrase.unit != atoms[k].unit) {
            write_product(out, atoms);
            return;
        }
    }
}

// Pieces appended one by one: GCC 12 at -O2 warns falsely (-Wrestrict) on a concatenation.
bool refuse(std::string* why, std::initializer_list<std::string_view> pieces) {
    if (why == nullptr) return false;
    why->clear();
    for (std::string_view piece : pieces) why->append(piece);
    return false;
}

bool refuse(std::string* why, std::string_view reason) {
    return refuse(why, {reason});
}

// The unit a list of atoms multiplies to.
bool assemble(std::span<const Atom> atoms, UnitV2& out, std::string* why) {
    const auto all = vocabulary::units();
    std::array<int, 6> dim{};
    // The scale as scale * 2^scale_exp, the power of two split off after each factor: the
    // product then never overflows on the way, in whatever order its factors are written (a
    // canonical spelling puts every numerator before the denominator), and where the plain
    // product stays in range the two are the same bits.
    double scale = 1.0;
    int scale_exp = 0;
    PressureReference mark = PressureReference::None;
    FractionBasis basis = FractionBasis::None;
    bool mass = false, amount = false, volume = false, other = false;
    bool actual = false;
    int actual_power = 0;
    const UnitDef* referenced = nullptr;
    int referenced_power = 0;

    for (const Atom& a : atoms) {
        const UnitDef& def = all[a.unit];
        const double prefix = a.prefix == kNoPrefix ? 1.0 : kPrefixes[a.prefix].factor;
        int volume_power = 0;
        if (def.role == Role::CubeOnly) {
            if (a.exponent % 3 != 0) {
                // "Nm" alone is also how some write a newton metre: say which reading holds.
                return refuse(why, {"'", def.canonical, "' is read only cubed, as the ",
                                    name(def.volume), " cubic metre ", def.canonical, "3",
                                    def.canonical == "Nm" ? " (a newton metre is N*m)" : ""});
            }
            volume_power = a.exponent / 3;
            scale *= power_of(prefix, volume_power) * power_of(def.scale, a.exponent);
        } else {
            scale *= power_of(prefix * def.scale, a.exponent);
            // A volume or a volume flow named as one word ("L", "scfd") counts once.
            if (def.volume != VolumeReference::None) volume_power = a.exponent;
            if (def.dim == kLengthDim && a.exponent % 3 == 0) volume_power = a.exponent / 3;
        }
        int split = 0;
        scale = std::frexp(scale, &split);
        scale_exp += split;
        dim[0] += def.dim.mass * a.exponent;
        dim[1] += def.dim.length * a.exponent;
        dim[2] += def.dim.time * a.exponent;
        dim[3] += def.dim.temperature * a.exponent;
        dim[4] += def.dim.amount * a.exponent;
        dim[5] += def.dim.current * a.exponent;

        if (def.role == Role::Logarithmic && (atoms.size() != 1 || a.exponent != 1)) {
            return refuse(why, "pH is a logarithmic scale and takes no power or other unit");
        }
        if (a.pressure != PressureReference::None) {
            if (mark != PressureReference::None && mark != a.pressure) {
                return refuse(why, "mixes gauge and absolute pressure");
            }
            mark = a.pressure;
        }
        if (def.role == Role::Fraction) {
            const FractionBasis b = a.basis != FractionBasis::None ? a.basis : def.basis;
            if (basis != FractionBasis::None && basis != b) {
                return refuse(why, "mixes fractions of different bases");
            }
            basis = b;
        }
        if (def.volume == VolumeReference::Normal || def.volume == VolumeReference::Standard) {
            if (referenced != nullptr &&
                (referenced->reference_temperature_k != def.reference_temperature_k ||
                 referenced->reference_pressure_pa != def.reference_pressure_pa)) {
                return refuse(why, "mixes volumes at different reference conditions");
            }
            referenced = &def;
            referenced_power += volume_power;
        } else if (volume_power != 0 || def.volume == VolumeReference::Actual) {
            actual = true;
            actual_power += volume_power;
        }
        if (def.dim == DimensionV2{}) continue;
        if (volume_power != 0) {
            volume = true;
        } else if (def.dim == kMassDim) {
            mass = true;
        } else if (def.dim == kAmountDim) {
            amount = true;
        } else {
            other = true;
        }
    }

    for (int value : dim) {
        if (value < -127 || value > 127) return refuse(why, "exponents out of range");
    }
    scale = std::ldexp(scale, scale_exp);
    if (!std::isfinite(scale) || scale == 0.0) return refuse(why, "scale out of range");

    // Written in place (failure leaves `out` unspecified): a parse makes no second UnitV2.
    UnitV2& unit = out;
    unit.offset = 0.0;
    unit.pressure = PressureReference::None;
    unit.volume = VolumeReference::None;
    unit.reference_temperature_k = vocabulary::kNaN;
    unit.reference_pressure_pa = vocabulary::kNaN;
    unit.volume_power = 0;
    unit.basis = FractionBasis::None;
    unit.logarithmic = false;
    unit.dim = DimensionV2{static_cast<std::int8_t>(dim[0]), static_cast<std::int8_t>(dim[1]),
                           static_cast<std::int8_t>(dim[2]), static_cast<std::int8_t>(dim[3]),
                           static_cast<std::int8_t>(dim[4]), static_cast<std::int8_t>(dim[5])};
    unit.scale = scale;
    if (atoms.size() == 1 && atoms[0].exponent == 1 && atoms[0].prefix == kNoPrefix) {
        unit.offset = all[atoms[0].unit].offset;
        unit.logarithmic = all[atoms[0].unit].role == Role::Logarithmic;
    }
    if (unit.dim == kPressureDim) {
        unit.pressure = mark == PressureReference::None ? PressureReference::Unstated : mark;
    } else if (mark != PressureReference::None) {
        return refuse(why, "a gauge or absolute mark belongs on a pressure only");
    }
    if (referenced != nullptr) {
        unit.volume = referenced->volume;
        unit.reference_temperature_k = referenced->reference_temperature_k;
        unit.reference_pressure_pa = referenced->reference_pressure_pa;
        unit.volume_power = static_cast<std::int8_t>(referenced_power);
    } else if (actual) {
        unit.volume = VolumeReference::Actual;
        unit.volume_power = static_cast<std::int8_t>(actual_power);
    }
    if (basis != FractionBasis::None) {
        unit.basis = basis;
    } else if (unit.dim == DimensionV2{} && !other && (mass + amount + volume) == 1) {
        // A ratio of like quantities states its basis: kg/kg, mol/kmol, m3/m3.
        unit.basis = mass     ? FractionBasis::Mass
                     : amount ? FractionBasis::Mole
                              : FractionBasis::Volume;
    }
    return true;
}

}  // namespace

bool parse(std::string_view text, UnitV2& out, std::string* why, bool canonical) {
    NormalisedText normalised;
    if (!normalise(text, normalised, why)) return false;
    const std::string_view s = normalised.view();
    if (s.empty()) return refuse(why, "no unit given");
    if (s == "-") {
        out = UnitV2{};
        if (canonical) out.canonical.push_back('1');
        return true;
    }
    Parser parser(s, why);
    if (!parser.parse_all()) return false;
    if (!assemble(parser.atoms(), out, why)) return false;
    if (canonical) write_canonical(out.canonical, parser.atoms());
    return true;
}

// Apart from `parse`, whose every step the court's timings were measured on.
bool parse_atoms(std::string_view text, UnitV2& out, WrittenAtoms& written) {
    written.count = 0;
    NormalisedText normalised;
    if (!normalise(text, normalised, nullptr)) return false;
    const std::string_view s = normalised.view();
    if (s.empty()) return false;
    if (s == "-") {
        out = UnitV2{};
        return true;
    }
    Parser parser(s, nullptr);
    if (!parser.parse_all() || !assemble(parser.atoms(), out, nullptr)) return false;
    for (const Atom& a : parser.atoms()) {
        written.atoms[written.count++] = WrittenAtom{a.unit, a.prefix, a.exponent};
    }
    return true;
}

}  // namespace qorv_chemical_engineering_edge::unit_consistency_v2::detail
