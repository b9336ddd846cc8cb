// SHA-256 block functions (internal).
//
// Each compresses `nblocks` consecutive 64-byte blocks from `data` into `state` (the eight
// working words H0..H7 in native order). Callers hand over as many whole blocks as they have
// in one call, so the per-call cost of loading and storing the state is paid once per batch.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorv_chemical_engineering_edge::hashing::detail {

// The 64 round constants K0..K63 (the first 32 bits of the fractional parts of the cube roots
// of the first 64 primes). Aligned so the vector path can load four at a time.
alignas(16) inline constexpr std::uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// Plain C++; runs everywhere.
void sha256_blocks_portable(std::uint32_t state[8], const std::uint8_t* data,
                            std::size_t nblocks) noexcept;

#if defined(__x86_64__) || defined(__i386__)
#define QCE_SHA256_HAVE_X86_BLOCKS 1
// Uses the SHA, SSSE3 and SSE4.1 instructions; call only when the processor has all three.
void sha256_blocks_x86(std::uint32_t state[8], const std::uint8_t* data,
                       std::size_t nblocks) noexcept;
// Independent streams, `nblocks` blocks each, their rounds interleaved: the round instruction is
// bound by its latency, so two or three streams keep the unit busy where one leaves it idle.
void sha256_blocks_x86_x2(std::uint32_t (*state)[8], const std::uint8_t* const* data,
                          std::size_t nblocks) noexcept;
void sha256_blocks_x86_x3(std::uint32_t (*state)[8], const std::uint8_t* const* data,
                          std::size_t nblocks) noexcept;
#endif

}  // namespace qorv_chemical_engineering_edge::hashing::detail
