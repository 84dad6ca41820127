#!/usr/bin/env python3
"""Deterministic generators of benchmark texts.

Two kinds of text:

* Books that look like real books (`generate_book`): the densities and length
  distributions of data/markup-profile.json (ruby, 「」 dialogue, annotations
  by the shapes and spellings real books use, forward references mostly right
  after their target, ※ gaiji, accent fragments, kaeriten, illustrations,
  containers with their closes, headings, page breaks), laid out as books are:
  header lines, a blank line, often the notation block between two lines of
  hyphens, the body, and a colophon starting 底本：.
* Dense synthetic text (`generate`): every construct packed close together;
  a stress input kept as it always was.

    python3 bench/gen_corpus.py [OUTDIR]            # books at 10 KB .. 50 MB, UTF-8 and Shift_JIS, CR LF
    python3 bench/gen_corpus.py OUTDIR --sizes 10k,1m --seed 3
    python3 bench/gen_corpus.py OUTDIR --library 10000   # a library following the file-size distribution
    python3 bench/gen_corpus.py --summary 1m        # generated vs profile densities only
    python3 bench/gen_corpus.py OUTDIR --dense      # also the dense synthetic texts

As a module:
    generate_book(seed, size_bytes) -> str           # LF line ends, about size_bytes of UTF-8
    generate_book_facts(seed, size_bytes) -> Book    # the text plus what the generator put in it
    generate_library(n_books, seed) -> iterator of (relative_path, bytes)
    to_sjis_crlf(text) -> bytes, encode_sjis(text) -> bytes
    measure(text) -> dict, format_summary(...) -> str
    generate(size, seed) -> str                      # the dense synthetic text
"""

from __future__ import annotations

import argparse
import bisect
import codecs
import enum
import io
import json
import math
import random
import re
import sys
import zipfile
from collections import Counter
from dataclasses import dataclass, field
from functools import lru_cache
from pathlib import Path
from typing import Callable, Iterator

ROOT = Path(__file__).resolve().parent.parent
PROFILE_PATH = ROOT / "data" / "markup-profile.json"
DESCRIPTIONS_PATH = ROOT / "data" / "gaiji-descriptions.tsv"


# ---------------------------------------------------------------------------
# Profile and distributions


@lru_cache(maxsize=1)
def load_profile() -> dict:
    with open(PROFILE_PATH, encoding="utf-8") as f:
        return json.load(f)


class Quantiles:
    """Integer distribution through the profile's quantiles (p10 .. p99, max).

    Values are interpolated log-linearly between the knots. The top knot is
    pulled in from the observed maximum until the mean matches the profile's
    mean, so one 22,000-character line does not distort every book.
    """

    KNOTS = (("p10", 0.10), ("p25", 0.25), ("p50", 0.50), ("p75", 0.75), ("p90", 0.90), ("p99", 0.99))

    def __init__(self, stats: dict, low: int = 1):
        self.low = low
        probs = [0.0] + [p for _, p in self.KNOTS] + [1.0]
        values = [float(low)] + [float(max(stats[k], low)) for k, _ in self.KNOTS]
        self.probs = probs
        target = stats.get("mean")
        top_lo, top_hi = float(values[-1]), float(max(stats.get("max", values[-1]), values[-1]))
        top = top_hi
        if target is not None and self._mean(values + [top_hi]) > target:
            for _ in range(40):  # bisection on the top knot
                top = (top_lo + top_hi) / 2
                if self._mean(values + [top]) > target:
                    top_hi = top
                else:
                    top_lo = top
        self.values = values + [top]
        self._logs = [math.log(v + 1.0) for v in self.values]

    def _quantile(self, values: list[float], u: float) -> float:
        i = max(1, bisect.bisect_left(self.probs, u))
        p0, p1 = self.probs[i - 1], self.probs[i]
        a, b = math.log(values[i - 1] + 1.0), math.log(values[i] + 1.0)
        t = (u - p0) / (p1 - p0) if p1 > p0 else 0.0
        return math.exp(a + (b - a) * t) - 1.0

    def _mean(self, values: list[float]) -> float:
        n = 4000
        return sum(math.floor(self._quantile(values, (k + 0.5) / n)) for k in range(n)) / n

    def sample(self, rng: random.Random) -> int:
        u = rng.random()
        i = max(1, bisect.bisect_left(self.probs, u))
        p0, p1 = self.probs[i - 1], self.probs[i]
        a, b = self._logs[i - 1], self._logs[i]
        t = (u - p0) / (p1 - p0) if p1 > p0 else 0.0
        return max(self.low, int(math.exp(a + (b - a) * t) - 1.0))


@lru_cache(maxsize=None)
def distribution(*path: str, low: int = 1) -> Quantiles:
    """The profile's distribution at `path` (calibrating one takes a while, so once per process)."""
    stats = load_profile()
    for key in path:
        stats = stats[key]
    return Quantiles(stats, low=low)


# ---------------------------------------------------------------------------
# Vocabulary

RUBY_WORDS = {
    "銀河": "ぎんが", "停車場": "ていしゃば", "少年": "しょうねん", "汽車": "きしゃ", "切符": "きっぷ",
    "車掌": "しゃしょう", "燈台": "とうだい", "林檎": "りんご", "水晶": "すいしょう", "孔雀": "くじゃく",
    "鷺": "さぎ", "蠍": "さそり", "化石": "かせき", "烏瓜": "からすうり", "硝子": "ガラス", "桔梗": "ききょう",
    "竜胆": "りんどう", "薄": "すすき", "眼": "め", "俯向": "うつむ", "躊躇": "ためら", "微笑": "ほほえ",
    "襖": "ふすま", "障子": "しょうじ", "縁側": "えんがわ", "提灯": "ちょうちん", "団扇": "うちわ", "簪": "かんざし",
    "草履": "ぞうり", "足袋": "たび", "煙管": "キセル", "行燈": "あんどん", "囲炉裏": "いろり", "雪洞": "ぼんぼり",
    "手拭": "てぬぐい", "女房": "にょうぼう", "亭主": "ていしゅ", "旦那": "だんな", "御新造": "ごしんぞ",
    "奉公": "ほうこう", "番頭": "ばんとう", "丁稚": "でっち", "長屋": "ながや", "井戸": "いど", "氷柱": "つらら",
    "時々": "ときどき", "人々": "ひとびと", "黄昏": "たそがれ", "陽炎": "かげろう", "東雲": "しののめ",
    "吾輩": "わがはい", "獰悪": "どうあく", "所謂": "いわゆる", "尤": "もっと", "殆": "ほとん", "些": "いささ",
    "暫": "しばら", "頗": "すこぶ", "流石": "さすが", "素人": "しろうと", "玄人": "くろうと", "仰有": "おっしゃ",
    "嘗": "かつ", "呟": "つぶや", "囁": "ささや", "覗": "のぞ", "瞼": "まぶた", "頬": "ほお", "掌": "てのひら",
    "懐": "ふところ", "袂": "たもと", "襟": "えり", "裾": "すそ", "鬢": "びん", "髷": "まげ", "白粉": "おしろい",
    "紅": "べに", "蝋燭": "ろうそく", "燐寸": "マッチ", "洋燈": "ランプ", "麦酒": "ビール", "珈琲": "コーヒー",
    "倫敦": "ロンドン", "巴里": "パリ", "紐育": "ニューヨーク", "伯林": "ベルリン", "羅馬": "ローマ",
    "停留所": "ていりゅうじょ", "活版所": "かっぱんじょ", "十字架": "じゅうじか", "天気輪": "てんきりん",
    "鳳仙花": "ほうせんか", "百日紅": "さるすべり", "紫陽花": "あじさい", "向日葵": "ひまわり",
}
PLAIN_KANJI_WORDS = [
    "学校", "母親", "漁師", "祭", "河原", "橋", "電燈", "時計", "地図", "野原", "霧", "風", "東京", "森林",
    "季節", "記憶", "言葉", "世界", "宇宙", "先生", "友人", "手紙", "部屋", "窓", "机", "夜", "朝", "昼",
    "雨", "雪", "空", "海", "山", "川", "道", "家", "町", "村", "声", "顔", "手", "足", "目", "心", "気持",
    "仕事", "病気", "電車", "停車場", "新聞", "写真", "画家", "小説", "作者", "自分", "彼", "彼女", "人間",
    "今日", "昨日", "明日", "一人", "二人", "三日", "十年", "毎晩", "途中", "向う", "一緒", "大変", "本当",
]
KANA_RUNS = [
    "の", "は", "が", "を", "に", "へ", "と", "から", "まで", "より", "でした", "ました", "のです", "けれども",
    "そして", "それから", "ように", "ながら", "ところ", "なって", "いるのでした", "ありました", "見えました",
    "しずかに", "ぼんやり", "きらきら", "して", "いた", "いる", "ある", "ない", "です", "ます", "だった",
    "という", "ような", "もう", "まだ", "すこし", "どうも", "やはり", "ふと", "じっと", "そっと", "また",
    "こう", "そう", "ああ", "どこか", "なにか", "だれも", "いつも", "ほんとうに", "なんだか", "もの", "こと",
]
KATAKANA_WORDS = ["ジョバンニ", "カムパネルラ", "ザネリ", "プリオシン", "アルビレオ", "ケンタウル", "ランプ",
                  "テーブル", "コップ", "ガラス", "ペン", "インキ", "ノート", "ステッキ", "ハンカチ"]
KANJI_CHARS = "山川田町村森林空海雨雪風雲星月日花草木水火土金石道家門窓机紙筆墨声言語話心思想夢影光闇夜朝昼春夏秋冬東西南北上下左右前後内外"
HIRAGANA = "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをんがぎぐげござじずぜぞだでどばびぶべぼ"
KATAKANA = "アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワヲンガギグゲゴ"
FULLWIDTH_LATIN_BASES = ["ＡＢＣ", "Ｘ", "ＳＯＳ", "ＮＨＫ", "Ｑ", "ＹＭＣＡ"]
LATIN_BASES = ["Hamlet", "Paris", "Faust", "Kant", "butter-cup", "Mr.", "don't", "Tokio"]
OTHER_BASES = ["８", "ВОКС", "Σ", "〔Gu:rtel〕", "７"]
KANA_BASES_H = ["ゐ", "ゑ", "をば"]
KANA_BASES_K = ["ヰ", "ヱ"]
ACCENT_WORDS = ["Cafe'", "Ame'rique", "Tu:bingen", "Espan~a", "garc,on", "Bjo/rn", "na:ive", "fianc,e'e",
                "Mu:nchen", "cre^pe", "a` la mode", "Quid pro quo", "Goethe", "Ae&on", "oe&uvre"]
TITLES = ["銀河鉄道の夜", "風の又三郎", "雪の日", "古い手紙", "停車場にて", "母の記", "春と修羅", "夜の河",
          "燈台守", "或る朝", "山の宿", "追憶", "灯のない町", "海辺の人"]
SUBTITLES = ["――ある少年の記録", "附・短歌三十首", "上巻", "第一部", "（遺稿）"]
AUTHORS = ["宮沢賢治", "夏目漱石", "森鴎外", "樋口一葉", "芥川龍之介", "岡本綺堂", "寺田寅彦", "中島敦",
           "林芙美子", "若山牧水", "堀辰雄", "泉鏡花"]
TRANSLATORS = ["森鴎外訳", "上田敏訳", "鈴木三重吉訳", "小山内薫訳"]
PUBLISHERS = ["新潮文庫、新潮社", "岩波文庫、岩波書店", "ちくま文庫、筑摩書房", "角川文庫、角川書店"]
HEADING_TITLES = ["一", "二", "三", "四", "五", "六", "七", "八", "九", "十", "上", "中", "下", "序",
                  "第一章", "第二章", "第三章", "後記", "はしがき", "午后の授業", "家", "天気輪の柱"]
CAPTIONS = ["神戸港頭の袂別", "著者肖像", "銀河の図", "停車場の朝", "宰相（壮年時代の肖像）", "旧居（明治四十年頃）"]
KANBUN = "学而時習之不亦説乎有朋自遠方来人不知而不慍君子欲往米利堅登高山望故郷"
DIGITS = "0123456789"
ZEN_DIGITS = "０１２３４５６７８９"
KANJI_DIGITS = "〇一二三四五六七八九"


def zen(n: int) -> str:
    """Full-width decimal digits, as annotations write counts."""
    return str(n).translate(str.maketrans(DIGITS, ZEN_DIGITS))


def kanji_year(n: int) -> str:
    return str(n).translate(str.maketrans(DIGITS, KANJI_DIGITS))


# ---------------------------------------------------------------------------
# Gaiji: characters outside cp932, written as references the way books do


@dataclass(frozen=True)
class GaijiChar:
    description: str
    jis: str | None  # "第3水準1-85-54" when the character is in JIS X 0213
    codepoint: int


def _jis_position(ch: str) -> str | None:
    try:
        b = ch.encode("euc_jis_2004")
    except UnicodeEncodeError:
        return None
    if len(b) == 2 and b[0] >= 0xA1:
        return f"第3水準1-{b[0] - 0xA0}-{b[1] - 0xA0}"
    if len(b) == 3 and b[0] == 0x8F:
        return f"第4水準2-{b[1] - 0xA0}-{b[2] - 0xA0}"
    return None


def _encodable(s: str) -> bool:
    try:
        s.encode("cp932")
        return True
    except UnicodeEncodeError:
        return False


@lru_cache(maxsize=1)
def gaiji_tables() -> tuple[list[GaijiChar], list[GaijiChar], list[GaijiChar], dict[int, GaijiChar]]:
    """Characters with a known description: (with JIS position, without, CJK without), by code point."""
    by_cp: dict[int, GaijiChar] = {}
    with open(DESCRIPTIONS_PATH, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or "\t" not in line:
                continue
            desc, code = line.rstrip("\n").split("\t", 1)
            codes = code.split()
            if len(codes) != 1 or not codes[0].startswith("U+"):
                continue
            cp = int(codes[0][2:], 16)
            if cp in by_cp or cp > 0x10FFFF or 0xE000 <= cp <= 0xF8FF or cp >= 0xF0000:
                continue
            ch = chr(cp)
            if _encodable(ch) or not _encodable(desc) or "「" in desc or "」" in desc:
                continue
            by_cp[cp] = GaijiChar(desc, _jis_position(ch), cp)
    chars = sorted(by_cp.values(), key=lambda g: g.codepoint)
    with_jis = [g for g in chars if g.jis]
    without = [g for g in chars if not g.jis]
    return with_jis, without, [g for g in without if 0x3400 <= g.codepoint <= 0x2FFFF], by_cp


def gaiji_reference(g: GaijiChar, form: str, rng: random.Random) -> str:
    page = f"、{rng.randint(1, 600)}-{rng.randint(1, 18)}"
    if form == "jis" and g.jis:
        return f"※［＃「{g.description}」、{g.jis}］"
    if form == "unicode":
        return f"※［＃「{g.description}」、U+{g.codepoint:04X}{page}］"
    return f"※［＃「{g.description}」{page if rng.random() < 0.7 else ''}］"


def _gaiji_error_handler(err: UnicodeEncodeError) -> tuple[str, int]:
    """Characters cp932 cannot hold become gaiji references, or are left out."""
    ch = err.object[err.start]
    by_cp = gaiji_tables()[3]
    g = by_cp.get(ord(ch))
    if g is not None:
        return (gaiji_reference(g, "jis" if g.jis else "unicode", random.Random(ord(ch))), err.start + 1)
    jis = _jis_position(ch)
    if jis is not None:
        return (f"※［＃「外字」、{jis}］", err.start + 1)
    return ("", err.start + 1)


codecs.register_error("kogane-gaiji", _gaiji_error_handler)


def encode_sjis(text: str) -> bytes:
    """cp932 bytes of `text`; characters cp932 cannot encode become gaiji references or are left out."""
    return text.encode("cp932", errors="kogane-gaiji")


def to_sjis_crlf(text: str) -> bytes:
    """The book as distributed: Shift_JIS (cp932) with CR LF line ends."""
    return encode_sjis(text.replace("\r\n", "\n").replace("\n", "\r\n"))


# ---------------------------------------------------------------------------
# What a generated book holds, for checks over the parser's output


class Ending(enum.Enum):
    CLOSED = "closed"  # the source closes it explicitly
    REPLACED = "replaced"  # another block indent opens while it is open
    NOTATION_END = "notation_end"  # opened inside the notation block, which ends before any close
    LEFT_OPEN = "left_open"  # the source never closes it


@dataclass
class ContainerIntent:
    kind: str  # "indent", "font-size", "heading", ...
    open_start: int  # UTF-8 byte offsets into the LF text
    open_end: int
    ending: Ending
    close_start: int | None = None  # of the explicit close, the replacing open, or the notation block's last line
    close_end: int | None = None
    inline: bool = False  # opened and closed within one line of text


@dataclass
class Illustration:
    file: str
    markup: str  # the whole annotation as written


@dataclass
class Book:
    text: str
    size_target: int
    rubies: int = 0
    rubies_uncommon_base: int = 0  # bases of digits, Cyrillic, Greek, accent fragments, kaeriten, "Mr."
    literal_ruby_opens: int = 0  # 《 meant to stay text (the notation block's explanation)
    literal_bars: int = 0  # ｜ meant to stay text
    illustrations: list[Illustration] = field(default_factory=list)
    containers: list[ContainerIntent] = field(default_factory=list)
    notation_block: tuple[int, int] | None = None  # byte span of the block, hyphen lines included


# ---------------------------------------------------------------------------
# Annotation recipes: weights from the profile's shape shares


class Place(enum.Enum):
    INLINE = 1  # written where the text stands
    LINE = 2  # written at the start of the next line (or as a line of its own)


@dataclass(frozen=True)
class Recipe:
    shapes: tuple[str, ...]  # profile shapes drawn through this recipe (openers; closes follow by themselves)
    place: Place
    emit: str  # name of the Writer method
    per_draw: float = 1.0  # annotations one draw writes (a pair writes two)


# A line overshoots its drawn length by the quote or ruby that ends it; aim short.
LINE_FILL = 0.95

HEADING_SHAPES = ("「…」は中見出し", "「…」は大見出し", "「…」は小見出し", "中見出し", "大見出し", "小見出し")
# Share of heading lines written after an ［＃N字下げ］ of their own.
HEADING_INDENT_SHARE = 0.7

RECIPES = [
    Recipe(("「…」に傍点",), Place.INLINE, "fwd_bouten"),
    Recipe(("「…」に傍線",), Place.INLINE, "fwd_bousen"),
    Recipe(("「…」に二重傍線",), Place.INLINE, "fwd_nijuu"),
    Recipe(("「…」に白丸傍点",), Place.INLINE, "fwd_shiromaru"),
    Recipe(("「…」に丸傍点",), Place.INLINE, "fwd_maru"),
    Recipe(("「…」に白三角傍点",), Place.INLINE, "fwd_shirosankaku"),
    Recipe(("「…」は縦中横",), Place.INLINE, "fwd_tcy"),
    Recipe(("「…」は行右小書き",), Place.INLINE, "fwd_kogaki"),
    Recipe(("「…」は底本では「…」",), Place.INLINE, "fwd_teihon"),
    Recipe(("「…」はママ",), Place.INLINE, "fwd_mama"),
    Recipe(("「…」に「…」の注記",), Place.INLINE, "fwd_chuuki"),
    Recipe(("「…」はN段階小さな文字",), Place.INLINE, "fwd_small"),
    Recipe(("「…」は斜体",), Place.INLINE, "fwd_italic"),
    Recipe(("「…」は太字",), Place.INLINE, "fwd_bold"),
    Recipe(("「…」は上付き小文字",), Place.INLINE, "fwd_sup"),
    Recipe(("ルビの「…」は底本では「…」", "ルビの「…」はママ"), Place.INLINE, "ruby_note"),
    Recipe(("N段階小さな文字",), Place.INLINE, "inline_small", 2),
    Recipe(("太字",), Place.INLINE, "inline_bold", 2),
    Recipe(("割り注",), Place.INLINE, "inline_warichu", 2),
    Recipe(("横組み",), Place.INLINE, "inline_yokogumi", 2),
    Recipe(("傍点",), Place.INLINE, "inline_bouten", 2),
    Recipe(("N段階大きな文字",), Place.INLINE, "inline_large", 2),
    Recipe(("二", "一", "レ", "一レ", "三", "上", "下", "（ノ）", "（ヲ）", "（ニ）", "（ト）"), Place.INLINE, "kanbun", 1.62),
    Recipe(("N字下げ", "天からN字下げ"), Place.LINE, "line_indent"),
    Recipe(("地からN字上げ",), Place.LINE, "line_raise"),
    Recipe(("地付き",), Place.LINE, "line_chitsuki"),
    Recipe(("ここからN字下げ", "ここから改行天付き、折り返してN字下げ", "ここからN字下げ、折り返してN字下げ"),
           Place.LINE, "block_indent", 2.4),  # a fifth are re-opened before they close
    Recipe(("ここからN段階小さな文字",), Place.LINE, "block_small", 2),
    Recipe(("ここからN字詰め",), Place.LINE, "block_jizume", 2),
    Recipe(("ここから罫囲み",), Place.LINE, "block_frame", 2),
    Recipe(("ここから太字",), Place.LINE, "block_bold", 2),
    Recipe(("ここから横組み",), Place.LINE, "block_yokogumi", 2),
    Recipe(("ここから割り注",), Place.LINE, "block_warichu", 1.8),
    Recipe(("ここから地からN字上げ",), Place.LINE, "block_raise", 2),
    Recipe(("ここから中見出し",), Place.LINE, "block_heading", 2),
    Recipe(("「…」は中見出し", "「…」」は中見出し"), Place.LINE, "heading_medium", 1 + HEADING_INDENT_SHARE),
    Recipe(("「…」は大見出し",), Place.LINE, "heading_large", 1 + HEADING_INDENT_SHARE),
    Recipe(("「…」は小見出し",), Place.LINE, "heading_small", 1 + HEADING_INDENT_SHARE),
    Recipe(("中見出し", "大見出し", "小見出し"), Place.LINE, "heading_pair", 2 + HEADING_INDENT_SHARE),
    Recipe(("「…」は同行中見出し",), Place.LINE, "heading_same_line", 2),
    Recipe(("改ページ", "改丁", "改段", "ページの左右中央"), Place.LINE, "page_break"),
    Recipe(("挿絵N（figN_N.png、横N×縦N）入る",), Place.LINE, "illustration", 1.35),
    Recipe(("「…」のキャプション付きの図（figN_N.png、横N×縦N）入る",), Place.LINE, "illustration_caption"),
]

def _recipe_files(profile: dict) -> list[float]:
    """Share of books that use each recipe (the most widespread of its shapes)."""
    files = {s["shape"]: s["files"] for s in profile["annotations"]["top_shapes_in_20_or_more_files"]}
    n = profile["files"]
    return [min(1.0, max(files.get(shape, 0) for shape in r.shapes) / n) or 1.0 for r in RECIPES]


def _recipe_weights(profile: dict) -> list[float]:
    """Draw weights: the share of each recipe's opening shapes, so every shape keeps
    its share (kanbun snippets and re-opened indents write several per draw);
    plain indents give way to those that headings write."""
    shares = {s["shape"]: s["share"] for s in profile["annotations"]["top_shapes_in_20_or_more_files"]}
    weights = []
    for r in RECIPES:
        w = sum(shares.get(shape, 0.0) for shape in r.shapes)
        if r.emit == "kanbun":
            w /= r.per_draw
        if r.emit == "block_indent":
            w /= 1.27  # re-opened indents write their own opens
        if r.emit == "line_indent":
            w -= HEADING_INDENT_SHARE * sum(shares.get(shape, 0.0) for shape in HEADING_SHAPES)
            w -= shares.get("「…」は同行中見出し", 0.0)
        weights.append(max(w, 0.0))
    return weights


# ---------------------------------------------------------------------------
# The writer


class Writer:
    """Builds one book line by line; events are due at byte positions drawn
    from exponential gaps, so each construct keeps its density per MB."""

    def __init__(self, seed: int, size: int, vary: bool):
        self.rng = random.Random(seed)
        self.seed = seed
        self.size = size
        p = load_profile()
        self.p = p
        per_mb = p["per_MB"]
        rng = self.rng
        # A library's books differ: some are dense with ruby or dialogue, some bare.
        def spread(sigma: float) -> float:
            return math.exp(rng.gauss(-sigma * sigma / 2, sigma)) if vary else 1.0

        ruby_density = per_mb["ruby_open"] * spread(0.8)
        # 「 also opens the quoted targets of annotations: about half of all annotations.
        quote_density = (per_mb["quote_open"] - 0.46 * per_mb["annotation_open"]) * spread(0.6)
        forms = p["gaiji_reference_forms"]
        gaiji_total = sum(forms.values())
        gaiji_density = per_mb["annotation_open"] * gaiji_total / (gaiji_total + p["annotations"]["body_length_chars"]["n"])
        self.gaiji_in_ruby_share = 0.0052
        # Gaiji inside ruby bases come with the ruby; the rest stand alone.
        self.gaiji_density = max(0.0, gaiji_density - ruby_density * self.gaiji_in_ruby_share) * spread(0.8)
        self.refmark_density = max(0.0, per_mb["reference_mark"] - gaiji_density)
        self.accent_density = per_mb["tortoise_open"] * spread(0.8)
        base_weights = _recipe_weights(p)
        acc = sum(base_weights)
        per_draw = sum(w * r.per_draw for r, w in zip(RECIPES, base_weights)) / acc
        body_annotations = per_mb["annotation_open"] - gaiji_density
        # Line-level draws that meet an open block or a quote are dropped: a few per cent.
        self.ann_density = body_annotations / per_draw * 1.04 * spread(0.5)
        self.weights = base_weights
        if vary:
            # Most shapes live in a few books (kanbun, illustrations, tables of
            # small type): a book takes up a recipe with the share of books that
            # use it, and then uses it as much more often, so averages hold.
            files = _recipe_files(p)
            self.weights = [w / f if rng.random() < f else 0.0 for w, f in zip(base_weights, files)]
        self.cum_weights = []
        total = 0.0
        for w in self.weights:
            total += w
            self.cum_weights.append(total)
        # Draws past the last recipe write nothing; more recipe weight than the
        # average book has means more draws.
        self.draw_span = max(total, acc)
        self.ann_density *= self.draw_span / acc
        self.gaps = {
            "ruby": 1e6 / ruby_density,
            "quote": 1e6 / quote_density,
            "ann": 1e6 / self.ann_density,
            "gaiji": 1e6 / max(self.gaiji_density, 1e-3),
            "refmark": 1e6 / max(self.refmark_density, 1e-3),
            "accent": 1e6 / max(self.accent_density, 1e-3),
        }
        self.line_len = distribution("line_length_chars_nonblank")
        self.reading_len = distribution("ruby", "reading_length_chars")
        self.bar_base_len = distribution("ruby", "explicit_base_length_chars")
        self.quote_len = distribution("quotes", "content_length_chars")
        self.blank_share = p["blank_line_share"]
        self.bar_share = p["ruby"]["explicit_bar_share"]
        scripts = p["ruby"]["implicit_base_script_of_last_char"]
        self.script_names = list(scripts)
        self.script_cum = []
        acc = 0.0
        for k in self.script_names:
            acc += scripts[k]
            self.script_cum.append(acc)
        fwd = p["forward_references"]
        self.fwd_immediate = fwd["immediately_before_share"]
        self.fwd_found = fwd["target_found_before"] / fwd["count"]
        g_forms = p["gaiji_reference_forms"]
        self.gaiji_forms = [("jis", g_forms["jis_level"]), ("description", g_forms["description_only"]),
                            ("unicode", g_forms["unicode"])]
        self.by_reading: dict[int, list[str]] = {}
        for base, reading in RUBY_WORDS.items():
            self.by_reading.setdefault(len(reading), []).append(base)

        self.book = Book(text="", size_target=size)
        self.lines: list[str] = []
        self.total = 0  # bytes of finished lines, line feeds included
        self.cur: list[str] = []  # pieces of the current line
        self.cur_bytes = 0
        self.cur_chars = 0
        self.due = {k: self._gap(k) for k in self.gaps}
        self.next_due = min(self.due.values())
        self.pending_line: list[Callable[[], None]] = []
        self.blocks: list[tuple[ContainerIntent, str, int]] = []  # open blocks: intent, close text, lines left
        self.recent_words: list[str] = []
        self.fig_no = 0
        self.book_id = rng.randint(1000, 60000)
        self.in_quote = False
        self.after_noun = False

    # -- bookkeeping ---------------------------------------------------------

    def _gap(self, key: str, base: float | None = None) -> float:
        start = self.total + self.cur_bytes if base is None else base
        return start + self.rng.expovariate(1.0) * self.gaps[key]

    @property
    def pos(self) -> int:
        return self.total + self.cur_bytes

    def put(self, s: str) -> None:
        self.cur.append(s)
        self.cur_bytes += len(s.encode("utf-8"))
        self.cur_chars += len(s)

    def end_line(self) -> None:
        line = "".join(self.cur)
        self.lines.append(line)
        self.total += self.cur_bytes + 1
        self.cur = []
        self.cur_bytes = 0
        self.cur_chars = 0

    def whole_line(self, s: str) -> None:
        self.put(s)
        self.end_line()

    def last_char(self) -> str:
        for piece in reversed(self.cur):
            if piece:
                return piece[-1]
        return "\n"

    # -- words ---------------------------------------------------------------

    def word(self) -> str:
        """Nouns and kana runs by turns, a comma or full stop now and then after the kana."""
        rng = self.rng
        if self.after_noun:
            self.after_noun = False
            w = rng.choice(KANA_RUNS)
            r = rng.random()
            return w + ("、" if r < 0.12 else "。" if r < 0.2 else "")
        r = rng.random()
        if r < 0.35:
            return rng.choice(KANA_RUNS)
        self.after_noun = True
        if r < 0.88:
            w = rng.choice(PLAIN_KANJI_WORDS)
            self.recent_words.append(w)
            if len(self.recent_words) > 64:
                del self.recent_words[:32]
            return w
        return rng.choice(KATAKANA_WORDS)

    def kana_gap(self) -> None:
        """Keeps an implicit ruby base from running into the kanji before it."""
        if _is_kanji(self.last_char()):
            self.put(self.rng.choice(KANA_RUNS))

    def fill_to(self, target_chars: int) -> None:
        """Text and inline constructs until the line holds `target_chars` characters."""
        while self.cur_chars < target_chars:
            if self.pos >= self.next_due:
                self.fire_inline()
            else:
                self.put(self.word())

    def fire_inline(self) -> None:
        due = self.due
        key = min(due, key=due.get)
        due[key] = self._gap(key)
        self.next_due = min(due.values())
        if key == "ruby":
            self.ruby()
        elif key == "quote":
            if self.in_quote:
                due["quote"] = self.pos + 30  # after this quote closes
                self.next_due = min(due.values())
            else:
                self.quote(self.dialogue_len())
        elif key == "ann":
            self.annotation()
        elif key == "gaiji":
            self.gaiji()
        elif key == "refmark":
            self.put("※")
        elif key == "accent":
            self.put("〔" + self.rng.choice(ACCENT_WORDS) + "〕")

    # -- ruby ------------------------------------------------------------------

    def ruby_pair(self, reading_len: int) -> tuple[str, str]:
        rng = self.rng
        words = self.by_reading.get(reading_len)
        if words and rng.random() < 0.7:
            base = rng.choice(words)
            return base, RUBY_WORDS[base]
        n = max(1, min(8, round(reading_len / rng.choice((1.5, 2.0, 2.0, 2.5)))))
        base = "".join(rng.choice(KANJI_CHARS) for _ in range(n))
        reading = "".join(rng.choice(HIRAGANA) for _ in range(reading_len))
        return base, reading

    def ruby(self) -> None:
        rng = self.rng
        reading_len = self.reading_len.sample(rng)
        self.book.rubies += 1
        if rng.random() < self.bar_share:
            n = self.bar_base_len.sample(rng)
            if rng.random() < 0.003:  # a kanbun phrase as the base, marks included
                self.put("｜吾欲［＃レ］往［＃二］米利堅［＃一］《われメリケンにゆかんとほっす》")
                self.book.rubies_uncommon_base += 1
                return
            base, reading = self.ruby_pair(reading_len)
            if len(base) < n:
                base = base + "".join(rng.choice(HIRAGANA) for _ in range(n - len(base)))
            self.put(rng.choice(PLAIN_KANJI_WORDS))  # the kanji before a ｜ is why the ｜ is needed
            self.put(f"｜{base}《{reading}》")
            return
        u = rng.random() * self.script_cum[-1]
        script = self.script_names[bisect.bisect_left(self.script_cum, u)]
        if script == "kanji":
            base, reading = self.ruby_pair(reading_len)
            if rng.random() < self.gaiji_in_ruby_share:
                base = base[:2] + self.gaiji_text()
            self.kana_gap()
            self.put(f"{base}《{reading}》")
            return
        reading = "".join(rng.choice(KATAKANA) for _ in range(reading_len))
        bases = {"fullwidth_latin": FULLWIDTH_LATIN_BASES, "latin": LATIN_BASES, "other": OTHER_BASES,
                 "hiragana": KANA_BASES_H, "katakana": KANA_BASES_K}.get(script, OTHER_BASES)
        self.put("　" if script == "katakana" else "の")
        base = rng.choice(bases)
        self.put(f"{base}《{reading}》")
        if script == "other" or (script == "latin" and not base.isalpha()):
            self.book.rubies_uncommon_base += 1

    # -- quotes ----------------------------------------------------------------

    def dialogue_len(self) -> int:
        # The profile's lengths mix in the short quoted targets of annotations;
        # dialogue alone runs longer.
        return max(1, int(self.quote_len.sample(self.rng) * 1.35))

    def quote(self, length: int) -> None:
        self.in_quote = True
        self.put("「")
        goal = self.cur_chars + length
        if self.rng.random() < self.p["quotes"]["nested_share"] and length > 6:
            self.fill_to(self.cur_chars + length // 3)
            self.put("「")
            self.fill_to(self.cur_chars + 3)
            self.put("」")
        self.fill_to(goal)
        self.put("」")
        self.in_quote = False

    # -- gaiji -----------------------------------------------------------------

    def gaiji_text(self) -> str:
        rng = self.rng
        with_jis, without, without_cjk, _ = gaiji_tables()
        total = sum(w for _, w in self.gaiji_forms)
        u = rng.random() * total
        form = "jis"
        for name, w in self.gaiji_forms:
            if u < w:
                form = name
                break
            u -= w
        if rng.random() < 0.01:  # a designation written without its level
            return rng.choice(["※［＃「1」はローマ数字、1-13-21］", "※［＃半濁点付き片仮名ト、1-5-94］"])
        if form == "jis":
            g = with_jis[int(rng.random() ** 2 * len(with_jis))]
        else:
            pool = without_cjk or without
            g = pool[int(rng.random() ** 2 * len(pool))]
        return gaiji_reference(g, form, rng)

    def gaiji(self) -> None:
        self.put(self.gaiji_text())

    # -- annotations -------------------------------------------------------------

    def annotation(self) -> None:
        rng = self.rng
        i = bisect.bisect_left(self.cum_weights, rng.random() * self.draw_span)
        if i >= len(RECIPES) or self.weights[i] == 0.0:
            return
        recipe = RECIPES[i]
        method = getattr(self, recipe.emit)
        if recipe.place is Place.INLINE:
            method()
        elif len(self.pending_line) < 4:
            self.pending_line.append(method)

    def target_text(self, kind: str = "kanji") -> str:
        rng = self.rng
        if kind == "digits":
            return "".join(rng.choice(DIGITS) for _ in range(rng.choice((2, 2, 2, 3))))
        if kind == "latin":
            return rng.choice(["Kant", "Faust", "Paris", "Das Kapital", "ego", "a priori"])
        r = rng.random()
        if r < 0.45:
            return rng.choice(PLAIN_KANJI_WORDS)
        if r < 0.75:
            return rng.choice(KANA_RUNS[10:]) + rng.choice("のだ")
        return rng.choice(PLAIN_KANJI_WORDS) + rng.choice(KANA_RUNS[:12])

    def forward_ref(self, target: str, body: Callable[[str], str]) -> None:
        """Target text, then its annotation: mostly right after it, now and then a few
        characters later, far back, or naming text that is not there at all."""
        rng = self.rng
        r = rng.random()
        if r > self.fwd_found:
            self.put(target)
            self.put(body(target + "ー"))
            return
        if r > self.fwd_found * 0.995 and self.recent_words:
            target = rng.choice(self.recent_words)
            self.put(rng.choice(KANA_RUNS))
            self.put(body(target))
            return
        self.put(target)
        if rng.random() > self.fwd_immediate:
            self.put(rng.choice(("、", "。", "のだ", "と", "ことを", "！")))
        self.put(body(target))

    def fwd_bouten(self) -> None:
        self.forward_ref(self.target_text(), lambda t: f"［＃「{t}」に傍点］")

    def fwd_bousen(self) -> None:
        self.forward_ref(self.target_text(), lambda t: f"［＃「{t}」に傍線］")

    def fwd_nijuu(self) -> None:
        self.forward_ref(self.target_text(), lambda t: f"［＃「{t}」に二重傍線］")

    def fwd_shiromaru(self) -> None:
        self.forward_ref(self.target_text(), lambda t: f"［＃「{t}」に白丸傍点］")

    def fwd_maru(self) -> None:
        self.forward_ref(self.target_text(), lambda t: f"［＃「{t}」に丸傍点］")

    def fwd_shirosankaku(self) -> None:
        self.forward_ref(self.target_text(), lambda t: f"［＃「{t}」に白三角傍点］")

    def fwd_tcy(self) -> None:
        self.forward_ref(self.target_text("digits"), lambda t: f"［＃「{t}」は縦中横］")

    def fwd_kogaki(self) -> None:
        t = self.rng.choice(["１）", "２）", "（１）", "*", "注"])
        self.forward_ref(t, lambda t: f"［＃「{t}」は行右小書き］")

    def fwd_teihon(self) -> None:
        t = self.target_text()
        variant = t[:-1] + self.rng.choice("はがをにへ") if len(t) > 1 else t + "ノ"
        self.forward_ref(t, lambda t: f"［＃「{t}」は底本では「{variant}」］")

    def fwd_mama(self) -> None:
        self.forward_ref(self.target_text(), lambda t: f"［＃「{t}」はママ］")

    def fwd_chuuki(self) -> None:
        note = "".join(self.rng.choice(HIRAGANA) for _ in range(self.rng.randint(1, 4)))
        self.forward_ref(self.target_text(), lambda t: f"［＃「{t}」に「{note}」の注記］")

    def fwd_small(self) -> None:
        n = zen(self.rng.choice((1, 1, 2)))
        self.forward_ref("（" + self.target_text() + "）", lambda t: f"［＃「{t}」は{n}段階小さな文字］")

    def fwd_italic(self) -> None:
        self.forward_ref(self.target_text("latin"), lambda t: f"［＃「{t}」は斜体］")

    def fwd_bold(self) -> None:
        self.forward_ref(self.target_text(), lambda t: f"［＃「{t}」は太字］")

    def fwd_sup(self) -> None:
        self.forward_ref(self.rng.choice(["2", "3", "ｎ", "th"]), lambda t: f"［＃「{t}」は上付き小文字］")

    def ruby_note(self) -> None:
        base, reading = self.ruby_pair(self.reading_len.sample(self.rng))
        self.kana_gap()
        self.book.rubies += 1
        self.put(f"{base}《{reading}》")
        if self.rng.random() < 0.83:
            self.put(f"［＃ルビの「{reading}」は底本では「{reading[:-1]}ゐ」］")
        else:
            self.put(f"［＃ルビの「{reading}」はママ］")

    def inline_pair(self, kind: str, opener: str, closer: str, content: str) -> None:
        start = self.pos
        self.put(opener)
        end = self.pos
        self.put(content)
        cstart = self.pos
        self.put(closer)
        self.book.containers.append(ContainerIntent(kind, start, end, Ending.CLOSED, cstart, self.pos, inline=True))

    def inline_small(self) -> None:
        n = zen(self.rng.choice((1, 1, 2)))
        self.inline_pair("font-size", f"［＃{n}段階小さな文字］", "［＃小さな文字終わり］",
                         "（" + self.target_text() + "のこと）")

    def inline_large(self) -> None:
        n = zen(self.rng.choice((1, 2)))
        self.inline_pair("font-size", f"［＃{n}段階大きな文字］", "［＃大きな文字終わり］", self.target_text())

    def inline_bold(self) -> None:
        self.inline_pair("bold", "［＃太字］", "［＃太字終わり］", self.target_text())

    def inline_warichu(self) -> None:
        self.inline_pair("warichu", "［＃割り注］", "［＃割り注終わり］",
                         self.target_text() + "、" + self.target_text())

    def inline_yokogumi(self) -> None:
        self.inline_pair("horizontal", "［＃横組み］", "［＃横組み終わり］",
                         self.rng.choice(["“on the one”", "A.D. 1900", "No.7", "etc."]))

    def inline_bouten(self) -> None:
        self.inline_pair("bouten-range", "［＃傍点］", "［＃傍点終わり］", self.target_text())

    def kanbun(self) -> None:
        rng = self.rng
        k = lambda n: "".join(rng.choice(KANBUN) for _ in range(n))  # noqa: E731
        r = rng.random()
        if r < 0.32:
            self.put(f"{k(2)}［＃二］{k(2)}［＃一］")
        elif r < 0.75:
            self.put(f"{k(1)}［＃レ］{k(1)}")
        elif r < 0.80:
            self.put(f"{k(1)}［＃三］{k(2)}［＃二］{k(1)}［＃一］")
        elif r < 0.84:
            self.put(f"{k(1)}［＃下］{k(2)}［＃二］{k(1)}［＃一レ］{k(1)}［＃上］")
        else:
            self.put(f"{k(1)}［＃（{rng.choice('ノヲニトノヲ')}）］{k(1)}")

    # -- line-level annotations (called at the start of a line) --------------------

    def indent_amount(self) -> int:
        return self.rng.choice((1, 1, 2, 2, 2, 3, 3, 4, 5, 6, 8, 10))

    def line_indent(self) -> None:
        if self.rng.random() < 0.97:
            self.put(f"［＃{zen(self.indent_amount())}字下げ］")
        else:
            self.put(f"［＃天から{zen(self.indent_amount())}字下げ］")

    def line_raise(self) -> None:
        rng = self.rng
        # mostly after text on its line: a date or a signature aligned to the bottom
        self.fill_to(self.cur_chars + rng.randint(5, 30))
        self.put(f"［＃地から{zen(rng.choice((1, 1, 2, 2, 3)))}字上げ］")
        self.put(rng.choice([f"（{kanji_year(rng.randint(1900, 1945))}）", rng.choice(AUTHORS), "――終――"]))
        self.end_line()

    def line_chitsuki(self) -> None:
        rng = self.rng
        if rng.random() < 0.15:
            self.put("［＃地付き］")
            self.inline_small()
        else:
            self.put("［＃地付き］" + rng.choice(["（完）", "（終）", rng.choice(AUTHORS), "――大正十二年九月――"]))
        self.end_line()

    def page_break(self) -> None:
        r = self.rng.random()
        self.whole_line("［＃改ページ］" if r < 0.7 else "［＃改丁］" if r < 0.85 else
                        "［＃改段］" if r < 0.91 else "［＃ページの左右中央］")

    def open_block(self, kind: str, opener: str, closer: str, lines: int, unclosed: float = 0.0) -> None:
        if len(self.blocks) >= 2 or self.in_quote:
            return
        if kind == "indent" and any(b[0].kind == "indent" for b in self.blocks):
            return
        start = self.pos
        self.whole_line(opener)
        # Only an outermost block is left open: a close after it then still meets its own open.
        ending = Ending.LEFT_OPEN if not self.blocks and self.rng.random() < unclosed else Ending.CLOSED
        intent = ContainerIntent(kind, start, start + len(opener.encode("utf-8")), ending)
        self.book.containers.append(intent)
        self.blocks.append((intent, closer, lines))

    def indent_opener(self) -> str:
        rng = self.rng
        r = rng.random()
        n = zen(self.indent_amount())
        if r < 0.85:
            return f"［＃ここから{n}字下げ］"
        if r < 0.93:
            return f"［＃ここから改行天付き、折り返して{n}字下げ］"
        return f"［＃ここから{n}字下げ、折り返して{zen(self.indent_amount() + 1)}字下げ］"

    def block_lines(self) -> int:
        return 1 + int(self.rng.expovariate(1.0) * 5)

    def block_indent(self) -> None:
        self.open_block("indent", self.indent_opener(), "［＃ここで字下げ終わり］", self.block_lines())

    def block_small(self) -> None:
        self.open_block("font-size", f"［＃ここから{zen(self.rng.choice((1, 2)))}段階小さな文字］",
                        "［＃ここで小さな文字終わり］", self.block_lines())

    def block_jizume(self) -> None:
        self.open_block("line-width", f"［＃ここから{zen(self.rng.choice((20, 25, 30, 35)))}字詰め］",
                        "［＃ここで字詰め終わり］", self.block_lines())

    def block_frame(self) -> None:
        self.open_block("framed", "［＃ここから罫囲み］", "［＃ここで罫囲み終わり］", self.block_lines(), 0.01)

    def block_bold(self) -> None:
        self.open_block("bold", "［＃ここから太字］", "［＃ここで太字終わり］", self.block_lines())

    def block_yokogumi(self) -> None:
        self.open_block("horizontal", "［＃ここから横組み］", "［＃ここで横組み終わり］", self.block_lines())

    def block_warichu(self) -> None:
        self.open_block("warichu", "［＃ここから割り注］", "［＃ここで割り注終わり］", 2, 0.2)

    def block_raise(self) -> None:
        self.open_block("align-end", f"［＃ここから地から{zen(self.rng.choice((1, 2)))}字上げ］",
                        "［＃ここで字上げ終わり］", self.block_lines())

    def block_heading(self) -> None:
        if self.blocks or self.in_quote:
            return
        start = self.pos
        self.whole_line("［＃ここから中見出し］")
        open_end = start + len("［＃ここから中見出し］".encode("utf-8"))
        self.whole_line(self.rng.choice(TITLES))
        self.whole_line("（" + self.rng.choice(["mental sketch", "序詞", "異稿"]) + "）")
        cstart = self.pos
        self.whole_line("［＃ここで中見出し終わり］")
        self.book.containers.append(ContainerIntent("heading", start, open_end, Ending.CLOSED, cstart,
                                                    cstart + len("［＃ここで中見出し終わり］".encode("utf-8"))))

    def heading_line(self, level: str) -> None:
        rng = self.rng
        title = rng.choice(HEADING_TITLES)
        if rng.random() < 0.7:
            self.put(f"［＃{zen(rng.choice((3, 5, 7)))}字下げ］")
        self.put(title)
        typo = level == "中見出し" and rng.random() < 0.002
        self.put(f"［＃「{title}」」は{level}］" if typo else f"［＃「{title}」は{level}］")
        self.end_line()
        if rng.random() < 0.6:
            self.end_line()

    def heading_medium(self) -> None:
        self.heading_line("中見出し")

    def heading_large(self) -> None:
        self.heading_line("大見出し")

    def heading_small(self) -> None:
        self.heading_line("小見出し")

    def heading_pair(self) -> None:
        rng = self.rng
        level = rng.choice(("中見出し", "中見出し", "中見出し", "大見出し", "小見出し"))
        if rng.random() < 0.7:
            self.put(f"［＃{zen(rng.choice((3, 5, 7)))}字下げ］")
        start = self.pos
        self.put(f"［＃{level}］")
        end = self.pos
        self.put(rng.choice(HEADING_TITLES))
        cstart = self.pos
        self.put(f"［＃{level}終わり］")
        self.book.containers.append(ContainerIntent("heading", start, end, Ending.CLOSED, cstart, self.pos))
        self.end_line()

    def heading_same_line(self) -> None:
        rng = self.rng
        title = rng.choice(HEADING_TITLES[:10])
        self.put(f"［＃{zen(rng.choice((1, 2)))}字下げ］{title}［＃「{title}」は同行中見出し］　")
        self.fill_to(self.cur_chars + self.line_len.sample(rng))
        self.end_line()

    def fig_name(self) -> str:
        self.fig_no += 1
        return f"fig{self.book_id}_{self.fig_no:02d}.png"

    def illustration_line(self, name: str, markup: str) -> None:
        self.book.illustrations.append(Illustration(name, markup))
        self.whole_line(markup)

    def size_text(self) -> str:
        return f"横{self.rng.randint(200, 640)}×縦{self.rng.randint(200, 900)}"

    def illustration(self) -> None:
        rng = self.rng
        name = self.fig_name()
        label = "挿絵" if rng.random() < 0.6 else f"挿絵{zen(self.fig_no)}" if rng.random() < 0.5 else f"挿絵{self.fig_no}"
        self.illustration_line(name, f"［＃{label}（{name}、{self.size_text()}）入る］")
        if rng.random() < 0.35:
            cap = rng.choice(CAPTIONS)
            self.whole_line(f"{cap}［＃「{cap}」はキャプション］")

    def illustration_caption(self) -> None:
        cap = self.rng.choice(CAPTIONS)
        what = "図" if self.rng.random() < 0.8 else "挿絵"
        name = self.fig_name()
        self.illustration_line(name, f"［＃「{cap}」のキャプション付きの{what}（{name}、{self.size_text()}）入る］")

    # -- book structure --------------------------------------------------------------

    def header(self) -> None:
        rng = self.rng
        title = rng.choice(TITLES)
        self.whole_line(title)
        if rng.random() < 0.2:
            self.whole_line(rng.choice(SUBTITLES))
        self.whole_line(rng.choice(AUTHORS))
        if rng.random() < 0.1:
            self.whole_line(rng.choice(TRANSLATORS))
        self.end_line()

    def notation_block(self) -> None:
        rng = self.rng
        hyphens = "-" * 55
        start = self.pos
        self.whole_line(hyphens)
        self.whole_line("【テキスト中に現れる記号について】")
        self.end_line()
        self.whole_line("《》：ルビ")
        self.book.literal_ruby_opens += 1
        self.whole_line("（例）吾輩《わがはい》")
        self.book.rubies += 1
        self.end_line()
        if rng.random() < 0.6:
            self.whole_line("｜：ルビの付く文字列の始まりを特定する記号")
            self.book.literal_bars += 1
            self.whole_line("（例）一番｜獰悪《どうあく》")
            self.book.rubies += 1
            self.end_line()
        self.whole_line("［＃］：入力者注　主に外字の説明や、傍点の位置の指定")
        self.whole_line("　　　（数字は、JIS X 0213の面区点番号、または底本のページと行数）")
        self.whole_line("（例）※［＃「言＋墟のつくり」、第4水準2-88-74］")
        opened: list[ContainerIntent] = []
        if rng.random() < 0.25:
            self.put("（例）")
            s = self.pos
            self.put("［＃ここから２字下げ］")
            opened.append(ContainerIntent("indent", s, self.pos, Ending.NOTATION_END))
            self.end_line()
        if rng.random() < 0.05:
            self.whole_line("（例）［＃…］")
        self.end_line()
        if rng.random() < 0.3:
            self.whole_line("〔〕：アクセント分解された欧文をかこむ")
            self.whole_line("（例）〔Quid pro quo〕")
            self.whole_line("アクセント分解についての詳細は下記URLを参照してください")
            self.end_line()
        last = self.pos
        self.whole_line(hyphens)
        for c in opened:
            c.close_start, c.close_end = last, last + len(hyphens)
        self.book.containers.extend(opened)
        self.book.notation_block = (start, self.pos - 1)

    def colophon(self) -> list[str]:
        rng = self.rng
        y = rng.randint(1950, 2005)
        return [
            "",
            "",
            "",
            f"底本：「{rng.choice(TITLES)}」{rng.choice(PUBLISHERS)}",
            f"　　　{y}（{'昭和' if y < 1989 else '平成'}{y - 1925 if y < 1989 else y - 1988}）年"
            f"{rng.randint(1, 12)}月{rng.randint(1, 28)}日第１刷発行",
            f"入力：{rng.choice(AUTHORS)[:2]}{rng.choice('一二三')}",
            f"校正：{rng.choice(AUTHORS)[:2]}{rng.choice('花子')}",
            f"{rng.randint(1998, 2020)}年{rng.randint(1, 12)}月{rng.randint(1, 28)}日作成",
            "このファイルは、インターネットの図書館で、ボランティアの手によってつくられました。",
        ]

    def close_blocks_due(self) -> None:
        """Counts down the open blocks; closes (or re-opens, as books do) the top one."""
        if not self.blocks:
            return
        intent, closer, left = self.blocks[-1]
        if left > 1:
            self.blocks[-1] = (intent, closer, left - 1)
            return
        self.blocks.pop()
        if intent.ending is Ending.LEFT_OPEN:
            return
        start = self.pos
        if intent.kind == "indent" and self.rng.random() < 0.21:
            opener = self.indent_opener()
            intent.ending = Ending.REPLACED
            intent.close_start, intent.close_end = start, start + len(opener.encode("utf-8"))
            self.whole_line(opener)
            new = ContainerIntent("indent", start, intent.close_end, Ending.CLOSED)
            self.book.containers.append(new)
            self.blocks.append((new, closer, self.block_lines()))
            return
        self.whole_line(closer)
        intent.close_start, intent.close_end = start, self.pos - 1

    def body_line(self) -> None:
        rng = self.rng
        self.close_blocks_due()
        while self.pending_line:
            self.pending_line.pop(0)()
            if not self.cur:  # it wrote a line of its own
                return
        if rng.random() < self.blank_share and self.cur_chars == 0:
            self.end_line()
            return
        length = self.line_len.sample(rng)
        if self.pos >= self.due["quote"] and rng.random() < 0.7:
            # a line of dialogue
            self.due["quote"] = self._gap("quote")
            self.next_due = min(self.due.values())
            self.quote(self.dialogue_len())
            if rng.random() < 0.25:
                self.fill_to(self.cur_chars + rng.randint(3, 12))
                self.put("。")
        else:
            if not self.cur:
                self.put("　")
            self.fill_to(int(length * LINE_FILL))
            if self.last_char() not in "。、」》］":
                self.put("。")
        self.end_line()

    def build(self) -> Book:
        self.header()
        if self.rng.random() < 0.78:
            self.notation_block()
        tail = self.colophon()
        tail_bytes = sum(len(t.encode("utf-8")) + 1 for t in tail)
        end_note = self.rng.random() < 0.012
        budget = self.size - tail_bytes - (40 if end_note else 0)
        while self.total < budget:
            self.body_line()
        for intent, closer, _ in reversed(self.blocks):
            if intent.ending is Ending.CLOSED:
                start = self.pos
                self.whole_line(closer)
                intent.close_start, intent.close_end = start, self.pos - 1
        self.blocks.clear()
        if end_note:
            self.whole_line("［＃本文終わり］")
        for t in tail:
            self.whole_line(t)
        self.book.text = "\n".join(self.lines) + "\n"
        self.book.containers.sort(key=lambda c: c.open_start)
        return self.book


_KANJI_RANGES = ((0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF), (0x20000, 0x3FFFF))


def _is_kanji(ch: str) -> bool:
    cp = ord(ch)
    return ch in "々〆ヶヵ" or any(lo <= cp <= hi for lo, hi in _KANJI_RANGES)


def generate_book_facts(seed: int, size_bytes: int, *, vary: bool = False) -> Book:
    """A book of about `size_bytes` bytes of UTF-8 (LF line ends) and what went into it.

    `vary` spreads the densities from book to book as a library does; the
    books of the benchmark sizes keep the profile's densities."""
    return Writer(seed, size_bytes, vary).build()


def generate_book(seed: int, size_bytes: int, *, vary: bool = False) -> str:
    """The text of `generate_book_facts` (LF line ends)."""
    return generate_book_facts(seed, size_bytes, vary=vary).text


# ---------------------------------------------------------------------------
# A library of books as distributed

# A 1x1 transparent PNG: the images that archives hold next to their text.
TINY_PNG = bytes.fromhex(
    "89504e470d0a1a0a0000000d49484452000000010000000108060000001f15c489"
    "0000000d4944415478da63f8ffff3f0005fe02fea7d6a4a90000000049454e44ae426082"
)


def draw_book_size(rng: random.Random) -> int:
    """A size in UTF-8 bytes from the profile's file-size distribution."""
    return distribution("file_size_utf8_bytes", low=600).sample(rng)


def generate_library(n_books: int, seed: int = 1, *, zip_share: float = 0.3) -> Iterator[tuple[str, bytes]]:
    """Books whose sizes follow the profile's file-size distribution (10,000 books
    come to about 480 MB of UTF-8), as Shift_JIS CR LF .txt files; about
    `zip_share` of them as a .zip holding the .txt and its images."""
    rng = random.Random(seed)
    for i in range(n_books):
        book_seed = rng.getrandbits(32)
        size = draw_book_size(rng)
        as_zip = rng.random() < zip_share
        book = generate_book_facts(book_seed, size, vary=True)
        data = to_sjis_crlf(book.text)
        folder = f"{i // 1000:02d}"
        name = f"book{i:05d}"
        if not as_zip:
            yield f"{folder}/{name}.txt", data
            continue
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr(f"{name}.txt", data)
            for fig in book.illustrations:
                z.writestr(fig.file, TINY_PNG)
        yield f"{folder}/{name}.zip", buf.getvalue()


# ---------------------------------------------------------------------------
# Measuring a text against the profile

_QUOTED = re.compile(r"「[^「」]*」")
_NUMBER = re.compile(r"[0-9０-９]+")
_ANNOTATION = re.compile(r"［＃([^［］]*)］")


def shape_of(body: str) -> str:
    """The profile's spelling of an annotation body: quoted text as 「…」, numbers as N."""
    return _NUMBER.sub("N", _QUOTED.sub("「…」", body))


def _percentiles(values: list[int]) -> dict:
    if not values:
        return {}
    v = sorted(values)
    pick = lambda q: v[min(len(v) - 1, int(q * len(v)))]  # noqa: E731
    return {"p10": pick(0.10), "p50": pick(0.50), "p90": pick(0.90), "p99": pick(0.99),
            "mean": round(sum(v) / len(v), 2)}


def measure(text: str) -> dict:
    """Densities per MB of UTF-8 (LF) and the length distributions the profile has."""
    text = text.replace("\r\n", "\n")
    mb = len(text.encode("utf-8")) / 1e6
    per = lambda n: n / mb  # noqa: E731
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    nonblank = [len(line) for line in lines if line]
    readings = [len(m) for m in re.findall(r"《([^《》]*)》", text)]
    quotes = [len(m) for m in re.findall(r"「([^「」\n]*)」", text)]
    annotations = _ANNOTATION.findall(text)
    gaiji_count = text.count("※［＃")
    shapes = Counter(shape_of(a) for a in annotations)
    return {
        "MB": mb,
        "per_MB": {
            "ruby_open": per(text.count("《")),
            "bar": per(text.count("｜")),
            "quote_open": per(text.count("「")),
            "annotation_open": per(text.count("［＃")),
            "reference_mark": per(text.count("※")),
            "tortoise_open": per(text.count("〔")),
            "line_feed": per(text.count("\n")),
        },
        "gaiji_per_MB": per(gaiji_count),
        "blank_line_share": (len(lines) - len(nonblank)) / max(1, len(lines)),
        "line_length_chars_nonblank": _percentiles(nonblank),
        "reading_length_chars": _percentiles(readings),
        "quote_content_length_chars": _percentiles(quotes),
        "annotation_body_length_chars": _percentiles([len(a) for a in annotations]),
        "shapes": {k: v / max(1, len(annotations) - gaiji_count) for k, v in shapes.items()},
    }


def format_summary(measured: dict[str, dict]) -> str:
    """Generated vs profile, side by side; `measured` maps a column label to `measure()`."""
    p = load_profile()
    labels = list(measured)
    head = f"{'':34}{'profile':>12}" + "".join(f"{label:>12}" for label in labels)
    out = [head]

    def row(name: str, prof, values) -> None:
        def cell(v):
            if v is None:
                return f"{'-':>12}"
            return f"{v:12.3f}" if isinstance(v, float) and abs(v) < 10 else f"{v:12.1f}" if isinstance(v, float) else f"{v:>12}"
        out.append(f"{name:34}{cell(prof)}" + "".join(cell(v) for v in values))

    out.append("per MB of UTF-8")
    for key in ("ruby_open", "bar", "quote_open", "annotation_open", "reference_mark", "tortoise_open", "line_feed"):
        row(f"  {key}", float(p["per_MB"][key]), [float(m["per_MB"][key]) for m in measured.values()])
    forms = p["gaiji_reference_forms"]
    gaiji_prof = p["per_MB"]["annotation_open"] * sum(forms.values()) / (sum(forms.values()) + p["annotations"]["body_length_chars"]["n"])
    row("  gaiji references (※［＃)", gaiji_prof, [m["gaiji_per_MB"] for m in measured.values()])
    row("blank line share", p["blank_line_share"], [m["blank_line_share"] for m in measured.values()])
    dists = [("line length (nonblank)", "line_length_chars_nonblank", p["line_length_chars_nonblank"]),
             ("ruby reading length", "reading_length_chars", p["ruby"]["reading_length_chars"]),
             ("「」 content length", "quote_content_length_chars", p["quotes"]["content_length_chars"]),
             ("annotation body length", "annotation_body_length_chars", p["annotations"]["body_length_chars"])]
    for title, key, prof in dists:
        for q in ("p10", "p50", "p90", "p99", "mean"):
            row(f"{title} {q}", float(prof[q]) if q == "mean" else prof[q],
                [m[key].get(q) for m in measured.values()])
    out.append("annotation shapes (share of non-gaiji annotations)")
    for s in p["annotations"]["top_shapes_in_20_or_more_files"][:30]:
        row(f"  {s['shape'] or '(empty)'}"[:34], s["share"], [m["shapes"].get(s["shape"], 0.0) for m in measured.values()])
    return "\n".join(out)


# ---------------------------------------------------------------------------
# Dense synthetic text (a stress input; unchanged)

KANJI_WORDS = [
    "銀河", "停車場", "少年", "汽車", "切符", "車掌", "天気輪", "星座", "鉄道", "白鳥",
    "停留所", "燈台", "林檎", "砂利", "水晶", "孔雀", "鷺", "蠍", "十字架", "化石",
    "学校", "活版所", "牛乳", "母親", "漁師", "烏瓜", "祭", "河原", "橋", "電燈",
    "時計", "望遠鏡", "地図", "硝子", "野原", "霧", "桔梗", "竜胆", "薄", "風",
    "東京", "大阪", "京都", "北海道", "森林", "季節", "記憶", "言葉", "世界", "宇宙",
]
DENSE_KANA_RUNS = [
    "の", "は", "が", "を", "に", "へ", "と", "から", "まで", "より", "でした", "ました",
    "のです", "けれども", "そして", "それから", "ように", "ながら", "ところ", "なって",
    "いるのでした", "ありました", "見えました", "しずかに", "ぼんやり", "きらきら",
]
DENSE_KATAKANA_WORDS = ["ジョバンニ", "カムパネルラ", "ザネリ", "プリオシン", "アルビレオ", "ケンタウル", "サウザンクロス"]
READINGS = {
    "銀河": "ぎんが", "停車場": "ていしゃば", "少年": "しょうねん", "汽車": "きしゃ", "切符": "きっぷ",
    "車掌": "しゃしょう", "天気輪": "てんきりん", "星座": "せいざ", "鉄道": "てつどう", "白鳥": "はくちょう",
    "燈台": "とうだい", "林檎": "りんご", "水晶": "すいしょう", "孔雀": "くじゃく", "鷺": "さぎ",
    "蠍": "さそり", "化石": "かせき", "活版所": "かっぱんじょ", "烏瓜": "からすうり", "硝子": "ガラス",
    "桔梗": "ききょう", "竜胆": "りんどう", "薄": "すすき",
}
GAIJI = [
    "※［＃「木＋吶のつくり」、第3水準1-85-54］",
    "※［＃「火＋亢」、第4水準2-79-62］",
    "※［＃「か゚」、第3水準1-4-87］",
    "※［＃「あ」、U+3042］",
    "※［＃「丸19」］",
    "※［＃ローマ数字14小文字］",
    "※［＃「口＋世」、U+546D、123-4］",
    "※［＃「てへん＋劣」、第3水準1-84-77］",
    "※［＃「存在しない字」］",
]
ACCENTS = ["〔Cafe'〕", "〔Ae&on〕", "〔Tu:bingen〕", "〔Espan~a〕", "〔garc,on〕", "〔Bjo/rn〕"]
BOUTEN = ["傍点", "白ゴマ傍点", "丸傍点", "白丸傍点", "二重丸傍点", "蛇の目傍点", "ばつ傍点", "白三角傍点",
          "波線", "傍線", "二重傍線", "鎖線", "破線", "黒三角傍点"]
STYLES = ["太字", "斜体", "ゴシック体", "上付き小文字", "下付き小文字", "縦中横", "罫囲み", "大文字",
          "小文字", "２段階大きな文字", "分数", "行右小書き"]
INLINE_PAIRS = [("［＃太字］", "［＃太字終わり］"), ("［＃傍点］", "［＃傍点終わり］"),
                ("［＃左に傍線］", "［＃左に傍線終わり］"), ("［＃斜体］", "［＃斜体終わり］")]
BLOCKS = [
    ("［＃ここから２字下げ］", "［＃ここで字下げ終わり］"),
    ("［＃ここから地付き］", "［＃ここで地付き終わり］"),
    ("［＃ここから罫囲み］", "［＃ここで罫囲み終わり］"),
    ("［＃ここから１字下げ、折り返して３字下げ］", "［＃ここで字下げ終わり］"),
    ("［＃ここから２段階小さな文字］", "［＃ここで小さな文字終わり］"),
    ("［＃ここから太字］", "［＃ここで太字終わり］"),
]
LEAVES = ["［＃改ページ］", "［＃改丁］", "［＃地付き］", "［＃地から２字上げ］", "［＃３字下げ］",
          "［＃ページの左右中央］", "［＃この行はゴシック体］", "［＃改行］"]
KAERITEN = ["［＃レ］", "［＃一］", "［＃二］", "［＃上］", "［＃下］", "［＃一レ］"]
REMARKS = ["［＃「ママ」の注記］", "［＃底本では「てにをは」］", "［＃入力者注(1)］", "［＃ここに挿絵］"]


class DenseWriter:
    def __init__(self, seed: int):
        self.rng = random.Random(seed)

    def word(self) -> str:
        r = self.rng.random()
        if r < 0.55:
            return self.rng.choice(KANJI_WORDS)
        if r < 0.65:
            return self.rng.choice(DENSE_KATAKANA_WORDS)
        return self.rng.choice(DENSE_KANA_RUNS)

    def ruby(self) -> str:
        base = self.rng.choice(list(READINGS))
        if self.rng.random() < 0.5:
            return f"｜{base}《{READINGS[base]}》"
        # implicit base: kanji directly before 《 after kana
        return f"{self.rng.choice(DENSE_KANA_RUNS)}{base}《{READINGS[base]}》"

    def sentence(self) -> str:
        parts: list[str] = []
        target_len = self.rng.randint(20, 70)
        length = 0
        last_word = ""
        while length < target_len:
            r = self.rng.random()
            if r < 0.09:
                piece = self.ruby()
            elif r < 0.11:
                piece = self.rng.choice(GAIJI)
            elif r < 0.125 and last_word:
                piece = f"［＃「{last_word}」に{self.rng.choice(BOUTEN)}］"
            elif r < 0.14 and last_word:
                piece = f"［＃「{last_word}」は{self.rng.choice(STYLES)}］"
            elif r < 0.15:
                o, c = self.rng.choice(INLINE_PAIRS)
                piece = f"{o}{self.word()}{c}"
            elif r < 0.155:
                piece = self.rng.choice(ACCENTS)
            elif r < 0.16:
                piece = self.rng.choice(KAERITEN)
            elif r < 0.165:
                piece = self.rng.choice(REMARKS)
            elif r < 0.18:
                piece = f"「{self.word()}{self.word()}」"
            elif r < 0.185:
                piece = f"≪{self.word()}≫"
            else:
                piece = self.word()
                if piece in READINGS or piece in KANJI_WORDS:
                    last_word = piece
            parts.append(piece)
            length += len(piece)
        return "".join(parts) + self.rng.choice(["。", "。", "、", "！", "。"])

    def paragraph(self) -> str:
        return "　" + "".join(self.sentence() for _ in range(self.rng.randint(2, 8)))

    def heading(self) -> str:
        title = self.word() + self.word()
        level = self.rng.choice(["大見出し", "中見出し", "小見出し"])
        if self.rng.random() < 0.5:
            return f"{title}\n［＃「{title}」は{level}］"
        return f"［＃３字下げ］［＃{level}］{title}［＃{level}終わり］"

    def block(self) -> list[str]:
        opener, closer = self.rng.choice(BLOCKS)
        return [opener] + [self.paragraph() for _ in range(self.rng.randint(1, 4))] + [closer]


def generate(size: int, seed: int = 1) -> str:
    """About `size` bytes of dense synthetic source text with LF line ends."""
    w = DenseWriter(seed)
    lines: list[str] = []
    total = 0
    while total < size:
        r = w.rng.random()
        if r < 0.05:
            chunk = [w.heading(), ""]
        elif r < 0.12:
            chunk = w.block()
        elif r < 0.16:
            chunk = [w.rng.choice(LEAVES)]
        elif r < 0.18:
            chunk = [""]
        else:
            chunk = [w.paragraph()]
        for line in chunk:
            lines.append(line)
            total += len(line.encode("utf-8")) + 2
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------
# Command line

SIZES = {"10k": 10_000, "100k": 100_000, "1m": 1_000_000, "5m": 5_000_000, "50m": 50_000_000}
BOOK_SEED = 7


def _parse_sizes(spec: str) -> dict[str, int]:
    out = {}
    for name in spec.split(","):
        name = name.strip().lower()
        if name not in SIZES:
            raise argparse.ArgumentTypeError(f"unknown size {name!r}; choose from {', '.join(SIZES)}")
        out[name] = SIZES[name]
    return out


def main(argv: list[str]) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir", nargs="?", type=Path, default=Path(__file__).resolve().parent / "corpus")
    ap.add_argument("--sizes", type=_parse_sizes, default=dict(SIZES), help="comma-separated: " + ",".join(SIZES))
    ap.add_argument("--seed", type=int, default=BOOK_SEED)
    ap.add_argument("--library", type=int, metavar="N", help="write a library of N books instead")
    ap.add_argument("--summary", metavar="SIZES", type=_parse_sizes,
                    help="print generated vs profile densities for these sizes and write nothing")
    ap.add_argument("--dense", action="store_true", help="also write the dense synthetic texts (dense-*.txt)")
    args = ap.parse_args(argv)

    if args.summary:
        measured = {name: measure(generate_book(args.seed, size)) for name, size in args.summary.items()}
        print(format_summary(measured))
        return 0
    out: Path = args.outdir
    out.mkdir(parents=True, exist_ok=True)
    if args.library:
        total = 0
        for rel, data in generate_library(args.library, args.seed):
            path = out / rel
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
            total += len(data)
        print(f"wrote {args.library} books ({total / 1e6:.1f} MB as stored) to {out}")
        return 0
    measured = {}
    for name, size in args.sizes.items():
        text = generate_book(args.seed, size)
        if size <= 5_000_000:
            measured[name] = measure(text)
        (out / f"book-{name}.utf8.txt").write_bytes(text.replace("\n", "\r\n").encode("utf-8"))
        (out / f"book-{name}.sjis.txt").write_bytes(to_sjis_crlf(text))
        if args.dense:
            dense = generate(size, seed=7).replace("\n", "\r\n")
            (out / f"dense-{name}.utf8.txt").write_bytes(dense.encode("utf-8"))
            (out / f"dense-{name}.sjis.txt").write_bytes(encode_sjis(dense))
    print(f"wrote {len(args.sizes) * (4 if args.dense else 2)} files to {out}")
    if measured:
        print(format_summary(measured))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
