// The blocks of the input digest are independent, so they are hashed three at a time: the SHA
// round instruction is bound by its latency, and interleaving three blocks' rounds keeps the unit
// busy (one stream 1.4 GB/s, three 2.5 GB/s on the benchmark machine). The engine pinned for
// hashing (portable or not) is respected.
#include "export/digest.hpp"

#include <algorithm>
#include <cstdint>

namespace qorv_chemical_engineering_edge::export_profile {

void digest_blocks(const char* const* blocks, std::size_t n_blocks, hashing::Sha256Digest* out) {
    hashing::sha256_same_length(reinterpret_cast<const std::uint8_t* const*>(blocks), n_blocks,
                                kBlockBytes, out);
}

void digest_whole_blocks(const char* data, std::size_t n_blocks, hashing::Sha256Digest* out) {
    // In batches of a multiple of three, so the pointers stay on the stack and the streams full.
    constexpr std::size_t kBatch = 24;
    const char* at[kBatch];
    for (std::size_t i = 0; i < n_blocks; i += kBatch) {
        const std::size_t n = std::min(kBatch, n_blocks - i);
        for (std::size_t j = 0; j < n; ++j) at[j] = data + (i + j) * kBlockBytes;
        digest_blocks(at, n, out + i);
    }
}

}  // namespace qorv_chemical_engineering_edge::export_profile
