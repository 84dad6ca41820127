#pragma once
// The node model shared by classification, fold, renderers and views. Every
// value here is a small, trivially copyable struct; text lives in the
// NodeStore and is named by 32-bit ids.

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "collections/span.hpp"
#include "syntax/lexical.hpp"

namespace kogane {

using StringId = uint32_t;
inline constexpr uint32_t kNoId = 0xFFFFFFFFu;

// ---------------------------------------------------------------------------
// Content: segments and items in the store's pools.

enum class SegmentTag : uint32_t { Text = 0, Run = 1 };

struct Segment {
    SegmentTag tag = SegmentTag::Text;
    uint32_t a = 0;  // Text: StringId; Run: first content index
    uint32_t b = 0;  // Run: number of content items
};

struct ContentRef {
    uint32_t first = 0;  // first segment index
    uint32_t count = 0;  // number of segments
};

// How a gaiji reference designates its character.
enum class CodeKind : uint8_t {
    None = 0,
    Jis = 1,      // value = plane << 16 | row << 8 | cell
    Unicode = 2,  // value = code point
    Text = 3,     // value = StringId of the designation as written
};

struct CodeRef {
    CodeKind kind = CodeKind::None;
    uint32_t value = 0;

    static constexpr CodeRef jis(uint8_t plane, uint8_t row, uint8_t cell) {
        return {CodeKind::Jis, uint32_t(plane) << 16 | uint32_t(row) << 8 | cell};
    }
    constexpr uint8_t plane() const { return uint8_t(value >> 16); }
    constexpr uint8_t row() const { return uint8_t(value >> 8); }
    constexpr uint8_t cell() const { return uint8_t(value); }
};

enum class ContentTag : uint8_t { Text = 0, Gaiji = 1, InlineDirective = 2 };

// What a Directive node (an annotation kept as written) stands for.
enum class RemarkKind : uint8_t {
    Legacy = 0,        // an old spelling of a known annotation
    Other = 1,         // not recognised
    AsInSource = 2,    // ママ
    SourceNote = 3,    // 底本では…
    WarichuOpen = 4,   // ［＃割り注］
    WarichuClose = 5,  // ［＃割り注終わり］
    Omission = 6,      // …
    InputterNote = 7,  // 入力者注(N)
    RubyNote = 8,
    RubySpan = 9,
    LeftRuby = 10,
    LeftRubyEnd = 11,
    MarginNote = 12,
    MarginNoteEnd = 13,
    // Not a remark: a kaeriten mark kept as an inline content item inside an
    // explicit ruby base (｜吾欲［＃レ］往《…》); its raw text is the annotation.
    KaeritenInBase = 14,
};

inline constexpr uint8_t kGaijiSeparated = 1;  // the reference had "、" before its code
inline constexpr uint8_t kGaijiNoMark = 2;     // written without the leading ※

// One gaiji reference: description, designation and spelling flags.
struct GaijiItem {
    StringId description = 0;
    CodeRef code;
    uint8_t flags = 0;
};

struct ContentItem {
    ContentTag tag = ContentTag::Text;
    RemarkKind directive_kind = RemarkKind::Legacy;  // InlineDirective
    StringId text = 0;           // Text: the string; InlineDirective: raw annotation text
    GaijiItem gaiji;             // Gaiji

    static ContentItem make_text(StringId id) {
        ContentItem c;
        c.tag = ContentTag::Text;
        c.text = id;
        return c;
    }
    static ContentItem make_gaiji(GaijiItem g) {
        ContentItem c;
        c.tag = ContentTag::Gaiji;
        c.gaiji = g;
        return c;
    }
    static ContentItem make_directive(StringId raw, RemarkKind kind) {
        ContentItem c;
        c.tag = ContentTag::InlineDirective;
        c.text = raw;
        c.directive_kind = kind;
        return c;
    }
};

// ---------------------------------------------------------------------------
// Styles.

// {kind, parameter}. Kinds 0..2 are bouten on the right, left, both sides
// (parameter = BoutenKind); 14 is bouten on both sides as well.
struct FormatStyle {
    uint8_t kind = 0xFF;
    uint8_t param = 0;

    constexpr bool present() const { return kind != 0xFF; }
    static constexpr FormatStyle none() { return {0xFF, 0}; }
    friend constexpr bool operator==(FormatStyle, FormatStyle) = default;
};

enum StyleKind : uint8_t {
    kStyleBoutenRight = 0,
    kStyleBoutenLeft = 1,
    kStyleBoutenBoth = 2,
    kStyleBold = 3,
    kStyleGothic = 4,
    kStyleItalic = 5,
    kStyleSuperscript = 6,
    kStyleSubscript = 7,
    kStyleSmallScript = 8,
    kStyleEnclosure = 9,
    kStyleHorizontal = 10,
    kStyleCaption = 11,
    kStyleFontSteps = 12,
    kStyleFontSize = 13,
    kStyleBoutenBothAlt = 14,
    kStyleCombineUpright = 15,
    kStyleFraction = 16,
    kStyleAccentDot = 17,
    kStyleAccent = 18,
    kStyleAlignEndRun = 19,
};

inline constexpr bool is_bouten_style(uint8_t kind) { return kind <= 2 || kind == 14; }

// The fourteen emphasis-mark and side-line kinds.
enum class BoutenKind : uint8_t {
    Goma = 0,          // 傍点
    ShiroGoma = 1,     // 白ゴマ傍点
    Maru = 2,          // 丸傍点
    ShiroMaru = 3,     // 白丸傍点
    NijuMaru = 4,      // 二重丸傍点
    Janome = 5,        // 蛇の目傍点
    Batsu = 6,         // ばつ傍点
    ShiroSankaku = 7,  // 白三角傍点
    Namisen = 8,       // 波線
    Bosen = 9,         // 傍線
    NijuBosen = 10,    // 二重傍線
    Kusarisen = 11,    // 鎖線
    Hasen = 12,        // 破線
    KuroSankaku = 13,  // 黒三角傍点
};

inline constexpr const char* kBoutenKeywords[14] = {
    "傍点", "白ゴマ傍点", "丸傍点", "白丸傍点", "二重丸傍点", "蛇の目傍点", "ばつ傍点",
    "白三角傍点", "波線", "傍線", "二重傍線", "鎖線", "破線", "黒三角傍点",
};

// ---------------------------------------------------------------------------
// Nodes.

enum class NodeTag : uint32_t {
    Ruby = 0,
    Format = 1,
    Gaiji = 2,
    LeafAlign = 3,
    PageBreak = 4,
    SectionBreak = 5,
    BodyEnd = 6,
    ForcedBreak = 7,
    Heading = 8,
    HeadingHint = 9,
    Illustration = 10,
    Kaeriten = 11,
    Directive = 12,
    AngleQuote = 13,
    MarginNote = 14,
};

struct RubyNode {
    ContentRef base;
    ContentRef reading;
    FormatStyle base_style;
    uint8_t side = 0;  // 1 = left-hand ruby
};

// How a format's target is read when it is rendered.
enum class FormatMode : uint8_t {
    Plain,               // the target as text
    Reparse,             // the target holds markup; `spec` is its source
    DotAccent,           // `spec` names the dotted characters of an accent decoration
    CollapsedContainer,  // a container that closed on its own text, written back as the container
};

// Where a format's decoration and annotation stand.
enum class FormatPlacement : uint8_t {
    InPlace,              // on the target just before the annotation
    RenderedElsewhere,    // moved onto an earlier occurrence; this site writes nothing
    TargetNotFound,       // no target: only the annotation is written back
    OnEarlierOccurrence,  // the moved decoration; its annotation stands at the other site
};

struct FormatNode {
    FormatMode mode = FormatMode::Plain;
    StringId spec = kNoId;
    ContentRef target;
    FormatStyle style;
    FormatPlacement suppressed = FormatPlacement::InPlace;
};

// The layout a single-line annotation puts on its line.
enum class SingleLine : uint8_t {
    Indent,        // N字下げ
    IndentRaised,  // N字下げ、地よりM字上げ
    AlignEnd,      // 地付き, 地からN字上げ
    Centre,        // 中央揃え, ページの左右中央
    Gothic,        // この行はゴシック体
    FontSize,      // 特大文字, 大文字, 中文字, 小文字
};

// The sizes of a whole line, largest first.
enum class LineSize : uint8_t { ExtraLarge, Large, Medium, Small };

struct LeafAlignNode {
    SingleLine layout = SingleLine::Indent;
    uint8_t indent = 0;  // Indent, IndentRaised: characters from the top
    uint8_t raise = 0;   // IndentRaised, AlignEnd: characters raised from the end (0 = flush)
    LineSize size = LineSize::ExtraLarge;  // FontSize
    bool bold = false;  // FontSize: 、太字 follows the size
    bool page = false;  // Centre: centred on the page rather than on the line

    static constexpr LeafAlignNode indented(uint8_t n) { return {SingleLine::Indent, n, 0, {}, false, false}; }
    static constexpr LeafAlignNode indented_raised(uint8_t n, uint8_t m) {
        return {SingleLine::IndentRaised, n, m, {}, false, false};
    }
    static constexpr LeafAlignNode aligned_end(uint8_t m) { return {SingleLine::AlignEnd, 0, m, {}, false, false}; }
    static constexpr LeafAlignNode centred(bool page) { return {SingleLine::Centre, 0, 0, {}, false, page}; }
    static constexpr LeafAlignNode gothic() { return {SingleLine::Gothic, 0, 0, {}, false, false}; }
    static constexpr LeafAlignNode sized(LineSize size, bool bold) {
        return {SingleLine::FontSize, 0, 0, size, bold, false};
    }
    friend constexpr bool operator==(const LeafAlignNode&, const LeafAlignNode&) = default;
};
static_assert(std::is_trivially_copyable_v<LeafAlignNode> && sizeof(LeafAlignNode) == 6);

struct SectionBreakNode {
    uint8_t kind = 0;  // 0 改丁, 1 改段, 2 改見開き
};

struct HeadingNode {
    ContentRef text;
    uint8_t level = 0;  // 0 大, 1 中, 2 小
    uint8_t style = 0;  // 0 ordinary, 1 同行, 2 窓
    uint8_t markup = 0;  // 1: `text` is a line's source, rubies or gaiji included, read again to render
};

struct HeadingHintNode {
    StringId target = 0;
    uint8_t level = 0;
    uint8_t style = 0;
    uint8_t is_inline = 0;
};

struct IllustrationNode {
    StringId path = 0;
    StringId size = kNoId;     // 横W×縦H, optional
    StringId alt = kNoId;      // optional
    StringId label = kNoId;    // optional label replacing 挿絵
    uint8_t has_caption = 0;
    Segment caption;
};

struct KaeritenNode {
    StringId mark = 0;
};

struct DirectiveNode {
    StringId raw = 0;  // whole annotation, brackets included
    RemarkKind kind = RemarkKind::Legacy;
};

struct AngleQuoteNode {
    ContentRef content;
};

struct MarginNoteNode {
    ContentRef base;
    ContentRef note;
    uint8_t side = 0;    // 1 = note on the left-hand side
    uint8_t placed = 0;  // 1 = put on an earlier occurrence; its annotation stands elsewhere
};

struct Node {
    NodeTag tag = NodeTag::PageBreak;
    union {
        RubyNode ruby;
        FormatNode format;
        GaijiItem gaiji;
        LeafAlignNode leaf;
        SectionBreakNode section;
        HeadingNode heading;
        HeadingHintNode hint;
        IllustrationNode illustration;
        KaeritenNode kaeriten;
        DirectiveNode directive;
        AngleQuoteNode angle;
        MarginNoteNode margin;
    };

    Node() : ruby() {}

    static Node make(NodeTag t) {
        Node n;
        std::memset(static_cast<void*>(&n), 0, sizeof n);
        n.tag = t;
        return n;
    }
    static Node make_ruby(RubyNode r) { Node n = make(NodeTag::Ruby); n.ruby = r; return n; }
    static Node make_format(FormatNode f) { Node n = make(NodeTag::Format); n.format = f; return n; }
    static Node make_gaiji(GaijiItem g) { Node n = make(NodeTag::Gaiji); n.gaiji = g; return n; }
    static Node make_leaf(LeafAlignNode l) { Node n = make(NodeTag::LeafAlign); n.leaf = l; return n; }
    static Node make_heading(HeadingNode h) { Node n = make(NodeTag::Heading); n.heading = h; return n; }
    static Node make_hint(HeadingHintNode h) { Node n = make(NodeTag::HeadingHint); n.hint = h; return n; }
    static Node make_illustration(IllustrationNode i) { Node n = make(NodeTag::Illustration); n.illustration = i; return n; }
    static Node make_kaeriten(StringId mark) { Node n = make(NodeTag::Kaeriten); n.kaeriten.mark = mark; return n; }
    static Node make_directive(StringId raw, RemarkKind kind) {
        Node n = make(NodeTag::Directive);
        n.directive.raw = raw;
        n.directive.kind = kind;
        return n;
    }
    static Node make_angle(ContentRef c) { Node n = make(NodeTag::AngleQuote); n.angle.content = c; return n; }
    static Node make_margin(MarginNoteNode m) { Node n = make(NodeTag::MarginNote); n.margin = m; return n; }
    static Node make_section(uint8_t kind) { Node n = make(NodeTag::SectionBreak); n.section.kind = kind; return n; }
};

static_assert(std::is_trivially_copyable_v<Node>);
// Nodes are stored by value in every registry entry and content run: a
// record that grows shows up here first.
static_assert(sizeof(FormatNode) == 20 && sizeof(DirectiveNode) == 8 && sizeof(Node) == 36);
static_assert(std::is_trivially_copyable_v<FormatNode> && std::is_trivially_copyable_v<DirectiveNode>);

// Block leaves stand in their own paragraph; everything else is inline.
inline constexpr bool is_block_leaf(NodeTag t) {
    return t == NodeTag::PageBreak || t == NodeTag::SectionBreak || t == NodeTag::BodyEnd ||
           t == NodeTag::Heading || t == NodeTag::Illustration;
}

// ---------------------------------------------------------------------------
// Containers.

enum class ContainerKind : uint8_t {
    Indent = 0,      // plain indent
    IndentWrap = 1,  // indent with a wrap (hanging) amount
    Warichu,
    Framed,
    AlignEnd,
    LineWidth,
    BoutenRange,
    Bold,
    Gothic,
    Italic,
    Heading,
    Columns,
    Table,
    Horizontal,
    FontSize,
    SmallScript,
    Caption,
    InlineStyle,  // a range of one of the keyword styles (縦中横, 上付き小文字, 下付き小文字)
};

// Close keys, which are also the display-name order.
enum class ContainerKey : uint8_t {
    Indent = 0, Warichu, Framed, AlignEnd, LineWidth, BoutenRange, Bold, Gothic, Italic,
    Heading, Columns, Table, Horizontal, FontSize, SmallScript, Caption, InlineStyle,
};

inline constexpr const char* kContainerDisplayNames[17] = {
    "indent", "warichu", "framed", "align-end", "line-width", "bouten-range", "bold", "gothic",
    "italic", "heading", "columns", "table", "horizontal", "font-size", "small-script", "caption",
    "inline-style",
};

inline constexpr const char* kContainerJsonNames[17] = {
    "indent", "warichu", "framed", "alignEnd", "lineWidth", "boutenRange", "bold", "gothic",
    "italic", "heading", "columns", "table", "horizontal", "fontSize", "smallScript", "caption",
    "inlineStyle",
};

inline constexpr ContainerKey container_key(ContainerKind k) {
    switch (k) {
        case ContainerKind::Indent:
        case ContainerKind::IndentWrap: return ContainerKey::Indent;
        case ContainerKind::Warichu: return ContainerKey::Warichu;
        case ContainerKind::Framed: return ContainerKey::Framed;
        case ContainerKind::AlignEnd: return ContainerKey::AlignEnd;
        case ContainerKind::LineWidth: return ContainerKey::LineWidth;
        case ContainerKind::BoutenRange: return ContainerKey::BoutenRange;
        case ContainerKind::Bold: return ContainerKey::Bold;
        case ContainerKind::Gothic: return ContainerKey::Gothic;
        case ContainerKind::Italic: return ContainerKey::Italic;
        case ContainerKind::Heading: return ContainerKey::Heading;
        case ContainerKind::Columns: return ContainerKey::Columns;
        case ContainerKind::Table: return ContainerKey::Table;
        case ContainerKind::Horizontal: return ContainerKey::Horizontal;
        case ContainerKind::FontSize: return ContainerKey::FontSize;
        case ContainerKind::SmallScript: return ContainerKey::SmallScript;
        case ContainerKind::Caption: return ContainerKey::Caption;
        case ContainerKind::InlineStyle: return ContainerKey::InlineStyle;
    }
    return ContainerKey::Indent;
}

// Byte 0 is the kind, bytes 1..10 its parameters. The same record describes
// a close: the kind being closed and its close parameters.
//
//   Indent / IndentWrap: 1 wrap amount, 2 centre, 3 gothic, 4 horizontal,
//     5 framed, 6 font steps (signed), 7 width mode (0 none, 1 N字詰め,
//     2 N行M字組み), 8 width or line count, 9 kumi width, 10 indent amount.
//     A close carries the kumi width in byte 9.
//   Bold, Gothic, Italic, Caption: 1 block flag.
//   Heading: 1 block flag, 2 level, 3 style.
//   BoutenRange: 1 side (0 right, 1 left), 2 bouten kind.
//   SmallScript: 1 side (1 left).
//   AlignEnd: 1 offset. LineWidth: 1 width. Columns: 1 count.
//   InlineStyle: 1 the FormatStyle kind (kStyleCombineUpright,
//     kStyleSuperscript, kStyleSubscript), on the open and the close.
//   FontSize: open 1 signed steps; close 1 direction (1 larger, 0 smaller);
//     2 inline flag. Horizontal, Warichu: 1 inline flag. Heading: 4 inline
//     (run-in) flag.
struct ContainerSpec {
    uint8_t bytes[11] = {};

    ContainerKind kind() const { return static_cast<ContainerKind>(bytes[0]); }
    ContainerKey key() const { return container_key(kind()); }
    uint8_t operator[](size_t i) const { return bytes[i]; }
    uint8_t& operator[](size_t i) { return bytes[i]; }

    static ContainerSpec of(ContainerKind k) {
        ContainerSpec s;
        s.bytes[0] = static_cast<uint8_t>(k);
        return s;
    }

    // Bouten ranges and small script are always inline; bold, gothic,
    // italic and caption are inline unless opened in block form. Font size,
    // horizontal and warichu containers opened and closed within one line,
    // and a same-line heading with text after it, are made inline by the
    // fold (kInlineFlagByte of their kind).
    bool is_inline() const {
        switch (kind()) {
            case ContainerKind::BoutenRange:
            case ContainerKind::SmallScript:
            case ContainerKind::InlineStyle: return true;
            case ContainerKind::Bold:
            case ContainerKind::Gothic:
            case ContainerKind::Italic:
            case ContainerKind::Caption: return bytes[1] == 0;
            case ContainerKind::FontSize: return bytes[2] != 0;
            case ContainerKind::Horizontal:
            case ContainerKind::Warichu: return bytes[1] != 0;
            case ContainerKind::Heading: return bytes[4] != 0;
            default: return false;
        }
    }

    // The byte that marks a FontSize, Horizontal, Warichu or Heading
    // container inline; 0 for kinds that have none.
    size_t inline_flag_byte() const {
        switch (kind()) {
            case ContainerKind::FontSize: return 2;
            case ContainerKind::Horizontal:
            case ContainerKind::Warichu: return 1;
            case ContainerKind::Heading: return 4;
            default: return 0;
        }
    }
};

static_assert(std::is_trivially_copyable_v<ContainerSpec>);

// One recognised construct, as the fold records it.
struct RegistryEntry {
    SentinelKind kind = SentinelKind::Absent;
    Node node;            // Inline, BlockLeaf
    ContainerSpec spec;   // BlockOpen, BlockClose
    Span span;            // sanitized coordinates
    uint32_t position = 0;  // byte offset of the sentinel in the normalized text
};

static_assert(std::is_trivially_copyable_v<RegistryEntry> && sizeof(RegistryEntry) == 64);

}  // namespace kogane
