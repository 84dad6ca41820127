"""HTML rendering of whole documents, as seen from Python. Source → HTML
examples live in tests/examples; these are the views around them."""

import sys

from kogane import Document, parse_to_html


def test_worked_example():
    d = Document("｜漢字《かんじ》")
    assert d.nodes_json() == '{"schemaVersion":3,"data":[{"kind":"ruby","span":{"start":0,"end":24}}]}'
    assert d.pairs_json() == (
        '{"schemaVersion":3,"data":[{"kind":"ruby","open":{"start":9,"end":12},"close":{"start":21,"end":24}}]}'
    )
    assert d.diagnostics_text() == ""
    assert parse_to_html("｜漢字《かんじ》") == d.to_html()


def test_renders_in_a_row_stay_apart():
    # Book after book is rendered through one buffer per thread, in pieces
    # turned into the str as they come; a long book takes many pieces.
    small = Document("｜銀河《ぎんが》の停車場［＃「停車場」に傍点］\n")
    line = "｜銀河《ぎんが》の停車場［＃「停車場」に傍点］とある〔Cafe'〕\n"
    big = Document(line * 110_000)
    first_small = small.to_html()
    big_html = big.to_html()
    assert len(big_html.encode()) > 17 << 20
    assert big_html.count('<ruby>') == 110_000
    assert small.to_html() == first_small
    assert parse_to_html(line * 3) == Document(line * 3).to_html()
    assert big.to_html() == big_html
    assert first_small.count("<ruby>") == 1
    assert big_html.startswith("<p><ruby>銀河<rp>(</rp><rt>ぎんが</rt>")
    assert big_html.endswith("とある〔Café〕</p>\n")


def test_html_str_widens_as_wider_characters_come():
    # The str is written piece by piece at the width the text so far needs:
    # ASCII, then Latin-1, then two-byte, then four-byte characters, each
    # first met far into the book, must give the same str Python builds,
    # at its narrowest width (str equality compares widths first). Over
    # 512 KB of text, so that the str is made piece by piece; shorter books
    # have theirs made whole, at its size.
    runs = ["a" * 600_000, "é" * 200_000, "あ" * 200_000, "𠮷" * 100_000]
    paragraphs = []
    for n in range(1, len(runs) + 1):
        text = "\n\n".join(runs[:n])
        html = Document(text).to_html()
        expected = "".join(f"<p>{run}</p>\n" for run in runs[:n])
        assert html == expected
        assert sys.getsizeof(html) == sys.getsizeof(expected.encode().decode())
        paragraphs.append(html)
    assert paragraphs[0].isascii() and not paragraphs[1].isascii()
    # Wider characters first, narrower after: one width throughout.
    for ascii_run in (300_000, 600_000):
        text = "𠮷\n\n" + "a" * ascii_run
        html = Document(text).to_html()
        assert html == "<p>𠮷</p>\n<p>" + "a" * ascii_run + "</p>\n"
        assert sys.getsizeof(html) == sys.getsizeof(html.encode().decode())
    assert Document("").to_html() == "" and Document("\n").to_html() == ""


def test_long_html_is_the_same_rendered_beside_or_not():
    # Over 512 KB of text, the HTML is rendered on a helper thread while the
    # calling thread builds the str; batch workers turn that off. Both give
    # the same str, from any number of threads at once.
    from concurrent.futures import ThreadPoolExecutor

    from kogane import _kogane

    line = "｜吾輩《わがはい》は猫である。「名前は？」［＃「名前」に傍点］𠮷\n"
    texts = [line * 12_000 + f"終{i}\n" for i in range(4)]
    docs = [Document(t) for t in texts]
    beside = [d.to_html() for d in docs]
    assert beside[0].count("<ruby>") == 12_000 and beside[0].endswith("終0</p>\n")
    with ThreadPoolExecutor(4) as pool:  # a document stays on the thread that made it
        assert list(pool.map(lambda t: Document(t).to_html(), texts)) == beside
    previous = _kogane._helper_threads(False)
    try:
        assert previous is True
        assert [d.to_html() for d in docs] == beside
    finally:
        assert _kogane._helper_threads(previous) is False
