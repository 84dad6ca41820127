#include "pipeline/lexer/classify/keywords.hpp"

#include <algorithm>
#include <mutex>
#include <vector>

#include "collections/panic.hpp"

namespace kogane {

namespace {

constexpr BodyPattern kPatterns[kBodyPatternCount] = {
    {"ここから字下げ", 11}, {"ここからページの左右中央", 12}, {"ここから地付き", 13},
    {"ここから地から", 30}, {"ここから", 29}, {"ここで字下げ終わり", 14}, {"ここで字下げ、", 31},
    {"ここで地付き終わり", 15}, {"ここで字上げ終わり", 15}, {"ここで字詰め終わり", 16},
    {"ここから表", 17}, {"ここで表終わり", 18}, {"ここから横組み", 19}, {"ここで横組み終わり", 20},
    {"ここで大きな文字終わり", 21}, {"ここで小さな文字終わり", 21}, {"大きな文字終わり", 21},
    {"小さな文字終わり", 21}, {"横組み", 19}, {"横組み終わり", 20},
    {"行右小書き", 36}, {"行右小書き終わり", 36}, {"行左小書き", 36}, {"行左小書き終わり", 36},
    {"キャプション", 37}, {"キャプション終わり", 37}, {"ここからキャプション", 37},
    {"ここでキャプション終わり", 37}, {"ここから罫囲み", 9}, {"ここで罫囲み終わり", 10},
    {"ここから割り注", 38}, {"ここで割り注終わり", 39}, {"天から", 40}, {"天より", 40},
    {"改行天付き", 41}, {"ここで", 22}, {"改ページ", 0}, {"改頁", 0}, {"改丁", 3}, {"改段", 4},
    {"改見開き", 5}, {"本文終わり", 1}, {"改行", 2}, {"地から", 27}, {"地より", 27},
    {"ここから地より", 30}, {"文末より", 27}, {"行末より", 27}, {"この行は行末より", 27},
    {"地付き", 6}, {"右寄せ", 6}, {"地寄せ", 6}, {"ページの左右中央", 7}, {"中央揃え", 7},
    {"この行はゴシック体", 8}, {"特大文字", 42}, {"大文字", 42}, {"中文字", 42}, {"小文字", 42},
    {"挿絵", 28}, {"罫囲み終わり", 10}, {"罫囲み", 9}, {"割り注終わり", 24}, {"割り注", 23},
    {"左に", 34}, {"白ゴマ傍点", 34}, {"白丸傍点", 34}, {"二重丸傍点", 34}, {"蛇の目傍点", 34},
    {"ばつ傍点", 34}, {"白三角傍点", 34}, {"黒三角傍点", 34}, {"丸傍点", 34}, {"傍点", 34},
    {"二重傍線", 34}, {"鎖線", 34}, {"破線", 34}, {"波線", 34}, {"傍線", 34},
    {"太字", 35}, {"斜体", 35}, {"ここから太字", 35}, {"ここから斜体", 35}, {"ここで太字終わり", 35},
    {"ここで斜体終わり", 35}, {"ゴシック体", 35}, {"ここからゴシック体", 35},
    {"ここでゴシック体終わり", 35}, {"（", 32},
    {"一レ", 26}, {"上レ", 26}, {"下レ", 26}, {"中レ", 26}, {"二レ", 26}, {"三レ", 26}, {"上二", 26},
    {"下二", 26},
    {"一", 25}, {"丁", 25}, {"三", 25}, {"上", 25}, {"下", 25}, {"中", 25}, {"丙", 25}, {"乙", 25},
    {"二", 25}, {"四", 25}, {"甲", 25}, {"レ", 25},
    {"0", 33}, {"1", 33}, {"2", 33}, {"3", 33}, {"4", 33}, {"5", 33}, {"6", 33}, {"7", 33}, {"8", 33},
    {"9", 33}, {"０", 33}, {"１", 33}, {"２", 33}, {"３", 33}, {"４", 33}, {"５", 33}, {"６", 33},
    {"７", 33}, {"８", 33}, {"９", 33},
    {"縦中横", 43}, {"縦中横終わり", 43}, {"上付き小文字", 43}, {"上付き小文字終わり", 43},
    {"下付き小文字", 43}, {"下付き小文字終わり", 43}, {"字下げ", 44},
};

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
        for (uint32_t p = 0; p < kBodyPatternCount; ++p) {
            uint32_t state = 0;
            for (unsigned char b : kPatterns[p].keyword) {
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
            invariant(accept_[state] == kNoPattern, "BODY_PATTERNS is a static, non-empty, valid set");
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
                uint32_t p = accept_[state];
                invariant(p < kBodyPatternCount, "AhoCorasick::try_find is not expected to fail");
                best = BodyMatch{p, static_cast<uint32_t>(i + 1), kPatterns[p].family};
            }
        }
        return best;
    }

private:
    std::vector<uint32_t> accept_;      // per state: pattern ending here, or none
    std::vector<uint32_t> first_edge_;  // per state: index of its first edge
    std::vector<uint8_t> bytes_;
    std::vector<uint32_t> targets_;
};

const KeywordTrie& trie() {
    static const KeywordTrie instance;  // built once, under the language's one-time guard
    return instance;
}

}  // namespace

const BodyPattern& body_pattern(uint32_t pattern) {
    invariant(pattern < kBodyPatternCount, "AhoCorasick::try_find is not expected to fail");
    return kPatterns[pattern];
}

std::optional<BodyMatch> body_pattern_search(std::string_view body) { return trie().longest_prefix(body); }

void prewarm_keywords() { (void)trie(); }

}  // namespace kogane
