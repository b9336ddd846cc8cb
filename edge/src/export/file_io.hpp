// Reading files by position, without streams: a descriptor, its size, pread in a loop.
#pragma once

#include <cstdint>
#include <string>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

class File {
  public:
    explicit File(const std::string& path);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    explicit operator bool() const noexcept { return fd_ >= 0; }
    Result<std::uint64_t> size() const;
    // False when the file ends before n bytes or a read fails.
    bool read_at(char* buf, std::size_t n, std::uint64_t offset) const;

  private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace qorv_chemical_engineering_edge::export_profile
