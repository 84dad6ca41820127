#include "encoding/designation.hpp"

#include <charconv>
#include <string_view>

namespace kogane {

namespace {

void append_decimal(std::string& out, uint32_t v) {
    char buf[10];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

}  // namespace

void append_jis_designation(std::string& out, uint32_t plane, uint32_t row, uint32_t cell) {
    out += "第";
    append_decimal(out, plane + 2);
    out += "水準";
    append_decimal(out, plane);
    out += '-';
    append_decimal(out, row);
    out += '-';
    append_decimal(out, cell);
}

std::string jis_designation(uint32_t plane, uint32_t row, uint32_t cell) {
    std::string s;
    s.reserve(24);
    append_jis_designation(s, plane, row, cell);
    return s;
}

void append_code_point(std::string& out, uint32_t cp) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    char buf[8];
    int n = 0;
    do {
        buf[n++] = kHex[cp & 0xF];
        cp >>= 4;
    } while (cp != 0);
    while (n < 4) buf[n++] = '0';
    out += "U+";
    while (n > 0) out += buf[--n];
}

}  // namespace kogane
