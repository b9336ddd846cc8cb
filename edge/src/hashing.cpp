// Canonical hashing: labelled fields framed with little-endian lengths, streamed into SHA-256.
#include "qorv_chemical_engineering_edge/hashing.hpp"

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qorv_chemical_engineering_edge::hashing {

namespace {

// Writes v as 8 little-endian bytes (independent of the host's byte order).
inline void store_le64(std::uint8_t* p, std::uint64_t v) noexcept {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Feeds the label's length, the label and the value's length.
inline void feed_head(Sha256& sha, std::string_view label, std::uint64_t value_size) noexcept {
    std::uint8_t length[8];
    store_le64(length, label.size());
    sha.update(length, 8);
    sha.update(label);
    store_le64(length, value_size);
    sha.update(length, 8);
}

}  // namespace

CanonicalHasher& CanonicalHasher::field(std::string_view label, std::string_view value) noexcept {
    // Most seal fields are short: when the whole framed field fits in the unfinished block it
    // is written there in place, as one piece.
    const std::size_t framed = 16 + label.size() + value.size();
    if (std::uint8_t* at = sha_.room_for(framed)) {
        store_le64(at, label.size());
        Sha256::copy_short(at + 8, reinterpret_cast<const std::uint8_t*>(label.data()),
                           label.size());
        at += 8 + label.size();
        store_le64(at, value.size());
        Sha256::copy_short(at + 8, reinterpret_cast<const std::uint8_t*>(value.data()),
                           value.size());
        sha_.commit(framed);
        return *this;
    }
    feed_head(sha_, label, value.size());
    sha_.update(value);
    return *this;
}

CanonicalHasher& CanonicalHasher::field_pieces(
    std::string_view label, std::initializer_list<std::string_view> pieces) noexcept {
    std::size_t size = 0;
    for (std::string_view piece : pieces) size += piece.size();
    feed_head(sha_, label, size);
    for (std::string_view piece : pieces) sha_.update(piece);
    return *this;
}

CanonicalHasher& CanonicalHasher::field(std::string_view label, std::uint64_t count) noexcept {
    feed_head(sha_, label, 8);
    std::uint8_t bytes[8];
    store_le64(bytes, count);
    sha_.update(bytes, 8);
    return *this;
}

Sha256Digest CanonicalHasher::finalize_digest() && noexcept {
    return sha_.finish();
}

std::string CanonicalHasher::finalize_hex() && {
    return to_hex(sha_.finish());
}

std::string to_hex(const Sha256Digest& digest) {
    char hex[64];
    write_hex(digest, hex);
    return std::string(hex, sizeof hex);
}

void write_hex(const Sha256Digest& digest, char* hex) noexcept {
#if defined(__SSE2__)
    // Sixteen bytes at a time: split into nibbles, interleave high before low, and map each
    // nibble to '0'..'9' or 'a'..'f' by adding '0' and, above 9, the gap up to 'a'.
    const __m128i low_nibbles = _mm_set1_epi8(0x0f);
    const __m128i nine = _mm_set1_epi8(9);
    const __m128i to_digit = _mm_set1_epi8('0');
    const __m128i to_letter = _mm_set1_epi8('a' - '0' - 10);
    auto render = [&](__m128i nibbles) {
        const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(nibbles, nine), to_letter);
        return _mm_add_epi8(_mm_add_epi8(nibbles, to_digit), letters);
    };
    for (int half = 0; half < 2; ++half) {
        const __m128i bytes =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(digest.data() + 16 * half));
        const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), low_nibbles);
        const __m128i low = _mm_and_si128(bytes, low_nibbles);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(hex + 32 * half),
                         render(_mm_unpacklo_epi8(high, low)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(hex + 32 * half + 16),
                         render(_mm_unpackhi_epi8(high, low)));
    }
#else
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < digest.size(); ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 0x0f];
    }
#endif
}

}  // namespace qorv_chemical_engineering_edge::hashing
