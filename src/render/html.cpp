#include "render/html.hpp"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "collections/helper_threads.hpp"
#include "collections/safe_output.hpp"
#include "render/html_nodes.hpp"
#include "syntax/ast/sentinel_walk.hpp"

namespace kogane {

using namespace std::string_view_literals;

namespace {

// Every byte the escaper rewrites is below 0x40 ('"', '&', '\'', '<', '>'
// and C0 controls), so a word without such a byte is copied as it stands.
// Exact for the yes/no answer: a borrow only sets bits above a true hit.
inline bool has_byte_below_0x40(uint64_t word) {
    return ((word - 0x4040404040404040ull) & ~word & 0x8080808080808080ull) != 0;
}

}  // namespace

void append_escaped(std::string& out, std::string_view text) {
    const char* const p = text.data();
    const size_t n = text.size();
    size_t run = 0;
    size_t i = 0;
    while (i < n) {
        // Skip clean words; the bytes of the word that stopped the skip
        // (or the tail) are looked at one by one.
        uint64_t word;
        while (i + 8 <= n && (std::memcpy(&word, p + i, 8), !has_byte_below_0x40(word))) i += 8;
        // Fewer than eight bytes left: the word ending at the end covers
        // them (and bytes already looked at), so a clean tail is one test.
        if (i + 8 > n && n >= 8 && (std::memcpy(&word, p + n - 8, 8), !has_byte_below_0x40(word))) break;
        const size_t stop = i + 8 <= n ? i + 8 : n;
        for (; i < stop; ++i) {
            if (static_cast<unsigned char>(p[i]) >= 0x40) continue;  // most bytes, in short texts too
            const char* rep;
            switch (p[i]) {
                case '&': rep = "&amp;"; break;
                case '<': rep = "&lt;"; break;
                case '>': rep = "&gt;"; break;
                case '"': rep = "&quot;"; break;
                case '\'': rep = "&#x27;"; break;
                default:
                    // C0 controls other than tab and line feed never reach the
                    // HTML raw (the parse reported them).
                    if (!is_unsafe_control(static_cast<unsigned char>(p[i]))) continue;
                    rep = "\xEF\xBF\xBD";
            }
            out.append(p + run, i - run);
            out += rep;
            run = i + 1;
        }
    }
    out.append(p + run, n - run);
}

namespace {

// The document walk. Besides the render state proper (open containers,
// suspended inline containers, paragraph and heading flags, warichu spans)
// it keeps every element it has opened on one stack, so each close tag is
// written only for the innermost open element, whatever the events were.
class DocumentRenderer {
public:
    // Appends to `out`, which may hold earlier output. With a sink, `out`
    // is handed over and emptied whenever it holds `piece_bytes` or more.
    DocumentRenderer(const ParseSnapshot& snap, std::string& out, HtmlSink* sink = nullptr, size_t piece_bytes = 0)
        : snap_(snap), out_(out), writer_(out_, snap.store, 0), sink_(sink), piece_bytes_(piece_bytes) {
        const size_t whole = snap.normalized.size() * 2;
        // Room for a piece and a quarter (the last element may run past the
        // piece size), never past what the whole HTML takes.
        const size_t piece_room = piece_bytes + std::min(piece_bytes / 4, SIZE_MAX - piece_bytes);
        out_.reserve(out_.size() + (sink != nullptr ? std::min(whole, piece_room) : whole));
    }

    void run() {
        walk_sentinels(snap_.normalized, snap_.registry, *this);
        close_paragraph();
        if (!elements_.empty()) {
            while (!elements_.empty()) close_top();
            out_ += '\n';
        }
        if (sink_ != nullptr && !out_.empty()) hand_over();
    }

    // The walk's visitor.
    static constexpr bool kLineFeeds = true;
    void on_text(std::string_view t) {
        write_text(t);
        if (out_.size() >= piece_bytes_ && sink_ != nullptr) maybe_hand_over();
    }
    void on_line_feed(size_t at) {
        line_feed(at);
        if (out_.size() >= piece_bytes_ && sink_ != nullptr) maybe_hand_over();
    }
    void on_sentinel(SentinelKind, const RegistryEntry* e) {
        if (e != nullptr) sentinel(*e);
    }

private:
    enum class Kind : uint8_t { Paragraph, Warichu, Container };
    struct Element {
        Kind kind;
        ContainerSpec spec;
    };

    void hand_over() {
        sink_->write(out_);
        out_.clear();
    }
    // Not while the last heading or illustration may still take a layout
    // leaf into its opening tag: that tag must stay in the buffer.
    void maybe_hand_over() {
        if (block_insert_ == kNoBlock) hand_over();
    }

    void line_feed(size_t at) {
        const std::string_view text = snap_.normalized;
        block_insert_ = kNoBlock;
        if (at + 1 < text.size()) {
            if (text[at + 1] != '\n') {
                if (paragraph_open_) out_ += "<br />\n"sv;
            } else {
                close_paragraph();
            }
        }
        // A heading's lines stay lines, if more of it follows.
        if (in_heading_ && heading_text_) heading_break_ = true;
    }

    void sentinel(const RegistryEntry& e) {
        switch (e.kind) {
            case SentinelKind::Inline: inline_node(e.node); break;
            case SentinelKind::BlockLeaf: {
                close_paragraph();
                take_pending_newline();
                const size_t start = out_.size();
                render_node(e.node);
                // Single-line layouts that follow at once belong inside it.
                const size_t tag_end = out_.find('>', start);
                block_insert_ = tag_end == std::string::npos ? kNoBlock : tag_end + 1;
                block_end_ = out_.size();
                pending_newline_ = true;
                break;
            }
            case SentinelKind::BlockOpen: container_open(e.spec); break;
            case SentinelKind::BlockClose: container_close(e.spec); break;
            case SentinelKind::Absent: break;
        }
    }

    void inline_node(const Node& n) {
        if (n.tag == NodeTag::LeafAlign && block_insert_ != kNoBlock && out_.size() == block_end_) {
            std::string leaf;
            uint32_t spans = 0;
            html::NodeWriter(leaf, snap_.store, 0).node(n, spans);
            out_.insert(block_insert_, leaf);
            block_insert_ += leaf.size();
            block_end_ = out_.size();
            return;
        }
        open_paragraph();
        heading_content();
        if (n.tag == NodeTag::Directive && n.directive.kind == RemarkKind::WarichuOpen) {
            out_ += "<span class=\"kogane-warichu\">"sv;
            push(Kind::Warichu, ContainerSpec{});
        } else if (n.tag == NodeTag::Directive && n.directive.kind == RemarkKind::WarichuClose) {
            if (!spans_.empty()) close_spans_from(spans_.back());
        } else {
            render_node(n);
        }
    }

    // Warichu markers reach here only inside node content, where the
    // writer balances them itself.
    void render_node(const Node& n) {
        uint32_t spans = 0;
        writer_.node(n, spans);
        for (; spans > 0; --spans) out_ += "</span>"sv;
    }

    void container_open(const ContainerSpec& spec) {
        if (spec.is_inline()) {
            // The paragraph (and its reopened containers) come first, so the
            // new container is the innermost element.
            open_paragraph();
            writer_.container_open(spec);
            push(Kind::Container, spec);
            return;
        }
        close_paragraph();
        take_pending_newline();
        writer_.container_open(spec);
        push(Kind::Container, spec);
        if (spec.kind() == ContainerKind::Heading) {
            in_heading_ = true;
            heading_text_ = heading_break_ = false;
        } else
            pending_newline_ = true;
    }

    void container_close(const ContainerSpec& close) {
        if (close.is_inline() && !suspended_.empty()) {
            suspended_.pop_back();
            return;
        }
        if (containers_.empty()) return;
        // The popped container is closed with its own tag whatever key
        // arrived. Only a paragraph or warichu spans can sit above it; they
        // are closed first.
        const ContainerSpec& top = elements_[containers_.back()].spec;
        const bool top_is_block = !top.is_inline() && top.kind() != ContainerKind::Heading;
        if (top_is_block || (paragraph_open_ && paragraph_ > containers_.back())) close_paragraph();
        if (containers_.empty()) return;
        while (elements_.size() > containers_.back() + 1) close_top();

        const ContainerSpec open = elements_.back().spec;
        const bool heading = open.kind() == ContainerKind::Heading && !open.is_inline();
        const bool block = !open.is_inline() && !heading;
        elements_.pop_back();
        containers_.pop_back();
        if (heading) {
            in_heading_ = heading_text_ = heading_break_ = false;
            writer_.container_close(open);
            pending_newline_ = true;
        } else if (block) {
            take_pending_newline();
            writer_.container_close(open);
            pending_newline_ = true;
        } else {
            writer_.container_close(open);
        }
    }

    void write_text(std::string_view t) {
        if (t.empty()) return;
        open_paragraph();
        heading_content();
        append_escaped(out_, t);
    }

    // Heading text is about to be written: a line break before it is kept.
    void heading_content() {
        if (!in_heading_ || paragraph_open_) return;
        if (heading_break_) out_ += "<br />\n"sv;
        heading_break_ = false;
        heading_text_ = true;
    }

    void take_pending_newline() {
        if (!pending_newline_) return;
        out_ += '\n';
        pending_newline_ = false;
    }

    void open_paragraph() {
        if (in_heading_ || paragraph_open_) return;
        take_pending_newline();
        out_ += "<p>"sv;
        push(Kind::Paragraph, ContainerSpec{});
        for (const ContainerSpec& s : suspended_) {  // outermost first
            writer_.container_open(s);
            push(Kind::Container, s);
        }
        suspended_.clear();
    }

    void close_paragraph() {
        if (paragraph_open_) {
            // Above the paragraph are only inline containers and warichu
            // spans: spans end here, containers wait for the next paragraph.
            std::vector<ContainerSpec> closed;  // innermost first
            while (elements_.back().kind != Kind::Paragraph) {
                if (elements_.back().kind == Kind::Container) {
                    writer_.container_close(elements_.back().spec);
                    closed.push_back(elements_.back().spec);
                    pop();
                } else {
                    close_top();
                }
            }
            suspended_.insert(suspended_.begin(), closed.rbegin(), closed.rend());
            // Every paragraph reopens what is carried over, so an unbounded
            // carry (thousands of inline opens never closed) would make the
            // output grow with paragraphs times opens. Only the innermost
            // few are carried; the rest end with this paragraph.
            if (suspended_.size() > kMaxCarried)
                suspended_.erase(suspended_.begin(), suspended_.end() - kMaxCarried);
            close_top();
        }
        // Spans opened where no paragraph could be (inside a heading).
        if (!spans_.empty()) close_spans_from(spans_.front());
    }

    // Closes the elements from the top down to `index`: spans for good,
    // containers to be reopened right away, so only spans really end.
    void close_spans_from(size_t index) {
        std::vector<ContainerSpec> reopen;  // innermost first
        while (elements_.size() > index) {
            if (elements_.back().kind == Kind::Container) {
                writer_.container_close(elements_.back().spec);
                reopen.push_back(elements_.back().spec);
                pop();
            } else {
                close_top();
            }
        }
        for (auto it = reopen.rbegin(); it != reopen.rend(); ++it) {
            writer_.container_open(*it);
            push(Kind::Container, *it);
        }
    }

    void close_top() {
        const Element& e = elements_.back();
        switch (e.kind) {
            case Kind::Paragraph: out_ += "</p>\n"sv; break;
            case Kind::Warichu: out_ += "</span>"sv; break;
            case Kind::Container: writer_.container_close(e.spec); break;
        }
        pop();
    }

    void push(Kind kind, const ContainerSpec& spec) {
        const size_t index = elements_.size();
        elements_.push_back(Element{kind, spec});
        switch (kind) {
            case Kind::Paragraph:
                paragraph_open_ = true;
                paragraph_ = index;
                break;
            case Kind::Warichu: spans_.push_back(index); break;
            case Kind::Container: containers_.push_back(index); break;
        }
    }

    void pop() {
        switch (elements_.back().kind) {
            case Kind::Paragraph: paragraph_open_ = false; break;
            case Kind::Warichu: spans_.pop_back(); break;
            case Kind::Container: containers_.pop_back(); break;
        }
        elements_.pop_back();
    }

    const ParseSnapshot& snap_;
    std::string& out_;
    html::NodeWriter writer_;
    std::vector<Element> elements_;
    std::vector<size_t> containers_;  // indices into elements_: the open containers
    std::vector<size_t> spans_;       // indices into elements_: open warichu spans
    size_t paragraph_ = 0;            // index of the paragraph while one is open
    static constexpr size_t kMaxCarried = 64;
    std::vector<ContainerSpec> suspended_;  // outermost first
    bool paragraph_open_ = false;
    bool pending_newline_ = false;
    bool in_heading_ = false;
    static constexpr size_t kNoBlock = SIZE_MAX;
    size_t block_insert_ = kNoBlock;  // inside the opening tag of the last heading or illustration
    size_t block_end_ = kNoBlock;     // the output size right after it
    bool heading_text_ = false;   // the open heading has content
    bool heading_break_ = false;  // a line feed since its last content
    HtmlSink* sink_;
    size_t piece_bytes_;
};

}  // namespace

namespace html {

namespace {

// Nodes only: a fragment's container sentinels write nothing.
struct FragmentVisitor {
    static constexpr bool kLineFeeds = true;
    std::string& out;
    std::string_view text;
    NodeWriter writer;
    uint32_t open_spans = 0;

    void on_text(std::string_view t) { append_escaped(out, t); }
    void on_line_feed(size_t at) {
        if (at + 1 < text.size()) out += "<br />\n"sv;
    }
    void on_sentinel(SentinelKind kind, const RegistryEntry* e) {
        if ((kind == SentinelKind::Inline || kind == SentinelKind::BlockLeaf) && e != nullptr)
            writer.node(e->node, open_spans);
    }
};

}  // namespace

void walk_fragment(std::string& out, const ParseSnapshot& fragment, int depth) {
    FragmentVisitor v{out, fragment.normalized, NodeWriter(out, fragment.store, depth)};
    walk_sentinels(fragment.normalized, fragment.registry, v);
    for (; v.open_spans > 0; --v.open_spans) out += "</span>"sv;
}

}  // namespace html

std::string render_html(const ParseSnapshot& snapshot) {
    std::string out;
    render_html_into(snapshot, out);
    return out;
}

void render_html_into(const ParseSnapshot& snapshot, std::string& out) { DocumentRenderer(snapshot, out).run(); }

void render_html_pieces(const ParseSnapshot& snapshot, std::string& buffer, size_t piece_bytes, HtmlSink& sink) {
    buffer.clear();
    DocumentRenderer(snapshot, buffer, &sink, std::max<size_t>(piece_bytes, 1)).run();
}

namespace {

// Pieces passed from the rendering thread to the taking one through a few
// buffers: the renderer fills a free one while the taker reads a full one.
// A slot is touched outside the lock only by the side that owns it: the
// renderer the slot after the full ones, the taker the first full one.
class PieceRelay final : public HtmlSink {
public:
    // Rendering thread.
    void write(std::string_view piece) override {
        std::unique_lock lock(mutex_);
        has_room_.wait(lock, [&] { return full_ < kSlots || abandoned_; });
        if (abandoned_) return;
        std::string& slot = slots_[(first_ + full_) % kSlots];
        lock.unlock();
        slot.assign(piece);
        lock.lock();
        ++full_;
        has_piece_.notify_one();
    }

    void finish(std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        finished_ = true;
        error_ = std::move(error);
        has_piece_.notify_one();
    }

    // Taking thread: every piece to `sink` in order, then what the renderer
    // threw, if anything.
    void drain(HtmlSink& sink) {
        std::unique_lock lock(mutex_);
        while (true) {
            has_piece_.wait(lock, [&] { return full_ > 0 || finished_; });
            if (full_ == 0) break;
            std::string& slot = slots_[first_];
            lock.unlock();
            sink.write(slot);
            lock.lock();
            first_ = (first_ + 1) % kSlots;
            --full_;
            has_room_.notify_one();
        }
        if (error_) std::rethrow_exception(error_);
    }

    // Taking thread, when it stops early: the renderer's writes return at once.
    void abandon() {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
        has_room_.notify_one();
    }

private:
    static constexpr size_t kSlots = 3;
    std::mutex mutex_;
    std::condition_variable has_room_, has_piece_;
    std::array<std::string, kSlots> slots_;
    size_t first_ = 0;  // the oldest full slot
    size_t full_ = 0;
    bool finished_ = false;
    bool abandoned_ = false;
    std::exception_ptr error_;
};

}  // namespace

void render_html_pieces_beside(const ParseSnapshot& snapshot, std::string& buffer, size_t piece_bytes,
                               HtmlSink& sink) {
    if (!helper_threads_allowed()) {
        render_html_pieces(snapshot, buffer, piece_bytes, sink);
        return;
    }
    PieceRelay relay;
    std::thread renderer;
    try {
        renderer = std::thread([&snapshot, &buffer, piece_bytes, &relay] {
            std::exception_ptr error;
            try {
                render_html_pieces(snapshot, buffer, piece_bytes, relay);
            } catch (...) {
                error = std::current_exception();
            }
            relay.finish(std::move(error));
        });
    } catch (const std::system_error&) {
        render_html_pieces(snapshot, buffer, piece_bytes, sink);
        return;
    }
    struct Join {
        std::thread& thread;
        PieceRelay& relay;
        ~Join() {
            relay.abandon();  // a no-op once every piece is taken
            thread.join();
        }
    } join{renderer, relay};
    relay.drain(sink);
}

}  // namespace kogane
