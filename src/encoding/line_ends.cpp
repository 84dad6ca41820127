#include "encoding/line_ends.hpp"

#include <algorithm>
#include <cstring>

#include "collections/spare_buffers.hpp"

namespace kogane {

void LineEnds::note(uint64_t line_feed, Form form) {
    if (form == Form::Lf) return;
    folded_ = true;
    cr_lf_ += form == Form::CrLf;
    const auto at = static_cast<size_t>(line_feed / 4);
    if (forms_.size() <= at) forms_.resize(at + 1, 0);
    forms_[at] = static_cast<uint8_t>(forms_[at] | static_cast<unsigned>(form) << (2 * (line_feed % 4)));
}

LineEnds::Form LineEnds::form(uint64_t line_feed) const {
    const auto at = static_cast<size_t>(line_feed / 4);
    if (at >= forms_.size()) return Form::Lf;
    return static_cast<Form>((forms_[at] >> (2 * (line_feed % 4))) & 3);
}

std::string LineEnds::restore(std::string_view folded) const {
    std::string out;
    out.reserve(static_cast<size_t>(source_size(folded.size())));
    const char* const base = folded.data();
    const size_t n = folded.size();
    uint64_t line_feed = 0;
    for (size_t i = 0; i < n;) {
        const void* hit = std::memchr(base + i, '\n', n - i);
        const size_t lf = hit == nullptr ? n : static_cast<size_t>(static_cast<const char*>(hit) - base);
        out.append(base + i, lf - i);
        if (lf == n) break;
        switch (form(line_feed++)) {
            case Form::Lf: out.push_back('\n'); break;
            case Form::CrLf: out.append("\r\n"); break;
            case Form::Cr: out.push_back('\r'); break;
        }
        i = lf + 1;
    }
    return out;
}

std::string fold_line_ends(std::string_view text, LineEnds& ends) {
    const char* const base = text.data();
    const size_t n = text.size();
    std::string out = take_spare_buffer(n);
    if (std::memchr(base, '\r', n) == nullptr) {
        out.append(text);
        return out;
    }
    out.resize(n);
    LineEndFolder folder{&ends};
    char* w = out.data();
    for (size_t i = 0; i < n;) {
        // Whole lines up to the next CR are copied as they are, their line
        // feeds counted; the CR and what follows it go through the folder.
        const void* hit = std::memchr(base + i, '\r', n - i);
        const size_t cr = hit == nullptr ? n : static_cast<size_t>(static_cast<const char*>(hit) - base);
        folder.line_feeds += static_cast<uint64_t>(std::count(base + i, base + cr, '\n'));
        std::memcpy(w, base + i, cr - i);
        w += cr - i;
        if (cr == n) break;
        i = cr;
        do {
            w = folder.fold_ascii(w, reinterpret_cast<const unsigned char*>(base + i), 1);
            ++i;
        } while (folder.pending_cr && i < n);
    }
    w = folder.settle(w);
    out.resize(static_cast<size_t>(w - out.data()));
    return out;
}

}  // namespace kogane
