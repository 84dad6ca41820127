"""HTML rendering of whole documents, as seen from Python."""

import pytest

from kogane import Document, parse_to_html

RUBY = "<ruby>漢字<rp>(</rp><rt>かんじ</rt><rp>)</rp></ruby>"
INDENT_2 = '<div class="kogane-container kogane-container-indent kogane-container-indent-2" data-amount="2">'


def test_worked_example():
    d = Document("｜漢字《かんじ》")
    assert d.to_html() == f"<p>{RUBY}</p>\n"
    assert d.nodes_json() == '{"schemaVersion":3,"data":[{"kind":"ruby","span":{"start":0,"end":24}}]}'
    assert d.pairs_json() == (
        '{"schemaVersion":3,"data":[{"kind":"ruby","open":{"start":9,"end":12},"close":{"start":21,"end":24}}]}'
    )
    assert d.diagnostics_text() == ""
    assert parse_to_html("｜漢字《かんじ》") == d.to_html()


@pytest.mark.parametrize(
    "source, html",
    [
        ("", ""),
        ("a\nb", "<p>a<br />\nb</p>\n"),
        ("a\n\nb", "<p>a</p>\n<p>b</p>\n"),
        ("a\r\n\r\nb", "<p>a</p>\n<p>b</p>\n"),
        ("<&>\"'", "<p>&lt;&amp;&gt;&quot;&#x27;</p>\n"),
        ("a［＃改行］b", "<p>a<br />b</p>\n"),
    ],
)
def test_paragraphs_breaks_and_escaping(source, html):
    assert parse_to_html(source) == html


def test_containers():
    # An inline container spanning a blank line is reopened in the next paragraph.
    assert parse_to_html("［＃太字］a\n\nb［＃太字終わり］") == (
        '<p><b class="kogane-futoji">a</b></p>\n<p><b class="kogane-futoji">b</b></p>\n'
    )
    assert parse_to_html("［＃ここから２字下げ］\na\n［＃ここで字下げ終わり］\nb") == (
        f"{INDENT_2}\n<p>a</p>\n</div>\n<p>b</p>\n"
    )
    # A heading container holds its text without a paragraph.
    assert parse_to_html("［＃ここから中見出し］\n見出し\n［＃ここで中見出し終わり］\n本文") == (
        '<h2 class="kogane-heading kogane-heading-medium">見出し</h2>\n<p>本文</p>\n'
    )


def test_warichu():
    assert parse_to_html("aaa［＃割り注］注記［＃割り注終わり］bbb") == (
        '<p>aaa<span class="kogane-warichu">注記</span>bbb</p>\n'
    )
    # Left open, the span ends with its paragraph.
    assert parse_to_html("a［＃割り注］b\n\nc") == '<p>a<span class="kogane-warichu">b</span></p>\n<p>c</p>\n'


@pytest.mark.parametrize(
    "source, codepoint, text",
    [
        ("※［＃「叱」の正字、U+20B9F］", "U+20B9F", "𠮟"),
        ("※［＃「一」、U+4E00］", "U+4E00", "一"),
        ("※［＃「e」、U+00E9］", "U+00E9", "é"),
        # Resolved characters are document text: markup is escaped.
        ("※［＃「<」］", "U+003C", "&lt;"),
        ("※［＃「x」、U+3C］", "U+003C", "&lt;"),
        ("※［＃「&」、U+26］", "U+0026", "&amp;"),
    ],
)
def test_gaiji(source, codepoint, text):
    assert parse_to_html(source) == f'<p><span class="kogane-gaiji" data-codepoint="{codepoint}">{text}</span></p>\n'


def test_illustration_captions():
    assert parse_to_html("［＃挿絵（fig.png、横320×縦200）入る］") == (
        '<figure class="kogane-illustration"><img src="fig.png" width="320" height="200" alt="" /></figure>'
    )
    # A caption with markup in it is parsed again.
    assert parse_to_html("［＃「図の説明［＃「説明」に傍点］」のキャプション付きの挿絵（a.png）入る］") == (
        '<figure class="kogane-illustration"><img src="a.png" alt="" /><figcaption>図の'
        '<em class="kogane-bouten kogane-bouten-goma kogane-bouten-right">説明</em></figcaption></figure>'
    )
    # Without a markup pair it is only escaped.
    assert parse_to_html("［＃「<図>」のキャプション付きの挿絵（a.png）入る］") == (
        '<figure class="kogane-illustration"><img src="a.png" alt="" />'
        "<figcaption>&lt;図&gt;</figcaption></figure>"
    )
