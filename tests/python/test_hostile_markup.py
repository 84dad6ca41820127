"""Text that would be unsafe in a reader's browser never reaches the HTML as it is."""

import json

import pytest

import kogane
from kogane import Document


def kinds(doc):
    return [d["kind"] for d in json.loads(doc.diagnostics_json())["data"]]


@pytest.mark.parametrize(
    "name",
    [
        "javascript:alert(1)",
        "JavaScript:alert(1)",
        "data:image/png;base64,AAAA",
        "vbscript:msgbox",
        "file:///etc/passwd",
        "http://example.com/a.png",
        "//example.com/a.png",
        "/etc/passwd",
        "\\\\host\\share.png",
        "C:\\pictures\\a.png",
        " javascript:alert(1)",
    ],
)
def test_illustration_names_that_are_not_relative_paths_stay_text(name):
    d = Document(f"［＃挿絵（{name}）入る］")
    html = d.to_html()
    assert "<img" not in html
    escaped = name.replace("&", "&amp;")
    assert html == (
        '<figure class="kogane-illustration"><span class="kogane-illustration-name">'
        f"{escaped}</span></figure>"
    )
    assert kinds(d) == ["illustration_path_not_relative"]


def test_unsafe_illustration_keeps_its_caption_and_every_form_is_checked():
    d = Document("［＃挿絵（//evil/x.png）「見出し」入る］")
    assert d.to_html() == (
        '<figure class="kogane-illustration"><span class="kogane-illustration-name">//evil/x.png</span>'
        "<figcaption>見出し</figcaption></figure>"
    )
    d = Document("地図（data:x）入る［＃地図（data:x）入る］")
    assert "<img" not in d.to_html()
    assert kinds(d) == ["illustration_path_not_relative"]
    d = Document("絵［＃「絵」のキャプション付きの挿絵（javascript:x）入る］")
    assert "<img" not in d.to_html()
    assert kinds(d) == ["illustration_path_not_relative"]


@pytest.mark.parametrize("name", ["fig01.png", "img/fig01.png", "../shared/a.png", "a.png?x=1:2", "挿絵１.jpg"])
def test_relative_illustration_paths_are_image_sources(name):
    d = Document(f"［＃挿絵（{name}）入る］")
    assert d.to_html() == f'<figure class="kogane-illustration"><img src="{name}" alt="" /></figure>'
    assert kinds(d) == []


def test_controls_become_replacement_characters_with_one_diagnostic_per_run():
    d = Document("a\x00\x00b\x1bc\td\x7f")
    assert d.to_html() == "<p>a\ufffd\ufffdb\ufffdc\td\x7f</p>\n"
    assert d.source == "a\x00\x00b\x1bc\td\x7f"  # the text itself is kept
    data = json.loads(d.diagnostics_json())["data"]
    assert data == [
        {"kind": "source_contains_control", "severity": "warning", "source": "source",
         "span": {"start": 1, "end": 3}, "codepoint": 0},
        {"kind": "source_contains_control", "severity": "warning", "source": "source",
         "span": {"start": 4, "end": 5}, "codepoint": 27},
    ]
    assert d.diagnostics_text().startswith(
        "warning [kogane::lex::source_contains_control] @ 1..3: "
        "source contains control character '\\u{0}'; HTML shows it as U+FFFD\n  > \"\\0\\0\"\n"
    )
    # Inside markup too, and in CR LF sources (offsets in the caller's bytes).
    assert kogane.parse_to_html("｜x\x00《よ》") == "<p><ruby>x\ufffd<rp>(</rp><rt>よ</rt><rp>)</rp></ruby></p>\n"
    crlf = Document("a\r\n\x01")
    assert json.loads(crlf.diagnostics_json())["data"][0]["span"] == {"start": 3, "end": 4}


def test_a_gaiji_naming_a_control_is_left_unresolved():
    d = Document("※［＃「ヌル」、U+0000］")
    assert d.to_html() == '<p><span class="kogane-gaiji" data-description="ヌル">ヌル</span></p>\n'
    assert kinds(d) == ["unresolved_gaiji"]
    assert "codepoint" not in json.loads(d.gaiji_json())["data"][0]
