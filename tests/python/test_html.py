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
