#include "encoding/decode.hpp"

#include "collections/utf8.hpp"


namespace kogane {

std::optional<std::string> decode_auto(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    return decode_sjis(bytes);
}

std::variant<std::string, DecodeFailure> decode_auto_limited(std::string_view bytes, uint64_t limit) {
    // Either decoding yields at least one byte per input byte, so the byte
    // length alone refuses an over-long input, without reading it.
    if (bytes.size() > limit) return DecodeFailure::TooLong;
    if (is_valid_utf8(bytes)) return std::string(bytes);
    // Every Shift_JIS byte decodes to at most three UTF-8 bytes; count
    // exactly only when that bound is not enough to decide.
    if (uint64_t(bytes.size()) * 3 > limit) {
        std::optional<uint64_t> length = sjis_decoded_length(bytes);
        if (!length) return DecodeFailure::Malformed;
        if (*length > limit) return DecodeFailure::TooLong;
    }
    std::optional<std::string> text = decode_sjis(bytes);
    if (!text) return DecodeFailure::Malformed;
    return std::move(*text);
}

namespace {

constexpr bool is_surrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

template <typename Unit>
std::optional<uint64_t> length_of(std::span<const Unit> units) {
    uint64_t n = 0;
    for (Unit u : units) {
        if constexpr (sizeof(Unit) > 1) {
            if (is_surrogate(u)) return std::nullopt;
        }
        n += utf8::encoded_length(u);
    }
    return n;
}

template <typename Unit>
void append_units(std::string& out, std::span<const Unit> units) {
    // Sized once, then written through a pointer: no capacity check per byte.
    uint64_t extra = 0;
    for (Unit u : units) extra += utf8::encoded_length(u);
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(extra));
    char* w = out.data() + at;
    for (Unit u : units) w += utf8::encode(u, w);
}

}  // namespace

std::optional<uint64_t> utf8_length(std::span<const uint8_t> units) { return length_of(units); }
std::optional<uint64_t> utf8_length(std::span<const uint16_t> units) { return length_of(units); }
std::optional<uint64_t> utf8_length(std::span<const uint32_t> units) { return length_of(units); }
void append_utf8(std::string& out, std::span<const uint8_t> units) { append_units(out, units); }
void append_utf8(std::string& out, std::span<const uint16_t> units) { append_units(out, units); }
void append_utf8(std::string& out, std::span<const uint32_t> units) { append_units(out, units); }

}  // namespace kogane
