#pragma once
// The diagnostic record: what every stage reports about the input instead of
// failing. A closed set of tags, each with a fixed code, severity and
// message.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "collections/panic.hpp"

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
    // Stands for the diagnostics of one code that were counted past the
    // per-document limit instead of being stored.
    DiagnosticsDropped = 20,
    // A C0 control other than tab and line feed in the source; the text
    // keeps it, the HTML shows U+FFFD.
    SourceContainsControl = 21,
    // An illustration whose file name is not a relative path (it has a URL
    // scheme or starts with / or \); it is not used as an image source.
    IllustrationPathNotRelative = 22,
};

enum class InternalCheck : uint8_t {
    ResidualAnnotationMarker = 0,
    UnregisteredSentinel = 1,
    RegistryOutOfOrder = 2,
    RegistryPositionMismatch = 3,
};

enum class Severity : uint8_t { Error, Warning, Note };

const char* severity_name(Severity s);

// Diagnostics of one code stored per document; past it they are counted in
// one DiagnosticsDropped summary, so a hostile text cannot make the list
// outgrow the input by much (a diagnostic costs 16 bytes).
inline constexpr uint32_t kMaxDiagnosticsPerCode = 1'000'000;

enum class ContainerKey : uint8_t;

// The names a diagnostic can quote. The first seventeen are the container
// display names in ContainerKey order; then the bouten families and the
// single-line layouts that are not containers of their own.
enum class DiagName : uint8_t {
    Indent = 0, Warichu, Framed, AlignEnd, LineWidth, BoutenRange, Bold, Gothic, Italic,
    Heading, Columns, Table, Horizontal, FontSize, SmallScript, Caption, InlineStyle,
    BoutenDots,   // 傍点
    BoutenLines,  // 傍線
    Centre,       // center
    LineGothic,   // line-gothic
    None,
};

const char* diag_name_text(DiagName name);
// Unknown keys read as indent, the first container.
DiagName container_name(ContainerKey key);

// 16 bytes and trivially copyable. A NonCanonicalDirective's canonical
// spelling is not in the record: the Diagnostics list that stores it keeps
// the text, and the record holds its index there.
struct Diagnostic {
    DiagTag tag = DiagTag::Internal;
    union {
        PairKind pair = PairKind::Bracket;  // UnclosedBracket, UnmatchedClose
        DiagTag dropped_tag;                // DiagnosticsDropped: the tag counted (with `check`)
    };
    InternalCheck check = InternalCheck::ResidualAnnotationMarker;
    Span span;

    struct NamePair {
        DiagName opened;
        DiagName closed;
    };
    static constexpr uint32_t kNoText = 0xFFFFFFFFu;
    union {
        uint32_t codepoint = 0;  // SourceContainsPua, SourceContainsControl
        uint32_t dropped_count;  // DiagnosticsDropped
        uint32_t text;           // NonCanonicalDirective: index in the owning list's texts, or kNoText
        NamePair names;          // MismatchedContainerClose, MismatchedBoutenContainer, BreakInSingleLineContainer
    };

    // The names quoted by MismatchedContainerClose and
    // MismatchedBoutenContainer (both) and BreakInSingleLineContainer
    // (opened); "" otherwise.
    const char* opened() const;
    const char* closed() const;

    // The span again as a 64-bit (offset, length) pair.
    uint64_t offset() const { return span.start; }
    uint64_t length() const { return uint64_t(span.end) - span.start; }

    const char* code() const;
    Severity severity() const;
    // "internal" for tag 17, "source" otherwise.
    const char* origin() const;
    // A NonCanonicalDirective quotes `canonical`, which only the list holding
    // it knows: prefer Diagnostics::message for stored diagnostics.
    std::string message(std::string_view canonical = {}) const;

    static Diagnostic simple(DiagTag tag, Span span);
    static Diagnostic source_contains_pua(Span span, uint32_t codepoint);
    static Diagnostic source_contains_control(Span span, uint32_t codepoint);
    static Diagnostic unclosed_bracket(PairKind kind, Span span);
    static Diagnostic unmatched_close(PairKind kind, Span span);
    static Diagnostic mismatched_container_close(Span span, ContainerKey opened, ContainerKey closed);
    static Diagnostic mismatched_bouten_container(Span span, DiagName opened, DiagName closed);
    static Diagnostic break_in_single_line_container(Span span, DiagName container);
    // The canonical spelling goes in with Diagnostics::push_back(d, text).
    static Diagnostic non_canonical_directive(Span span);
    static Diagnostic internal(Span span, InternalCheck check);
    // The summary standing for `count` diagnostics with the code of
    // `first`, the first one counted.
    static Diagnostic dropped(const Diagnostic& first, uint32_t count);
    // DiagnosticsDropped: the code of the diagnostics it counts.
    const char* dropped_code() const;
};

static_assert(sizeof(Diagnostic) == 16, "a diagnostic costs sixteen bytes");
static_assert(std::is_trivially_copyable_v<Diagnostic>);

// The diagnostics of a parse. Appending goes through the per-code limit:
// past kMaxDiagnosticsPerCode (or the limit given) diagnostics of one code
// are counted in a single DiagnosticsDropped entry instead of being stored.
// The list also keeps the canonical spellings its NonCanonicalDirective
// entries quote.
class Diagnostics {
public:
    using value_type = Diagnostic;
    using iterator = std::vector<Diagnostic>::iterator;
    using const_iterator = std::vector<Diagnostic>::const_iterator;

    Diagnostics() = default;
    explicit Diagnostics(uint32_t limit_per_code) : limit_(limit_per_code) {}
    Diagnostics(std::initializer_list<Diagnostic> list);

    // A record's text index means nothing outside the list that stored it,
    // so a NonCanonicalDirective pushed here without its text has none.
    void push_back(Diagnostic d) { push_back(d, {}); }
    // `text`: a NonCanonicalDirective's canonical spelling, kept only when
    // the diagnostic is stored; ignored for other tags.
    void push_back(Diagnostic d, std::string_view text);
    // Appends every entry of `other` (texts included) through the limit.
    void append(const Diagnostics& other);

    void reserve(size_t n) { list_.reserve(n); }
    size_t size() const { return list_.size(); }
    bool empty() const { return list_.empty(); }
    iterator begin() { return list_.begin(); }
    iterator end() { return list_.end(); }
    const_iterator begin() const { return list_.begin(); }
    const_iterator end() const { return list_.end(); }
    Diagnostic& operator[](size_t i) { return list_[i]; }
    const Diagnostic& operator[](size_t i) const { return list_[i]; }
    const Diagnostic& front() const { return list_.front(); }
    const Diagnostic& back() const { return list_.back(); }

    // NonCanonicalDirective: the canonical spelling; "" for other tags.
    std::string_view canonical(const Diagnostic& d) const;
    std::string message(const Diagnostic& d) const { return d.message(canonical(d)); }

    // Diagnostics counted but not stored, over all codes.
    uint64_t dropped() const;

    friend void sort_diagnostics(Diagnostics& list);

private:
    std::vector<Diagnostic> list_;
    // The canonical spellings, end to end; text i starts at text_starts_[i].
    std::string text_bytes_;
    std::vector<size_t> text_starts_;
    uint32_t limit_ = kMaxDiagnosticsPerCode;
    // Per code (the tag, with the internal tag split by its check): how many
    // are stored, and the index + 1 of the summary entry (0: none yet).
    static constexpr size_t kCodeCount = 24;
    std::array<uint32_t, kCodeCount> stored_{};
    std::array<uint32_t, kCodeCount> summary_{};

    static size_t code_index(DiagTag tag, InternalCheck check);
    void fold_summary(const Diagnostic& d);
    void reindex_summaries();
};

// Orders by (span start, span end, code bytes). Not stable: equal keys have
// no defined relative order.
void sort_diagnostics(Diagnostics& list);

// Writes a Rust-style character literal escape: \u{e001}.
void append_unicode_escape(std::string& out, uint32_t cp);

}  // namespace kogane
