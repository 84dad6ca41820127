#include "encoding/designation.hpp"

#include <charconv>
#include <string_view>

#include "collections/hex.hpp"

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
    out += "U+";
    append_hex(out, cp, 4, true);
}

}  // namespace kogane
