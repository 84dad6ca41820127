#include "encoding/decode.hpp"

#include "collections/utf8.hpp"

namespace kogane {

bool is_valid_utf8(std::string_view s) { return utf8::is_valid(s); }

}  // namespace kogane
