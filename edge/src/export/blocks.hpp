// Character masks of 64-byte blocks for the wide cell loop: which bytes are delimiters, quotes,
// line feeds, carriage returns, digits, decimal separators and signs. From them the loop finds
// the cells that are not plain decimals without visiting the others.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorv_chemical_engineering_edge::export_profile {

struct CharBits {
    std::uint64_t delim, quote, line, cr, digit, decimal, sign;
};

// Masks of `blocks` whole 64-byte blocks from p into out. AVX-512 (BW) or AVX2 when the CPU has
// it, else SSE2 (or bytewise off x86); every path gives the same bits.
void char_bits(const char* p, std::size_t blocks, char delim, char decimal, CharBits* out) noexcept;

enum class CharBitsPath : std::uint8_t { Portable, Avx2, Avx512 };
// One path by name, for checking each against the portable one; false when this CPU (or build)
// lacks it.
bool char_bits_on(CharBitsPath path, const char* p, std::size_t blocks, char delim, char decimal,
                  CharBits* out) noexcept;

// The portable path alone, for checking the chosen one against it.
void char_bits_portable(const char* p, std::size_t blocks, char delim, char decimal,
                        CharBits* out) noexcept;

}  // namespace qorv_chemical_engineering_edge::export_profile
