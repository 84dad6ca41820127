#include "pipeline/lexer/classify/keywords.hpp"

#include <algorithm>
#include <mutex>
#include <vector>

#include "collections/panic.hpp"

namespace kogane {

namespace {

#include "keyword_rows.inc"

constexpr uint32_t kNoPattern = 0xFFFFFFFFu;

// Anchored matching only ever walks from the root, so the automaton is the
// keyword trie: a state per keyword prefix, edges sorted by (state, byte).
class KeywordTrie {
public:
    KeywordTrie() {
        accept_.push_back(kNoPattern);
        struct Edge {
            uint32_t from;
            uint8_t byte;
            uint32_t to;
        };
        std::vector<Edge> edges;
        for (uint32_t p = 0; p < kKeywordCount; ++p) {
            invariant(kKeywordRows[p].key == static_cast<Keyword>(p), "keyword rows are in Keyword order");
            if (kKeywordRows[p].match == KeywordMatch::None) continue;
            uint32_t state = 0;
            for (const char c : kKeywordRows[p].text) {
                const auto b = static_cast<unsigned char>(c);
                uint32_t next = kNoPattern;
                for (const Edge& e : edges)
                    if (e.from == state && e.byte == b) next = e.to;
                if (next == kNoPattern) {
                    next = static_cast<uint32_t>(accept_.size());
                    accept_.push_back(kNoPattern);
                    edges.push_back({state, b, next});
                }
                state = next;
            }
            invariant(accept_[state] == kNoPattern, "each keyword is listed once and is not empty");
            accept_[state] = p;
        }
        std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) {
            return a.from != b.from ? a.from < b.from : a.byte < b.byte;
        });
        first_edge_.assign(accept_.size() + 1, 0);
        for (const Edge& e : edges) ++first_edge_[e.from + 1];
        for (size_t i = 1; i < first_edge_.size(); ++i) first_edge_[i] += first_edge_[i - 1];
        for (const Edge& e : edges) {
            bytes_.push_back(e.byte);
            targets_.push_back(e.to);
        }
    }

    std::optional<BodyMatch> longest_prefix(std::string_view body) const {
        std::optional<BodyMatch> best;
        uint32_t state = 0;
        for (size_t i = 0; i < body.size(); ++i) {
            const unsigned char b = static_cast<unsigned char>(body[i]);
            uint32_t next = kNoPattern;
            for (uint32_t e = first_edge_[state]; e < first_edge_[state + 1]; ++e) {
                if (bytes_[e] == b) {
                    next = targets_[e];
                    break;
                }
            }
            if (next == kNoPattern) break;
            state = next;
            if (accept_[state] != kNoPattern) {
                const KeywordRow& row = kKeywordRows[accept_[state]];
                best = BodyMatch{row.key, static_cast<uint32_t>(i + 1), row.family, row.match};
            }
        }
        return best;
    }

private:
    std::vector<uint32_t> accept_;      // per state: index of the keyword ending here, or none
    std::vector<uint32_t> first_edge_;  // per state: index of its first edge
    std::vector<uint8_t> bytes_;
    std::vector<uint32_t> targets_;
};

const KeywordTrie& trie() {
    static const KeywordTrie instance;  // built once, under the language's one-time guard
    return instance;
}

}  // namespace

std::span<const KeywordRow> keyword_rows() { return kKeywordRows; }

const KeywordRow& keyword_row(Keyword key) {
    const auto index = static_cast<uint32_t>(key);
    invariant(index < kKeywordCount, "keyword_row takes a Keyword of the table");
    return kKeywordRows[index];
}

const KeywordRow* find_keyword(std::string_view text) {
    for (const KeywordRow& row : kKeywordRows)
        if (row.text == text) return &row;
    return nullptr;
}

std::optional<BodyMatch> body_pattern_search(std::string_view body) { return trie().longest_prefix(body); }

void prewarm_keywords() { (void)trie(); }

}  // namespace kogane
