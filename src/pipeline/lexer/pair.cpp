#include "pipeline/lexer/pair.hpp"

#include <algorithm>

#include "collections/growth.hpp"
#include "scan/trigger_scanner.hpp"

namespace kogane {

namespace {

inline PairEvent make_event(PairTag tag, uint8_t kind, Span s) { return PairEvent{tag, kind, s.start, s.end}; }
inline PairEvent make_event(PairTag tag, PairKind kind, Span s) {
    return make_event(tag, static_cast<uint8_t>(kind), s);
}

}  // namespace

PairStream::PairStream(std::string_view text, Diagnostics& diagnostics, std::vector<PairLink>* links,
                       uint32_t piece_bytes, uint8_t link_kinds)
    : tokenizer_(text, piece_bytes), links_(links), link_kinds_(link_kinds), diagnostics_(&diagnostics) {
    // Each opener gives at most one unclosed report and each closer at most
    // one unmatched report, and a bracket takes three bytes; past the
    // per-code limit they are only counted. Reserving that bound spares the
    // list its growth copies, which on a flood of brackets would briefly
    // hold the diagnostics twice over; pages past those written are never
    // touched, so the bound costs address space only.
    diagnostics.reserve(diagnostics.size() +
                         std::min<size_t>(text.size() / 3, 2 * (size_t{kMaxDiagnosticsPerCode} + 1)));
}

PairStream::PairStream(const PairStream& from, Diagnostics* diagnostics, std::vector<PairLink>* links)
    : tokenizer_(from.tokenizer_),
      finished_(from.finished_),
      first_(from.first_ + from.held_.size()),
      links_(links),
      link_kinds_(from.link_kinds_),
      diagnostics_(diagnostics),
      open_starts_(from.open_starts_),
      open_kinds_(from.open_kinds_),
      open_count_(from.open_count_) {}

std::vector<PairLink> PairStream::all_links() const {
    std::vector<PairLink> links = links_ != nullptr ? *links_ : std::vector<PairLink>{};
    PairStream rest(*this, nullptr, &links);
    rest.drain();
    return links;
}

std::vector<uint32_t> PairStream::open_at_end() const {
    PairStream rest(*this, nullptr, nullptr);
    while (!rest.finished_ && rest.tokenizer_.next(rest.piece_)) {
        for (const Token& t : rest.piece_) rest.token(t);
        rest.held_.clear();
    }
    return std::vector<uint32_t>(rest.open_starts_.begin(), rest.open_starts_.end());
}

void PairStream::drain() {
    for (size_t i = first_ + held_.size(); fetch(i, i); ++i) {
    }
}

bool PairStream::fetch_more(size_t index, size_t keep_from) {
    // Drop what the reader no longer needs, but only once it is at least
    // as much as what stays, so each event is moved at most about once.
    const size_t drop = std::min(keep_from, first_ + held_.size()) - std::min(keep_from, first_);
    if (drop > 0 && drop * 2 >= held_.size()) {
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(drop));
        first_ += drop;
    }
    while (index >= first_ + held_.size()) {
        if (finished_) return false;
        const uint32_t read = tokenizer_.read();  // what the events held so far come from
        if (tokenizer_.next(piece_)) {
            reserve_for(2 * piece_.size(), read);
            for (const Token& t : piece_) token(t);
        } else {
            finish();
            finished_ = true;
        }
    }
    return true;
}

void PairStream::reserve_for(size_t more, uint32_t read) {
    if (held_.capacity() - held_.size() >= more) return;
    // The held events grow only while a reader keeps a long run of them (a
    // bracket group left open across the text); predict from the density
    // of that run, counting the event an open entry gives when it closes
    // or is given up before the end of the text.
    const size_t from = held_.empty() ? read : std::min<size_t>(held_.front().start, read);
    held_.reserve(std::max(held_.size() + more, predicted_capacity(held_.size() + open_starts_.size(), read - from,
                                                                   tokenizer_.length() - from)));
}

// Every token gives one event, and an opener given up before the end of the
// text one more where it is given up (at a ］ reaching past it, or at a line
// end for ［).
void PairStream::token(const Token& t) {
    if (t.tag == TokenTag::Text) {
        held_.push_back(PairEvent{PairTag::Text, 0, t.start, t.end});
        return;
    }
    if (t.tag == TokenTag::Newline) {
        on_newline(t.start);
        return;
    }
    const TriggerRole role = kTriggerRoles[t.kind < kTriggerCount ? t.kind : 0];
    if (role.opens) {
        push_open(role.kind, t.span());
        held_.push_back(make_event(PairTag::Open, role.kind, t.span()));
    } else if (role.closes) {
        on_close(role.kind, t.span());
    } else {
        held_.push_back(PairEvent{PairTag::Trigger, t.kind, t.start, t.end});
    }
}

// Input exhausted: report what is still open, innermost first. These give
// no events: nothing follows them for a reader to act on, and a flood of
// openers would otherwise hold an event for each until the end.
void PairStream::finish() {
    while (!open_starts_.empty()) {
        const OpenEntry entry = pop_open();
        report(Diagnostic::unclosed_bracket(entry.kind, entry.span));
    }
    // A flood of openers held them large; the reader's peak is still to come.
    open_starts_ = {};
    open_kinds_ = {};
}

void PairStream::push_open(PairKind kind, Span span) {
    open_starts_.push_back(span.start);
    open_kinds_.push_back(kind);
    ++open_count_[static_cast<uint8_t>(kind)];
}

PairStream::OpenEntry PairStream::pop_open() {
    const OpenEntry top{open_kinds_.back(), Span{open_starts_.back(), open_starts_.back() + 3}};
    open_starts_.pop_back();
    open_kinds_.pop_back();
    --open_count_[static_cast<uint8_t>(top.kind)];
    return top;
}

void PairStream::unclosed(OpenEntry entry) {
    report(Diagnostic::unclosed_bracket(entry.kind, entry.span));
    held_.push_back(make_event(PairTag::Unclosed, entry.kind, entry.span));
}

void PairStream::on_close(PairKind kind, Span span) {
    if (!open_kinds_.empty() && open_kinds_.back() == kind) {
        const OpenEntry top = pop_open();
        link(kind, top.span, span);
        held_.push_back(make_event(PairTag::Close, kind, span));
        return;
    }
    close_with_recovery(kind, span);
}

void PairStream::close_with_recovery(PairKind kind, Span span) {
    // Only ］ reaches past other open entries, and only when a ［ is open.
    if (kind == PairKind::Bracket && open_count_[static_cast<uint8_t>(PairKind::Bracket)] > 0) {
        while (open_kinds_.back() != PairKind::Bracket) unclosed(pop_open());
        const OpenEntry opener = pop_open();
        link(kind, opener.span, span);
        held_.push_back(make_event(PairTag::Close, kind, span));
        return;
    }
    report(Diagnostic::unmatched_close(kind, span));
    held_.push_back(make_event(PairTag::Unmatched, kind, span));
}

void PairStream::on_newline(uint32_t offset) {
    // An annotation bracket never spans a line end; other pairs may.
    while (!open_kinds_.empty() && open_kinds_.back() == PairKind::Bracket) unclosed(pop_open());
    held_.push_back(make_event(PairTag::Newline, uint8_t{0}, Span{offset, offset + 1}));
}

namespace {

// Where the 」 closing the 「 whose bytes end at `from` stands, following
// the pairing rules above from there with the entries opened after it;
// the ［ the 「 sits on is still open below it. Nullopt when the 「 is given
// up (by a ］ or the end of the text); `read` counts the bytes looked at.
std::optional<uint32_t> close_of_quote_on_bracket(std::string_view text, size_t from, size_t& read) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    SmallVector<PairKind, 8> above;  // entries opened after the 「, innermost last
    for (size_t i = from; i < n;) {
        const unsigned char c = p[i];
        if (c == '\n') {
            while (!above.empty() && above.back() == PairKind::Bracket) above.pop_back();
            ++i;
            ++read;
            continue;
        }
        const int kind = (c == 0xE2 || c == 0xE3 || c == 0xEF) && i + 3 <= n ? scan::classify_trigger(p + i) : -1;
        if (kind < 0) {
            ++i;
            ++read;
            continue;
        }
        const TriggerRole role = kTriggerRoles[kind];
        if (role.opens) {
            above.push_back(role.kind);
        } else if (role.closes) {
            if (!above.empty() && above.back() == role.kind) {
                above.pop_back();
            } else if (above.empty() && role.kind == PairKind::Quote) {
                return static_cast<uint32_t>(i);
            } else if (role.kind == PairKind::Bracket) {
                // ］ closes the innermost ［, giving up what stands above it:
                // the 「 itself when that ［ is the annotation's.
                while (!above.empty() && above.back() != PairKind::Bracket) above.pop_back();
                if (above.empty()) return std::nullopt;
                above.pop_back();
            }
            // Any other closer matches nothing and is passed over.
        }
        i += 3;
        read += 3;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<PairLink>> annotation_quote_links(std::string_view text, size_t max_bytes) {
    static constexpr char kOpen[] = "［＃";  // six bytes
    constexpr std::string_view kQuoteOpen = "「", kQuoteClose = "」", kMark = "※";
    std::vector<PairLink> links;
    size_t read = 0;
    for (size_t at = scan::find_six(text, 0, kOpen); at != std::string_view::npos;
         at = scan::find_six(text, at + 6, kOpen)) {
        if (at >= kMark.size() && text.substr(at - kMark.size(), kMark.size()) == kMark) continue;
        size_t quote = at + 6;
        while (text.substr(quote, kQuoteOpen.size()) == kQuoteOpen) {
            const std::optional<uint32_t> close = close_of_quote_on_bracket(text, quote + 3, read);
            if (read > max_bytes) return std::nullopt;
            if (!close) break;
            links.push_back(PairLink{Span{static_cast<uint32_t>(quote), static_cast<uint32_t>(quote + 3)},
                                     Span{*close, *close + 3}, PairKind::Quote});
            quote = *close + kQuoteClose.size();
        }
    }
    // A chain's later quotations may open after annotations inside the first.
    std::sort(links.begin(), links.end(), [](const PairLink& a, const PairLink& b) { return a.open.start < b.open.start; });
    return links;
}

std::vector<PairLink> pair_links(std::string_view text) {
    std::vector<PairLink> links;
    Diagnostics ignored;
    PairStream stream(text, ignored, &links);
    stream.drain();
    return links;
}

PairedEvents pair(std::string_view text, Diagnostics& diagnostics) {
    PairedEvents out;
    PairStream stream(text, diagnostics, &out.links);
    for (size_t i = 0; stream.fetch(i, 0); ++i) out.events.push_back(stream[i]);
    return out;
}

}  // namespace kogane
