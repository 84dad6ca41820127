#include "pipeline/lexer/classify/normalise.hpp"

namespace kogane {

namespace {

struct Pair {
    std::string_view from;
    std::string_view to;
};

constexpr Pair kExact[] = {
    {"字下げ終わり", "ここで字下げ終わり"},
    {"字下げ終り", "ここで字下げ終わり"},
    {"字下げおわり", "ここで字下げ終わり"},
    {"文字下げ終わり", "ここで字下げ終わり"},
    {"二字下げ終わり", "ここで字下げ終わり"},
    {"ここで字下げおわり", "ここで字下げ終わり"},
    {"ここで字下げ終り", "ここで字下げ終わり"},
    {"ここで文字下げ終わり", "ここで字下げ終わり"},
    {"ここから表組", "ここから表"},
    {"ここで表組終わり", "ここで表終わり"},
    {"ここで横組みの表終わり", "ここで表終わり"},
    {"黒丸傍点", "丸傍点"},
    {"中央寄せ", "中央揃え"},
    {"改行を挿入", "改行"},
    {"斜体字", "斜体"},
    {"中中見出し", "中見出し"},
    {"ゴチック", "ゴシック体"},
    {"ここからゴチック", "ここからゴシック体"},
    {"ここでゴチック終わり", "ここでゴシック体終わり"},
    {"傍点（白丸）", "白丸傍点"},
    {"傍点◎", "二重丸傍点"},
    {"中見出終わり", "中見出し終わり"},
    {"大見出終わり", "大見出し終わり"},
    {"小見出終わり", "小見出し終わり"},
    {"ここで中見出終わり", "ここで中見出し終わり"},
    {"ここで大見出終わり", "ここで大見出し終わり"},
    {"ここで小見出終わり", "ここで小見出し終わり"},
    {"ここで横書き終わり", "ここで横組み終わり"},
    {"ここで左から右への横組み終わり", "ここで横組み終わり"},
    {"地付きで", "地付き"},
    {"こ地付き", "地付き"},
    {"ここから横書き", "ここから横組み"},
};
static_assert(sizeof(kExact) / sizeof(kExact[0]) == 32);

constexpr Pair kSuffixes[] = {
    {"に黒丸傍点", "に丸傍点"},
    {"は斜体字", "は斜体"},
    {"は中中見出し", "は中見出し"},
    {"の部分はイタリック体", "は斜体"},
    {"は横書き", "は横組み"},
    {"の縦中横", "は縦中横"},
    {"は小書き", "は小文字"},
    {"は下付き", "は下付き小文字"},
    {"は上付き", "は上付き小文字"},
    {"はすべて下付き小文字", "は下付き小文字"},
    {"は地付け", "は地付き"},
    {"はゴチック", "はゴシック体"},
    {"は枠囲み", "は罫囲み"},
    {"は枠囲い", "は罫囲み"},
    {"に枠囲み", "は罫囲み"},
    {"に枠囲い", "は罫囲み"},
    {"は横一列", "は縦中横"},
    {"に傍点（白丸）", "に白丸傍点"},
    {"に傍点◎", "に二重丸傍点"},
};
static_assert(sizeof(kSuffixes) / sizeof(kSuffixes[0]) == 19);

// Suffixes that follow a quoted target directly ("」…"); longest first.
constexpr Pair kQuotedSuffixes[] = {
    {"にママの注記", "に「ママ」の注記"},
    {"ゴシック体", "はゴシック体"},
    {"の小文字", "は小文字"},
    {"と注記", "の注記"},
    {"は傍点", "に傍点"},
    {"の傍点", "に傍点"},
    {"注記", "の注記"},
    {"傍点", "に傍点"},
};

// `prefix` digits `suffix` exactly; the digits are returned through `n`.
bool digits_between(std::string_view body, std::string_view prefix, std::string_view suffix,
                    std::string_view* n) {
    if (!body.starts_with(prefix)) return false;
    std::string_view rest = body.substr(prefix.size());
    size_t d = digit_prefix_length(rest);
    if (d == 0 || rest.substr(d) != suffix) return false;
    *n = rest.substr(0, d);
    return true;
}

}  // namespace

size_t digit_prefix_length(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= '0' && c <= '9') {
            ++i;
        } else if (c == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBC &&
                   static_cast<unsigned char>(s[i + 2]) >= 0x90 && static_cast<unsigned char>(s[i + 2]) <= 0x99) {
            i += 3;  // ０..９
        } else {
            break;
        }
    }
    return i;
}

std::optional<std::string> normalise_spelling(std::string_view body) {
    for (const Pair& p : kExact)
        if (body == p.from) return std::string(p.to);

    std::string_view n;
    if (digits_between(body, "", "回り大きな文字", &n)) return std::string(n) + "段階大きな文字";
    if (digits_between(body, "", "回り小さな文字", &n)) return std::string(n) + "段階小さな文字";
    for (std::string_view prefix : {"ここか", "ここより", "以下"})
        if (digits_between(body, prefix, "字下げ", &n)) return "ここから" + std::string(n) + "字下げ";
    if (digits_between(body, "ここから", "　字下げ", &n)) return "ここから" + std::string(n) + "字下げ";
    if (digits_between(body, "ここで", "字下げ終わり", &n)) return std::string("ここで字下げ終わり");
    if (digits_between(body, "ここで", "段階大きな文字終わり", &n)) return std::string("ここで大きな文字終わり");
    if (digits_between(body, "ここで", "段階小さな文字終わり", &n)) return std::string("ここで小さな文字終わり");

    for (const Pair& p : kSuffixes)
        if (body.ends_with(p.from)) return std::string(body.substr(0, body.size() - p.from.size())) + std::string(p.to);

    for (const Pair& p : kQuotedSuffixes) {
        if (!body.ends_with(p.from)) continue;
        std::string_view head = body.substr(0, body.size() - p.from.size());
        if (!head.ends_with("」")) continue;
        return std::string(head) + std::string(p.to);
    }
    return std::nullopt;
}

std::optional<std::string> recognise_legacy_phrase(std::string_view body) {
    // ここから最…N字下げ: an old way of opening an indented block.
    if (body.starts_with("ここから最") && body.ends_with("字下げ")) {
        std::string_view mid = body.substr(std::string_view("ここから最").size());
        mid.remove_suffix(std::string_view("字下げ").size());
        size_t start = 0;
        while (start < mid.size() && digit_prefix_length(mid.substr(start)) == 0) ++start;
        std::string_view n = mid.substr(start);
        if (!n.empty() && digit_prefix_length(n) == n.size()) return "ここから" + std::string(n) + "字下げ";
    }
    // N字下げて、地よりM字上げ / N字下げき、…: one line indented and raised.
    for (std::string_view joint : {"字下げて、", "字下げき、"}) {
        size_t j = body.find(joint);
        if (j == std::string_view::npos) continue;
        std::string_view rest = body.substr(j + joint.size());
        for (std::string_view from : {"地より", "地から"}) {
            if (!rest.starts_with(from)) continue;
            std::string_view tail = rest.substr(from.size());
            size_t d = digit_prefix_length(tail);
            if (d > 0 && tail.substr(d).starts_with("字上")) return "地から" + std::string(tail.substr(0, d)) + "字上げ";
        }
    }
    // N字上で地付き: raised from the bottom.
    if (body.ends_with("字上で地付き")) {
        size_t d = digit_prefix_length(body);
        if (d > 0 && body.substr(d) == "字上で地付き") return "地から" + std::string(body.substr(0, d)) + "字上げ";
    }
    // 行末からN字上げ.
    if (body.starts_with("行末から")) {
        std::string_view tail = body.substr(std::string_view("行末から").size());
        size_t d = digit_prefix_length(tail);
        if (d > 0 && tail.substr(d).starts_with("字上")) return "地から" + std::string(tail.substr(0, d)) + "字上げ";
    }
    // Spacing phrases: 「…」は…字アキ asks for the digits set upright.
    for (std::string_view spacing : {"字アキ", "字あき"}) {
        if (body.find(spacing) == std::string_view::npos) continue;
        if (body.starts_with("「")) {
            size_t close = body.find("」");
            if (close != std::string_view::npos) return std::string(body.substr(0, close + 3)) + "は縦中横";
        }
        size_t d = digit_prefix_length(body);
        if (d > 0) return "地から" + std::string(body.substr(0, d)) + "字上げ";
    }
    return std::nullopt;
}

}  // namespace kogane
