#include "json/views.hpp"

#include <cstring>

#include "json/json_writer.hpp"
#include "pipeline/lexer/classify/slug_catalogue.hpp"

namespace kogane {

std::string nodes_json(const KoganeDoc& doc) {
    JsonWriter w(kSchemaVersion);
    for (const NodeSpan& n : doc.node_list()) {
        w.begin_entry();
        w.string_field("kind", node_kind_name(n.kind));
        w.span_field("span", n.span);
        w.end_entry();
    }
    return w.finish();
}

std::string pairs_json(const KoganeDoc& doc) {
    JsonWriter w(kSchemaVersion);
    for (const SourcePair& p : doc.pair_list()) {
        w.begin_entry();
        w.string_field("kind", pair_kind_json(p.kind));
        w.span_field("open", p.open);
        w.span_field("close", p.close);
        w.end_entry();
    }
    return w.finish();
}

std::string container_pairs_json(const KoganeDoc& doc) {
    JsonWriter w(kSchemaVersion);
    for (const SourceContainerPair& p : doc.container_pair_list()) {
        w.begin_entry();
        w.string_field("kind", kContainerJsonNames[static_cast<uint8_t>(p.kind)]);
        w.span_field("open", p.open);
        w.span_field("close", p.close);
        w.end_entry();
    }
    return w.finish();
}

std::string gaiji_json(const KoganeDoc& doc) {
    JsonWriter w(kSchemaVersion);
    for (const GaijiRecord& g : doc.gaiji_list()) {
        w.begin_entry();
        w.span_field("span", g.span);
        w.string_field("description", g.description);
        if (g.mencode) w.string_field("mencode", *g.mencode);
        if (g.has_codepoint) w.number_field("codepoint", g.codepoint);
        if (g.resolved) w.string_field("resolved", *g.resolved);
        w.end_entry();
    }
    return w.finish();
}

std::string diagnostics_json(const Diagnostics& diagnostics) {
    JsonWriter w(kSchemaVersion);
    for (const Diagnostic& d : diagnostics) {
        const char* code = d.code();
        const char* kind = std::strrchr(code, ':');
        w.begin_entry();
        w.string_field("kind", kind ? kind + 1 : code);
        w.string_field("severity", severity_name(d.severity()));
        w.string_field("source", d.origin());
        w.span_field("span", d.span);
        if (d.tag == DiagTag::SourceContainsPua || d.tag == DiagTag::SourceContainsControl)
            w.number_field("codepoint", d.codepoint);
        if (d.tag == DiagTag::DiagnosticsDropped) {
            const char* of = d.dropped_code();
            const char* of_kind = std::strrchr(of, ':');
            w.string_field("of", of_kind ? of_kind + 1 : of);
            w.number_field("count", d.dropped_count);
        }
        w.end_entry();
    }
    return w.finish();
}

std::string diagnostics_json(const KoganeDoc& doc) { return diagnostics_json(doc.diagnostics_in_source()); }

std::string slugs_json() {
    JsonWriter w(kSchemaVersion);
    for (const SlugRecord& s : slug_catalogue()) {
        w.begin_entry();
        w.string_field("canonical", s.canonical);
        w.string_field("family", s.family);
        w.bool_field("accepts_param", s.accepts_param);
        w.string_field("doc", s.doc);
        if (s.partner) w.string_field("partner", s.partner);
        w.end_entry();
    }
    return w.finish();
}

}  // namespace kogane
