// Canonical hashing: labelled fields framed with little-endian lengths, streamed into SHA-256.
#include "qorv_chemical_engineering_edge/hashing.hpp"

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qorv_chemical_engineering_edge::hashing {

// Room for `size` more bytes in the buffer, or null after handing what waits there to SHA-256
// when even an empty buffer is too small.
std::uint8_t* CanonicalHasher::room(std::size_t size) noexcept {
    if (size > kStageBytes - staged_) {
        sha_.update(stage_, staged_);
        staged_ = 0;
        if (size > kStageBytes) return nullptr;
    }
    return stage_ + staged_;
}

// A field that does not fit in what is left of the buffer.
CanonicalHasher& CanonicalHasher::field_unstaged(
    std::string_view label, std::size_t size,
    std::initializer_list<std::string_view> pieces) noexcept {
    const std::size_t framed = 16 + label.size() + size;
    if (std::uint8_t* at = room(framed)) {
        detail::frame(at, label, size, pieces);
        staged_ += framed;
        return *this;
    }
    // Larger than the whole buffer: framed piece by piece.
    std::uint8_t head[8];
    detail::put_le64(head, label.size());
    sha_.update(head, 8);
    sha_.update(label);
    detail::put_le64(head, size);
    sha_.update(head, 8);
    for (std::string_view piece : pieces) sha_.update(piece);
    return *this;
}

CanonicalHasher& CanonicalHasher::feed_framed(const std::uint8_t* bytes,
                                              std::size_t size) noexcept {
    if (std::uint8_t* at = room(size)) {
        std::memcpy(at, bytes, size);
        staged_ += size;
    } else {
        sha_.update(bytes, size);
    }
    return *this;
}

Sha256Digest CanonicalHasher::finalize_digest() && noexcept {
    sha_.update(stage_, staged_);
    return sha_.finish();
}

std::string CanonicalHasher::finalize_hex() && {
    return to_hex(std::move(*this).finalize_digest());
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
