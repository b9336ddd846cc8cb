// Digests of whole 1 MiB blocks for the export's input digest.
#pragma once

#include <cstddef>

#include "qorv_chemical_engineering_edge/sha256.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

inline constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

// out[i] = SHA-256 of data[i * kBlockBytes, (i + 1) * kBlockBytes).
// Hashed three at a time (see hashing::sha256_same_length): callers hand over all the whole
// blocks they hold in one call.
void digest_whole_blocks(const char* data, std::size_t n_blocks, hashing::Sha256Digest* out);
// The same for blocks that do not lie end to end: out[i] = SHA-256 of blocks[i][0, kBlockBytes).
void digest_blocks(const char* const* blocks, std::size_t n_blocks, hashing::Sha256Digest* out);

}  // namespace qorv_chemical_engineering_edge::export_profile
