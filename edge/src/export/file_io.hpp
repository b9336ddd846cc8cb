// Reading files by position, without streams: a descriptor, its size, pread in a loop, and views
// of byte ranges that map the file where it can be mapped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

class File {
  public:
    explicit File(const std::string& path);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    explicit operator bool() const noexcept { return fd_ >= 0; }
    const std::string& path() const noexcept { return path_; }
    int fd() const noexcept { return fd_; }
    Result<std::uint64_t> size() const;
    // False when the file ends before n bytes or a read fails.
    bool read_at(char* buf, std::size_t n, std::uint64_t offset) const;

  private:
    std::string path_;
    int fd_ = -1;
};

// Bytes [from, to) of a file, held for one thread's use. A regular file is mapped read-only
// (copying through pread cost about a fifth of a wide scan); a pipe or special file, or one the
// system will not map, is read with pread into `fallback`. A file that shrinks under a mapping
// reads zeros from there on instead of stopping the process with SIGBUS, and intact() says so:
// the bytes are then to be thrown away. Unmapped when it goes, so memory holds only the pieces
// in hand. One view at a time per thread.
class FileView {
  public:
    // `from` must be a multiple of the page size (pieces start on digest blocks).
    FileView(const File& file, std::uint64_t from, std::uint64_t to, std::string& fallback);
    ~FileView();
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;

    // False when the file could not be read, or ended before `to` (at the start or meanwhile).
    bool ok() const noexcept { return ok_; }
    std::string_view bytes() const noexcept { return bytes_; }
    bool mapped() const noexcept { return map_ != nullptr; }
    // Whether every byte read was the file's: it had not shrunk under the mapping. Ask it after
    // the last use of bytes().
    bool intact() const;

  private:
    const File& file_;
    std::uint64_t to_;
    void* map_ = nullptr;
    std::size_t map_size_ = 0;
    std::string_view bytes_;
    bool ok_ = false;
};

// The error for a view that was not ok() or not intact().
ProfileError changed_while_read(const std::string& path);

}  // namespace qorv_chemical_engineering_edge::export_profile
