// Canonical hashing: SHA-256 over labelled fields.
//
// Each field is framed as the label's byte length (8 bytes, little-endian), the label, the
// value's byte length (8 bytes, little-endian) and the value. Counts are hashed as 8
// little-endian bytes, never as decimal text. The digest is rendered as 64 lower-case hex
// characters. Every court seal goes through here, so any change to the framing changes every
// stored seal.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "qorv_chemical_engineering_edge/sha256.hpp"

namespace qorv_chemical_engineering_edge::hashing {

class CanonicalHasher {
  public:
    CanonicalHasher() noexcept = default;  // a fresh SHA-256 context, nothing fed

    // A text (its UTF-8 bytes) or raw bytes.
    CanonicalHasher& field(std::string_view label, std::string_view value) noexcept;
    // A text given in pieces, framed exactly as their concatenation would be.
    CanonicalHasher& field_pieces(std::string_view label,
                                  std::initializer_list<std::string_view> pieces) noexcept;
    // An unsigned count, as 8 little-endian bytes.
    CanonicalHasher& field(std::string_view label, std::uint64_t count) noexcept;

    Sha256Digest finalize_digest() && noexcept;
    std::string finalize_hex() &&;

  private:
    Sha256 sha_;
};

// The 64 lower-case hex characters of a digest, high nibble first.
std::string to_hex(const Sha256Digest& digest);
// The same characters written to `out`, which has room for 64.
void write_hex(const Sha256Digest& digest, char* out) noexcept;

}  // namespace qorv_chemical_engineering_edge::hashing
