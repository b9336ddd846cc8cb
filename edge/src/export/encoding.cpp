// UTF-16 decoding, Windows-1252 and the per-text reading; see encoding.hpp.
#include "export/encoding.hpp"

#include <array>

namespace qorv_chemical_engineering_edge::export_profile {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

void put_utf8(std::uint32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The length of the valid UTF-8 sequence at s[i], or 0; `short_end` is set when the bytes end
// inside what would otherwise be a valid sequence.
std::size_t sequence_at(std::string_view s, std::size_t i, bool* short_end) noexcept {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (n == 0 || c == 0xC0 || c == 0xC1 || c > 0xF4) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if (i + k >= s.size()) {
            if (short_end) *short_end = true;
            return 0;
        }
        const auto ck = static_cast<unsigned char>(s[i + k]);
        if ((ck & 0xC0) != 0x80) return 0;
        if (k == 1 && n == 3 && ((c == 0xE0 && ck < 0xA0) || (c == 0xED && ck >= 0xA0))) return 0;
        if (k == 1 && n == 4 && ((c == 0xF0 && ck < 0x90) || (c == 0xF4 && ck >= 0x90))) return 0;
    }
    return n;
}

// Windows-1252's 0x80..0x9F; 0 where it defines no character.
constexpr std::array<std::uint16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

void Utf16Decoder::unit(std::uint32_t u, std::string& out) {
    if (high_ != 0) {
        if (u >= 0xDC00 && u <= 0xDFFF) {
            put_utf8(0x10000 + ((high_ - 0xD800) << 10) + (u - 0xDC00), out);
            high_ = 0;
            return;
        }
        out.append(kReplacement);
        ++replaced_;
        high_ = 0;
    }
    if (u >= 0xD800 && u <= 0xDBFF) {
        high_ = u;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
        out.append(kReplacement);
        ++replaced_;
    } else {
        put_utf8(u, out);
    }
}

void Utf16Decoder::decode(std::string_view in, std::string& out) {
    std::size_t i = 0;
    auto pair = [this](unsigned char a, unsigned char b) -> std::uint32_t {
        return big_endian_ ? (std::uint32_t{a} << 8 | b) : (std::uint32_t{b} << 8 | a);
    };
    if (has_byte_ && !in.empty()) {
        unit(pair(byte_, static_cast<unsigned char>(in[0])), out);
        has_byte_ = false;
        i = 1;
    }
    for (; i + 1 < in.size(); i += 2) {
        const std::uint32_t u =
            pair(static_cast<unsigned char>(in[i]), static_cast<unsigned char>(in[i + 1]));
        // ASCII, the bulk of an export, needs no checks.
        if (u < 0x80 && high_ == 0)
            out.push_back(static_cast<char>(u));
        else
            unit(u, out);
    }
    if (i < in.size()) {
        byte_ = static_cast<unsigned char>(in[i]);
        has_byte_ = true;
    }
}

void Utf16Decoder::finish(std::string& out) {
    if (high_ != 0) {
        out.append(kReplacement);
        ++replaced_;
        high_ = 0;
    }
    if (has_byte_) {
        out.append(kReplacement);
        ++replaced_;
        has_byte_ = false;
    }
}

std::string_view name(StreamEncoding e) noexcept {
    constexpr std::array<std::string_view, 4> kNames = {"utf-8", "utf-8-bom", "utf-16le",
                                                        "utf-16be"};
    return kNames[static_cast<std::size_t>(e)];
}

std::optional<StreamEncoding> stream_encoding(std::string_view head, Encoding given, bool at_end) {
    if (given == Encoding::Utf16LE) return StreamEncoding::Utf16LE;
    if (given == Encoding::Utf16BE) return StreamEncoding::Utf16BE;
    const bool bom8 = head.substr(0, 3) == "\xEF\xBB\xBF";
    if (given == Encoding::Utf8 || given == Encoding::Windows1252)
        return bom8 ? StreamEncoding::Utf8Bom : StreamEncoding::Utf8;
    if (head.size() < 3 && !at_end) return std::nullopt;
    if (head.substr(0, 2) == "\xFF\xFE") return StreamEncoding::Utf16LE;
    if (head.substr(0, 2) == "\xFE\xFF") return StreamEncoding::Utf16BE;
    if (given == Encoding::Utf16) {
        // Without a mark the NULs of ASCII text tell the byte order; else as spreadsheets save.
        // Always from the same opening bytes, however the stream is fed.
        if (head.size() < kUtf16Sniff && !at_end) return std::nullopt;
        const auto order = bomless_utf16(head);
        return order && *order ? StreamEncoding::Utf16BE : StreamEncoding::Utf16LE;
    }
    return bom8 ? StreamEncoding::Utf8Bom : StreamEncoding::Utf8;
}

std::optional<bool> bomless_utf16(std::string_view head) noexcept {
    const std::size_t pairs = std::min(head.size(), kUtf16Sniff) / 2;
    if (pairs < 2) return std::nullopt;
    std::size_t low_nul = 0, high_nul = 0;  // pairs whose second, or first, byte alone is NUL
    for (std::size_t k = 0; k < pairs; ++k) {
        const bool a = head[2 * k] == '\0', b = head[2 * k + 1] == '\0';
        low_nul += !a && b;
        high_nul += a && !b;
    }
    if (low_nul * 4 >= pairs * 3) return false;
    if (high_nul * 4 >= pairs * 3) return true;
    return std::nullopt;
}

std::string bomless_utf16_reason(bool big_endian) {
    return std::string(
               "the opening reads as UTF-16 text without a byte-order mark (a NUL in "
               "every other byte); pass encoding=\"") +
           (big_endian ? "utf-16be" : "utf-16le") + "\" if it is";
}

bool valid_utf8(std::string_view s) noexcept {
    for (std::size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t n = sequence_at(s, i, nullptr);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string clean_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = sequence_at(s, i, nullptr);
        if (n != 0) {
            out.append(s.substr(i, n));
            i += n;
        } else {
            out.append(kReplacement);
            ++i;
        }
    }
    return out;
}

std::string windows_1252_to_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 2);
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80 || c >= 0xA0) {
            put_utf8(c, out);
        } else if (kHigh[c - 0x80] != 0) {
            put_utf8(kHigh[c - 0x80], out);
        } else {
            out.append(kReplacement);
        }
    }
    return out;
}

std::string text_out(std::string_view raw, Encoding encoding, bool cut, bool* decoded) {
    auto ascii = [](std::string_view s) {
        for (char c : s)
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        return true;
    };
    if (ascii(raw)) return std::string(raw);
    bool as_1252 = encoding == Encoding::Windows1252;
    if (encoding == Encoding::Auto) {
        // A text cut inside its last character is still UTF-8 when all before the cut is.
        as_1252 = false;
        for (std::size_t i = 0; i < raw.size() && !as_1252;) {
            bool short_end = false;
            const std::size_t n = sequence_at(raw, i, &short_end);
            if (n == 0) {
                as_1252 = !(cut && short_end);
                break;
            }
            i += n;
        }
    }
    if (!as_1252) return clean_utf8(raw);
    if (decoded) *decoded = true;
    return windows_1252_to_utf8(raw);
}

}  // namespace qorv_chemical_engineering_edge::export_profile
