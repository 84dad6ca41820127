#include "document/document.hpp"

#include "encoding/decode.hpp"
#include "pipeline/fold.hpp"
#include "pipeline/lexer/pair.hpp"
#include "pipeline/lexer/sanitize.hpp"

namespace kogane {

namespace {

// The stages after sanitizing, on a context that holds the sanitized text.
void classify_and_fold(ParseSnapshot& context, uint32_t piece_bytes, uint32_t long_group_events) {
    ClassifiedStream classified = classify(context, piece_bytes, long_group_events);
    fold(std::move(classified), context);
}

// The stages of a parse after decoding (parse_bytes), in order; every stage
// sees UTF-8. The snapshot is the parse's context: it owns the texts and
// the diagnostics, and each stage hands back only what it makes.
ParseSnapshot run_pipeline(SharedText source, uint32_t piece_bytes, uint32_t long_group_events) {
    ParseSnapshot context;
    context.source = std::move(source);
    context.sanitized = sanitize(context.source, context.diagnostics);
    context.sanitized_is_source = context.sanitized == context.source;
    classify_and_fold(context, piece_bytes, long_group_events);
    return context;
}

}  // namespace

DocPtr parse_document(SharedText source, uint32_t piece_bytes, uint32_t long_group_events) {
    return std::make_shared<const KoganeDoc>(run_pipeline(std::move(source), piece_bytes, long_group_events));
}

// Decoded bytes belong to the parse alone: line ends are folded as they are
// decoded and the sanitizer edits the text in place, so one text is held;
// the source as it came is rebuilt from the records when asked for.
std::variant<DocPtr, DecodeFailure> parse_bytes(std::string_view bytes) {
    SourceRecord record;
    std::optional<scan::SanitizeProbe> probe;
    auto decoded = decode_auto_limited(bytes, kMaxSourceBytes, &record.line_ends, &probe);
    if (auto* failure = std::get_if<DecodeFailure>(&decoded)) return *failure;
    ParseSnapshot context;
    context.sanitized =
        sanitize_owned(std::move(std::get<std::string>(decoded)), record.edits, context.diagnostics, probe);
    context.source = context.sanitized;
    context.sanitized_is_source = !record.rebuilt();
    classify_and_fold(context, Tokenizer::kPieceBytes, kLongGroupEvents);
    return std::make_shared<const KoganeDoc>(std::move(context), std::move(record));
}

std::variant<DocPtr, LengthError> new_document(const char* bytes, uint64_t length) {
    if (!source_length_ok(length)) return LengthError{length};
    std::string text = take_spare_buffer(static_cast<size_t>(length));
    text.append(bytes, static_cast<size_t>(length));
    return parse_document(share_keeping_buffer(std::move(text)));
}

void parse_fragment(std::string_view text, ParseSnapshot& output) {
    output = run_pipeline(std::make_shared<const std::string>(text), Tokenizer::kPieceBytes, kLongGroupEvents);
}

std::string_view KoganeDoc::source() const {
    if (!record_.rebuilt()) return *snapshot_.source;
    return restored_source_.get([&] {
        const std::string_view sanitized = *snapshot_.sanitized;
        if (record_.edits.empty()) return record_.line_ends.restore(sanitized);
        return record_.line_ends.restore(record_.edits.undo(sanitized));
    });
}

uint64_t KoganeDoc::source_size() const {
    if (!record_.rebuilt()) return snapshot_.source->size();
    return record_.line_ends.source_size(record_.edits.undone_size(snapshot_.sanitized->size()));
}

const CoordinateMap& KoganeDoc::coordinate_map() const {
    return map_.get([&] {
        return build_coordinate_map(source(), *snapshot_.sanitized, snapshot_.sanitized_is_source);
    });
}

Span KoganeDoc::to_source(Span s) const { return source_mapper()(s); }

SpanMapper KoganeDoc::source_mapper() const {
    return SpanMapper(snapshot_.sanitized_is_source ? nullptr : &coordinate_map());
}

const Diagnostics& KoganeDoc::diagnostics_in_source() const {
    if (snapshot_.sanitized_is_source) return snapshot_.diagnostics;
    return diagnostics_.get([&] {
        const SpanMapper to_source = source_mapper();
        Diagnostics out = snapshot_.diagnostics;
        for (Diagnostic& d : out) d.span = to_source(d.span);
        // Mapping never reorders spans, but distinct sanitized spans inside
        // one rewritten accent body can land on the same source span; sort
        // again so callers always see (start, end, code) order.
        sort_diagnostics(out);
        return out;
    });
}

const std::vector<GaijiRecord>& KoganeDoc::gaiji_list() const {
    return gaiji_.get([&] { return scan_source_gaiji(source()); });
}

const std::vector<SourcePair>& KoganeDoc::pair_list() const {
    return pairs_.get([&] {
        const SpanMapper to_source = source_mapper();
        const std::vector<PairLink> links = pair_links(*snapshot_.sanitized);
        std::vector<SourcePair> out;
        out.reserve(links.size());
        for (const PairLink& l : links)
            out.push_back(SourcePair{l.kind, to_source(l.open), to_source(l.close)});
        return out;
    });
}

const std::vector<NodeSpan>& KoganeDoc::node_list() const {
    return nodes_.get([&] {
        const SpanMapper to_source = source_mapper();
        std::vector<NodeSpan> out;
        out.reserve(snapshot_.registry.size());
        for (const RegistryEntry& e : snapshot_.registry.in_order())
            out.push_back(NodeSpan{node_kind_of(e), to_source(e.span)});
        return out;
    });
}

const std::vector<SourceContainerPair>& KoganeDoc::container_pair_list() const {
    return container_pairs_.get([&] {
        const SpanMapper to_source = source_mapper();
        std::vector<SourceContainerPair> out;
        out.reserve(snapshot_.container_pairs.size());
        for (const ContainerPair& p : snapshot_.container_pairs) {
            const RegistryEntry* open = snapshot_.registry.find(p.open_position);
            const RegistryEntry* close = snapshot_.registry.find(p.close_position);
            if (open == nullptr || close == nullptr) continue;
            out.push_back(SourceContainerPair{p.open_spec.key(), to_source(open->span), to_source(close->span)});
        }
        return out;
    });
}

}  // namespace kogane
