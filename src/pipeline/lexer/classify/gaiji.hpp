#pragma once
// Gaiji references: ※［＃description、code］. Body grammar, acceptance test,
// designation classification, resolution to characters, and the scan of the
// raw source behind the gaiji view.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "collections/span.hpp"
#include "syntax/ast/node.hpp"
#include "syntax/ast/node_store.hpp"

namespace kogane {

// Parse of one body; all views are slices of the body text.
struct GaijiRef {
    std::string_view description;
    std::optional<std::string_view> mencode;  // the code part as written, trimmed
    bool quoted = false;
    bool separated = false;
};

// The character(s) a reference stands for: one code point, or a short text
// (JIS positions that map to two code points, composed Roman numerals).
struct GaijiResolution {
    bool single = false;
    uint32_t codepoint = 0;  // when single
    std::string text;        // UTF-8 of the resolution, always filled
};

// One entry of the gaiji view; span in source byte offsets.
struct GaijiRecord {
    std::string description;
    std::optional<std::string> mencode;
    std::optional<std::string> resolved;
    bool has_codepoint = false;
    uint32_t codepoint = 0;
    Span span;
};

GaijiRef parse_gaiji_body(std::string_view body);
std::optional<GaijiRef> accept_gaiji_body(std::string_view body);
// `mencode` as written; interns text designations into `store`.
CodeRef classify_code(std::optional<std::string_view> mencode, NodeStore& store);
// The code text is the first "、"-piece of the mencode text, trimmed.
std::optional<std::string_view> gaiji_code_text(std::optional<std::string_view> mencode);
std::optional<GaijiResolution> resolve_gaiji(std::optional<std::string_view> code_text,
                                             std::string_view description);
std::vector<GaijiRecord> scan_source_gaiji(std::string_view source);

// The node payload for an accepted reference: interned description,
// classified designation and the spelling flags.
GaijiItem make_gaiji_item(const GaijiRef& ref, bool without_mark, NodeStore& store);
// resolve_gaiji for a stored reference; gives the same result as resolving
// the reference it was built from.
std::optional<GaijiResolution> resolve_gaiji_item(const GaijiItem& item, const NodeStore& store);

}  // namespace kogane
