"""Constructs real books rely on: ruby bases, layout, gaiji and directive spellings."""

import json
import random
import re

import pytest

from kogane import Document, parse_to_html

GAIJI = "※［＃「勹＜夕」、第3水準1-14-76］"
GAIJI_HTML = '<span class="kogane-gaiji" data-codepoint="U+5307">匇</span>'


def ruby(base: str, reading: str) -> str:
    return f"<ruby>{base}<rp>(</rp><rt>{reading}</rt><rp>)</rp></ruby>"


def round_trips(source: str) -> bool:
    doc = Document(source)
    return Document(doc.to_source()).to_html() == doc.to_html()


@pytest.mark.parametrize(
    "source, html",
    [
        # Kanji and a gaiji next to each other are one base, in either order.
        (f"粗{GAIJI}《そそう》", ruby(f"粗{GAIJI_HTML}", "そそう")),
        (f"これは粗{GAIJI}《そそう》", "これは" + ruby(f"粗{GAIJI_HTML}", "そそう")),
        (f"{GAIJI}粗《そそう》", ruby(f"{GAIJI_HTML}粗", "そそう")),
        (f"あ｜粗{GAIJI}《そそう》", "あ" + ruby(f"粗{GAIJI_HTML}", "そそう")),
        (f"｜{GAIJI}《そそう》", ruby(GAIJI_HTML, "そそう")),
        # A ｜ after the gaiji keeps them apart.
        (f"母{GAIJI}｜学校《がっこう》", f"母{GAIJI_HTML}" + ruby("学校", "がっこう")),
        # Kana after a gaiji is a base of its own.
        (f"{GAIJI}あ《そそう》", GAIJI_HTML + ruby("あ", "そそう")),
        # ヶ and ヵ inside a kanji word.
        ("六ヶ敷《むずかし》", ruby("六ヶ敷", "むずかし")),
        ("一ヵ月《いっかげつ》", ruby("一ヵ月", "いっかげつ")),
        ("ヶ月《かげつ》", "ヶ" + ruby("月", "かげつ")),
        # Scripts and words the kanji/kana/Latin classes leave out.
        ("８《エイト》", ruby("８", "エイト")),
        ("第12《じゅうに》", "第" + ruby("12", "じゅうに")),
        ("ВОКС《ヴオクス》", ruby("ВОКС", "ヴオクス")),
        ("λόγος《ロゴス》", ruby("λόγος", "ロゴス")),
        ("butter-cup《バツタカツプ》", ruby("butter-cup", "バツタカツプ")),
        ("don't《ドント》", ruby("don&#x27;t", "ドント")),
        ("etc.《エトセトラ》", ruby("etc.", "エトセトラ")),
        ("あ〔Gu:rtel〕《ギユルテル》", "あ" + ruby("〔Gürtel〕", "ギユルテル")),
        # No base: the text stays as written.
        ("、《よみ》", "、《よみ》"),
        ("ab〔〕《エ》", "ab〔〕《エ》"),
        ("-x《エ》", "-" + ruby("x", "エ")),
        # An explicit base holding kaeriten keeps them as marks.
        (
            "｜吾欲［＃レ］往［＃二］米利堅［＃一］《われメリケンにゆかんとほっす》",
            ruby(
                '吾欲<sup class="kogane-kaeriten">レ</sup>往<sup class="kogane-kaeriten">二</sup>'
                '米利堅<sup class="kogane-kaeriten">一</sup>',
                "われメリケンにゆかんとほっす",
            ),
        ),
        # Without a reading after them they are ordinary marks.
        ("｜吾欲［＃レ］往。", '｜吾欲<sup class="kogane-kaeriten">レ</sup>往。'),
        (
            "｜吾欲［＃レ］往［＃「往」に傍点］",
            '｜吾欲<sup class="kogane-kaeriten">レ</sup>'
            '<em class="kogane-bouten kogane-bouten-goma kogane-bouten-right">往</em>',
        ),
    ],
)
def test_ruby_bases(source, html):
    assert parse_to_html(source) == f"<p>{html}</p>\n"
    assert round_trips(source)


def test_no_ruby_markup_reaches_the_reader():
    doc = Document("８《エイト》とВОКС《ヴオクス》、｜吾欲［＃レ］往《ゆく》")
    html = doc.to_html()
    assert "《" not in html and "｜" not in html
    assert doc.diagnostics_text() == ""


def indent_div(n: int) -> str:
    return (
        f'<div class="kogane-container kogane-container-indent kogane-container-indent-{n}" data-amount="{n}">'
    )


def test_reopened_indent_replaces_the_open_one():
    source = "［＃ここから１字下げ］\na\n［＃ここから２字下げ］\nb\n［＃ここで字下げ終わり］\nc"
    doc = Document(source)
    assert doc.to_html() == (
        f"{indent_div(1)}\n<p>a</p>\n</div>\n{indent_div(2)}\n<p>b</p>\n</div>\n<p>c</p>\n"
    )
    second = len("［＃ここから１字下げ］\na\n".encode())
    end = second + len("［＃ここから２字下げ］".encode())
    close = len(source[: source.index("［＃ここで")].encode())
    assert json.loads(doc.container_pairs_json())["data"] == [
        {"kind": "indent", "open": {"start": 0, "end": 33}, "close": {"start": second, "end": second}},
        {"kind": "indent", "open": {"start": second, "end": end}, "close": {"start": close, "end": close + 36}},
    ]
    assert doc.diagnostics_text().startswith(
        "note [kogane::lex::indent_replaced] @ 36..69: block indent opened while another is open"
    )
    assert round_trips(source)


NOTATION = (
    "作品名\n\n"
    "-------------------------------------------------------\n"
    "【テキスト中に現れる記号について】\n\n"
    "《》：ルビ\n（例）吾輩《わがはい》\n\n"
    "［＃］：入力者注\n（例）［＃ここから２字下げ］\n"
    "-------------------------------------------------------\n\n"
    "本文"
)


def test_notation_block_keeps_its_examples_to_itself():
    doc = Document(NOTATION)
    html = doc.to_html()
    assert html.endswith(
        f"（例）</p>\n{indent_div(2)}\n</div>\n<p>-------------------------------------------------------</p>\n"
        "<p>本文</p>\n"
    )
    rule = NOTATION.rindex("-------")
    rule = len(NOTATION[: rule - len("-------------------------------------------------------") + 7].encode())
    [pair] = json.loads(doc.container_pairs_json())["data"]
    assert pair["close"] == {"start": rule, "end": rule}
    assert round_trips(NOTATION)
    # Without the closing rule line nothing is bounded.
    unbounded = NOTATION.replace("\n" + "-" * 55 + "\n\n本文", "\n\n本文")
    assert Document(unbounded).to_html().endswith("<p>本文</p>\n</div>\n")


@pytest.mark.parametrize(
    "source, html",
    [
        (
            "端公《たんこう》［＃１段階小さな文字］（端役人のこと）［＃小さな文字終わり］の董超",
            '<p><ruby>端公<rp>(</rp><rt>たんこう</rt><rp>)</rp></ruby>'
            '<span class="kogane-font-smaller" data-steps="1">（端役人のこと）</span>の董超</p>\n',
        ),
        (
            "降誕祭の［＃横組み］“on the one”［＃横組み終わり］が",
            '<p>降誕祭の<span class="kogane-yokogumi">“on the one”</span>が</p>\n',
        ),
        (
            "a［＃ここから割り注］b［＃ここで割り注終わり］c",
            '<p>a<span class="kogane-warichu">b</span>c</p>\n',
        ),
        (
            "［＃ここから２段階大きな文字］大［＃ここで大きな文字終わり］",
            '<p><span class="kogane-font-larger" data-steps="2">大</span></p>\n',
        ),
        # Across lines they stay blocks.
        (
            "［＃横組み］\nabc\n［＃横組み終わり］",
            '<div class="kogane-container kogane-container-yokogumi">\n<p>abc</p>\n</div>',
        ),
        # A single-line layout before a construct on its line applies to it.
        (
            "［＃地付き］［＃１段階小さな文字］（大正13年）［＃小さな文字終わり］",
            '<p><span class="kogane-align-end" data-offset="0"></span>'
            '<span class="kogane-font-smaller" data-steps="1">（大正13年）</span></p>\n',
        ),
        (
            "［＃３字下げ］［＃大見出し］道標［＃大見出し終わり］\n本文",
            '<h1 class="kogane-heading kogane-heading-large">'
            '<span class="kogane-indent kogane-indent-3" data-amount="3"></span>道標</h1>\n<p>本文</p>\n',
        ),
        (
            "［＃地付き］［＃ここから１段階小さな文字］\n（大正13年）\n［＃ここで小さな文字終わり］",
            '<div class="kogane-container kogane-container-font-smaller" data-steps="1">\n'
            '<p><span class="kogane-align-end" data-offset="0"></span>（大正13年）</p>\n</div>',
        ),
        # An illustration carries the layout of its line, before or after it.
        (
            "［＃地付き］［＃挿絵（a.png）入る］\n次",
            '<figure class="kogane-illustration"><span class="kogane-align-end" data-offset="0"></span>'
            '<img src="a.png" alt="" /></figure>\n<p>次</p>\n',
        ),
        (
            "［＃挿絵（a.png）入る］［＃地付き］\n次",
            '<figure class="kogane-illustration"><span class="kogane-align-end" data-offset="0"></span>'
            '<img src="a.png" alt="" /></figure>\n<p>次</p>\n',
        ),
        # Followed by text, the layout is the text's.
        (
            "［＃挿絵（a.png）入る］［＃地付き］次",
            '<figure class="kogane-illustration"><img src="a.png" alt="" /></figure>\n'
            '<p><span class="kogane-align-end" data-offset="0"></span>次</p>\n',
        ),
        # Text before the layout keeps it in its own line.
        (
            "前［＃地付き］［＃大見出し］道標［＃大見出し終わり］",
            '<p>前<span class="kogane-align-end" data-offset="0"></span></p>\n'
            '<h1 class="kogane-heading kogane-heading-large">道標</h1>',
        ),
        # Line breaks inside a multi-line heading are kept.
        (
            "［＃ここから中見出し］\n春と修羅\n（mental sketch）\n［＃ここで中見出し終わり］\n本文",
            '<h2 class="kogane-heading kogane-heading-medium">春と修羅<br />\n（mental sketch）</h2>\n<p>本文</p>\n',
        ),
        # A same-line or window heading runs into the text of its line.
        (
            "［＃同行中見出し］第一［＃同行中見出し終わり］本文が続く\n次",
            '<p><span class="kogane-heading kogane-heading-medium kogane-heading-same-line" role="heading" '
            'aria-level="2">第一</span>本文が続く<br />\n次</p>\n',
        ),
        (
            "本文［＃同行中見出し］第一［＃同行中見出し終わり］\n次",
            '<p>本文<span class="kogane-heading kogane-heading-medium kogane-heading-same-line" role="heading" '
            'aria-level="2">第一</span><br />\n次</p>\n',
        ),
        (
            "［＃３字下げ］［＃同行中見出し］第一［＃同行中見出し終わり］\n次",
            '<h2 class="kogane-heading kogane-heading-medium kogane-heading-same-line">'
            '<span class="kogane-indent kogane-indent-3" data-amount="3"></span>第一</h2>\n<p>次</p>\n',
        ),
        # A container between the text and the heading may stay a block.
        (
            "a［＃横組み］［＃同行中見出し］見出し［＃同行中見出し終わり］",
            '<p>a</p>\n<div class="kogane-container kogane-container-yokogumi">\n'
            '<h2 class="kogane-heading kogane-heading-medium kogane-heading-same-line">見出し</h2></div>\n',
        ),
        (
            "［＃窓小見出し］壱［＃窓小見出し終わり］本文",
            '<p><span class="kogane-heading kogane-heading-small kogane-heading-window" role="heading" '
            'aria-level="3">壱</span>本文</p>\n',
        ),
        (
            "［＃同行中見出し］第一［＃同行中見出し終わり］\n本文",
            '<h2 class="kogane-heading kogane-heading-medium kogane-heading-same-line">第一</h2>\n<p>本文</p>\n',
        ),
    ],
)
def test_layout_within_lines(source, html):
    assert parse_to_html(source) == html
    assert round_trips(source)


def gaiji_span(codepoints: str, text: str) -> str:
    return f'<span class="kogane-gaiji" data-codepoint="{codepoints}">{text}</span>'


@pytest.mark.parametrize(
    "source, html",
    [
        # Plane-row-cell without a level resolves like the levelled form.
        ("※［＃「1」はローマ数字、1-13-21］", gaiji_span("U+2160", "Ⅰ")),
        ("※［＃「1」はローマ数字、第3水準1-13-21］", gaiji_span("U+2160", "Ⅰ")),
        ("※［＃半濁点付き片仮名ト、1-5-94］", gaiji_span("U+30C8 U+309A", "ト゚")),
        # Descriptions of two code points resolve to both.
        ("※［＃半濁点付き片仮名ト］", gaiji_span("U+30C8 U+309A", "ト゚")),
        ("※［＃アキュートアクセント付きSCHWA小文字］", gaiji_span("U+0259 U+0301", "ə́")),
        # A character named and then modified is not that character.
        (
            "※［＃「圖」の「回」に代えて「面から一、二画目をとったもの」、578-17］",
            '<span class="kogane-gaiji" data-description="「圖」の「回」に代えて「面から一、二画目をとったもの」">'
            "「圖」の「回」に代えて「面から一、二画目をとったもの」</span>",
        ),
        ("※［＃「圖」］", gaiji_span("U+5716", "圖")),
        # Okurigana holding a gaiji.
        (
            "由［＃（※［＃「低のつくり」、第3水準1-86-47］）］",
            '由<sup class="kogane-kaeriten">（' + gaiji_span("U+6C10", "氐") + "）</sup>",
        ),
        # Out-of-range positions stay unresolved.
        ("※［＃「1」はローマ数字、3-13-21］", None),
    ],
)
def test_gaiji_forms(source, html):
    doc = Document(source)
    if html is None:
        assert "unresolved_gaiji" in doc.diagnostics_text()
    else:
        assert doc.to_html() == f"<p>{html}</p>\n"
        assert ("data-description" in html) == ("unresolved_gaiji" in doc.diagnostics_text())
    assert round_trips(source)


@pytest.mark.parametrize(
    "source, html",
    [
        (
            "ａ［＃縦中横］12［＃縦中横終わり］ｂ",
            '<p>ａ<span class="kogane-combine-upright">12</span>ｂ</p>\n',
        ),
        (
            "［＃縦中横］1《いち》2［＃縦中横終わり］",
            '<p><span class="kogane-combine-upright"><ruby>1<rp>(</rp><rt>いち</rt><rp>)</rp></ruby>2</span></p>\n',
        ),
        ("Ｘ［＃上付き小文字］２［＃上付き小文字終わり］", '<p>Ｘ<sup class="kogane-uwatsuki">２</sup></p>\n'),
        ("Ｈ［＃下付き小文字］２［＃下付き小文字終わり］Ｏ", '<p>Ｈ<sub class="kogane-shitatsuki">２</sub>Ｏ</p>\n'),
        (
            "［＃ここから４字下げ、小さい活字］\nあ\n［＃ここで字下げ終わり］",
            '<div class="kogane-container kogane-container-indent kogane-container-indent-4 '
            'kogane-container-font-smaller" data-amount="4" data-steps="1">\n<p>あ</p>\n</div>',
        ),
        (
            "［＃ここから４字下げ、小さな活字］\nあ\n［＃ここで字下げ終わり］",
            '<div class="kogane-container kogane-container-indent kogane-container-indent-4 '
            'kogane-container-font-smaller" data-amount="4" data-steps="1">\n<p>あ</p>\n</div>',
        ),
        (
            "［＃ここから３字下げ、２段階小さな文字］\nあ\n［＃ここで字下げ終わり］",
            '<div class="kogane-container kogane-container-indent kogane-container-indent-3 '
            'kogane-container-font-smaller" data-amount="3" data-steps="2">\n<p>あ</p>\n</div>',
        ),
        # The one-character indent the source emitter writes.
        ("［＃字下げ］本文", '<p><span class="kogane-indent kogane-indent-1" data-amount="1"></span>本文</p>\n'),
        (
            "［＃「３字下げ」］本文",
            '<p><span class="kogane-indent kogane-indent-3" data-amount="3"></span>本文</p>\n',
        ),
    ],
)
def test_directive_spellings(source, html):
    doc = Document(source)
    assert doc.to_html() == html
    assert "kogane-directive" not in html
    assert round_trips(source)


def test_quoted_directive_is_read_and_linted():
    doc = Document("［＃「３字下げ」］本文")
    assert json.loads(doc.diagnostics_json())["data"][0]["kind"] == "non_canonical_directive"
    assert "the canonical form is `３字下げ`" in doc.diagnostics_text()
    # A quotation that is no directive is still a gaiji description.
    assert parse_to_html("［＃「口＋世」］") == '<p><span class="kogane-gaiji" data-codepoint="U+546D">呭</span></p>\n'
FRAGMENTS = [
    "｜", "漢", "か", "ア", GAIJI, "《よ》", "［＃レ］", "［＃二］", "\n", "\n", "［＃地付き］", "［＃３字下げ］",
    "［＃ここから２字下げ］", "［＃ここから１字下げ］", "［＃ここで字下げ終わり］", "［＃１段階小さな文字］",
    "［＃小さな文字終わり］", "［＃大見出し］", "［＃大見出し終わり］", "［＃同行中見出し］", "［＃同行中見出し終わり］",
    "［＃ここから中見出し］", "［＃ここで中見出し終わり］", "［＃挿絵（a.png）入る］", "〔", "〕", "ヶ", "-", "a", "８",
    "［＃縦中横］", "［＃縦中横終わり］", "［＃横組み］", "［＃横組み終わり］", "「", "」", "［＃「漢」に傍点］",
    "［＃（※［＃「低のつくり」、第3水準1-86-47］）］", "［＃「３字下げ」］", "《", "》", "［＃", "］",
    "-------\n【テキスト中に現れる記号について】\n", "\n-------\n",
]


def test_random_markup_keeps_structure_and_round_trips():
    # Mixtures of the constructs above, malformed ones included: the HTML
    # stays balanced and re-emitted source gives the same HTML.
    rng = random.Random(12)
    for _ in range(400):
        source = "".join(rng.choice(FRAGMENTS) for _ in range(rng.randint(1, 25)))
        doc = Document(source)
        html = doc.to_html()
        for tag in ("div", "p", "span", "h1", "h2", "ruby"):
            assert len(re.findall(f"<{tag}[ >]", html)) == html.count(f"</{tag}>"), (source, tag)
        assert Document(doc.to_source()).to_html() == html, source
