"""Constructs real books rely on: ruby bases, layout, gaiji and directive
spellings. Their HTML is pinned by the examples in tests/examples (ruby,
layout, headings, gaiji, containers); here are the checks around them."""

import json
import random
import re

import pytest

from kogane import Document

GAIJI = "※［＃「勹＜夕」、第3水準1-14-76］"

def round_trips(source: str) -> bool:
    doc = Document(source)
    return Document(doc.to_source()).to_html() == doc.to_html()


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
    "source",
    [
        "※［＃「1」はローマ数字、1-13-21］",
        "※［＃「1」はローマ数字、第3水準1-13-21］",
        "※［＃半濁点付き片仮名ト、1-5-94］",
        "※［＃半濁点付き片仮名ト］",
        "※［＃アキュートアクセント付きSCHWA小文字］",
        "※［＃「圖」の「回」に代えて「面から一、二画目をとったもの」、578-17］",
        "※［＃「圖」］",
        "由［＃（※［＃「低のつくり」、第3水準1-86-47］）］",
        "※［＃「1」はローマ数字、3-13-21］",
    ],
)
def test_gaiji_left_unresolved_is_reported(source):
    # what the reader sees as a description is what the editor is told about
    doc = Document(source)
    assert ("data-description" in doc.to_html()) == ("unresolved_gaiji" in doc.diagnostics_text())


def test_quoted_directive_is_read_and_linted():
    doc = Document("［＃「３字下げ」］本文")
    assert json.loads(doc.diagnostics_json())["data"][0]["kind"] == "non_canonical_directive"
    assert "the canonical form is `３字下げ`" in doc.diagnostics_text()


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
