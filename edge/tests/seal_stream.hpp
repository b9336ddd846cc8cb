// The seal framing written out by hand, independently of the hasher, for tests to rebuild a
// court's seal stream byte by byte: per field, the label's length (8 bytes, little-endian), the
// label, the value's length and the value; counts as 8 little-endian bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qorv_chemical_engineering_edge::testing {

inline std::string le64(std::uint64_t v) {
    std::string bytes;
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return bytes;
}

inline void frame(std::string& stream, std::string_view label, std::string_view value) {
    stream.append(le64(label.size())).append(label).append(le64(value.size())).append(value);
}

inline void frame(std::string& stream, std::string_view label, std::uint64_t count) {
    frame(stream, label, le64(count));
}

}  // namespace qorv_chemical_engineering_edge::testing
