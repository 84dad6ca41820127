#include "pipeline/lexer/classify/gaiji.hpp"

namespace kogane {

// Placeholder until gaiji resolution lands.
GaijiRef parse_gaiji_body(std::string_view body) {
    GaijiRef r;
    r.description = body;
    r.separated = true;
    return r;
}
std::optional<GaijiRef> accept_gaiji_body(std::string_view) { return std::nullopt; }
CodeRef classify_code(std::optional<std::string_view>, NodeStore&) { return CodeRef{}; }
std::optional<std::string_view> gaiji_code_text(std::optional<std::string_view> m) { return m; }
std::optional<GaijiResolution> resolve_gaiji(std::optional<std::string_view>, std::string_view) {
    return std::nullopt;
}
std::vector<GaijiRecord> scan_source_gaiji(std::string_view) { return {}; }

}  // namespace kogane
