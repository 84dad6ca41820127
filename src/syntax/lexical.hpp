#pragma once
// Lexical vocabulary shared by the lexer stages, diagnostics and the views.

#include <cstdint>

namespace kogane {

// The thirteen trigger characters, each three bytes of UTF-8. The numbering
// is the order of the scanner's pattern list.
enum class TriggerKind : uint8_t {
    Bar = 0,              // ｜ EF BD 9C
    RubyOpen = 1,         // 《 E3 80 8A
    RubyClose = 2,        // 》 E3 80 8B
    AngleQuoteOpen = 3,   // ≪ E2 89 AA
    AngleQuoteClose = 4,  // ≫ E2 89 AB
    BracketOpen = 5,      // ［ EF BC BB
    BracketClose = 6,     // ］ EF BC BD
    Hash = 7,             // ＃ EF BC 83
    RefMark = 8,          // ※ E2 80 BB
    TortoiseOpen = 9,     // 〔 E3 80 94
    TortoiseClose = 10,   // 〕 E3 80 95
    QuoteOpen = 11,       // 「 E3 80 8C
    QuoteClose = 12,      // 」 E3 80 8D
};

inline constexpr int kTriggerCount = 13;

// The thirteen encodings concatenated in TriggerKind order.
inline constexpr char kTriggerPatterns[] = "｜《》≪≫［］＃※〔〕「」";
static_assert(sizeof(kTriggerPatterns) == 40);

enum class PairKind : uint8_t {
    Bracket = 0,     // ［］
    Ruby = 1,        // 《》
    AngleQuote = 2,  // ≪≫
    Tortoise = 3,    // 〔〕
    Quote = 4,       // 「」
};

// Variant name, used in diagnostic messages.
inline const char* pair_kind_variant(PairKind k) {
    switch (k) {
        case PairKind::Bracket: return "Bracket";
        case PairKind::Ruby: return "Ruby";
        case PairKind::AngleQuote: return "AngleQuote";
        case PairKind::Tortoise: return "Tortoise";
        case PairKind::Quote: return "Quote";
    }
    return "Bracket";
}

// Name in the pairs JSON view.
inline const char* pair_kind_json(PairKind k) {
    switch (k) {
        case PairKind::Bracket: return "bracket";
        case PairKind::Ruby: return "ruby";
        case PairKind::AngleQuote: return "angleQuote";
        case PairKind::Tortoise: return "tortoise";
        case PairKind::Quote: return "quote";
    }
    return "bracket";
}

// UTF-8 of the sentinel code points U+E001..U+E004 is EE 80 81..84.
enum class SentinelKind : uint8_t {
    Inline = 0,
    BlockLeaf = 1,
    BlockOpen = 2,
    BlockClose = 3,
    Absent = 0xFF,
};

inline constexpr unsigned char kSentinelLead = 0xEE;

}  // namespace kogane
