// Streaming gzip reading (multi-member files too), when the build has zlib.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace qorv_chemical_engineering_edge::export_profile {

class GzipReader {
  public:
    GzipReader();
    ~GzipReader();
    GzipReader(const GzipReader&) = delete;
    GzipReader& operator=(const GzipReader&) = delete;

    // False with *error set when the file cannot be opened or the build has no zlib.
    bool open(const std::string& path, std::string* error);
    // Decompressed bytes into buf; 0 at the end; -1 with *error on corrupt data.
    long read(char* buf, std::size_t n, std::string* error);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

bool ends_with_gz(const std::string& path);

}  // namespace qorv_chemical_engineering_edge::export_profile
