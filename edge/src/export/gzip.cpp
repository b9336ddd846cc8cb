#include "export/gzip.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <system_error>
#include <vector>

#if defined(QCE_HAVE_ZLIB)
#include <zlib.h>
#endif
#if defined(QCE_HAVE_ISAL)
#include <dlfcn.h>
#include <isa-l/igzip_lib.h>
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

#if defined(QCE_HAVE_ISAL)
namespace {

// ISA-L's inflater, loaded once a process where installed. The header's inflate_state is that
// of the library's soname 2, so no other is loaded.
struct IsalApi {
    void (*init)(inflate_state*);
    void (*reset)(inflate_state*);
    int (*inflate)(inflate_state*);
};

const IsalApi* isal_api() noexcept {
    static const IsalApi* const api = []() -> const IsalApi* {
        void* lib = dlopen("libisal.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!lib) return nullptr;
        static IsalApi loaded;
        loaded.init = reinterpret_cast<void (*)(inflate_state*)>(dlsym(lib, "isal_inflate_init"));
        loaded.reset = reinterpret_cast<void (*)(inflate_state*)>(dlsym(lib, "isal_inflate_reset"));
        loaded.inflate = reinterpret_cast<int (*)(inflate_state*)>(dlsym(lib, "isal_inflate"));
        if (!loaded.init || !loaded.reset || !loaded.inflate) return nullptr;
        return &loaded;
    }();
    return api;
}

}  // namespace
#endif

const char* gzip_inflater() noexcept {
#if defined(QCE_HAVE_ZLIB) && defined(QCE_HAVE_ISAL)
    return isal_api() ? "isa-l" : "zlib";
#elif defined(QCE_HAVE_ZLIB)
    return "zlib";
#else
    return "";
#endif
}

bool ends_with_gz(const std::string& path) {
    return path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
}

#if defined(QCE_HAVE_ZLIB)

namespace {
constexpr const char* kCorrupt = "corrupt gzip data";
constexpr const char* kTruncated = "truncated gzip data";
}  // namespace

struct GzipReader::Impl {
    std::FILE* file = nullptr;
    bool at_end = false;
    bool in_member = false;  // a member started and not yet ended
    std::vector<unsigned char> in = std::vector<unsigned char>(std::size_t{1} << 18);
    std::uint64_t delivered = 0;  // bytes handed out so far
    const unsigned char* next_in = nullptr;
    std::size_t avail_in = 0;
    z_stream z{};
    bool z_init = false;
#if defined(QCE_HAVE_ISAL)
    std::unique_ptr<inflate_state> isal;  // about 40 KiB: not on the stack
    unsigned char header[4] = {};         // the member's first four bytes, as far as seen
    std::size_t header_seen = 0;
#endif

    long inflate_into(char* buf, std::size_t n, std::string* error);

    ~Impl() {
        if (z_init) inflateEnd(&z);
        if (file) std::fclose(file);
    }

    // Input for the next step: 1, 0 at the end of the file, -1 with *error set.
    int refill(std::string* error) {
        if (avail_in > 0) return 1;
        const std::size_t got = std::fread(in.data(), 1, in.size(), file);
        if (got == 0) {
            if (std::ferror(file)) {
                *error = "reading the file failed";
                return -1;
            }
            at_end = true;
            if (!in_member) return 0;
            *error = kTruncated;
            return -1;
        }
        next_in = in.data();
        avail_in = got;
        return 1;
    }

    // One step of inflating into [*out, *out + *room); false with *error on corrupt data.
    bool step_zlib(unsigned char** out, std::size_t* room, std::string* error) {
        z.next_in = const_cast<unsigned char*>(next_in);
        z.avail_in = static_cast<uInt>(avail_in);
        z.next_out = *out;
        z.avail_out = static_cast<uInt>(*room);
        const int rc = inflate(&z, Z_NO_FLUSH);
        next_in = z.next_in;
        avail_in = z.avail_in;
        *out = z.next_out;
        *room = z.avail_out;
        in_member = rc != Z_STREAM_END;
        if (rc == Z_STREAM_END) {
            // Another gzip member may follow.
            inflateReset(&z);
        } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            *error = kCorrupt;
            return false;
        }
        return true;
    }

#if defined(QCE_HAVE_ISAL)
    bool step_isal(unsigned char** out, std::size_t* room, std::string* error) {
        // zlib judges a member's magic once its two bytes are in, then method and flags once
        // theirs are; ISA-L only with the whole header at hand: a few stray bytes after the
        // last member (or a short file) are corrupt to zlib, truncated to ISA-L. Judged here as
        // zlib does, zlib's answer stands.
        for (std::size_t k = 0; header_seen < 4 && k < avail_in; ++k) {
            header[header_seen++] = next_in[k];
            const bool bad = header_seen == 2   ? header[0] != 0x1f || header[1] != 0x8b
                             : header_seen == 4 ? header[2] != Z_DEFLATED || (header[3] & 0xe0)
                                                : false;
            if (bad) {
                *error = kCorrupt;
                return false;
            }
        }
        inflate_state& s = *isal;
        s.next_in = const_cast<unsigned char*>(next_in);
        s.avail_in = static_cast<std::uint32_t>(avail_in);
        s.next_out = *out;
        s.avail_out = static_cast<std::uint32_t>(*room);
        const int rc = isal_api()->inflate(&s);
        next_in = s.next_in;
        avail_in = s.avail_in;
        *out = s.next_out;
        *room = s.avail_out;
        if (rc < 0 || rc == ISAL_NEED_DICT) {
            *error = kCorrupt;
            return false;
        }
        in_member = s.block_state != ISAL_BLOCK_FINISH;
        if (!in_member) {
            // Another gzip member may follow; what the stream read past its end is handed back.
            isal_api()->reset(&s);
            s.crc_flag = ISAL_GZIP;
            header_seen = 0;
        }
        return true;
    }
#endif
};

GzipReader::GzipReader() : impl_(std::make_unique<Impl>()) {}
GzipReader::~GzipReader() = default;

bool GzipReader::open(const std::string& path, std::string* error, Inflater inflater) {
    impl_->file = std::fopen(path.c_str(), "rb");
    if (!impl_->file) {
        *error = "the file cannot be opened";
        return false;
    }
#if defined(QCE_HAVE_ISAL)
    if (inflater == Inflater::Fast && isal_api()) {
        impl_->isal = std::make_unique<inflate_state>();
        isal_api()->init(impl_->isal.get());
        impl_->isal->crc_flag = ISAL_GZIP;
        return true;
    }
#else
    (void)inflater;
#endif
    if (inflateInit2(&impl_->z, 16 + MAX_WBITS) != Z_OK) {
        *error = "the gzip decoder could not start";
        return false;
    }
    impl_->z_init = true;
    return true;
}

long GzipReader::Impl::inflate_into(char* buf, std::size_t n, std::string* error) {
    unsigned char* out = reinterpret_cast<unsigned char*>(buf);
    std::size_t room = n;
    while (room > 0 && !at_end) {
        const int input = refill(error);
        if (input < 0) return -1;
        if (input == 0) break;
#if defined(QCE_HAVE_ISAL)
        const bool ok = isal ? step_isal(&out, &room, error) : step_zlib(&out, &room, error);
#else
        const bool ok = step_zlib(&out, &room, error);
#endif
        if (!ok) return -1;
    }
    return static_cast<long>(n - room);
}

long GzipReader::read(char* buf, std::size_t n, std::string* error) {
    Impl& m = *impl_;
    long got = m.inflate_into(buf, n, error);
#if defined(QCE_HAVE_ISAL)
    // A stream ISA-L rejects is read again by zlib from its start: how and where a bad stream
    // fails (corrupt or truncated: ISA-L waits for a whole trailer, zlib checks its crc first)
    // is zlib's word. Only bad files pay for it.
    if (got < 0 && m.isal && (*error == kCorrupt || *error == kTruncated)) {
        error->clear();
        m.isal.reset();
        std::rewind(m.file);
        m.at_end = m.in_member = false;
        m.avail_in = 0;
        if (inflateInit2(&m.z, 16 + MAX_WBITS) != Z_OK) {
            *error = "the gzip decoder could not start";
            return -1;
        }
        m.z_init = true;
        for (std::uint64_t left = m.delivered; left > 0;) {
            const long skipped = m.inflate_into(
                buf, static_cast<std::size_t>(std::min<std::uint64_t>(left, n)), error);
            if (skipped <= 0) return skipped;
            left -= static_cast<std::uint64_t>(skipped);
        }
        got = m.inflate_into(buf, n, error);
    }
#endif
    if (got > 0) m.delivered += static_cast<std::uint64_t>(got);
    return got;
}

#else

struct GzipReader::Impl {};
GzipReader::GzipReader() : impl_(std::make_unique<Impl>()) {}
GzipReader::~GzipReader() = default;

bool GzipReader::open(const std::string&, std::string* error, Inflater) {
    *error = "this build has no gzip support; decompress the file or feed its bytes";
    return false;
}

long GzipReader::read(char*, std::size_t, std::string* error) {
    *error = "this build has no gzip support";
    return -1;
}

#endif

GzipBlocks::GzipBlocks(std::size_t block, bool own_thread, std::size_t depth, Inflater inflater)
    : inflater_(inflater), block_(block), own_thread_(own_thread) {
    // One buffer the caller reads, `depth` filled or being filled ahead of it.
    const std::size_t count = own_thread ? depth + 1 : 1;
    buffers_.resize(count);
    for (std::size_t k = 0; k < count; ++k) free_.push_back(k);
}

GzipBlocks::~GzipBlocks() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mu_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
}

bool GzipBlocks::open(const std::string& path, std::string* error) {
    if (!reader_.open(path, error, inflater_)) return false;
    for (auto& b : buffers_) b.resize(block_);
    if (own_thread_) {
        try {
            thread_ = std::thread([this] { inflate_ahead(); });
        } catch (const std::system_error&) {
            own_thread_ = false;  // no thread to be had: inflate in turn, as one thread does
        }
    }
    return true;
}

bool GzipBlocks::fill(std::size_t buffer, Filled* filled) {
    filled->buffer = buffer;
    filled->bytes = reader_.read(buffers_[buffer].data(), block_, &filled->error);
    return filled->bytes > 0;
}

void GzipBlocks::inflate_ahead() {
    for (;;) {
        std::size_t buffer;
        {
            std::unique_lock lock(mu_);
            changed_.wait(lock, [this] { return quit_ || !free_.empty(); });
            if (quit_) return;
            buffer = free_.back();
            free_.pop_back();
        }
        Filled filled;
        const bool more = fill(buffer, &filled);
        {
            std::lock_guard lock(mu_);
            filled_.push_back(std::move(filled));
            done_ = !more;
        }
        changed_.notify_all();
        if (!more) return;
    }
}

bool GzipBlocks::next(std::string_view* out, std::string* error) {
    if (!own_thread_) {
        Filled filled;
        if (!fill(0, &filled) && filled.bytes < 0) {
            *error = std::move(filled.error);
            return false;
        }
        *out = std::string_view(buffers_[0].data(), static_cast<std::size_t>(filled.bytes));
        return true;
    }
    Filled filled;
    {
        std::unique_lock lock(mu_);
        if (held_ != SIZE_MAX) {
            free_.push_back(held_);
            held_ = SIZE_MAX;
            changed_.notify_all();
        }
        changed_.wait(lock, [this] { return !filled_.empty() || done_; });
        if (filled_.empty()) {  // after the last block, asked again
            *out = {};
            return true;
        }
        filled = std::move(filled_.front());
        filled_.erase(filled_.begin());
    }
    if (filled.bytes < 0) {
        *error = std::move(filled.error);
        return false;
    }
    held_ = filled.buffer;
    *out = std::string_view(buffers_[filled.buffer].data(), static_cast<std::size_t>(filled.bytes));
    return true;
}

}  // namespace qorv_chemical_engineering_edge::export_profile
