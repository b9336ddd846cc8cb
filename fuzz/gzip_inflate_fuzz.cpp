// The fast inflater against zlib: the same bytes and the same error text on every stream, and
// blocks inflated ahead on a thread equal to blocks read in turn. The input's first byte picks
// the form: the bytes as they are (a file of any kind), or the rest gzipped in one or two
// members by zlib and then cut short or given a flipped byte where the input says.
#include <zlib.h>

#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "export/gzip.hpp"
#include "reference.hpp"

namespace ep = qorv_chemical_engineering_edge::export_profile;
using qorv_fuzz::check;

namespace {

std::string gzipped(std::string_view text, int level) {
    z_stream z{};
    check(deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK,
          "deflateInit2");
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    check(deflate(&z, Z_FINISH) == Z_STREAM_END, "deflate");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Read {
    std::string bytes, error;
};

Read read_all(const std::string& path, ep::Inflater inflater, std::size_t chunk) {
    ep::GzipReader r;
    Read out;
    if (!r.open(path, &out.error, inflater)) return out;
    std::string buf(chunk, '\0');
    for (long got; (got = r.read(buf.data(), chunk, &out.error)) > 0;)
        out.bytes.append(buf.data(), static_cast<std::size_t>(got));
    return out;
}

const std::string& scratch() {
    static const std::string path = "/tmp/gzip_inflate_fuzz_" + std::to_string(getpid()) + ".gz";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint8_t form = data[0], knob = data[1], at_lo = data[2], at_hi = data[3];
    std::string_view rest(reinterpret_cast<const char*>(data) + 4, size - 4);
    std::string file;
    if (form % 2 == 0) {
        file = std::string(rest);
    } else {
        const std::size_t split = rest.size() * (knob % 4) / 4;
        file = gzipped(rest.substr(0, split), knob % 10);
        if (form & 2) file += gzipped(rest.substr(split), 9 - knob % 10);
        const std::size_t at = (std::size_t{at_hi} << 8 | at_lo) % (file.size() + 1);
        if (form & 4) file.resize(at);
        if ((form & 8) && at < file.size()) file[at] = static_cast<char>(file[at] ^ (knob | 1));
        if (form & 16) file += std::string(rest.substr(0, knob % 12));
    }
    std::FILE* f = std::fopen(scratch().c_str(), "wb");
    check(f != nullptr, "scratch file");
    check(std::fwrite(file.data(), 1, file.size(), f) == file.size(), "scratch write");
    std::fclose(f);

    const std::size_t chunk = 1 + (std::size_t{knob} * 37) % 5000;
    const Read ref = read_all(scratch(), ep::Inflater::Zlib, chunk);
    const Read fast = read_all(scratch(), ep::Inflater::Fast, 1 + chunk * 3 % 7001);
    check(fast.error == ref.error, "the fast inflater's error is zlib's");
    check(!ref.error.empty() || fast.bytes == ref.bytes, "the fast inflater's bytes are zlib's");

    ep::GzipBlocks ahead(chunk, true, 1 + knob % 3);
    std::string ahead_error;
    check(ahead.open(scratch(), &ahead_error), "open ahead");
    std::string joined;
    std::string_view block;
    while (ahead.next(&block, &ahead_error) && !block.empty()) joined += block;
    check(ahead_error == fast.error, "blocks read ahead end as the reader does");
    check(!fast.error.empty() || joined == fast.bytes, "blocks read ahead hold the reader's bytes");
    return 0;
}
