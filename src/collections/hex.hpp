#pragma once
// Hexadecimal digits of a number, for the U+XXXX and \u{…} spellings.

#include <cstdint>
#include <string>

namespace kogane {

// Appends `v` in hexadecimal, most significant digit first, padded with
// zeros to at least `min_digits`.
inline void append_hex(std::string& out, uint32_t v, int min_digits, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char buf[8];
    int n = 0;
    do {
        buf[n++] = digits[v & 0xF];
        v >>= 4;
    } while (v != 0);
    while (n < min_digits) buf[n++] = '0';
    while (n > 0) out += buf[--n];
}

}  // namespace kogane
