#include "export/gzip.hpp"

#include <cstdio>
#include <vector>

#if defined(QCE_HAVE_ZLIB)
#include <zlib.h>
#endif

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

bool has_gzip_support() noexcept {
#if defined(QCE_HAVE_ZLIB)
    return true;
#else
    return false;
#endif
}

bool ends_with_gz(const std::string& path) {
    return path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
}

#if defined(QCE_HAVE_ZLIB)

struct GzipReader::Impl {
    std::FILE* file = nullptr;
    z_stream z{};
    bool init = false;
    bool at_end = false;
    bool in_member = false;  // a member started and not yet ended
    std::vector<unsigned char> in = std::vector<unsigned char>(std::size_t{1} << 18);

    ~Impl() {
        if (init) inflateEnd(&z);
        if (file) std::fclose(file);
    }
};

GzipReader::GzipReader() : impl_(std::make_unique<Impl>()) {}
GzipReader::~GzipReader() = default;

bool GzipReader::open(const std::string& path, std::string* error) {
    impl_->file = std::fopen(path.c_str(), "rb");
    if (!impl_->file) {
        *error = "the file cannot be opened";
        return false;
    }
    if (inflateInit2(&impl_->z, 16 + MAX_WBITS) != Z_OK) {
        *error = "the gzip decoder could not start";
        return false;
    }
    impl_->init = true;
    return true;
}

long GzipReader::read(char* buf, std::size_t n, std::string* error) {
    Impl& m = *impl_;
    z_stream& z = m.z;
    z.next_out = reinterpret_cast<unsigned char*>(buf);
    z.avail_out = static_cast<uInt>(n);
    while (z.avail_out > 0 && !m.at_end) {
        if (z.avail_in == 0) {
            const std::size_t got = std::fread(m.in.data(), 1, m.in.size(), m.file);
            if (got == 0) {
                if (std::ferror(m.file)) {
                    *error = "reading the file failed";
                    return -1;
                }
                m.at_end = true;
                if (m.in_member) {
                    *error = "truncated gzip data";
                    return -1;
                }
                break;
            }
            z.next_in = m.in.data();
            z.avail_in = static_cast<uInt>(got);
        }
        const int rc = inflate(&z, Z_NO_FLUSH);
        m.in_member = rc != Z_STREAM_END;
        if (rc == Z_STREAM_END) {
            // Another gzip member may follow.
            inflateReset(&z);
        } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            *error = "corrupt gzip data";
            return -1;
        }
    }
    return static_cast<long>(n - z.avail_out);
}

#else

struct GzipReader::Impl {};
GzipReader::GzipReader() : impl_(std::make_unique<Impl>()) {}
GzipReader::~GzipReader() = default;

bool GzipReader::open(const std::string&, std::string* error) {
    *error = "this build has no gzip support; decompress the file or feed its bytes";
    return false;
}

long GzipReader::read(char*, std::size_t, std::string* error) {
    *error = "this build has no gzip support";
    return -1;
}

#endif

}  // namespace qorv_chemical_engineering_edge::export_profile
