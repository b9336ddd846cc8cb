// The blocks of the input digest are independent, so two are hashed at once: the SHA round
// instruction is bound by its latency, and interleaving two blocks' rounds keeps the unit busy.
// On the wide benchmark export this took the digest from about a fifth of one core's scan time
// to about an eighth. The engine pinned for hashing (portable or not) is respected.
#include "export/digest.hpp"

#include <cstdint>
#include <cstring>

#include "hashing/sha256_blocks.hpp"

#if defined(QCE_SHA256_HAVE_X86_BLOCKS)
#include <immintrin.h>
#endif

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// The last 64 bytes SHA-256 hashes after a whole 1 MiB block: 0x80, zeros, the bit length.
struct Padding {
    std::uint8_t bytes[64] = {};
    Padding() {
        bytes[0] = 0x80;
        const std::uint64_t bits = std::uint64_t{kBlockBytes} * 8;
        for (int i = 0; i < 8; ++i) bytes[63 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
};

hashing::Sha256Digest to_digest(const std::uint32_t state[8]) {
    hashing::Sha256Digest d;
    for (int i = 0; i < 8; ++i)
        for (int b = 0; b < 4; ++b)
            d[4 * i + b] = static_cast<std::uint8_t>(state[i] >> (24 - 8 * b));
    return d;
}

#if defined(QCE_SHA256_HAVE_X86_BLOCKS)

struct Lane {
    __m128i abef, cdgh;
};

__attribute__((target("sha,sse4.1,ssse3"))) inline Lane load_lane(const std::uint32_t s[8]) {
    const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xb1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1b);
    return {_mm_alignr_epi8(cdab, efgh, 8), _mm_blend_epi16(efgh, cdab, 0xf0)};
}

__attribute__((target("sha,sse4.1,ssse3"))) inline void store_lane(const Lane& l,
                                                                   std::uint32_t s[8]) {
    const __m128i feba = _mm_shuffle_epi32(l.abef, 0x1b);
    const __m128i dchg = _mm_shuffle_epi32(l.cdgh, 0xb1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s), _mm_blend_epi16(feba, dchg, 0xf0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s + 4), _mm_alignr_epi8(dchg, feba, 8));
}

// Two independent streams of nblocks 64-byte blocks each, rounds interleaved.
__attribute__((target("sha,sse4.1,ssse3"))) void blocks_x2(std::uint32_t sa[8],
                                                           const std::uint8_t* a,
                                                           std::uint32_t sb[8],
                                                           const std::uint8_t* b,
                                                           std::size_t nblocks) {
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    Lane x = load_lane(sa), y = load_lane(sb);
    for (; nblocks != 0; --nblocks, a += 64, b += 64) {
        const Lane xs = x, ys = y;
        __m128i wa[4], wb[4];
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            if (g < 4) {
                wa[g] = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16 * g)), byte_swap);
                wb[g] = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * g)), byte_swap);
            } else {
                __m128i na = _mm_sha256msg1_epu32(wa[g % 4], wa[(g + 1) % 4]);
                __m128i nb = _mm_sha256msg1_epu32(wb[g % 4], wb[(g + 1) % 4]);
                na = _mm_add_epi32(na, _mm_alignr_epi8(wa[(g + 3) % 4], wa[(g + 2) % 4], 4));
                nb = _mm_add_epi32(nb, _mm_alignr_epi8(wb[(g + 3) % 4], wb[(g + 2) % 4], 4));
                wa[g % 4] = _mm_sha256msg2_epu32(na, wa[(g + 3) % 4]);
                wb[g % 4] = _mm_sha256msg2_epu32(nb, wb[(g + 3) % 4]);
            }
            const __m128i k = _mm_load_si128(
                reinterpret_cast<const __m128i*>(hashing::detail::kSha256RoundConstants + 4 * g));
            __m128i ka = _mm_add_epi32(wa[g % 4], k);
            __m128i kb = _mm_add_epi32(wb[g % 4], k);
            x.cdgh = _mm_sha256rnds2_epu32(x.cdgh, x.abef, ka);
            y.cdgh = _mm_sha256rnds2_epu32(y.cdgh, y.abef, kb);
            ka = _mm_shuffle_epi32(ka, 0x0e);
            kb = _mm_shuffle_epi32(kb, 0x0e);
            x.abef = _mm_sha256rnds2_epu32(x.abef, x.cdgh, ka);
            y.abef = _mm_sha256rnds2_epu32(y.abef, y.cdgh, kb);
        }
        x.abef = _mm_add_epi32(x.abef, xs.abef);
        x.cdgh = _mm_add_epi32(x.cdgh, xs.cdgh);
        y.abef = _mm_add_epi32(y.abef, ys.abef);
        y.cdgh = _mm_add_epi32(y.cdgh, ys.cdgh);
    }
    store_lane(x, sa);
    store_lane(y, sb);
}

#endif

hashing::Sha256Digest one_block(const char* data) {
    hashing::Sha256 h;
    h.update(data, kBlockBytes);
    return h.finish();
}

}  // namespace

void digest_whole_blocks(const char* data, std::size_t n_blocks, hashing::Sha256Digest* out) {
    std::size_t i = 0;
#if defined(QCE_SHA256_HAVE_X86_BLOCKS)
    if (hashing::sha256_engine() == hashing::Sha256Engine::CpuExtensions) {
        static const Padding padding;
        for (; i + 2 <= n_blocks; i += 2) {
            std::uint32_t sa[8], sb[8];
            std::memcpy(sa, kInitial, sizeof sa);
            std::memcpy(sb, kInitial, sizeof sb);
            const auto* a = reinterpret_cast<const std::uint8_t*>(data + i * kBlockBytes);
            blocks_x2(sa, a, sb, a + kBlockBytes, kBlockBytes / 64);
            blocks_x2(sa, padding.bytes, sb, padding.bytes, 1);
            out[i] = to_digest(sa);
            out[i + 1] = to_digest(sb);
        }
    }
#endif
    for (; i < n_blocks; ++i) out[i] = one_block(data + i * kBlockBytes);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
