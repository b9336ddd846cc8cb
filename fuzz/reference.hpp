// What the fuzz targets compare the library against, written apart from it: a byte stream framed
// by hand the way seals frame their fields, OpenSSL's SHA-256 of it in lower-case hex, and a check
// that aborts (so libFuzzer keeps the input) with a note of what failed.
#pragma once

#include <openssl/sha.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace qorv_fuzz {

inline void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

inline std::array<std::uint8_t, 32> openssl_sha256(std::string_view bytes) {
    std::array<std::uint8_t, 32> digest{};
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest.data());
    return digest;
}

inline std::string hex(const std::array<std::uint8_t, 32>& digest) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t byte : digest) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

// Labelled fields: the label's length (8 bytes, little-endian), the label, the value's length,
// the value; counts are values of 8 little-endian bytes.
struct FramedStream {
    std::string bytes;

    void put_le64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) bytes += static_cast<char>((v >> (8 * i)) & 0xff);
    }
    FramedStream& field(std::string_view label, std::string_view value) {
        put_le64(label.size());
        bytes += label;
        put_le64(value.size());
        bytes += value;
        return *this;
    }
    FramedStream& count(std::string_view label, std::uint64_t value) {
        put_le64(label.size());
        bytes += label;
        put_le64(8);
        put_le64(value);
        return *this;
    }
    std::string seal() const { return hex(openssl_sha256(bytes)); }
};

// A small deterministic generator for choices derived from the input (chunk sizes and such).
struct SplitMix {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }
};

}  // namespace qorv_fuzz
