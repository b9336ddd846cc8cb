// Text encodings: UTF-16 saves decoded to UTF-8 as a stream, and texts that are not valid UTF-8
// read as Windows-1252. The scan itself works on UTF-8 bytes (or bytes kept as they are); a
// text's encoding is decided once, when the profile is finalised.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge::export_profile {

// UTF-16 code units in, UTF-8 out, fed in any split: a code unit or a surrogate pair cut between
// feeds is held until its rest comes. An unpaired surrogate, or a lone byte left at the end,
// becomes U+FFFD and is counted.
class Utf16Decoder {
  public:
    explicit Utf16Decoder(bool big_endian) noexcept : big_endian_(big_endian) {}
    // Appends the UTF-8 of `in` to `out`.
    void decode(std::string_view in, std::string& out);
    // Appends what the end of the stream leaves (a held surrogate or byte, as U+FFFD).
    void finish(std::string& out);
    std::uint64_t replaced() const noexcept { return replaced_; }
    bool big_endian() const noexcept { return big_endian_; }

  private:
    void unit(std::uint32_t u, std::string& out);
    bool big_endian_;
    bool has_byte_ = false;
    unsigned char byte_ = 0;
    std::uint32_t high_ = 0;  // a high surrogate waiting for its low half; 0: none
    std::uint64_t replaced_ = 0;
};

// The stream encodings a file's bytes can be read in, before any text is decided.
enum class StreamEncoding : std::uint8_t { Utf8, Utf8Bom, Utf16LE, Utf16BE };
std::string_view name(StreamEncoding e) noexcept;  // "utf-8", "utf-8-bom", ...

// How the first bytes of a stream are read under `given`: UTF-16 (and its byte order) when given
// or announced by a byte-order mark; none when fewer than two bytes are at hand and `at_end` is
// false (the answer may still change).
std::optional<StreamEncoding> stream_encoding(std::string_view head, Encoding given, bool at_end);

// How many opening bytes tell UTF-16's byte order without a mark.
inline constexpr std::size_t kUtf16Sniff = 512;

// Big-endian (true) or little-endian (false) when the opening (its first kUtf16Sniff bytes)
// looks like UTF-16 without a byte-order mark: a NUL in three in four pairs' same byte.
std::optional<bool> bomless_utf16(std::string_view head) noexcept;
// The refusal for such an opening, naming the option that settles it.
std::string bomless_utf16_reason(bool big_endian);

bool valid_utf8(std::string_view s) noexcept;
// Invalid UTF-8 as U+FFFD, one per byte that starts no valid sequence.
std::string clean_utf8(std::string_view s);
// Windows-1252 bytes as UTF-8; the five bytes it leaves undefined (81 8D 8F 90 9D) as U+FFFD.
std::string windows_1252_to_utf8(std::string_view s);

// A text of the export (a tag name, a unit, a header cell, a cell text) as valid UTF-8 under
// the `encoding` option: Windows-1252 decodes every text so; UTF-8 (or UTF-16, whose decoded
// texts are UTF-8) keeps U+FFFD for invalid bytes; auto reads a text that is not valid UTF-8 as
// Windows-1252. `cut`: the text was cut at a byte limit, so an incomplete sequence at its end is
// no evidence against UTF-8. *decoded is set when the text was decoded as Windows-1252 and held a
// byte above 0x7F.
std::string text_out(std::string_view raw, Encoding encoding, bool cut, bool* decoded);

}  // namespace qorv_chemical_engineering_edge::export_profile
