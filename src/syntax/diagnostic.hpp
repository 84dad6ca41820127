#pragma once
// The diagnostic record: what every stage reports about the input instead of
// failing. A closed set of 19 tags, each with a fixed code, severity and
// message.

#include <cstdint>
#include <string>
#include <vector>

#include "collections/span.hpp"
#include "syntax/lexical.hpp"

namespace kogane {

enum class DiagTag : uint8_t {
    SourceContainsPua = 0,
    UnclosedBracket = 1,
    UnmatchedClose = 2,
    AccentDecompositionApplied = 3,
    UnresolvedGaiji = 4,
    MismatchedContainerClose = 5,
    NonCanonicalDirective = 6,
    EmptyRubyReading = 7,
    NestedRuby = 8,
    UnrecognisedContainerDirective = 9,
    TcyTargetNotFound = 10,
    BoutenTargetAmbiguous = 11,
    ForwardReferentNotStylable = 12,
    BreakInSingleLineContainer = 13,
    BracketedKaeritenNoPair = 14,
    KaeritenOutsideKanbun = 15,
    MismatchedBoutenContainer = 16,
    Internal = 17,
    IndentReplaced = 18,
    ForwardTargetNotFound = 19,
};

enum class InternalCheck : uint8_t {
    ResidualAnnotationMarker = 0,
    UnregisteredSentinel = 1,
    RegistryOutOfOrder = 2,
    RegistryPositionMismatch = 3,
};

enum class Severity : uint8_t { Error, Warning, Note };

const char* severity_name(Severity s);

struct Diagnostic {
    DiagTag tag = DiagTag::Internal;
    Span span;
    // Payloads; which ones are meaningful depends on the tag.
    uint32_t codepoint = 0;              // SourceContainsPua
    PairKind pair = PairKind::Bracket;   // UnclosedBracket, UnmatchedClose
    InternalCheck check = InternalCheck::ResidualAnnotationMarker;
    const char* opened = "";             // tags 5 and 16; container name for 13
    const char* closed = "";             // tags 5 and 16
    std::string canonical;               // NonCanonicalDirective

    // The span again as a 64-bit (offset, length) pair.
    uint64_t offset() const { return span.start; }
    uint64_t length() const { return uint64_t(span.end) - span.start; }

    const char* code() const;
    Severity severity() const;
    // "internal" for tag 17, "source" otherwise.
    const char* origin() const;
    std::string message() const;

    static Diagnostic simple(DiagTag tag, Span span);
    static Diagnostic source_contains_pua(Span span, uint32_t codepoint);
    static Diagnostic unclosed_bracket(PairKind kind, Span span);
    static Diagnostic unmatched_close(PairKind kind, Span span);
    static Diagnostic mismatched_container_close(Span span, const char* opened, const char* closed);
    static Diagnostic mismatched_bouten_container(Span span, const char* opened, const char* closed);
    static Diagnostic break_in_single_line_container(Span span, const char* container);
    static Diagnostic non_canonical_directive(Span span, std::string canonical);
    static Diagnostic internal(Span span, InternalCheck check);
};

using Diagnostics = std::vector<Diagnostic>;

// Orders by (span start, span end, code bytes). Not stable: equal keys have
// no defined relative order.
void sort_diagnostics(Diagnostics& list);

// Writes a Rust-style character literal escape: \u{e001}.
void append_unicode_escape(std::string& out, uint32_t cp);

}  // namespace kogane
