// SHA-256 (FIPS 180-4): the streaming context, the portable block function and the choice of
// block function.
#include "qorv_chemical_engineering_edge/sha256.hpp"

#include <atomic>
#include <bit>
#include <cstring>

#include "hashing/sha256_blocks.hpp"

#if defined(QCE_SHA256_HAVE_X86_BLOCKS)
#include <cpuid.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qorv_chemical_engineering_edge::hashing {

namespace detail {

namespace {

inline std::uint32_t load_be32(const std::uint8_t* p) noexcept {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

inline std::uint32_t big_sigma0(std::uint32_t x) noexcept {
    return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22);
}
inline std::uint32_t big_sigma1(std::uint32_t x) noexcept {
    return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25);
}
inline std::uint32_t small_sigma0(std::uint32_t x) noexcept {
    return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3);
}
inline std::uint32_t small_sigma1(std::uint32_t x) noexcept {
    return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10);
}

}  // namespace

void sha256_blocks_portable(std::uint32_t state[8], const std::uint8_t* data,
                            std::size_t nblocks) noexcept {
    std::uint32_t w[64];
    for (; nblocks != 0; --nblocks, data += 64) {
        for (int t = 0; t < 16; ++t) w[t] = load_be32(data + 4 * t);
        for (int t = 16; t < 64; ++t) {
            w[t] = small_sigma1(w[t - 2]) + w[t - 7] + small_sigma0(w[t - 15]) + w[t - 16];
        }

        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int t = 0; t < 64; ++t) {
            const std::uint32_t ch = (e & f) ^ (~e & g);
            const std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
            const std::uint32_t t1 = h + big_sigma1(e) + ch + kSha256RoundConstants[t] + w[t];
            const std::uint32_t t2 = big_sigma0(a) + maj;
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

}  // namespace detail

namespace {

// The engine choice lives in one byte so that reading it on every block batch costs a plain
// load. Bits: the probe has run; its answer (the SHA extensions are usable); the portable path
// has been pinned. A zero byte means nothing is known yet. Relaxed ordering suffices: the byte
// carries no other data, and two threads racing through the first use probe the same processor
// and store the same value.
constexpr std::uint8_t kProbed = 1;
constexpr std::uint8_t kCpuAvailable = 2;
constexpr std::uint8_t kPinnedPortable = 4;

std::atomic<std::uint8_t> g_engine_bits{0};

bool probe_cpu_extensions() noexcept {
#if defined(QCE_SHA256_HAVE_X86_BLOCKS)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    const bool ssse3 = (ecx & bit_SSSE3) != 0;   // leaf 1, ECX bit 9
    const bool sse41 = (ecx & bit_SSE4_1) != 0;  // leaf 1, ECX bit 19
    // __get_cpuid_count refuses leaves above the processor's maximum.
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
    const bool sha = (ebx & bit_SHA) != 0;  // leaf 7 subleaf 0, EBX bit 29
    return sha && ssse3 && sse41;
#else
    return false;
#endif
}

std::uint8_t engine_bits() noexcept {
    std::uint8_t bits = g_engine_bits.load(std::memory_order_relaxed);
    if ((bits & kProbed) == 0) {
        bits = static_cast<std::uint8_t>(kProbed | (probe_cpu_extensions() ? kCpuAvailable : 0));
        g_engine_bits.store(bits, std::memory_order_relaxed);
    }
    return bits;
}

bool uses_cpu_extensions(std::uint8_t bits) noexcept {
    return (bits & kCpuAvailable) != 0 && (bits & kPinnedPortable) == 0;
}

// Compresses a batch of whole blocks with the block function currently chosen.
inline void compress(std::uint32_t state[8], const std::uint8_t* data,
                     std::size_t nblocks) noexcept {
#if defined(QCE_SHA256_HAVE_X86_BLOCKS)
    if (uses_cpu_extensions(engine_bits())) {
        detail::sha256_blocks_x86(state, data, nblocks);
        return;
    }
#endif
    detail::sha256_blocks_portable(state, data, nblocks);
}

constexpr std::uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline void store_be32(std::uint8_t* p, std::uint32_t v) noexcept {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace

Sha256::Sha256() noexcept {
    std::memcpy(state_, kInitialState, sizeof state_);
}

void Sha256::update(const void* data, std::size_t size) noexcept {
    if (size == 0) return;  // also keeps a null pointer away from memcpy
    const auto* p = static_cast<const std::uint8_t*>(data);
    const std::size_t used = static_cast<std::size_t>(total_ % 64);
    total_ += size;

    // Top up a partly filled block first; if it is still not full, that is all.
    if (used != 0) {
        const std::size_t room = 64 - used;
        if (size < room) {
            copy_short(block_ + used, p, size);
            return;
        }
        copy_short(block_ + used, p, room);
        compress(state_, block_, 1);
        p += room;
        size -= room;
    }

    // Whole blocks straight from the caller's buffer, in one batch.
    const std::size_t nblocks = size / 64;
    if (nblocks != 0) {
        compress(state_, p, nblocks);
        p += nblocks * 64;
        size -= nblocks * 64;
    }

    copy_short(block_, p, size);
}

Sha256Digest Sha256::finish() noexcept {
    const std::uint64_t bit_length = total_ * 8;
    std::size_t used = static_cast<std::size_t>(total_ % 64);

    // Padding: one 1 bit, zeros up to 56 bytes into a block, then the 64-bit big-endian
    // message length in bits. If the 0x80 byte leaves no room for the length, the padding
    // spills into a second block.
    block_[used++] = 0x80;
    if (used > 56) {
        std::memset(block_ + used, 0, 64 - used);
        compress(state_, block_, 1);
        used = 0;
    }
    std::memset(block_ + used, 0, 56 - used);
    store_be32(block_ + 56, static_cast<std::uint32_t>(bit_length >> 32));
    store_be32(block_ + 60, static_cast<std::uint32_t>(bit_length));
    compress(state_, block_, 1);

    Sha256Digest digest;
#if defined(__SSE2__)
    // The state words byte-swapped sixteen bytes at a time. Stored in two pieces rather than
    // eight, the digest is read back without a store-forwarding stall: a one-block hash went
    // from about 69 to 46 ns (bench: BM_Sha256_CpuExtensions/55).
    for (int half = 0; half < 2; ++half) {
        __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state_ + 4 * half));
        words = _mm_shufflehi_epi16(_mm_shufflelo_epi16(words, 0xb1), 0xb1);  // swap 16-bit halves
        words = _mm_or_si128(_mm_slli_epi16(words, 8), _mm_srli_epi16(words, 8));  // swap bytes
        _mm_storeu_si128(reinterpret_cast<__m128i*>(digest.data() + 16 * half), words);
    }
#else
    for (int i = 0; i < 8; ++i) store_be32(digest.data() + 4 * i, state_[i]);
#endif
    return digest;
}

Sha256Digest sha256(std::string_view bytes) noexcept {
    Sha256 sha;
    sha.update(bytes);
    return sha.finish();
}

#if defined(QCE_SHA256_HAVE_X86_BLOCKS)
namespace {

// N messages of `size` bytes through the interleaved block function: the whole blocks straight
// from the messages, then each one's tail and padding (the same number of blocks for all, as
// the lengths are equal) from a local copy.
template <int N>
void same_length_lanes(const std::uint8_t* const* messages, std::size_t size,
                       Sha256Digest* out) noexcept {
    std::uint32_t state[N][8];
    const std::uint8_t* at[N];
    for (int j = 0; j < N; ++j) {
        std::memcpy(state[j], kInitialState, sizeof state[j]);
        at[j] = messages[j];
    }
    const std::size_t whole = size / 64;
    const auto run = [&](std::size_t nblocks) {
        if constexpr (N == 3) {
            detail::sha256_blocks_x86_x3(state, at, nblocks);
        } else {
            detail::sha256_blocks_x86_x2(state, at, nblocks);
        }
    };
    if (whole != 0) run(whole);
    const std::size_t rest = size % 64;
    const std::size_t tail_blocks = rest + 9 > 64 ? 2 : 1;
    alignas(16) std::uint8_t tail[N][128];
    for (int j = 0; j < N; ++j) {
        std::memset(tail[j], 0, sizeof tail[j]);
        if (rest != 0) std::memcpy(tail[j], messages[j] + whole * 64, rest);
        tail[j][rest] = 0x80;
        const std::uint64_t bits = std::uint64_t{size} * 8;
        store_be32(tail[j] + 64 * tail_blocks - 8, static_cast<std::uint32_t>(bits >> 32));
        store_be32(tail[j] + 64 * tail_blocks - 4, static_cast<std::uint32_t>(bits));
        at[j] = tail[j];
    }
    run(tail_blocks);
    for (int j = 0; j < N; ++j)
        for (int i = 0; i < 8; ++i) store_be32(out[j].data() + 4 * i, state[j][i]);
}

}  // namespace
#endif

void sha256_same_length(const std::uint8_t* const* messages, std::size_t count, std::size_t size,
                        Sha256Digest* out) noexcept {
    std::size_t i = 0;
#if defined(QCE_SHA256_HAVE_X86_BLOCKS)
    if (uses_cpu_extensions(engine_bits())) {
        // Threes, but four as two pairs: a lone stream runs at about half the rate of a pair.
        for (; count - i >= 3 && count - i != 4; i += 3)
            same_length_lanes<3>(messages + i, size, out + i);
        for (; count - i >= 2; i += 2) same_length_lanes<2>(messages + i, size, out + i);
    }
#endif
    for (; i < count; ++i) {
        Sha256 one;
        one.update(messages[i], size);
        out[i] = one.finish();
    }
}

Sha256Engine sha256_engine() noexcept {
    return uses_cpu_extensions(engine_bits()) ? Sha256Engine::CpuExtensions
                                              : Sha256Engine::Portable;
}

bool sha256_cpu_extensions_available() noexcept {
    return (engine_bits() & kCpuAvailable) != 0;
}

void pin_sha256_engine(Sha256Engine engine) noexcept {
    std::uint8_t bits = engine_bits();
    if (engine == Sha256Engine::Portable) {
        bits = static_cast<std::uint8_t>(bits | kPinnedPortable);
    } else {
        bits = static_cast<std::uint8_t>(bits & ~kPinnedPortable);
    }
    g_engine_bits.store(bits, std::memory_order_relaxed);
}

}  // namespace qorv_chemical_engineering_edge::hashing
