#include "encoding/decode.hpp"

namespace kogane {

std::optional<std::string> decode_auto(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    return decode_sjis(bytes);
}

}  // namespace kogane
