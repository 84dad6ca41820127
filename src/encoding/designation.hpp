#pragma once
// How this system spells a character's position: a JIS X 0213 designation
// ("第3水準1-4-89": level, then plane-row-cell) and a code point ("U+00E9").
// The gaiji classifier compares written designations against these
// spellings, the tables are keyed by them, and HTML and re-emitted source
// write them, so all of them share these two formatters.

#include <cstdint>
#include <string>

namespace kogane {

// Level (plane + 2) then plane, row and cell in decimal: "第4水準2-82-4".
void append_jis_designation(std::string& out, uint32_t plane, uint32_t row, uint32_t cell);
std::string jis_designation(uint32_t plane, uint32_t row, uint32_t cell);

// "U+" and the value in uppercase hexadecimal, at least four digits.
void append_code_point(std::string& out, uint32_t cp);

}  // namespace kogane
