"""What a user sees of the lexer: diagnostics and bracket pairs reported in
the caller's own byte offsets, whatever the sanitize stage rewrote."""

import json

import pytest

from kogane import Document, prewarm

BOM = "\ufeff"


def diags(doc):
    envelope = json.loads(doc.diagnostics_json())
    assert envelope["schemaVersion"] == 3
    return [(d["kind"], d["span"]["start"], d["span"]["end"]) for d in envelope["data"]]


def pairs(doc):
    envelope = json.loads(doc.pairs_json())
    assert envelope["schemaVersion"] == 3
    return [(p["kind"], p["open"]["start"], p["close"]["start"]) for p in envelope["data"]]


def utf8_offset(text, index):
    return len(text[:index].encode("utf-8"))


@pytest.mark.parametrize(
    "source, expected",
    [
        ("］", [("unmatched_close", 0, 3)]),
        (BOM + "］", [("unmatched_close", 3, 6)]),
        (BOM + BOM + "］", [("unmatched_close", 6, 9)]),
        ("a\r\nb］", [("unmatched_close", 4, 7)]),
        ("a\rb］", [("unmatched_close", 3, 6)]),
        ("a\r\r\nb］", [("unmatched_close", 5, 8)]),
        ("見出し\n----------\n］", [("unmatched_close", 21, 24)]),
        ("見出し\r\n==========\r\n］", [("unmatched_close", 23, 26)]),
        ("〔AE&〕］", [("accent_decomposition_applied", 0, 9), ("unmatched_close", 9, 12)]),
        ("〔e'〕\r\n〔oe&〕「", [("accent_decomposition_applied", 0, 8),
                              ("accent_decomposition_applied", 10, 19),
                              ("unclosed_bracket", 19, 22)]),
        ("〔AE&\r\nx〕］", [("accent_decomposition_applied", 0, 12), ("unmatched_close", 12, 15)]),
        ("\r\n\ue001］", [("source_contains_pua", 2, 5), ("unmatched_close", 5, 8)]),
    ],
)
def test_diagnostic_offsets_are_source_bytes(source, expected):
    assert diags(Document(source)) == expected


def test_crlf_everywhere_keeps_pairs_in_source_bytes():
    lines = [f"第{i}行の｜本文《ほんぶん》と「引用」" for i in range(200)]
    source = "\r\n".join(lines) + "\r\n"
    doc = Document(source)
    assert diags(doc) == []
    got = pairs(doc)
    assert len(got) == 400
    # Every reported opener is really the character in the caller's text.
    raw = source.encode("utf-8")
    for kind, open_start, close_start in got:
        opener = {"ruby": "《", "quote": "「"}[kind].encode("utf-8")
        closer = {"ruby": "》", "quote": "」"}[kind].encode("utf-8")
        assert raw[open_start:open_start + 3] == opener
        assert raw[close_start:close_start + 3] == closer
    last = source.rindex("」")
    assert got[-1] == ("quote", utf8_offset(source, source.rindex("「")), utf8_offset(source, last))


def test_brackets_across_line_ends():
    # ［ never spans a line; 「 does.
    doc = Document("［注\r\n記］「上\r\n下」")
    assert diags(doc) == [("unclosed_bracket", 0, 3), ("unmatched_close", 11, 14)]
    assert pairs(doc) == [("quote", 14, 25)]


def test_tortoise_without_closer_is_left_alone():
    source = "前〔e' のまま\r\n後］"
    doc = Document(source)
    assert ("unclosed_bracket", 3, 6) in diags(doc)
    assert ("unmatched_close", utf8_offset(source, source.index("］")), utf8_offset(source, source.index("］")) + 3) in diags(doc)
    assert "accent_decomposition_applied" not in [d[0] for d in diags(doc)]


def test_diagnostics_text_uses_source_offsets():
    doc = Document(BOM + "a\r\n」")
    assert doc.diagnostics_text() == (
        "error [kogane::lex::unmatched_close] @ 6..9: unmatched Kogane Quote close delimiter\n"
        '  > "」"\n'
    )
    doc = Document("\ue003")
    assert doc.diagnostics_text() == (
        "warning [kogane::lex::source_contains_pua] @ 0..3: "
        "source contains lexer PUA sentinel codepoint '\\u{e003}'\n"
        '  > "\\u{e003}"\n'
    )


def test_nested_pairs_are_listed_inner_first():
    doc = Document(BOM + "《「〔x〕」》")
    assert pairs(doc) == [("tortoise", 9, 13), ("quote", 6, 16), ("ruby", 3, 19)]


def test_deep_nesting_and_stray_closers():
    n = 2000
    doc = Document("「" * n + "］" * n)
    got = diags(doc)
    assert len(got) == 2 * n
    assert pairs(doc) == []
    assert sorted(k for k, _, _ in got) == ["unclosed_bracket"] * n + ["unmatched_close"] * n


def test_document_of_nothing_but_triggers():
    triggers = "｜《》≪≫［］＃※〔〕「」"
    doc = Document(triggers * 50)
    assert diags(doc) == []
    kinds = [p[0] for p in pairs(doc)]
    assert len(kinds) == 250
    assert set(kinds) == {"ruby", "angleQuote", "bracket", "tortoise", "quote"}


def test_prewarm_is_idempotent():
    prewarm()
    prewarm()
    assert diags(Document("］")) == [("unmatched_close", 0, 3)]
