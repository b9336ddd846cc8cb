// Streaming gzip reading (multi-member files too), when the build has zlib, and a faster
// inflater (ISA-L) when the build found it; both give the same bytes and the same error texts.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qorv_chemical_engineering_edge::export_profile {

enum class Inflater {
    Fast,  // ISA-L when the build has it, zlib otherwise
    Zlib,  // zlib whatever the build has: the reference the fast one is checked against
};

class GzipReader {
  public:
    GzipReader();
    ~GzipReader();
    GzipReader(const GzipReader&) = delete;
    GzipReader& operator=(const GzipReader&) = delete;

    // False with *error set when the file cannot be opened or the build has no zlib.
    bool open(const std::string& path, std::string* error, Inflater inflater = Inflater::Fast);
    // Decompressed bytes into buf, filling it unless the data ends; 0 at the end; -1 with
    // *error on corrupt or truncated data.
    long read(char* buf, std::size_t n, std::string* error);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// A gzip file's inflated bytes in whole blocks (all of `block` bytes but the last), inflated
// ahead on a thread of their own when `own_thread`, at most `depth` blocks ahead: the scanner
// and the inflater then run side by side, in bounded memory.
class GzipBlocks {
  public:
    GzipBlocks(std::size_t block, bool own_thread, std::size_t depth = 3,
               Inflater inflater = Inflater::Fast);
    ~GzipBlocks();
    GzipBlocks(const GzipBlocks&) = delete;
    GzipBlocks& operator=(const GzipBlocks&) = delete;

    bool open(const std::string& path, std::string* error);
    // The next block, valid until the next call; empty at the end; false with *error set.
    bool next(std::string_view* out, std::string* error);

  private:
    struct Filled {
        std::size_t buffer;
        long bytes;  // -1: error
        std::string error;
    };
    void inflate_ahead();
    bool fill(std::size_t buffer, Filled* filled);

    GzipReader reader_;
    Inflater inflater_;
    std::size_t block_;
    bool own_thread_;
    std::vector<std::vector<char>> buffers_;
    std::mutex mu_;
    std::condition_variable changed_;
    std::vector<std::size_t> free_;
    std::vector<Filled> filled_;   // in order; a short queue, popped at the front
    std::size_t held_ = SIZE_MAX;  // the buffer the caller reads
    bool quit_ = false;
    bool done_ = false;  // the inflater has queued its last block or an error
    std::thread thread_;
};

bool ends_with_gz(const std::string& path);

}  // namespace qorv_chemical_engineering_edge::export_profile
