// SHA-256 block function on the x86 SHA extensions.
//
// Only this function is compiled for the SHA, SSSE3 and SSE4.1 instructions (through a target
// attribute); the rest of the library stays baseline x86-64, and the function is called only
// after the processor has been probed for all three.
#include "hashing/sha256_blocks.hpp"

#if defined(QCE_SHA256_HAVE_X86_BLOCKS)

#include <immintrin.h>

namespace qorv_chemical_engineering_edge::hashing::detail {

__attribute__((target("sha,sse4.1,ssse3"))) void sha256_blocks_x86(std::uint32_t state[8],
                                                                   const std::uint8_t* data,
                                                                   std::size_t nblocks) noexcept {
    // Reverses the bytes of each 32-bit lane: message words are big-endian.
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

    // sha256rnds2 keeps the working variables as two vectors, {A,B,E,F} and {C,D,G,H}
    // (highest lane first), so the natural order H0..H7 is rearranged once per batch.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xb1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1b);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xf0);

    for (; nblocks != 0; --nblocks, data += 64) {
        const __m128i abef_saved = abef;
        const __m128i cdgh_saved = cdgh;

        // w[g % 4] holds message words W[4g..4g+3] for the current group of four rounds.
        __m128i w[4];
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            if (g < 4) {
                w[g] = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * g)), byte_swap);
            } else {
                // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], four words at a time:
                // msg1 adds s0 of the next group to W[t-16]; alignr supplies W[t-7..t-4];
                // msg2 adds s1, chaining through the words it has just produced.
                const __m128i w_minus_16 = w[g % 4];
                const __m128i w_minus_12 = w[(g + 1) % 4];
                const __m128i w_minus_8 = w[(g + 2) % 4];
                const __m128i w_minus_4 = w[(g + 3) % 4];
                __m128i next = _mm_sha256msg1_epu32(w_minus_16, w_minus_12);
                next = _mm_add_epi32(next, _mm_alignr_epi8(w_minus_4, w_minus_8, 4));
                w[g % 4] = _mm_sha256msg2_epu32(next, w_minus_4);
            }
            __m128i wk = _mm_add_epi32(
                w[g % 4],
                _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * g)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);  // rounds 4g, 4g+1
            wk = _mm_shuffle_epi32(wk, 0x0e);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);  // rounds 4g+2, 4g+3
        }

        abef = _mm_add_epi32(abef, abef_saved);
        cdgh = _mm_add_epi32(cdgh, cdgh_saved);
    }

    // Back to H0..H7.
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1b);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);
    dcba = _mm_blend_epi16(feba, dchg, 0xf0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

namespace {

struct Lane {
    __m128i abef, cdgh;
};

__attribute__((target("sha,sse4.1,ssse3"))) inline Lane load_lane(const std::uint32_t s[8]) {
    const __m128i cdab =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), 0xb1);
    const __m128i efgh =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4)), 0x1b);
    return {_mm_alignr_epi8(cdab, efgh, 8), _mm_blend_epi16(efgh, cdab, 0xf0)};
}

__attribute__((target("sha,sse4.1,ssse3"))) inline void store_lane(const Lane& l,
                                                                   std::uint32_t s[8]) {
    const __m128i feba = _mm_shuffle_epi32(l.abef, 0x1b);
    const __m128i dchg = _mm_shuffle_epi32(l.cdgh, 0xb1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s), _mm_blend_epi16(feba, dchg, 0xf0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s + 4), _mm_alignr_epi8(dchg, feba, 8));
}

// The one-stream function above, N streams wide: every step is done for each stream in turn.
// The stream loops are unrolled by hand-given pragmas (without them GCC at -O2 kept the streams'
// vectors in memory: three streams 1.30 GB/s, against 1.64 with them and 1.36-1.41 for one). Three
// streams do not fit the sixteen vector registers, and a schedule worked out ahead into memory
// was slower still (1.46 GB/s).
template <int N>
__attribute__((target("sha,sse4.1,ssse3"))) inline void blocks_lanes(
    std::uint32_t (*state)[8], const std::uint8_t* const* data, std::size_t nblocks) noexcept {
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    Lane x[N];
    const std::uint8_t* p[N];
    _Pragma("GCC unroll 3") for (int j = 0; j < N; ++j) {
        x[j] = load_lane(state[j]);
        p[j] = data[j];
    }
    for (; nblocks != 0; --nblocks) {
        Lane saved[N];
        __m128i w[N][4];
        _Pragma("GCC unroll 3") for (int j = 0; j < N; ++j) saved[j] = x[j];
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            const __m128i k =
                _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * g));
            __m128i wk[N];
            _Pragma("GCC unroll 3") for (int j = 0; j < N; ++j) {
                if (g < 4) {
                    w[j][g] = _mm_shuffle_epi8(
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p[j] + 16 * g)),
                        byte_swap);
                } else {
                    __m128i next = _mm_sha256msg1_epu32(w[j][g % 4], w[j][(g + 1) % 4]);
                    next = _mm_add_epi32(next,
                                         _mm_alignr_epi8(w[j][(g + 3) % 4], w[j][(g + 2) % 4], 4));
                    w[j][g % 4] = _mm_sha256msg2_epu32(next, w[j][(g + 3) % 4]);
                }
                wk[j] = _mm_add_epi32(w[j][g % 4], k);
            }
            _Pragma("GCC unroll 3") for (int j = 0; j < N; ++j) x[j].cdgh =
                _mm_sha256rnds2_epu32(x[j].cdgh, x[j].abef, wk[j]);
            _Pragma("GCC unroll 3") for (int j = 0; j < N; ++j) x[j].abef =
                _mm_sha256rnds2_epu32(x[j].abef, x[j].cdgh, _mm_shuffle_epi32(wk[j], 0x0e));
        }
        _Pragma("GCC unroll 3") for (int j = 0; j < N; ++j) {
            x[j].abef = _mm_add_epi32(x[j].abef, saved[j].abef);
            x[j].cdgh = _mm_add_epi32(x[j].cdgh, saved[j].cdgh);
            p[j] += 64;
        }
    }
    _Pragma("GCC unroll 3") for (int j = 0; j < N; ++j) store_lane(x[j], state[j]);
}

}  // namespace

__attribute__((target("sha,sse4.1,ssse3"))) void sha256_blocks_x86_x2(
    std::uint32_t (*state)[8], const std::uint8_t* const* data, std::size_t nblocks) noexcept {
    blocks_lanes<2>(state, data, nblocks);
}

__attribute__((target("sha,sse4.1,ssse3"))) void sha256_blocks_x86_x3(
    std::uint32_t (*state)[8], const std::uint8_t* const* data, std::size_t nblocks) noexcept {
    blocks_lanes<3>(state, data, nblocks);
}

}  // namespace qorv_chemical_engineering_edge::hashing::detail

#endif  // QCE_SHA256_HAVE_X86_BLOCKS
