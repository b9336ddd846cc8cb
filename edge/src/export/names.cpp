// The profiler's enum names, read from the one table of names.
#include "qorv_chemical_engineering_edge/names.hpp"

#include <cstddef>

namespace qorv_chemical_engineering_edge::export_profile {

namespace {

template <std::size_t N, class Enum>
std::string_view lookup(const std::array<std::string_view, N>& table, Enum value) noexcept {
    const auto at = static_cast<std::size_t>(value);
    return at < N ? table[at] : std::string_view{};
}

}  // namespace

std::string_view name(Layout layout) noexcept {
    return lookup(names::kLayouts, layout);
}

std::string_view name(TimestampFormat format) noexcept {
    return lookup(names::kTimestampFormats, format);
}

std::string_view name(Provenance provenance) noexcept {
    return lookup(names::kProvenances, provenance);
}

std::string_view name(Decided decided) noexcept {
    return lookup(names::kDecided, decided);
}

std::string_view name(QualityConvention convention) noexcept {
    return lookup(names::kQualityConventions, convention);
}

std::string_view name(Encoding encoding) noexcept {
    return lookup(names::kEncodings, encoding);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
