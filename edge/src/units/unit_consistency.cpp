// The unit consistency court: classifying claimed pairings of two units, counting and sealing,
// and for the record, explaining each verdict.
//
// Rules are tried in a fixed order and the first that applies decides: an unknown unit, then a
// dimension mismatch, then a basis mismatch, then a scale mismatch, then an affine offset.
// Because scale is tested before offset, degrees Fahrenheit against kelvin is a scale mismatch.
// The relation never changes the verdict, only the wording.
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qorv_chemical_engineering_edge/fixed_point.hpp"
#include "qorv_chemical_engineering_edge/hashing.hpp"
#include "qorv_chemical_engineering_edge/unit_consistency.hpp"
#include "units/unit_closeness.hpp"

namespace qorv_chemical_engineering_edge::unit_consistency {

namespace {

// The texts of the two enumerations that are sealed, usable at compile time.
constexpr std::string_view relation_text(AssertionRelation relation) noexcept {
    switch (relation) {
        case AssertionRelation::SameQuantity:
            return "same_quantity";
        case AssertionRelation::AdditivelyCombined:
            return "additively_combined";
    }
    return {};
}

constexpr std::string_view hazard_text(UnitHazard hazard) noexcept {
    switch (hazard) {
        case UnitHazard::Consistent:
            return "consistent";
        case UnitHazard::UnknownUnit:
            return "unknown_unit";
        case UnitHazard::DimensionMismatch:
            return "dimension_mismatch";
        case UnitHazard::ScaleMismatch:
            return "scale_mismatch";
        case UnitHazard::AffineOffsetHazard:
            return "affine_offset_hazard";
        case UnitHazard::BasisMismatch:
            return "basis_mismatch";
    }
    return {};
}

}  // namespace

std::string_view name(CompositionBasis basis) noexcept {
    switch (basis) {
        case CompositionBasis::Pure:
            return "pure";
        case CompositionBasis::MassFraction:
            return "mass_fraction";
        case CompositionBasis::MoleFraction:
            return "mole_fraction";
    }
    return {};
}

std::string_view name(AssertionRelation relation) noexcept {
    return relation_text(relation);
}

std::string_view phrase(AssertionRelation relation) noexcept {
    switch (relation) {
        case AssertionRelation::SameQuantity:
            return "compared as the same quantity";
        case AssertionRelation::AdditivelyCombined:
            return "added/subtracted in a balance term";
    }
    return {};
}

std::string_view name(UnitHazard hazard) noexcept {
    return hazard_text(hazard);
}

namespace {

constexpr std::string_view kTimes = "\xC3\x97";   // U+00D7 MULTIPLICATION SIGN
constexpr std::string_view kDegree = "\xC2\xB0";  // U+00B0 DEGREE SIGN

struct Judgement {
    UnitHazard hazard = UnitHazard::UnknownUnit;
    std::optional<ParsedUnit> a;
    std::optional<ParsedUnit> b;
};

// The court's rules, the first that applies deciding.
Judgement decide(std::string_view a_unit, std::string_view b_unit) noexcept {
    Judgement j{UnitHazard::UnknownUnit, parse_unit(a_unit), parse_unit(b_unit)};
    if (!j.a || !j.b) return j;
    const ParsedUnit& a = *j.a;
    const ParsedUnit& b = *j.b;
    if (a.dim != b.dim) {
        j.hazard = UnitHazard::DimensionMismatch;
    } else if (a.basis != b.basis) {
        j.hazard = UnitHazard::BasisMismatch;
    } else if (!approx_equal(a.scale, b.scale)) {
        j.hazard = UnitHazard::ScaleMismatch;
    } else if (!approx_equal(a.offset, b.offset)) {
        j.hazard = UnitHazard::AffineOffsetHazard;
    } else {
        j.hazard = UnitHazard::Consistent;
    }
    return j;
}

// Appends the pieces after one reservation for all of them plus `extra` bytes.
void append_all(std::string& out, std::initializer_list<std::string_view> pieces,
                std::size_t extra = 0) {
    std::size_t size = out.size() + extra;
    for (std::string_view piece : pieces) size += piece.size();
    out.reserve(size);
    for (std::string_view piece : pieces) out.append(piece);
}

// "{name} [{unit}]", the unit exactly as the caller wrote it.
void write_quantity(std::string& out, std::string_view quantity_name, std::string_view unit) {
    append_all(out, {quantity_name, " [", unit, "]"});
}

void explain(std::string& out, const Judgement& j, const UnitAssertion& assertion) {
    const std::string_view a_unit = assertion.a_unit;
    const std::string_view b_unit = assertion.b_unit;
    const std::string_view how = phrase(assertion.relation);
    switch (j.hazard) {
        case UnitHazard::Consistent: {
            const std::string tag = j.a->dim.tag();
            append_all(
                out, {"identical units [", a_unit, "] (dimension ", tag, "); ", how, " is valid"});
            break;
        }
        case UnitHazard::UnknownUnit: {
            const std::string_view unknown = j.a ? b_unit : a_unit;
            append_all(
                out, {"unit '", unknown, "' is not recognised; refusing to assume compatibility"});
            break;
        }
        case UnitHazard::DimensionMismatch: {
            const std::string a_tag = j.a->dim.tag();
            const std::string b_tag = j.b->dim.tag();
            append_all(out, {"different dimensions: [", a_unit, "]=", a_tag, " vs [", b_unit,
                             "]=", b_tag, "; ", how, " is meaningless"});
            break;
        }
        case UnitHazard::ScaleMismatch: {
            // A zero second scale gives NaN, not an infinity; no table unit has one.
            const double ratio = j.b->scale == 0.0 ? std::numeric_limits<double>::quiet_NaN()
                                                   : j.a->scale / j.b->scale;
            const std::initializer_list<std::string_view> tail{
                ": [",
                a_unit,
                "] vs [",
                b_unit,
                "]; ",
                how,
                " without conversion is wrong by that factor"};
            // Room for the ratio of any two table scales of one dimension (3600000.000000 at most).
            constexpr std::size_t kRatioRoom = 24;
            std::size_t tail_size = 0;
            for (std::string_view piece : tail) tail_size += piece.size();
            append_all(out, {"same dimension, scale differs by ", kTimes}, kRatioRoom + tail_size);
            text::append_fixed(out, ratio, 6);
            append_all(out, tail);
            break;
        }
        case UnitHazard::AffineOffsetHazard:
            append_all(
                out,
                {"affine offset differs: [", a_unit, "] vs [", b_unit, "] (e.g. ", kDegree,
                 "C vs K); ", how,
                 " sees a constant ~273 offset that is pure unit error, not a process residual"});
            break;
        case UnitHazard::BasisMismatch:
            append_all(out, {"both dimensionless but different basis: [", a_unit,
                             "]=", name(j.a->basis), " vs [", b_unit, "]=", name(j.b->basis),
                             "; not interconvertible without molar mass"});
            break;
    }
}

// The seal: the schema and the number of assertions; for each finding its context, "a" and "b"
// texts, relation and hazard; then the counts. The message is for readers and is never fed:
// rewording an explanation must not change a stored seal. No count of findings is fed either;
// the per-finding fields frame themselves. The record is sealed from its texts; a judgement
// feeds the fields that take a few fixed forms framed at compile time, which took
// BM_UnitJudge_OneSameQuantity from about 260 to 245 ns.
constexpr auto kFramedSchema =
    hashing::FramedFields<64>{}.field("schema", UnitConsistencyCourtV1::kSchema);

constexpr AssertionRelation kRelations[] = {AssertionRelation::SameQuantity,
                                            AssertionRelation::AdditivelyCombined};
constexpr UnitHazard kHazards[] = {UnitHazard::Consistent,         UnitHazard::UnknownUnit,
                                   UnitHazard::DimensionMismatch,  UnitHazard::ScaleMismatch,
                                   UnitHazard::AffineOffsetHazard, UnitHazard::BasisMismatch};

// The relation and hazard fields of a finding, by relation and hazard.
constexpr auto kFramedVerdicts = [] {
    std::array<std::array<hashing::FramedFields<96>, std::size(kHazards)>, std::size(kRelations)>
        table{};
    for (AssertionRelation relation : kRelations) {
        for (UnitHazard hazard : kHazards) {
            table[static_cast<std::size_t>(relation)][static_cast<std::size_t>(hazard)]
                .field("relation", relation_text(relation))
                .field("hazard", hazard_text(hazard));
        }
    }
    return table;
}();

void seal_start(hashing::CanonicalHasher& hasher, std::uint64_t assertions_checked) noexcept {
    hasher.framed(kFramedSchema).field("assertions_checked", assertions_checked);
}

// The texts of one finding; `a` and `b` are "{name} [{unit}]", given in pieces or whole.
void seal_texts(hashing::CanonicalHasher& hasher, std::string_view context,
                std::initializer_list<std::string_view> a,
                std::initializer_list<std::string_view> b) noexcept {
    hasher.field("context", context).field_pieces("a", a).field_pieces("b", b);
}

hashing::Sha256Digest seal_finish(hashing::CanonicalHasher& hasher, std::uint64_t n_consistent,
                                  std::uint64_t n_hazard) noexcept {
    hasher.field("n_consistent", n_consistent).field("n_hazard", n_hazard);
    return std::move(hasher).finalize_digest();
}

}  // namespace

UnitHazard classify(std::string_view a_unit, std::string_view b_unit) noexcept {
    return decide(a_unit, b_unit).hazard;
}

UnitJudgement UnitConsistencyCourtV1::judge(std::span<const UnitAssertion> assertions,
                                            std::span<UnitHazard> hazards) noexcept {
    UnitJudgement j;
    hashing::CanonicalHasher hasher;
    seal_start(hasher, assertions.size());
    for (std::size_t i = 0; i < assertions.size(); ++i) {
        const UnitAssertion& x = assertions[i];
        const UnitHazard hazard = classify(x.a_unit, x.b_unit);
        hazards[i] = hazard;
        if (hazard == UnitHazard::Consistent) {
            ++j.n_consistent;
        } else {
            ++j.n_hazard;
        }
        seal_texts(hasher, x.context, {x.a_name, " [", x.a_unit, "]"},
                   {x.b_name, " [", x.b_unit, "]"});
        hasher.framed(kFramedVerdicts[static_cast<std::size_t>(x.relation)]
                                     [static_cast<std::size_t>(hazard)]);
    }
    j.seal = seal_finish(hasher, j.n_consistent, j.n_hazard);
    return j;
}

UnitConsistencyCourtV1 UnitConsistencyCourtV1::build(std::span<const UnitAssertion> assertions) {
    UnitConsistencyCourtV1 court;
    court.assertions_checked = assertions.size();
    court.findings.reserve(assertions.size());
    for (const UnitAssertion& assertion : assertions) {
        const Judgement j = decide(assertion.a_unit, assertion.b_unit);
        std::string a, b, message;
        write_quantity(a, assertion.a_name, assertion.a_unit);
        write_quantity(b, assertion.b_name, assertion.b_unit);
        explain(message, j, assertion);
        // Built from its texts with braces: emplace_back on an aggregate needs parenthesised
        // aggregate initialisation, which older clang lacks.
        court.findings.push_back(UnitFinding{assertion.context, std::move(a), std::move(b),
                                             std::string(name(assertion.relation)),
                                             std::string(name(j.hazard)), std::move(message)});
        if (j.hazard == UnitHazard::Consistent) {
            ++court.n_consistent;
        } else {
            ++court.n_hazard;
        }
    }
    court.court_hash =
        seal(court.assertions_checked, court.findings, court.n_consistent, court.n_hazard);
    return court;
}

std::string UnitConsistencyCourtV1::seal(std::uint64_t assertions_checked,
                                         std::span<const UnitFinding> findings,
                                         std::uint64_t n_consistent, std::uint64_t n_hazard) {
    hashing::CanonicalHasher hasher;
    seal_start(hasher, assertions_checked);
    for (const UnitFinding& f : findings) {
        seal_texts(hasher, f.context, {f.a}, {f.b});
        hasher.field("relation", f.relation).field("hazard", f.hazard);
    }
    return hashing::to_hex(seal_finish(hasher, n_consistent, n_hazard));
}

}  // namespace qorv_chemical_engineering_edge::unit_consistency
