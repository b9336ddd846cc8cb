// SHA-256 (FIPS 180-4), incremental.
//
// Two block functions give identical digests: a portable one and one that uses the x86 SHA
// extensions. The processor is probed once per process and the answer cached; tests and
// benchmarks may pin the portable path to compare the two.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qorv_chemical_engineering_edge::hashing {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
public:
    Sha256() noexcept;

    void update(const void* data, std::size_t size) noexcept;
    void update(std::string_view bytes) noexcept { update(bytes.data(), bytes.size()); }

    // Pads, finishes and returns the digest. The context is spent afterwards.
    Sha256Digest finish() noexcept;

private:
    std::uint32_t state_[8];
    std::uint64_t total_ = 0;  // bytes fed so far
    std::uint8_t block_[64];   // the unfinished last block; total_ % 64 bytes of it are filled
};

// One-shot convenience.
Sha256Digest sha256(std::string_view bytes) noexcept;

enum class Sha256Engine : std::uint8_t { Portable, CpuExtensions };

// The block function in use: the SHA extensions when the processor has them.
Sha256Engine sha256_engine() noexcept;

// Whether this processor offers the SHA extensions (SHA, SSSE3 and SSE4.1).
bool sha256_cpu_extensions_available() noexcept;

// Pins the block function for this process (tests, benchmarks). Asking for CpuExtensions on a
// processor without them keeps the portable path. Not for use while other threads hash.
void pin_sha256_engine(Sha256Engine engine) noexcept;

}  // namespace qorv_chemical_engineering_edge::hashing
