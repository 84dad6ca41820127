#pragma once
// Line ends folded to LF while a text is decoded, with a record of how each
// was written, so that the text as it came can be given back on demand. A
// parse then reads the decoded text itself instead of a second copy with
// its line ends normalized: a book with CR LF line ends costs one text, not
// two, and one pass less.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kogane {

class LineEnds {
public:
    enum class Form : uint8_t { Lf = 0, CrLf = 1, Cr = 2 };

    // True when some line end was written other than as a lone LF.
    bool folded() const { return folded_; }
    // The length of the text as it came, given the folded text's.
    uint64_t source_size(uint64_t folded_size) const { return folded_size + cr_lf_; }
    // The text as it came.
    std::string restore(std::string_view folded) const;
    Form form(uint64_t line_feed) const;

    // Records that line feed number `line_feed` (counted from zero in the
    // folded text) was written as `form`; line feeds never noted were LF.
    void note(uint64_t line_feed, Form form);

private:
    std::vector<uint8_t> forms_;  // two bits per line feed, by its number
    uint64_t cr_lf_ = 0;
    bool folded_ = false;
};

// Folds the line ends of a stream of text pieces: CR LF and a lone CR each
// become one LF. A CR that ends a piece waits for the next piece's first
// byte. Used byte by byte on short runs (the decoder's ASCII runs) and by
// the piece on longer text.
struct LineEndFolder {
    LineEnds* ends;
    uint64_t line_feeds = 0;
    bool pending_cr = false;

    // Writes `len` ASCII bytes folded at `out`; returns the end written.
    char* fold_ascii(char* out, const unsigned char* from, size_t len) {
        for (size_t k = 0; k < len; ++k) {
            const unsigned char b = from[k];
            if (pending_cr) {
                pending_cr = false;
                ends->note(line_feeds++, b == '\n' ? LineEnds::Form::CrLf : LineEnds::Form::Cr);
                *out++ = '\n';
                if (b == '\n') continue;
            }
            if (b == '\r') {
                pending_cr = true;
                continue;
            }
            line_feeds += b == '\n';
            *out++ = static_cast<char>(b);
        }
        return out;
    }
    // Before a byte that is no ASCII: a waiting CR stood alone.
    char* settle(char* out) {
        if (pending_cr) {
            pending_cr = false;
            ends->note(line_feeds++, LineEnds::Form::Cr);
            *out++ = '\n';
        }
        return out;
    }
};

// A copy of `text` with its line ends folded, recorded in `ends`.
std::string fold_line_ends(std::string_view text, LineEnds& ends);

}  // namespace kogane
