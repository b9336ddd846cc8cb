// Canonical hashing: labelled fields framed with little-endian lengths, streamed into SHA-256.
#include "qorv_chemical_engineering_edge/hashing.hpp"

#include <cstddef>
#include <cstring>

namespace qorv_chemical_engineering_edge::hashing {

namespace {

// Writes v as 8 little-endian bytes (independent of the host's byte order).
inline void store_le64(std::uint8_t* p, std::uint64_t v) noexcept {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Labels are short in every seal, so for them the label's length, the label, the value's length
// (and, for a count, the count itself) are assembled in a stack buffer and fed to SHA-256 as one
// piece; a field then costs one or two calls into the context. Longer labels are fed piece by
// piece.
constexpr std::size_t kShortLabel = 48;

// Writes the label's length, the label and the value's length to buf; returns the bytes written.
inline std::size_t frame_short_head(std::uint8_t* buf, std::string_view label,
                                    std::uint64_t value_size) noexcept {
    store_le64(buf, label.size());
    if (!label.empty()) std::memcpy(buf + 8, label.data(), label.size());
    store_le64(buf + 8 + label.size(), value_size);
    return 16 + label.size();
}

inline void feed_long_head(Sha256& sha, std::string_view label, std::uint64_t value_size) noexcept {
    std::uint8_t prefix[8];
    store_le64(prefix, label.size());
    sha.update(prefix, 8);
    sha.update(label);
    store_le64(prefix, value_size);
    sha.update(prefix, 8);
}

}  // namespace

CanonicalHasher& CanonicalHasher::field(std::string_view label, std::string_view value) noexcept {
    if (label.size() <= kShortLabel) {
        std::uint8_t buf[16 + kShortLabel];
        sha_.update(buf, frame_short_head(buf, label, value.size()));
    } else {
        feed_long_head(sha_, label, value.size());
    }
    sha_.update(value);
    return *this;
}

CanonicalHasher& CanonicalHasher::field(std::string_view label, std::uint64_t count) noexcept {
    if (label.size() <= kShortLabel) {
        std::uint8_t buf[16 + kShortLabel + 8];
        const std::size_t n = frame_short_head(buf, label, 8);
        store_le64(buf + n, count);
        sha_.update(buf, n + 8);
    } else {
        feed_long_head(sha_, label, 8);
        std::uint8_t bytes[8];
        store_le64(bytes, count);
        sha_.update(bytes, 8);
    }
    return *this;
}

Sha256Digest CanonicalHasher::finalize_digest() && noexcept {
    return sha_.finish();
}

std::string CanonicalHasher::finalize_hex() && {
    return to_hex(sha_.finish());
}

std::string to_hex(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(2 * digest.size(), '\0');
    for (std::size_t i = 0; i < digest.size(); ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 0x0f];
    }
    return hex;
}

}  // namespace qorv_chemical_engineering_edge::hashing
