// Reading files by position; see file_io.hpp.
#include "export/file_io.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qorv_chemical_engineering_edge::export_profile {

File::File(const std::string& path)
    : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

Result<std::uint64_t> File::size() const {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) return ProfileError{path_, "the file cannot be read"};
    return static_cast<std::uint64_t>(end);
}

bool File::read_at(char* buf, std::size_t n, std::uint64_t offset) const {
    while (n) {
        const ssize_t got = ::pread(fd_, buf, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buf += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
