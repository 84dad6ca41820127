// libFuzzer target: arbitrary bytes through decoding, the parse and every
// view, checking the invariants that hold whatever the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "encoding/decode.hpp"
#include "invariants.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto text = kogane::decode_auto_limited(bytes);
    if (!std::holds_alternative<std::string>(text)) return 0;
    kogane::DocPtr doc =
        kogane::parse_document(std::make_shared<const std::string>(std::move(std::get<std::string>(text))));
    std::string err = kogane::checks::check_document(*doc);
    if (err.empty()) err = kogane::checks::check_round_trip(*doc);
    if (!err.empty()) {
        std::fprintf(stderr, "invariant violated: %s\n", err.c_str());
        std::abort();
    }
    return 0;
}
