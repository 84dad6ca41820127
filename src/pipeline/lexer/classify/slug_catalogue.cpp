#include "pipeline/lexer/classify/slug_catalogue.hpp"

namespace kogane {

namespace {

constexpr SlugRecord kSlugs[] = {
    {"改ページ", "pageBreak", false, "ページを改める", nullptr},
    {"改丁", "section", false, "改丁（次の奇数ページから）", nullptr},
    {"改段", "section", false, "改段（段組を改める）", nullptr},
    {"改見開き", "section", false, "改見開き（次の見開きへ）", nullptr},
    {"ここから字下げ", "blockContainerOpen", false, "1字下げを開始（終わりまで）", "ここで字下げ終わり"},
    {"ここから{N}字下げ", "blockContainerOpen", true, "N字下げを開始（終わりまで）", "ここで字下げ終わり"},
    {"ここで字下げ終わり", "blockContainerClose", false, "字下げブロックを閉じる", "ここから字下げ"},
    {"ここから地付き", "blockContainerOpen", false, "地付きを開始", "ここで地付き終わり"},
    {"ここから地から{N}字上げ", "blockContainerOpen", true, "地からN字上げを開始", "ここで地付き終わり"},
    {"ここで地付き終わり", "blockContainerClose", false, "地付きブロックを閉じる", "ここから地付き"},
    {"罫囲み", "framed", false, "罫線で囲む（終わりまで）", "罫囲み終わり"},
    {"罫囲み終わり", "framed", false, "罫囲みを閉じる", "罫囲み"},
    {"割り注", "warichu", false, "割り注を開始（終わりまで）", "割り注終わり"},
    {"割り注終わり", "warichu", false, "割り注を閉じる", "割り注"},
    {"地付き", "leafAlign", false, "前の段落を地付きに揃える", nullptr},
    {"地から{N}字上げ", "leafAlign", true, "前の段落を地からN字上げて揃える", nullptr},
    {"{N}字下げ", "leafAlign", true, "前の段落をN字下げる（単発）", nullptr},
    {"傍点", "bouten", false, "ゴマ傍点（［＃「対象」に傍点］）", nullptr},
    {"白ゴマ傍点", "bouten", false, "白ゴマ傍点", nullptr},
    {"丸傍点", "bouten", false, "丸傍点", nullptr},
    {"白丸傍点", "bouten", false, "白丸傍点", nullptr},
    {"二重丸傍点", "bouten", false, "二重丸傍点", nullptr},
    {"蛇の目傍点", "bouten", false, "蛇の目傍点", nullptr},
    {"ばつ傍点", "bouten", false, "ばつ傍点", nullptr},
    {"白三角傍点", "bouten", false, "白三角傍点", nullptr},
    {"波線", "bouten", false, "波線（傍線の波形）", nullptr},
    {"傍線", "bouten", false, "傍線（下線）", nullptr},
    {"二重傍線", "bouten", false, "二重傍線（二重下線）", nullptr},
    {"挿絵（{path}）入る", "illustration", true, "挿絵を埋め込む", nullptr},
    {"縦中横", "combineUpright", false, "縦中横（［＃「対象」は縦中横］）", nullptr},
    {"一", "kaeritenSingle", false, "返り点 一", nullptr},
    {"二", "kaeritenSingle", false, "返り点 二", nullptr},
    {"三", "kaeritenSingle", false, "返り点 三", nullptr},
    {"四", "kaeritenSingle", false, "返り点 四", nullptr},
    {"上", "kaeritenSingle", false, "返り点 上", nullptr},
    {"中", "kaeritenSingle", false, "返り点 中", nullptr},
    {"下", "kaeritenSingle", false, "返り点 下", nullptr},
    {"甲", "kaeritenSingle", false, "返り点 甲", nullptr},
    {"乙", "kaeritenSingle", false, "返り点 乙", nullptr},
    {"丙", "kaeritenSingle", false, "返り点 丙", nullptr},
    {"丁", "kaeritenSingle", false, "返り点 丁", nullptr},
    {"レ", "kaeritenSingle", false, "返り点 レ", nullptr},
    {"一レ", "kaeritenCompound", false, "返り点 一レ", nullptr},
    {"二レ", "kaeritenCompound", false, "返り点 二レ", nullptr},
    {"三レ", "kaeritenCompound", false, "返り点 三レ", nullptr},
    {"上レ", "kaeritenCompound", false, "返り点 上レ", nullptr},
    {"中レ", "kaeritenCompound", false, "返り点 中レ", nullptr},
    {"下レ", "kaeritenCompound", false, "返り点 下レ", nullptr},
};

static_assert(sizeof(kSlugs) / sizeof(kSlugs[0]) == 48);

}  // namespace

std::span<const SlugRecord> slug_catalogue() { return kSlugs; }

}  // namespace kogane
