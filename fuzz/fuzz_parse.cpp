// libFuzzer target: arbitrary bytes through decoding, the parse and every
// view, checking the invariants that hold whatever the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "encoding/decode.hpp"
#include "json/views.hpp"
#include "pipeline/lexer/pair.hpp"
#include "render/html.hpp"
#include "invariants.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto text = kogane::decode_auto_limited(bytes);
    if (!std::holds_alternative<std::string>(text)) return 0;
    const kogane::SharedText source = std::make_shared<const std::string>(std::move(std::get<std::string>(text)));
    kogane::DocPtr doc = kogane::parse_document(source);
    std::string err = kogane::checks::check_document(*doc);
    if (err.empty()) err = kogane::checks::check_round_trip(*doc);
    // The lexer reads the text in pieces, and the classifier gives up
    // groups bound to be re-read early, looking ahead once a group grows
    // long. Read in pieces of 1 to 16 bytes, and either holding every group
    // to its end or looking ahead at groups of 2 to 9 events, the document
    // must be the same.
    if (err.empty() && size > 0) {
        const uint32_t choice = size > 1 ? data[size - 2] % 9u : 0u;
        const uint32_t long_group = choice == 0 ? kogane::kKeepEveryGroup : choice + 1u;
        const kogane::DocPtr pieces = kogane::parse_document(source, 1u + data[size - 1] % 16u, long_group);
        if (kogane::render_html(pieces->snapshot()) != kogane::render_html(doc->snapshot()) ||
            kogane::nodes_json(*pieces) != kogane::nodes_json(*doc) ||
            kogane::diagnostics_json(*pieces) != kogane::diagnostics_json(*doc) ||
            kogane::pairs_json(*pieces) != kogane::pairs_json(*doc))
            err = "the document depends on the lexer's piece size or when it looks ahead";
    }
    // Bytes parsed with their line ends folded while decoding make the same
    // document, source included.
    if (err.empty()) {
        auto parsed = kogane::parse_bytes(bytes);
        const auto* folded = std::get_if<kogane::DocPtr>(&parsed);
        if (folded == nullptr || (*folded)->source() != doc->source() ||
            (*folded)->source_size() != doc->source().size() ||
            kogane::render_html((*folded)->snapshot()) != kogane::render_html(doc->snapshot()) ||
            kogane::nodes_json(**folded) != kogane::nodes_json(*doc) ||
            kogane::diagnostics_json(**folded) != kogane::diagnostics_json(*doc) ||
            kogane::pairs_json(**folded) != kogane::pairs_json(*doc) ||
            kogane::gaiji_json(**folded) != kogane::gaiji_json(*doc))
            err = "folding line ends while decoding changes the document";
    }
    // The annotation quotations followed from their ［＃「 alone are those
    // the whole text's pairing gives.
    if (err.empty()) err = kogane::checks::check_annotation_quotes(*doc->snapshot().sanitized);
    if (!err.empty()) {
        std::fprintf(stderr, "invariant violated: %s\n", err.c_str());
        std::abort();
    }
    return 0;
}
