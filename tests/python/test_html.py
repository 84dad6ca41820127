"""HTML rendering of whole documents, as seen from Python. Source → HTML
examples live in tests/examples; these are the views around them."""

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
    # Book after book is rendered through one buffer per thread; an HTML
    # larger than the buffer keeps (about 16 MB) is released after use.
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
