"""Constructs real books rely on: ruby bases, layout, gaiji and directive spellings."""

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
