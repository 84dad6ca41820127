#include "syntax/diagnostic.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "collections/hex.hpp"
#include "syntax/ast/node.hpp"

namespace kogane {

namespace {

const char* const kCodes[] = {
    "kogane::lex::source_contains_pua",
    "kogane::lex::unclosed_bracket",
    "kogane::lex::unmatched_close",
    "kogane::lex::accent_decomposition_applied",
    "kogane::lex::unresolved_gaiji",
    "kogane::lex::mismatched_container_close",
    "kogane::lint::non_canonical_directive",
    "kogane::lex::empty_ruby_reading",
    "kogane::lex::nested_ruby",
    "kogane::lex::unrecognised_container_directive",
    "kogane::lex::tcy_target_not_found",
    "kogane::lex::bouten_target_ambiguous",
    "kogane::lex::forward_referent_not_stylable",
    "kogane::lex::break_in_single_line_container",
    "kogane::lex::bracketed_kaeriten_no_pair",
    "kogane::lex::kaeriten_outside_kanbun",
    "kogane::lex::mismatched_bouten_container",
    "kogane::lex::internal",  // tag 17 names its check instead
    "kogane::lex::indent_replaced",
    "kogane::lex::forward_target_not_found",
    "kogane::lex::diagnostics_dropped",
    "kogane::lex::source_contains_control",
    "kogane::lex::illustration_path_not_relative",
};
static_assert(std::size(kCodes) == static_cast<size_t>(DiagTag::IllustrationPathNotRelative) + 1,
              "one code per tag, in tag order");

const char* const kInternalCodes[] = {
    "kogane::lex::residual_annotation_marker",
    "kogane::lex::unregistered_sentinel",
    "kogane::lex::registry_out_of_order",
    "kogane::lex::registry_position_mismatch",
};

const char* code_of(DiagTag tag, InternalCheck check) {
    if (tag == DiagTag::Internal) return kInternalCodes[static_cast<uint8_t>(check) & 3];
    return kCodes[static_cast<uint8_t>(tag)];
}

static_assert(std::size(kContainerDisplayNames) == static_cast<size_t>(DiagName::BoutenDots),
              "the container names come first, in ContainerKey order");

}  // namespace

const char* diag_name_text(DiagName name) {
    const size_t n = static_cast<uint8_t>(name);
    if (n < std::size(kContainerDisplayNames)) return kContainerDisplayNames[n];
    switch (name) {
        case DiagName::BoutenDots: return "傍点";
        case DiagName::BoutenLines: return "傍線";
        case DiagName::Centre: return "center";
        case DiagName::LineGothic: return "line-gothic";
        default: return "";
    }
}

DiagName container_name(ContainerKey key) {
    const size_t k = static_cast<uint8_t>(key);
    return k < std::size(kContainerDisplayNames) ? static_cast<DiagName>(k) : DiagName::Indent;
}

const char* Diagnostic::opened() const {
    switch (tag) {
        case DiagTag::MismatchedContainerClose:
        case DiagTag::MismatchedBoutenContainer:
        case DiagTag::BreakInSingleLineContainer: return diag_name_text(names.opened);
        default: return "";
    }
}

const char* Diagnostic::closed() const {
    switch (tag) {
        case DiagTag::MismatchedContainerClose:
        case DiagTag::MismatchedBoutenContainer: return diag_name_text(names.closed);
        default: return "";
    }
}

const char* severity_name(Severity s) {
    switch (s) {
        case Severity::Error: return "error";
        case Severity::Warning: return "warning";
        case Severity::Note: return "note";
    }
    return "error";
}

const char* Diagnostic::code() const { return code_of(tag, check); }

const char* Diagnostic::dropped_code() const { return code_of(dropped_tag, check); }

Severity Diagnostic::severity() const {
    switch (tag) {
        case DiagTag::SourceContainsPua:
        case DiagTag::UnresolvedGaiji:
        case DiagTag::NonCanonicalDirective:
        case DiagTag::UnrecognisedContainerDirective:
        case DiagTag::TcyTargetNotFound:
        case DiagTag::BoutenTargetAmbiguous:
        case DiagTag::ForwardReferentNotStylable:
        case DiagTag::ForwardTargetNotFound:
        case DiagTag::BreakInSingleLineContainer:
        case DiagTag::KaeritenOutsideKanbun:
        case DiagTag::DiagnosticsDropped:
        case DiagTag::SourceContainsControl:
        case DiagTag::IllustrationPathNotRelative:
            return Severity::Warning;
        case DiagTag::AccentDecompositionApplied:
        case DiagTag::IndentReplaced:
            return Severity::Note;
        default:
            return Severity::Error;
    }
}

const char* Diagnostic::origin() const {
    return tag == DiagTag::Internal ? "internal" : "source";
}

void append_unicode_escape(std::string& out, uint32_t cp) {
    out += "\\u{";
    append_hex(out, cp, 1, false);
    out += '}';
}

std::string Diagnostic::message(std::string_view canonical) const {
    std::string m;
    switch (tag) {
        case DiagTag::SourceContainsPua:
            m = "source contains lexer PUA sentinel codepoint '";
            append_unicode_escape(m, codepoint);
            m += '\'';
            return m;
        case DiagTag::UnclosedBracket:
            m = "unclosed Kogane ";
            m += pair_kind_variant(pair);
            m += " bracket";
            return m;
        case DiagTag::UnmatchedClose:
            m = "unmatched Kogane ";
            m += pair_kind_variant(pair);
            m += " close delimiter";
            return m;
        case DiagTag::AccentDecompositionApplied:
            return "accent digraph decomposed in sanitize stage";
        case DiagTag::IndentReplaced:
            return "block indent opened while another is open; the earlier one ends here";
        case DiagTag::UnresolvedGaiji:
            return "gaiji reference resolved to neither Unicode nor JIS X 0213";
        case DiagTag::MismatchedContainerClose:
            m = "container opened as `";
            m += opened();
            m += "` closed by a `";
            m += closed();
            m += "` closer";
            return m;
        case DiagTag::NonCanonicalDirective:
            m = "non-canonical directive; the canonical form is `";
            m += canonical;
            m += '`';
            return m;
        case DiagTag::EmptyRubyReading:
            return "ruby base given but reading is empty";
        case DiagTag::NestedRuby:
            return "ruby reading contains a nested ruby";
        case DiagTag::UnrecognisedContainerDirective:
            return "unrecognised container directive";
        case DiagTag::TcyTargetNotFound:
            return "縦中横 target not found in the preceding text";
        case DiagTag::BoutenTargetAmbiguous:
            return "ambiguous bouten target: more than one candidate run precedes it";
        case DiagTag::ForwardReferentNotStylable:
            return "forward-reference target found but not stylable in place";
        case DiagTag::ForwardTargetNotFound:
            return "forward-reference target not found in the preceding text";
        case DiagTag::BreakInSingleLineContainer:
            m = "page/section break inside a single-line `";
            m += opened();
            m += "` container";
            return m;
        case DiagTag::BracketedKaeritenNoPair:
            return "bracketed kaeriten has no matching base mark in the document";
        case DiagTag::KaeritenOutsideKanbun:
            return "kaeriten outside a 漢文-like context";
        case DiagTag::MismatchedBoutenContainer:
            m = "傍点 range opened as `";
            m += opened();
            m += "` closed by a `";
            m += closed();
            m += "` closer";
            return m;
        case DiagTag::Internal:
            m = "internal kogane pipeline check failed: ";
            m += code();
            return m;
        case DiagTag::DiagnosticsDropped:
            m = std::to_string(dropped_count);
            m += " further `";
            m += dropped_code();
            m += "` diagnostics counted but not listed (at most ";
            m += std::to_string(kMaxDiagnosticsPerCode);
            m += " of one code are kept per document)";
            return m;
        case DiagTag::SourceContainsControl:
            m = "source contains control character '";
            append_unicode_escape(m, codepoint);
            m += "'; HTML shows it as U+FFFD";
            return m;
        case DiagTag::IllustrationPathNotRelative:
            return "illustration file name is not a relative path; it is not used as an image source";
    }
    return m;
}

Diagnostic Diagnostic::simple(DiagTag tag, Span span) {
    Diagnostic d;
    d.tag = tag;
    d.span = span;
    if (tag == DiagTag::NonCanonicalDirective) d.text = kNoText;
    return d;
}

Diagnostic Diagnostic::source_contains_pua(Span span, uint32_t cp) {
    Diagnostic d = simple(DiagTag::SourceContainsPua, span);
    d.codepoint = cp;
    return d;
}

Diagnostic Diagnostic::source_contains_control(Span span, uint32_t cp) {
    Diagnostic d = simple(DiagTag::SourceContainsControl, span);
    d.codepoint = cp;
    return d;
}

Diagnostic Diagnostic::unclosed_bracket(PairKind kind, Span span) {
    Diagnostic d = simple(DiagTag::UnclosedBracket, span);
    d.pair = kind;
    return d;
}

Diagnostic Diagnostic::unmatched_close(PairKind kind, Span span) {
    Diagnostic d = simple(DiagTag::UnmatchedClose, span);
    d.pair = kind;
    return d;
}

Diagnostic Diagnostic::mismatched_container_close(Span span, ContainerKey o, ContainerKey c) {
    Diagnostic d = simple(DiagTag::MismatchedContainerClose, span);
    d.names = {container_name(o), container_name(c)};
    return d;
}

Diagnostic Diagnostic::mismatched_bouten_container(Span span, DiagName o, DiagName c) {
    Diagnostic d = simple(DiagTag::MismatchedBoutenContainer, span);
    d.names = {o, c};
    return d;
}

Diagnostic Diagnostic::break_in_single_line_container(Span span, DiagName container) {
    Diagnostic d = simple(DiagTag::BreakInSingleLineContainer, span);
    d.names = {container, DiagName::None};
    return d;
}

Diagnostic Diagnostic::non_canonical_directive(Span span) { return simple(DiagTag::NonCanonicalDirective, span); }

Diagnostic Diagnostic::internal(Span span, InternalCheck check) {
    Diagnostic d = simple(DiagTag::Internal, span);
    d.check = check;
    return d;
}

Diagnostic Diagnostic::dropped(const Diagnostic& first, uint32_t count) {
    Diagnostic d = simple(DiagTag::DiagnosticsDropped, first.span);
    d.dropped_tag = first.tag;
    d.check = first.check;
    d.dropped_count = count;
    return d;
}

// ---------------------------------------------------------------------------
// Diagnostics

Diagnostics::Diagnostics(std::initializer_list<Diagnostic> list) {
    for (const Diagnostic& d : list) push_back(d);
}

size_t Diagnostics::code_index(DiagTag tag, InternalCheck check) {
    const size_t internal = static_cast<size_t>(DiagTag::Internal);
    if (tag == DiagTag::Internal) return internal + (static_cast<uint8_t>(check) & 3);
    const size_t t = static_cast<uint8_t>(tag);
    if (t < internal) return t;
    return std::min(t + 3, kCodeCount - 1);  // after the four internal codes
}

void Diagnostics::fold_summary(const Diagnostic& d) {
    const size_t k = code_index(d.dropped_tag, d.check);
    if (summary_[k] == 0) {
        list_.push_back(d);
        summary_[k] = static_cast<uint32_t>(list_.size());
        return;
    }
    Diagnostic& mine = list_[summary_[k] - 1];
    const uint64_t sum = uint64_t(mine.dropped_count) + d.dropped_count;
    mine.dropped_count = sum > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(sum);
}

void Diagnostics::push_back(Diagnostic d, std::string_view text) {
    if (d.tag == DiagTag::DiagnosticsDropped) {
        // A summary from another list: fold its count into ours.
        fold_summary(d);
        return;
    }
    const size_t k = code_index(d.tag, d.check);
    if (stored_[k] < limit_) {
        ++stored_[k];
        if (d.tag == DiagTag::NonCanonicalDirective) {
            // The list holds fewer than 2^32 entries, so neither does the pool.
            d.text = static_cast<uint32_t>(text_starts_.size());
            text_starts_.push_back(text_bytes_.size());
            text_bytes_.append(text);
        }
        list_.push_back(d);
        return;
    }
    if (summary_[k] != 0) {
        Diagnostic& summary = list_[summary_[k] - 1];
        if (summary.dropped_count != 0xFFFFFFFFu) ++summary.dropped_count;
        return;
    }
    list_.push_back(Diagnostic::dropped(d, 1));
    summary_[k] = static_cast<uint32_t>(list_.size());
}

void Diagnostics::append(const Diagnostics& other) {
    if (&other == this) {
        const Diagnostics copy = other;
        append(copy);
        return;
    }
    for (const Diagnostic& d : other) push_back(d, other.canonical(d));
}

std::string_view Diagnostics::canonical(const Diagnostic& d) const {
    if (d.tag != DiagTag::NonCanonicalDirective || d.text >= text_starts_.size()) return {};
    const size_t start = text_starts_[d.text];
    const size_t end = d.text + 1 < text_starts_.size() ? text_starts_[d.text + 1] : text_bytes_.size();
    return std::string_view(text_bytes_).substr(start, end - start);
}

uint64_t Diagnostics::dropped() const {
    uint64_t n = 0;
    for (uint32_t at : summary_)
        if (at != 0) n += list_[at - 1].dropped_count;
    return n;
}

void Diagnostics::reindex_summaries() {
    if (std::all_of(summary_.begin(), summary_.end(), [](uint32_t at) { return at == 0; })) return;
    for (size_t i = 0; i < list_.size(); ++i)
        if (list_[i].tag == DiagTag::DiagnosticsDropped)
            summary_[code_index(list_[i].dropped_tag, list_[i].check)] = static_cast<uint32_t>(i + 1);
}

void sort_diagnostics(Diagnostics& list) {
    std::sort(list.list_.begin(), list.list_.end(), [](const Diagnostic& a, const Diagnostic& b) {
        if (a.span.start != b.span.start) return a.span.start < b.span.start;
        if (a.span.end != b.span.end) return a.span.end < b.span.end;
        return std::strcmp(a.code(), b.code()) < 0;
    });
    list.reindex_summaries();
}

}  // namespace kogane
