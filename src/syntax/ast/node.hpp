#pragma once
// The node model shared by classification, fold, renderers and views. Every
// value here is a small, trivially copyable struct; text lives in the
// NodeStore and is named by 32-bit ids.

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "collections/span.hpp"
#include "syntax/accents.hpp"
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

// Which side of the (vertical) line a ruby, note or mark stands on.
enum class MarkSide : uint8_t { Right, Left };

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

// One gaiji reference: description, designation and how it was spelt.
struct GaijiItem {
    StringId description = 0;
    CodeRef code;
    bool separated = false;  // the reference had "、" before its code
    bool no_mark = false;    // written without the leading ※
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

// The decoration a format puts on its target.
enum class StyleKind : uint8_t {
    BoutenRight,     // 傍点, 傍線 … on the right
    BoutenLeft,      // … の左に
    BoutenBoth,      // … の両側に
    Bold,            // 太字
    Gothic,          // ゴシック体
    Italic,          // 斜体
    Superscript,     // 上付き小文字
    Subscript,       // 下付き小文字
    SmallScript,     // 行右小書き, 行左小書き
    Enclosure,       // 罫囲み, ○付き文字 …
    Horizontal,      // 横組み
    Caption,         // キャプション
    FontSteps,       // N段階大きな文字, N段階小さな文字
    FontSize,        // 特大文字, 大文字, 中文字, 小文字
    CombineUpright,  // 縦中横
    Fraction,        // 分数
    AccentDot,       // …ドット付き
    Accent,          // アクサン（´）付き …
    AlignEndRun,     // 地付き, 地からN字上げ, over a run
    None = 0xFF,
};

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


// The sizes of a whole line, largest first.
enum class LineSize : uint8_t { ExtraLarge, Large, Medium, Small };

// The frames an enclosure draws around its target.
enum class Enclosure : uint8_t {
    Ruled,         // 罫囲み
    Square,        // 「□」囲み
    Circle,        // ○付き文字
    DottedCircle,  // 点線丸囲み
    DoubleRuled,   // 二重罫囲み
};

// A decoration: its kind and the one parameter some kinds take, set by the
// factory of the kind and read by the accessor of the kind. A parameter
// read with another kind's accessor means nothing; values out of an enum's
// range are kept (renderers fall back on a default for them).
class FormatStyle {
public:
    constexpr FormatStyle() = default;
    static constexpr FormatStyle none() { return {}; }
    // A kind that takes no parameter.
    static constexpr FormatStyle of(StyleKind kind) { return {kind, 0}; }
    // `placement` is BoutenRight, BoutenLeft or BoutenBoth.
    static constexpr FormatStyle bouten(StyleKind placement, BoutenKind mark) {
        return {placement, static_cast<uint8_t>(mark)};
    }
    static constexpr FormatStyle small_script(MarkSide side) {
        return {StyleKind::SmallScript, static_cast<uint8_t>(side)};
    }
    static constexpr FormatStyle enclosure(Enclosure frame) {
        return {StyleKind::Enclosure, static_cast<uint8_t>(frame)};
    }
    // Positive: larger by that many steps; negative: smaller.
    static constexpr FormatStyle font_steps(int8_t steps) {
        return {StyleKind::FontSteps, static_cast<uint8_t>(steps)};
    }
    static constexpr FormatStyle font_size(LineSize size) { return {StyleKind::FontSize, static_cast<uint8_t>(size)}; }
    static constexpr FormatStyle accent(AccentKind accent) { return {StyleKind::Accent, static_cast<uint8_t>(accent)}; }
    // Characters raised from the line end (0: flush).
    static constexpr FormatStyle align_end_run(uint8_t raise) { return {StyleKind::AlignEndRun, raise}; }

    constexpr StyleKind kind() const { return kind_; }
    constexpr bool present() const { return kind_ != StyleKind::None; }
    constexpr bool is_bouten() const {
        return kind_ == StyleKind::BoutenRight || kind_ == StyleKind::BoutenLeft || kind_ == StyleKind::BoutenBoth;
    }

    constexpr BoutenKind bouten_mark() const { return static_cast<BoutenKind>(param_); }
    constexpr MarkSide side() const { return static_cast<MarkSide>(param_); }  // SmallScript
    constexpr Enclosure frame() const { return static_cast<Enclosure>(param_); }
    constexpr int8_t steps() const { return static_cast<int8_t>(param_); }
    constexpr LineSize size() const { return static_cast<LineSize>(param_); }
    constexpr AccentKind accent() const { return static_cast<AccentKind>(param_); }
    constexpr uint8_t raise() const { return param_; }  // AlignEndRun

    friend constexpr bool operator==(FormatStyle, FormatStyle) = default;

private:
    constexpr FormatStyle(StyleKind kind, uint8_t param) : kind_(kind), param_(param) {}

    StyleKind kind_ = StyleKind::None;
    uint8_t param_ = 0;
};
static_assert(std::is_trivially_copyable_v<FormatStyle> && sizeof(FormatStyle) == 2);

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
    MarkSide side = MarkSide::Right;
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

enum class SectionBreak : uint8_t { OddPage, Column, Spread };  // 改丁, 改段, 改見開き

struct SectionBreakNode {
    SectionBreak kind = SectionBreak::OddPage;
};


enum class HeadingLevel : uint8_t { Large, Medium, Small };  // 大, 中, 小見出し

enum class HeadingStyle : uint8_t { Standalone, SameLine, Window };  // -, 同行, 窓

struct HeadingNode {
    ContentRef text;
    HeadingLevel level = HeadingLevel::Large;
    HeadingStyle style = HeadingStyle::Standalone;
    bool markup = false;  // `text` is a line's source, rubies or gaiji included, read again to render
    StringId target = kNoId;  // the annotation's quoted target as written, when promoted from one
};

struct HeadingHintNode {
    StringId target = 0;
    HeadingLevel level = HeadingLevel::Large;
    HeadingStyle style = HeadingStyle::Standalone;
    bool is_inline = false;  // the hint took over its target right before it
};

struct IllustrationNode {
    StringId path = 0;
    StringId size = kNoId;     // 横W×縦H, optional
    StringId alt = kNoId;      // optional
    StringId label = kNoId;    // optional label replacing 挿絵
    bool has_caption = false;
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
    MarkSide side = MarkSide::Right;
    bool placed = false;  // put on an earlier occurrence; its annotation stands elsewhere
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
    static Node make_section(SectionBreak kind) { Node n = make(NodeTag::SectionBreak); n.section.kind = kind; return n; }
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

// The grid a block indent sets its lines in.
enum class LineGrid : uint8_t {
    None,
    Width,  // N字詰め: N characters a line
    Kumi,   // N行M字組み: N lines of M characters
};

// The payload of each container kind. Amounts are character counts.
struct IndentSpec {  // Indent, IndentWrap
    uint8_t amount = 0;    // N字下げ
    uint8_t wrap = 0;      // IndentWrap: 折り返してN字下げ
    bool centre = false;
    bool gothic = false;
    bool horizontal = false;
    bool framed = false;
    int8_t font_steps = 0;  // negative = smaller
    LineGrid grid = LineGrid::None;
    uint8_t width = 0;       // LineGrid::Width
    uint8_t kumi_lines = 0;  // LineGrid::Kumi
    uint8_t kumi_width = 0;  // LineGrid::Kumi; a close that names its grid carries it too
};

struct RangeSpec {  // Bold, Gothic, Italic, Caption
    bool block = false;  // opened with ここから; otherwise an inline range
};

struct HeadingSpec {
    bool block = false;  // ここから…見出し
    HeadingLevel level = HeadingLevel::Large;
    HeadingStyle style = HeadingStyle::Standalone;
    bool run_in = false;  // set by the fold: a same-line heading with text after it
    friend constexpr bool operator==(const HeadingSpec&, const HeadingSpec&) = default;
};

struct BoutenRangeSpec {
    MarkSide side = MarkSide::Right;
    BoutenKind mark = BoutenKind::Goma;
};

struct SmallScriptSpec {
    MarkSide side = MarkSide::Right;
};

struct InlineStyleSpec {  // CombineUpright, Superscript or Subscript
    StyleKind style = StyleKind::CombineUpright;
};

struct FontSizeSpec {
    int8_t steps = 0;  // open: signed steps; close: +1 larger or -1 smaller
    bool inline_form = false;  // set by the fold: opened and closed on one line
};

struct FlowSpec {  // Horizontal, Warichu
    bool inline_form = false;  // set by the fold: opened and closed on one line
};

struct AlignEndSpec {
    uint8_t raise = 0;  // an open's 地からN字上げ; closes carry none
};

struct LineWidthSpec {
    uint8_t width = 0;
};

struct ColumnsSpec {
    uint8_t count = 0;
};

// A container open, or a close naming the kind it closes and what its
// annotation spelled. The payload that is live is the one of kind(); the
// factories set both together.
class ContainerSpec {
public:
    union {
        IndentSpec indent;
        RangeSpec range;
        HeadingSpec heading;
        BoutenRangeSpec bouten;
        SmallScriptSpec script;
        InlineStyleSpec inline_style;
        FontSizeSpec font_size;
        FlowSpec flow;
        AlignEndSpec align_end;
        LineWidthSpec line_width;
        ColumnsSpec columns;
    };

    ContainerSpec() : indent() {}

    ContainerKind kind() const { return kind_; }
    ContainerKey key() const { return container_key(kind_); }

    // The kind with its default payload.
    static ContainerSpec of(ContainerKind k) {
        ContainerSpec s;
        s.kind_ = k;
        switch (k) {
            case ContainerKind::Indent:
            case ContainerKind::IndentWrap: s.indent = IndentSpec{}; break;
            case ContainerKind::Bold:
            case ContainerKind::Gothic:
            case ContainerKind::Italic:
            case ContainerKind::Caption: s.range = RangeSpec{}; break;
            case ContainerKind::Heading: s.heading = HeadingSpec{}; break;
            case ContainerKind::BoutenRange: s.bouten = BoutenRangeSpec{}; break;
            case ContainerKind::SmallScript: s.script = SmallScriptSpec{}; break;
            case ContainerKind::InlineStyle: s.inline_style = InlineStyleSpec{}; break;
            case ContainerKind::FontSize: s.font_size = FontSizeSpec{}; break;
            case ContainerKind::Horizontal:
            case ContainerKind::Warichu: s.flow = FlowSpec{}; break;
            case ContainerKind::AlignEnd: s.align_end = AlignEndSpec{}; break;
            case ContainerKind::LineWidth: s.line_width = LineWidthSpec{}; break;
            case ContainerKind::Columns: s.columns = ColumnsSpec{}; break;
            case ContainerKind::Framed:
            case ContainerKind::Table: break;
        }
        return s;
    }
    static ContainerSpec make_indent(IndentSpec p, bool wrapped = false) {
        ContainerSpec s = of(wrapped ? ContainerKind::IndentWrap : ContainerKind::Indent);
        s.indent = p;
        return s;
    }
    static ContainerSpec make_range(ContainerKind k, bool block) {
        ContainerSpec s = of(k);
        s.range.block = block;
        return s;
    }
    static ContainerSpec make_heading(HeadingSpec p) {
        ContainerSpec s = of(ContainerKind::Heading);
        s.heading = p;
        return s;
    }
    static ContainerSpec make_bouten(MarkSide side, BoutenKind mark) {
        ContainerSpec s = of(ContainerKind::BoutenRange);
        s.bouten = {side, mark};
        return s;
    }
    static ContainerSpec make_small_script(MarkSide side) {
        ContainerSpec s = of(ContainerKind::SmallScript);
        s.script.side = side;
        return s;
    }
    static ContainerSpec make_inline_style(StyleKind style) {
        ContainerSpec s = of(ContainerKind::InlineStyle);
        s.inline_style.style = style;
        return s;
    }
    static ContainerSpec make_font_size(int8_t steps) {
        ContainerSpec s = of(ContainerKind::FontSize);
        s.font_size.steps = steps;
        return s;
    }
    static ContainerSpec make_align_end(uint8_t raise) {
        ContainerSpec s = of(ContainerKind::AlignEnd);
        s.align_end.raise = raise;
        return s;
    }
    static ContainerSpec make_line_width(uint8_t width) {
        ContainerSpec s = of(ContainerKind::LineWidth);
        s.line_width.width = width;
        return s;
    }
    static ContainerSpec make_columns(uint8_t count) {
        ContainerSpec s = of(ContainerKind::Columns);
        s.columns.count = count;
        return s;
    }

    // Bouten ranges and small script are always inline; bold, gothic,
    // italic and caption are inline unless opened in block form. Font size,
    // horizontal and warichu containers opened and closed within one line,
    // and a same-line heading with text after it, are made inline by the
    // fold (make_inline).
    bool is_inline() const {
        switch (kind_) {
            case ContainerKind::BoutenRange:
            case ContainerKind::SmallScript:
            case ContainerKind::InlineStyle: return true;
            case ContainerKind::Bold:
            case ContainerKind::Gothic:
            case ContainerKind::Italic:
            case ContainerKind::Caption: return !range.block;
            case ContainerKind::FontSize: return font_size.inline_form;
            case ContainerKind::Horizontal:
            case ContainerKind::Warichu: return flow.inline_form;
            case ContainerKind::Heading: return heading.run_in;
            default: return false;
        }
    }

    // Marks a font size, horizontal, warichu or heading container inline;
    // other kinds are left as they are.
    void make_inline() {
        switch (kind_) {
            case ContainerKind::FontSize: font_size.inline_form = true; break;
            case ContainerKind::Horizontal:
            case ContainerKind::Warichu: flow.inline_form = true; break;
            case ContainerKind::Heading: heading.run_in = true; break;
            default: break;
        }
    }

private:
    ContainerKind kind_ = ContainerKind::Indent;
};

static_assert(sizeof(IndentSpec) == 11 && sizeof(HeadingSpec) == 4 && sizeof(BoutenRangeSpec) == 2);
static_assert(std::is_trivially_copyable_v<ContainerSpec> && sizeof(ContainerSpec) == 12);

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
