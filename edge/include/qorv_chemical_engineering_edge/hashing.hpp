// Canonical hashing: SHA-256 over labelled fields.
//
// Each field is framed as the label's byte length (8 bytes, little-endian), the label, the
// value's byte length (8 bytes, little-endian) and the value. Counts are hashed as 8
// little-endian bytes, never as decimal text. The digest is rendered as 64 lower-case hex
// characters. Every court seal goes through here, so any change to the framing changes every
// stored seal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

#include "qorv_chemical_engineering_edge/sha256.hpp"

namespace qorv_chemical_engineering_edge::hashing {

namespace detail {

constexpr std::uint8_t* put_le64(std::uint8_t* out, std::uint64_t v) noexcept {
    for (int i = 0; i < 8; ++i) *out++ = static_cast<std::uint8_t>(v >> (8 * i));
    return out;
}

constexpr std::uint8_t* put_bytes(std::uint8_t* out, std::string_view bytes) noexcept {
    if (std::is_constant_evaluated()) {
        for (char c : bytes) *out++ = static_cast<std::uint8_t>(c);
        return out;
    }
    const auto* from = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (bytes.size() <= 64) {
        Sha256::copy_short(out, from, bytes.size());
    } else {
        std::memcpy(out, from, bytes.size());
    }
    return out + bytes.size();
}

// The framing rule, the one place it is written: one field at `out`, its value given in pieces
// and framed as their concatenation. Returns the end; `size` is the value's total length.
constexpr std::uint8_t* frame(std::uint8_t* out, std::string_view label, std::size_t size,
                              std::initializer_list<std::string_view> pieces) noexcept {
    out = put_bytes(put_le64(out, label.size()), label);
    out = put_le64(out, size);
    for (std::string_view piece : pieces) out = put_bytes(out, piece);
    return out;
}

}  // namespace detail

// Fields framed ahead of time, at compile time where they are known then: a seal whose fields
// take a few fixed forms feeds them ready-made with `CanonicalHasher::framed`.
template <std::size_t Capacity>
struct FramedFields {
    std::array<std::uint8_t, Capacity> bytes{};
    std::size_t size = 0;

    constexpr FramedFields& field(std::string_view label, std::string_view value) noexcept {
        size = static_cast<std::size_t>(
            detail::frame(bytes.data() + size, label, value.size(), {value}) - bytes.data());
        return *this;
    }
};

class CanonicalHasher {
  public:
    CanonicalHasher() noexcept = default;  // a fresh SHA-256 context, nothing fed

    // A text (its UTF-8 bytes) or raw bytes.
    CanonicalHasher& field(std::string_view label, std::string_view value) noexcept {
        return field_pieces(label, {value});
    }
    // A text given in pieces, framed exactly as their concatenation would be. Inline, so that
    // each call site frames its own label and pieces with fixed moves: that took
    // BM_UnitJudge_OneSameQuantity, nine fields, from about 305 to 270 ns.
    CanonicalHasher& field_pieces(std::string_view label,
                                  std::initializer_list<std::string_view> pieces) noexcept {
        std::size_t size = 0;
        for (std::string_view piece : pieces) size += piece.size();
        const std::size_t framed = 16 + label.size() + size;
        if (framed > kStageBytes - staged_) return field_unstaged(label, size, pieces);
        detail::frame(stage_ + staged_, label, size, pieces);
        staged_ += framed;
        return *this;
    }
    // An unsigned count, as 8 little-endian bytes.
    CanonicalHasher& field(std::string_view label, std::uint64_t count) noexcept {
        std::uint8_t bytes[8];
        detail::put_le64(bytes, count);
        return field(label, std::string_view(reinterpret_cast<const char*>(bytes), 8));
    }
    // Fields framed ahead of time.
    template <std::size_t Capacity>
    CanonicalHasher& framed(const FramedFields<Capacity>& fields) noexcept {
        return feed_framed(fields.bytes.data(), fields.size);
    }

    Sha256Digest finalize_digest() && noexcept;
    std::string finalize_hex() &&;

  private:
    // Framed fields wait in a flat buffer and reach SHA-256 in one piece when it fills or the
    // digest is taken; both seals fit in it whole. With no block boundary to watch, a field is
    // framed with one bounds check and a few fixed moves.
    static constexpr std::size_t kStageBytes = 1024;

    std::uint8_t* room(std::size_t size) noexcept;
    CanonicalHasher& field_unstaged(std::string_view label, std::size_t size,
                                    std::initializer_list<std::string_view> pieces) noexcept;
    CanonicalHasher& feed_framed(const std::uint8_t* bytes, std::size_t size) noexcept;

    Sha256 sha_;
    std::size_t staged_ = 0;
    std::uint8_t stage_[kStageBytes];
};

// The 64 lower-case hex characters of a digest, high nibble first.
std::string to_hex(const Sha256Digest& digest);
// The same characters written to `out`, which has room for 64.
void write_hex(const Sha256Digest& digest, char* out) noexcept;

}  // namespace qorv_chemical_engineering_edge::hashing
