#include "pipeline/fold.hpp"

#include <iterator>

#include "collections/panic.hpp"
#include "collections/spare_buffers.hpp"
#include "pipeline/fold_passes.hpp"
#include "pipeline/lexer/classify/classifier.hpp"
#include "pipeline/lexer/classify/forward.hpp"
#include "pipeline/lexer/classify/quote_index.hpp"

namespace kogane {

namespace {

// Bouten kinds 8..12 (波線 … 破線) are side lines; the rest are dots.
bool is_line_family(BoutenKind k) { return k >= BoutenKind::Namisen && k <= BoutenKind::Hasen; }

DiagName family_word(BoutenKind k) { return is_line_family(k) ? DiagName::BoutenLines : DiagName::BoutenDots; }

// Name of the single-line layout a LeafAlign puts in force; None when it
// puts none in force.
DiagName single_line_name(const LeafAlignNode& leaf) {
    switch (leaf.layout) {
        case SingleLine::Indent:
        case SingleLine::IndentRaised: return DiagName::Indent;
        case SingleLine::AlignEnd: return DiagName::AlignEnd;
        case SingleLine::Centre: return DiagName::Centre;
        case SingleLine::Gothic: return DiagName::LineGothic;
        case SingleLine::FontSize: return DiagName::None;
    }
    return DiagName::None;
}

class Folder {
public:
    Folder(std::string_view text, const EventList& events, const EventPool& pool,
           Diagnostics& diagnostics)
        : out_(take_spare_buffer(text.size())), diagnostics_(diagnostics), text_(text), pool_(pool) {
        // One registry entry per construct, one pair per container opened:
        // counted, not guessed from the pair events, which a text of
        // unclosed brackets has by the million without a single construct.
        size_t constructs = 0, containers = 0;
        for (const ClassifiedEvent& e : events) {
            constructs += e.tag != EventTag::TextRun && e.tag != EventTag::LineFeed;
            containers += e.tag == EventTag::ContainerOpen;
        }
        registry_.reserve(constructs);
        stack_.reserve(containers);
        pairs_.reserve(containers);
    }

    void run(const EventList& events) {
        for (size_t i = 0; i < events.size(); ++i) {
            const ClassifiedEvent& e = events[i];
            const bool after_block = after_block_leaf_;
            after_block_leaf_ = false;
            if (after_block && e.tag == EventTag::Node && node(e).tag == NodeTag::LeafAlign && ends_line(events, i)) {
                // A single-line layout after a heading or illustration,
                // last on their line, is carried by that block too.
                out_.resize(out_.size() - 2);
                inline_node(e);
                out_ += "\n\n";
                after_block_leaf_ = true;
                continue;
            }
            switch (e.tag) {
                case EventTag::TextRun:
                    if (e.span.end > e.span.start) {
                        write_carried();
                        line_leaves_.clear();
                    }
                    text_run(e.span);
                    break;
                case EventTag::LineFeed:
                    out_ += '\n';
                    single_line_ = DiagName::None;
                    line_leaves_.clear();
                    break;
                case EventTag::Node:
                    if (is_block_leaf(node(e).tag)) {
                        write_carried();
                        const bool carries = node(e).tag == NodeTag::Heading || node(e).tag == NodeTag::Illustration;
                        if (carries && !line_leaves_.empty()) carry_line_leaves();
                        line_leaves_.clear();
                        block_leaf(e);
                        after_block_leaf_ = carries;
                    } else if (node(e).tag == NodeTag::LeafAlign && carried_.empty() &&
                               (!line_leaves_.empty() || out_.empty() || out_.back() == '\n')) {
                        // Possibly the layout of a block opening next on this line.
                        line_leaves_.push_back(LineLeaf{e, static_cast<uint32_t>(out_.size())});
                        inline_node(e);
                    } else {
                        write_carried();
                        line_leaves_.clear();
                        inline_node(e);
                    }
                    break;
                case EventTag::ContainerOpen:
                    if (!spec(e).is_inline() && !line_leaves_.empty())
                        carry_line_leaves();
                    else if (spec(e).is_inline())
                        write_carried();
                    line_leaves_.clear();
                    container_open(e);
                    break;
                case EventTag::ContainerClose:
                    write_carried();
                    line_leaves_.clear();
                    container_close(e);
                    break;
            }
        }
        write_carried();
    }

    std::string out_;
    SpareVector<RegistryEntry> registry_;
    std::vector<ContainerPair> pairs_;
    Diagnostics& diagnostics_;

private:
    const Node& node(const ClassifiedEvent& e) const { return pool_.node(e); }
    const ContainerSpec& spec(const ClassifiedEvent& e) const { return pool_.spec(e); }

    struct OpenContainer {
        uint32_t position;
        ContainerSpec spec;
    };

    // A single-line layout written at the start of the current line, with
    // only others like it before it.
    struct LineLeaf {
        ClassifiedEvent event;
        uint32_t position;
    };

    // A block opens on a line that so far holds only single-line layouts:
    // they apply to the block's first line, so they are taken back and
    // written inside it.
    void carry_line_leaves() {
        out_.resize(line_leaves_[0].position);
        registry_.resize(registry_.size() - line_leaves_.size());
        for (const LineLeaf& l : line_leaves_) carried_.push_back(l.event);
    }

    // Whether only single-line layouts stand between events[i] and the end
    // of its line.
    // The answer holds for every layout up to the line end, so each event
    // is looked at once however many layouts a line holds.
    bool ends_line(const EventList& events, size_t i) {
        if (i < layouts_end_line_until_) return true;
        for (size_t k = i + 1; k < events.size(); ++k) {
            const ClassifiedEvent& e = events[k];
            if (e.tag == EventTag::LineFeed) {
                layouts_end_line_until_ = k;
                return true;
            }
            if (e.tag == EventTag::TextRun && e.span.end == e.span.start) continue;
            if (e.tag != EventTag::Node || node(e).tag != NodeTag::LeafAlign) return false;
        }
        layouts_end_line_until_ = events.size();
        return true;
    }

    void write_carried() {
        if (carried_.empty()) return;
        std::vector<ClassifiedEvent> leaves;
        leaves.swap(carried_);
        for (const ClassifiedEvent& e : leaves) inline_node(e);
    }

    void text_run(Span s) {
        invariant(s.start <= s.end && s.end <= text_.size() && is_char_boundary(text_, s.start) &&
                      is_char_boundary(text_, s.end),
                  "span must align to UTF-8 char boundaries in source");
        out_.append(slice(text_, s));
    }

    // Writes the sentinel (framed by blank lines when `block`) and returns
    // its byte position.
    uint32_t sentinel(SentinelKind kind, bool block) {
        if (block) out_ += "\n\n";
        invariant(out_.size() <= 0xFFFFFFFFull, "normalized fits u32 per sanitize-stage cap");
        const uint32_t at = static_cast<uint32_t>(out_.size());
        out_ += static_cast<char>(0xEE);
        out_ += static_cast<char>(0x80);
        out_ += static_cast<char>(0x81 + static_cast<uint8_t>(kind));
        if (block) out_ += "\n\n";
        return at;
    }

    void record(SentinelKind kind, const ClassifiedEvent& e, uint32_t at) {
        RegistryEntry entry;
        entry.kind = kind;
        if (kind == SentinelKind::BlockOpen || kind == SentinelKind::BlockClose)
            entry.spec = spec(e);
        else
            entry.node = node(e);
        entry.span = e.span;
        entry.position = at;
        registry_.push_back(entry);
    }

    void inline_node(const ClassifiedEvent& e) {
        if (node(e).tag == NodeTag::LeafAlign) {
            if (const DiagName name = single_line_name(node(e).leaf); name != DiagName::None) single_line_ = name;
        } else if (node(e).tag == NodeTag::Directive) {
            if (node(e).directive.kind == RemarkKind::WarichuOpen) ++warichu_depth_;
            if (node(e).directive.kind == RemarkKind::WarichuClose && warichu_depth_ > 0) --warichu_depth_;
        }
        record(SentinelKind::Inline, e, sentinel(SentinelKind::Inline, false));
    }

    // Single-line layouts carried into a heading or illustration follow its
    // sentinel directly, inside its blank-line frame.
    void block_leaf(const ClassifiedEvent& e) {
        if (node(e).tag == NodeTag::PageBreak || node(e).tag == NodeTag::SectionBreak) {
            if (single_line_ != DiagName::None)
                diagnostics_.push_back(Diagnostic::break_in_single_line_container(e.span, single_line_));
            else if (warichu_depth_ > 0)
                diagnostics_.push_back(Diagnostic::break_in_single_line_container(e.span, DiagName::Warichu));
        }
        record(SentinelKind::BlockLeaf, e, sentinel(SentinelKind::BlockLeaf, true));
        if (carried_.empty()) return;
        out_.resize(out_.size() - 2);
        std::vector<ClassifiedEvent> leaves;
        leaves.swap(carried_);
        for (const ClassifiedEvent& l : leaves) inline_node(l);
        out_ += "\n\n";
    }

    void container_open(const ClassifiedEvent& e) {
        const uint32_t at = sentinel(SentinelKind::BlockOpen, !spec(e).is_inline());
        record(SentinelKind::BlockOpen, e, at);
        stack_.push_back(OpenContainer{at, spec(e)});
    }

    void container_close(const ClassifiedEvent& e) {
        const uint32_t at = sentinel(SentinelKind::BlockClose, !spec(e).is_inline());
        record(SentinelKind::BlockClose, e, at);
        if (stack_.empty()) return;
        const OpenContainer open = stack_.back();
        stack_.pop_back();
        const ContainerKey expected = open.spec.key();
        const ContainerKey received = spec(e).key();
        if (expected != received) {
            diagnostics_.push_back(
                Diagnostic::mismatched_container_close(e.span, expected, received));
        } else if (expected == ContainerKey::BoutenRange &&
                   is_line_family(open.spec.bouten.mark) != is_line_family(spec(e).bouten.mark)) {
            diagnostics_.push_back(Diagnostic::mismatched_bouten_container(e.span, family_word(open.spec.bouten.mark),
                                                                            family_word(spec(e).bouten.mark)));
        }
        pairs_.push_back(ContainerPair{open.position, at, open.spec});
    }

    std::string_view text_;
    const EventPool& pool_;
    std::vector<OpenContainer> stack_;
    std::vector<LineLeaf> line_leaves_;
    std::vector<ClassifiedEvent> carried_;
    bool after_block_leaf_ = false;  // the last thing written is a heading or illustration
    size_t layouts_end_line_until_ = 0;
    DiagName single_line_ = DiagName::None;
    uint32_t warichu_depth_ = 0;
};

}  // namespace

void fold(ClassifiedStream stream, ParseSnapshot& snapshot) {
    const std::string_view text = snapshot.sanitized ? std::string_view(*snapshot.sanitized) : std::string_view();
    EventList& events = stream.events;

    Diagnostics& diagnostics = snapshot.diagnostics;
    check_kaeriten(stream.kaeriten, text, diagnostics);
    place_decorations(events);
    promote_headings(events, stream.pool, text, snapshot.store);
    normalise_overlaps(events);
    collapse_inline_containers(events, stream.pool, text, snapshot.store);
    settle_layout(events, stream.pool, text, diagnostics);

    Folder folder(text, events, stream.pool, diagnostics);
    folder.run(events);
    // The events and their payloads are spent; a document dense with
    // sentinels would otherwise hold them beside its registry.
    EventList().swap(events);
    stream.pool = EventPool();
    sort_diagnostics(diagnostics);

    snapshot.normalized = std::move(folder.out_);
    snapshot.registry = SentinelRegistry::build(std::move(folder.registry_));
    snapshot.container_pairs = std::move(folder.pairs_);
}

ClassifiedStream classify(ParseSnapshot& snapshot, uint32_t piece_bytes, uint32_t long_group_events) {
    const std::string_view text = *snapshot.sanitized;
    // Tokenizing and pairing run a piece of the text at a time, as the
    // classifier reads their events, so no stage holds every token or pair
    // event of the text at once. Of the links only the quotations are kept,
    // while classifying (forward references name their targets in them);
    // the pairs view pairs the text again.
    std::vector<PairLink> quotations;
    PairStream events(text, snapshot.diagnostics, &quotations, piece_bytes, PairStream::kind_bit(PairKind::Quote));
    // The quote index asks for the targets only when plain searches have
    // read far (books full of targets that never occur), when the stream
    // has paired only part of the text. The annotations' quotations are
    // then followed from each ［＃「 alone; only where that reads too far
    // does the rest of the text get paired for them. A long book's are
    // listed from the text at once, on a helper thread.
    const auto from_text = [text](const QuoteIndex::TargetSink& add) {
        const std::optional<std::vector<PairLink>> links = annotation_quote_links(text, 2 * text.size() + 65536);
        if (links) list_forward_targets(text, *links, add);
        return links.has_value();
    };
    const QuoteIndex quotes(
        text,
        [text, &events, from_text](const QuoteIndex::TargetSink& add) {
            if (!from_text(add)) list_forward_targets(text, events.all_links(), add);
        },
        from_text);
    return classify(events, text, snapshot.store, snapshot.diagnostics, &quotes, {}, long_group_events);
}

}  // namespace kogane
