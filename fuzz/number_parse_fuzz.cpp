// The plain-decimal road of to_double against the general parser: the same bits (or the same
// refusal) for every text and either decimal separator.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "export/cells.hpp"
#include "fuzz_check.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char decimal : {'.', ','}) {
        const auto fast = ep::to_double(text, decimal);
        const auto exact = ep::to_double_exact(text, decimal);
        check(fast.has_value() == exact.has_value());
        if (fast) check(std::memcmp(&*fast, &*exact, sizeof(double)) == 0);
    }
    return 0;
}
