#!/usr/bin/env python3
"""Deterministic generator of benchmark texts that look like e-book sources.

Long paragraphs of mixed kanji and kana, a ruby every few dozen characters
(half of them with an explicit ｜ base), annotations of every kind (block
containers with their closes, inline decorations, forward references, page
breaks, headings, kaeriten), gaiji references with JIS and Unicode
designations and plain descriptions, accent fragments, and CR LF line ends.

    python3 bench/gen_corpus.py [OUTDIR]   # writes the standard sizes, UTF-8 and Shift_JIS

As a module: generate(size_in_bytes, seed) -> str (LF line ends; callers
convert), encode_sjis(text) -> bytes.
"""

from __future__ import annotations

import random
import sys
from pathlib import Path

KANJI_WORDS = [
    "銀河", "停車場", "少年", "汽車", "切符", "車掌", "天気輪", "星座", "鉄道", "白鳥",
    "停留所", "燈台", "林檎", "砂利", "水晶", "孔雀", "鷺", "蠍", "十字架", "化石",
    "学校", "活版所", "牛乳", "母親", "漁師", "烏瓜", "祭", "河原", "橋", "電燈",
    "時計", "望遠鏡", "地図", "硝子", "野原", "霧", "桔梗", "竜胆", "薄", "風",
    "東京", "大阪", "京都", "北海道", "森林", "季節", "記憶", "言葉", "世界", "宇宙",
]
KANA_RUNS = [
    "の", "は", "が", "を", "に", "へ", "と", "から", "まで", "より", "でした", "ました",
    "のです", "けれども", "そして", "それから", "ように", "ながら", "ところ", "なって",
    "いるのでした", "ありました", "見えました", "しずかに", "ぼんやり", "きらきら",
]
KATAKANA_WORDS = ["ジョバンニ", "カムパネルラ", "ザネリ", "プリオシン", "アルビレオ", "ケンタウル", "サウザンクロス"]
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


class Writer:
    def __init__(self, seed: int):
        self.rng = random.Random(seed)

    def word(self) -> str:
        r = self.rng.random()
        if r < 0.55:
            return self.rng.choice(KANJI_WORDS)
        if r < 0.65:
            return self.rng.choice(KATAKANA_WORDS)
        return self.rng.choice(KANA_RUNS)

    def ruby(self) -> str:
        base = self.rng.choice(list(READINGS))
        if self.rng.random() < 0.5:
            return f"｜{base}《{READINGS[base]}》"
        # implicit base: kanji directly before 《 after kana
        return f"{self.rng.choice(KANA_RUNS)}{base}《{READINGS[base]}》"

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
    """About `size` bytes of UTF-8 source text with LF line ends."""
    w = Writer(seed)
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


def encode_sjis(text: str) -> bytes:
    """cp932 bytes of `text`, leaving out characters cp932 cannot encode."""
    return text.encode("cp932", errors="ignore")


SIZES = {"10k": 10_000, "100k": 100_000, "1m": 1_000_000, "5m": 5_000_000}


def main(argv: list[str]) -> int:
    out = Path(argv[0]) if argv else Path(__file__).resolve().parent / "corpus"
    out.mkdir(parents=True, exist_ok=True)
    for name, size in SIZES.items():
        text = generate(size, seed=7).replace("\n", "\r\n")
        (out / f"book-{name}.utf8.txt").write_bytes(text.encode("utf-8"))
        (out / f"book-{name}.sjis.txt").write_bytes(encode_sjis(text))
    print(f"wrote {len(SIZES) * 2} files to {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
