#!/usr/bin/env python3
"""Deterministic generator of realistic books, shaped by data/markup-profile.json.

The profile is the aggregate of thousands of real e-book sources: line
lengths, blank lines, the density of ruby, gaiji and annotations, and the
frequency of every annotation shape. A generated book has a title block, often
the notation block real books open with, and a body whose lines and markup
follow those figures. Container shapes are written with their closes (blocks
on lines of their own, inline ones within a line), forward references name a
word just written, and the constructs real books are known to rely on (gaiji
inside ruby bases, re-opened indents, small-type asides, headings with a
layout before them) appear among them.

    python3 bench/gen_books.py SIZE [SEED]    # prints one book

As a module: generate_book(size_in_bytes, seed) -> Book (LF line ends).
"""

from __future__ import annotations

import bisect
import json
import random
import sys
from dataclasses import dataclass, field
from pathlib import Path

PROFILE = Path(__file__).resolve().parent.parent / "data" / "markup-profile.json"

KANJI = ["銀河", "停車場", "少年", "汽車", "切符", "星座", "鉄道", "白鳥", "燈台", "林檎", "水晶", "孔雀",
         "学校", "活版所", "牛乳", "母親", "漁師", "祭", "河原", "電燈", "時計", "望遠鏡", "硝子", "野原"]
READINGS = {"銀河": "ぎんが", "停車場": "ていしゃば", "少年": "しょうねん", "汽車": "きしゃ", "切符": "きっぷ",
            "星座": "せいざ", "鉄道": "てつどう", "白鳥": "はくちょう", "燈台": "とうだい", "林檎": "りんご",
            "水晶": "すいしょう", "孔雀": "くじゃく", "学校": "がっこう", "活版所": "かっぱんじょ"}
KANA = ["の", "は", "が", "を", "に", "と", "から", "まで", "でした", "ました", "けれども", "そして",
        "ように", "ながら", "ところ", "ありました", "見えました", "しずかに", "ぼんやり"]
GAIJI = ["※［＃「木＋吶のつくり」、第3水準1-85-54］", "※［＃「火＋亢」、第4水準2-79-62］",
         "※［＃「勹＜夕」、第3水準1-14-76］", "※［＃「口＋世」、U+546D］", "※［＃半濁点付き片仮名ト、1-5-94］"]

# Each opening shape with its close; blocks sit on lines of their own.
BLOCK_CLOSES = {
    "ここからN字下げ": "ここで字下げ終わり",
    "ここから改行天付き、折り返してN字下げ": "ここで字下げ終わり",
    "ここからN字下げ、折り返してN字下げ": "ここで字下げ終わり",
    "ここからN段階小さな文字": "ここで小さな文字終わり",
    "ここから太字": "ここで太字終わり",
    "ここからN字詰め": "ここで字詰め終わり",
    "ここから罫囲み": "ここで罫囲み終わり",
    "ここから中見出し": "ここで中見出し終わり",
    "ここから横組み": "ここで横組み終わり",
    "ここから割り注": "ここで割り注終わり",
    "ここから地からN字上げ": "ここで字上げ終わり",
}
INLINE_CLOSES = {
    "N段階小さな文字": "小さな文字終わり",
    "N段階大きな文字": "大きな文字終わり",
    "太字": "太字終わり",
    "横組み": "横組み終わり",
    "割り注": "割り注終わり",
    "傍点": "傍点終わり",
}
HEADINGS = {"大見出し", "中見出し", "小見出し"}

# What real books rely on, beyond single annotations (the examples).
REAL_BOOK_FORMS = [
    "粗※［＃「勹＜夕」、第3水準1-14-76］《そそう》",
    "※［＃「勹＜夕」、第3水準1-14-76］粗《そそう》",
    "六ヶ敷《むずかし》",
    "８《エイト》",
    "ВОКС《ヴオクス》",
    "butter-cup《バツタカツプ》",
    "〔Gu:rtel〕《ギユルテル》",
    "｜吾欲［＃レ］往［＃二］米利堅［＃一］《われメリケンにゆかんとほっす》",
    "端公《たんこう》［＃１段階小さな文字］（端役人のこと）［＃小さな文字終わり］の董超",
    "降誕祭の［＃横組み］“on the one”［＃横組み終わり］が",
    "由［＃（※［＃「低のつくり」、第3水準1-86-47］）］",
    "ａ［＃縦中横］12［＃縦中横終わり］ｂ",
]
REAL_BOOK_LINES = [
    ["［＃地付き］［＃１段階小さな文字］（大正13年）［＃小さな文字終わり］"],
    ["［＃３字下げ］［＃大見出し］道標［＃大見出し終わり］"],
    ["［＃ここから中見出し］", "春と修羅", "（mental sketch）", "［＃ここで中見出し終わり］"],
    ["［＃ここから１字下げ］", "一つ目の段落", "［＃ここから２字下げ］", "二つ目の段落", "［＃ここで字下げ終わり］"],
    ["［＃同行中見出し］第一［＃同行中見出し終わり］本文が続く"],
    ["［＃地付き］［＃挿絵（fig2_1.png、横300×縦200）入る］"],
]

NOTATION_BLOCK = [
    "-------------------------------------------------------",
    "【テキスト中に現れる記号について】",
    "",
    "《》：ルビ",
    "（例）吾輩《わがはい》",
    "",
    "｜：ルビの付く文字列の始まりを特定する記号",
    "（例）一番｜日当《ひあた》り",
    "",
    "［＃］：入力者注　主に外字の説明や、傍点の位置の指定",
    "（例）※［＃「言＋墟のつくり」、第4水準2-88-74］、［＃ここから２字下げ］",
    "-------------------------------------------------------",
]


@dataclass
class Book:
    text: str
    body_start: int  # character offset where the body (after the notation block) begins
    illustrations: int = 0
    block_opens: int = 0
    notes: list[str] = field(default_factory=list)


def load_profile() -> dict:
    return json.loads(PROFILE.read_text(encoding="utf-8"))


class BookWriter:
    def __init__(self, seed: int, profile: dict):
        self.rng = random.Random(seed)
        chars_per_mb = 1e6 / 3  # the sources are mostly three-byte characters
        per_mb = profile["per_MB"]
        self.p_ruby = per_mb["ruby_open"] / chars_per_mb * 3  # per word of about three characters
        self.p_bar = profile["ruby"]["explicit_bar_share"]
        self.p_gaiji = per_mb["reference_mark"] / chars_per_mb * 3
        self.p_annotation = per_mb["annotation_open"] / chars_per_mb * 3
        self.p_blank = profile["blank_line_share"]
        lengths = profile["line_length_chars_nonblank"]
        self.length_points = [(0.10, lengths["p10"]), (0.25, lengths["p25"]), (0.50, lengths["p50"]),
                              (0.75, lengths["p75"]), (0.90, min(lengths["p90"], 200))]
        shapes = [s for s in profile["annotations"]["top_shapes_in_20_or_more_files"] if self.usable(s["shape"])]
        self.shapes = [s["shape"] for s in shapes]
        self.cumulative = []
        total = 0
        for s in shapes:
            total += s["count"]
            self.cumulative.append(total)
        self.block_opens = 0

    @staticmethod
    def usable(shape: str) -> bool:
        # Closes come with their opens; bare "…" and empty bodies are remarks.
        return not shape.endswith("終わり") and shape not in ("", "…") and "」」" not in shape

    def count(self) -> str:
        return str(self.rng.randint(1, 5))

    def line_length(self) -> int:
        r = self.rng.random()
        points = self.length_points
        i = bisect.bisect_left([p for p, _ in points], r)
        return points[min(i, len(points) - 1)][1]

    def word(self) -> str:
        r = self.rng.random()
        if r < self.p_gaiji:
            return self.rng.choice(GAIJI)
        word = self.rng.choice(KANJI) if r < 0.5 else self.rng.choice(KANA)
        if word in READINGS and self.rng.random() < self.p_ruby * 3:
            bar = "｜" if self.rng.random() < self.p_bar * 4 else ""
            return f"{bar}{word}《{READINGS[word]}》"
        return word

    def shape(self) -> str:
        i = bisect.bisect_left(self.cumulative, self.rng.random() * self.cumulative[-1])
        return self.shapes[min(i, len(self.shapes) - 1)]

    def instantiate(self, shape: str, target: str) -> str:
        if "N-N-N" in shape:
            return shape.replace("N-N-N", "1-13-21").replace("…", "1")
        if "水準" in shape:
            return "「勹＜夕」、第3水準1-14-76"
        if "fig" in shape:
            shape = shape.replace("figN_N", "fig1_2").replace("横N×縦N", "横400×縦300").replace("挿絵N", "挿絵")
        while "N" in shape:
            shape = shape.replace("N", self.count(), 1)
        first = shape.find("…")
        if first >= 0:
            shape = shape[:first] + target + shape[first + 1:]
        return shape.replace("…", "ほか")

    def annotation(self, line: list[str], lines: list[str]) -> None:
        """Appends an annotation to the line in progress (or whole lines)."""
        shape = self.shape()
        target = next((w for w in reversed(line) if w in KANJI), "")
        if "「…」" in shape and not target:
            return
        if shape in BLOCK_CLOSES:
            self.block_opens += 1
            lines.append("".join(line))
            line.clear()
            lines.append(f"［＃{self.instantiate(shape, target)}］")
            lines.extend("".join(self.word() for _ in range(6)) for _ in range(self.rng.randint(1, 3)))
            lines.append(f"［＃{BLOCK_CLOSES[shape]}］")
            return
        if shape in INLINE_CLOSES:
            inner = "".join(self.word() for _ in range(self.rng.randint(1, 3)))
            line.append(f"［＃{self.instantiate(shape, target)}］{inner}［＃{INLINE_CLOSES[shape]}］")
            return
        if shape in HEADINGS:
            lines.append("".join(line))
            line.clear()
            lines.append(f"［＃{shape}］{self.rng.choice(KANJI)}［＃{shape}終わり］")
            return
        line.append(f"［＃{self.instantiate(shape, target)}］")

    def body(self, size: int) -> list[str]:
        lines: list[str] = []
        written = 0
        while written < size:
            if self.rng.random() < self.p_blank:
                lines.append("")
                continue
            r = self.rng.random()
            if r < 0.01:
                lines.extend(self.rng.choice(REAL_BOOK_LINES))
                continue
            line: list[str] = []
            goal = self.line_length()
            while sum(len(w) for w in line) < goal:
                if self.rng.random() < 0.004:
                    line.append(self.rng.choice(REAL_BOOK_FORMS))
                elif self.rng.random() < self.p_annotation:
                    self.annotation(line, lines)
                else:
                    line.append(self.word())
            lines.append("".join(line))
            written += len(lines[-1].encode())
        return lines


def generate_book(size: int, seed: int, profile: dict | None = None) -> Book:
    writer = BookWriter(seed, profile or load_profile())
    head = ["銀河の書", "架空の作者", ""]
    if writer.rng.random() < 0.8:
        head += NOTATION_BLOCK + [""]
    start = len("\n".join(head)) + 1
    text = "\n".join(head + writer.body(size)) + "\n"
    return Book(text=text, body_start=start, illustrations=text.count("入る］"), block_opens=writer.block_opens)


if __name__ == "__main__":
    size = int(sys.argv[1]) if len(sys.argv) > 1 else 20_000
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    sys.stdout.write(generate_book(size, seed).text)
