// parse_unit on arbitrary bytes against the unit table and normalisation written out again from
// code points (unit_reference.hpp), and the dimension tag of every recognised unit.
#include <cstdint>
#include <string_view>

#include "qorv_chemical_engineering_edge/unit_consistency.hpp"
#include "reference.hpp"
#include "unit_reference.hpp"

namespace units = qorv_chemical_engineering_edge::unit_consistency;
using qorv_fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = units::parse_unit(text);
    const auto expected = qorv_fuzz::meaning_of(text);
    check(parsed.has_value() == expected.has_value(), "recognised exactly when the table holds it");
    if (!parsed) return 0;
    const auto& d = parsed->dim;
    check(d.mass == expected->m && d.length == expected->l && d.time == expected->t &&
              d.temperature == expected->theta && d.amount == expected->n,
          "dimension");
    check(parsed->scale == expected->scale, "scale");
    check(parsed->offset == expected->offset, "offset");
    check(units::name(parsed->basis) == expected->basis, "basis");
    check(d.tag() == qorv_fuzz::tag_of(*expected), "dimension tag");
    return 0;
}
