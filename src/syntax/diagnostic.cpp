#include "syntax/diagnostic.hpp"

#include <algorithm>
#include <cstring>

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
};

const char* const kInternalCodes[] = {
    "kogane::lex::residual_annotation_marker",
    "kogane::lex::unregistered_sentinel",
    "kogane::lex::registry_out_of_order",
    "kogane::lex::registry_position_mismatch",
};

}  // namespace

const char* severity_name(Severity s) {
    switch (s) {
        case Severity::Error: return "error";
        case Severity::Warning: return "warning";
        case Severity::Note: return "note";
    }
    return "error";
}

const char* Diagnostic::code() const {
    if (tag == DiagTag::Internal) return kInternalCodes[static_cast<uint8_t>(check) & 3];
    return kCodes[static_cast<uint8_t>(tag)];
}

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
    static const char hex[] = "0123456789abcdef";
    out += "\\u{";
    char buf[8];
    int n = 0;
    do {
        buf[n++] = hex[cp & 0xF];
        cp >>= 4;
    } while (cp != 0);
    while (n > 0) out += buf[--n];
    out += '}';
}

std::string Diagnostic::message() const {
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
            m += opened;
            m += "` closed by a `";
            m += closed;
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
            m += opened;
            m += "` container";
            return m;
        case DiagTag::BracketedKaeritenNoPair:
            return "bracketed kaeriten has no matching base mark in the document";
        case DiagTag::KaeritenOutsideKanbun:
            return "kaeriten outside a 漢文-like context";
        case DiagTag::MismatchedBoutenContainer:
            m = "傍点 range opened as `";
            m += opened;
            m += "` closed by a `";
            m += closed;
            m += "` closer";
            return m;
        case DiagTag::Internal:
            m = "internal kogane pipeline check failed: ";
            m += code();
            return m;
    }
    return m;
}

Diagnostic Diagnostic::simple(DiagTag tag, Span span) {
    Diagnostic d;
    d.tag = tag;
    d.span = span;
    return d;
}

Diagnostic Diagnostic::source_contains_pua(Span span, uint32_t cp) {
    Diagnostic d = simple(DiagTag::SourceContainsPua, span);
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

Diagnostic Diagnostic::mismatched_container_close(Span span, const char* o, const char* c) {
    Diagnostic d = simple(DiagTag::MismatchedContainerClose, span);
    d.opened = o;
    d.closed = c;
    return d;
}

Diagnostic Diagnostic::mismatched_bouten_container(Span span, const char* o, const char* c) {
    Diagnostic d = simple(DiagTag::MismatchedBoutenContainer, span);
    d.opened = o;
    d.closed = c;
    return d;
}

Diagnostic Diagnostic::break_in_single_line_container(Span span, const char* container) {
    Diagnostic d = simple(DiagTag::BreakInSingleLineContainer, span);
    d.opened = container;
    return d;
}

Diagnostic Diagnostic::non_canonical_directive(Span span, std::string canonical) {
    Diagnostic d = simple(DiagTag::NonCanonicalDirective, span);
    d.canonical = std::move(canonical);
    return d;
}

Diagnostic Diagnostic::internal(Span span, InternalCheck check) {
    Diagnostic d = simple(DiagTag::Internal, span);
    d.check = check;
    return d;
}

void sort_diagnostics(Diagnostics& list) {
    std::sort(list.begin(), list.end(), [](const Diagnostic& a, const Diagnostic& b) {
        if (a.span.start != b.span.start) return a.span.start < b.span.start;
        if (a.span.end != b.span.end) return a.span.end < b.span.end;
        return std::strcmp(a.code(), b.code()) < 0;
    });
}

}  // namespace kogane
