#pragma once
// The parsed document: the immutable parse snapshot (which holds the
// caller's source), plus views in source coordinates built once on first use.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "collections/spare_buffers.hpp"
#include "document/coordinate_map.hpp"
#include "document/lazy.hpp"
#include "encoding/decode.hpp"
#include "encoding/line_ends.hpp"
#include "pipeline/lexer/classify/classifier.hpp"
#include "pipeline/lexer/classify/gaiji.hpp"
#include "pipeline/lexer/sanitize.hpp"
#include "pipeline/lexer/tokenize.hpp"
#include "pipeline/snapshot.hpp"
#include "syntax/ast/node_kind.hpp"

namespace kogane {

inline constexpr uint32_t kSchemaVersion = 3;

struct NodeSpan {
    NodeKind kind;
    Span span;
};

struct SourcePair {
    PairKind kind;
    Span open;
    Span close;
};

struct SourceContainerPair {
    ContainerKey kind;
    Span open;
    Span close;
};

// How a decoded source was edited in place by the parse that owned it: line
// ends folded by the decoder, then the sanitizer's edits.
struct SourceRecord {
    LineEnds line_ends;
    SanitizeEdits edits;
    bool rebuilt() const { return line_ends.folded() || !edits.empty(); }
};

class KoganeDoc {
public:
    // The snapshot of a finished parse; it holds the source, unless the
    // parse edited the decoded source in place as `record` says.
    explicit KoganeDoc(ParseSnapshot snapshot, SourceRecord record = {})
        : snapshot_(std::move(snapshot)), record_(std::move(record)) {}
    // The normalized text's storage is kept for the next parse.
    ~KoganeDoc() { keep_spare_buffer(std::move(snapshot_.normalized)); }
    KoganeDoc(const KoganeDoc&) = delete;
    KoganeDoc& operator=(const KoganeDoc&) = delete;

    const ParseSnapshot& snapshot() const { return snapshot_; }
    // The source as it came (rebuilt on first use when the parse edited it).
    std::string_view source() const;
    uint64_t source_size() const;

    const Diagnostics& diagnostics_in_source() const;
    const std::vector<GaijiRecord>& gaiji_list() const;
    const std::vector<SourcePair>& pair_list() const;
    const std::vector<NodeSpan>& node_list() const;
    const std::vector<SourceContainerPair>& container_pair_list() const;
    const CoordinateMap& coordinate_map() const;

    // Sanitized span to source span.
    Span to_source(Span s) const;
    // The same mapping with the coordinate map looked up once, for views
    // that map many spans.
    SpanMapper source_mapper() const;

private:
    ParseSnapshot snapshot_;
    SourceRecord record_;
    Lazy<std::string> restored_source_;
    Lazy<Diagnostics> diagnostics_;
    Lazy<std::vector<GaijiRecord>> gaiji_;
    Lazy<std::vector<SourcePair>> pairs_;
    Lazy<std::vector<NodeSpan>> nodes_;
    Lazy<std::vector<SourceContainerPair>> container_pairs_;
    Lazy<CoordinateMap> map_;
};

using DocPtr = std::shared_ptr<const KoganeDoc>;

// `source` must be at most 4,294,967,295 bytes. `piece_bytes`: how much
// text the lexer reads at a time; `long_group_events`: how long a bracket
// group grows before the classifier looks ahead for openers that never
// close. The result depends on neither (tests and fuzzing make them tiny to
// cross every boundary and take every path).
DocPtr parse_document(SharedText source, uint32_t piece_bytes = Tokenizer::kPieceBytes,
                      uint32_t long_group_events = kLongGroupEvents);

// The first stage too: UTF-8 or Shift_JIS bytes decoded (refused before
// any copy when the text would pass the limit), then parsed.
std::variant<DocPtr, DecodeFailure> parse_bytes(std::string_view bytes);

struct LengthError {
    uint64_t length;
};

// True when a text of `length` bytes can be parsed (offsets fit in u32).
constexpr bool source_length_ok(uint64_t length) { return length <= 0xFFFFFFFFull; }

std::variant<DocPtr, LengthError> new_document(const char* bytes, uint64_t length);

// Runs the pipeline over a copy of `text`, without a document or views.
void parse_fragment(std::string_view text, ParseSnapshot& output);

}  // namespace kogane
