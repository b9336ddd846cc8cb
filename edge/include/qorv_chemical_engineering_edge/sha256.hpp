// SHA-256 (FIPS 180-4), incremental.
//
// Two block functions give identical digests: a portable one and one that uses the x86 SHA
// extensions. The processor is probed once per process and the answer cached; tests and
// benchmarks may pin the portable path to compare the two.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace qorv_chemical_engineering_edge::hashing {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
  public:
    Sha256() noexcept;

    void update(const void* data, std::size_t size) noexcept;
    void update(std::string_view bytes) noexcept { update(bytes.data(), bytes.size()); }

    // Copies up to 64 bytes with a few fixed-size moves.
    static void copy_short(std::uint8_t* to, const std::uint8_t* from, std::size_t n) noexcept {
        if (n >= 8) {
            for (std::size_t i = 0; i + 8 < n; i += 8) std::memcpy(to + i, from + i, 8);
            std::memcpy(to + n - 8, from + n - 8, 8);  // the tail, overlapping what is copied
        } else if (n >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + n - 4, from + n - 4, 4);
        } else if (n != 0) {
            to[0] = from[0];
            to[n / 2] = from[n / 2];
            to[n - 1] = from[n - 1];
        }
    }

    // Pads, finishes and returns the digest. The context is spent afterwards.
    Sha256Digest finish() noexcept;

  private:
    std::uint32_t state_[8];
    std::uint64_t total_ = 0;  // bytes fed so far
    std::uint8_t block_[64];   // the unfinished last block; total_ % 64 bytes of it are filled
};

// One-shot convenience.
Sha256Digest sha256(std::string_view bytes) noexcept;

// out[i] = sha256 of messages[i], i < count, every message `size` bytes long. With the SHA
// extensions three messages are hashed at once (rounds interleaved), then two; the digests are
// those of sha256() on each.
void sha256_same_length(const std::uint8_t* const* messages, std::size_t count, std::size_t size,
                        Sha256Digest* out) noexcept;

enum class Sha256Engine : std::uint8_t { Portable, CpuExtensions };

// The block function in use: the SHA extensions when the processor has them.
Sha256Engine sha256_engine() noexcept;

// Whether this processor offers the SHA extensions (SHA, SSSE3 and SSE4.1).
bool sha256_cpu_extensions_available() noexcept;

// Pins the block function for this process (tests, benchmarks). Asking for CpuExtensions on a
// processor without them keeps the portable path. Not for use while other threads hash.
void pin_sha256_engine(Sha256Engine engine) noexcept;

}  // namespace qorv_chemical_engineering_edge::hashing
