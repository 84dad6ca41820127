"""Inputs built to hurt: huge nesting, stray closers, one enormous line,
thousands of distinct targets. Their output must stay correct; their
speed is measured by bench/run_bench.py, not here."""

import json
import re

import pytest

from kogane import Document, parse_to_html

N = 100_000
TAG = re.compile(r"<(/?)([a-z0-9]+)([^>]*)>")


def balanced(html: str) -> bool:
    stack = []
    for m in TAG.finditer(html):
        closing, name, rest = m.groups()
        if closing:
            if not stack or stack.pop() != name:
                return False
        elif name not in ("br", "img") and not rest.endswith("/"):
            stack.append(name)
    return not stack


def counts(doc):
    out = {}
    for d in json.loads(doc.diagnostics_json())["data"]:
        out[d["kind"]] = out.get(d["kind"], 0) + 1
    return out


@pytest.mark.parametrize("opener, name", [("《", "ruby"), ("［", "bracket"), ("「", "quote"), ("〔", "tortoise"), ("≪", "angle")])
def test_unclosed_openers_stay_text(opener, name):
    text = opener * N
    doc = Document(text)
    assert counts(doc) == {"unclosed_bracket": N}
    html = doc.to_html()
    assert html == "<p>" + text + "</p>\n"
    assert doc.to_source() == text


@pytest.mark.parametrize("closer", ["」", "］", "》"])
def test_stray_closers(closer):
    doc = Document(closer * N)
    assert counts(doc) == {"unmatched_close": N}
    assert json.loads(doc.pairs_json())["data"] == []


@pytest.mark.parametrize("text", ["「" * N + "］" * N, "［" * N + "」" * N])
def test_crossed_brackets_keep_every_byte(text):
    html = parse_to_html(text)
    assert html == "<p>" + text + "</p>\n"


def test_a_megabyte_line_of_triggers():
    text = ("｜《》≪≫［］＃※〔〕「」" * 30_000)[:333_333]
    doc = Document(text)
    html = doc.to_html()
    assert balanced(html)
    for view in ("nodes_json", "pairs_json", "diagnostics_json", "gaiji_json"):
        json.loads(getattr(doc, view)())


def test_a_megabyte_ruby_reading():
    reading = "よ" * 333_333
    html = parse_to_html("漢字《" + reading + "》")
    assert html == f"<p><ruby>漢字<rp>(</rp><rt>{reading}</rt><rp>)</rp></ruby></p>\n"


def test_ten_thousand_forward_references():
    text = "".join(f"単語{i}［＃「単語{i}」に傍点］" for i in range(10_000))
    doc = Document(text)
    nodes = json.loads(doc.nodes_json())["data"]
    assert [n["kind"] for n in nodes] == ["bouten"] * 10_000
    assert counts(doc) == {}
    html = doc.to_html()
    assert html.count('<em class="kogane-bouten kogane-bouten-goma kogane-bouten-right">') == 10_000
    assert '<em class="kogane-bouten kogane-bouten-goma kogane-bouten-right">単語9999</em>' in html


def test_ten_thousand_distinct_quotes():
    filler = "あいうえおかきくけこ" * 20
    text = "".join(f"{filler}「語{i}」" for i in range(10_000))
    doc = Document(text)
    assert len(text.encode()) > 2_000_000
    assert counts(doc) == {}
    assert len(json.loads(doc.pairs_json())["data"]) == 10_000
    assert doc.to_html() == "<p>" + text + "</p>\n"


def test_container_opens_without_closes():
    text = "［＃ここから２字下げ］\n" * N
    doc = Document(text)
    nodes = json.loads(doc.nodes_json())["data"]
    # Each indent replaces the one before it, which ends where it opens.
    assert [n["kind"] for n in nodes[:3]] == ["containerOpen", "containerClose", "containerOpen"]
    assert len(nodes) == 2 * N - 1
    assert len(json.loads(doc.container_pairs_json())["data"]) == N - 1
    html = doc.to_html()
    assert html.count("<div ") == N and html.count("</div>") == N
    assert balanced(html)


def test_nested_quotes_with_missing_forward_targets():
    # Every quote nests the next one; searching for the targets used to key
    # a structure by every quoted text, quadratic in the depth.
    depth = 200_000
    text = "＃「" * depth + "」" * depth + "".join(f"［＃「無{i}」に傍点］" for i in range(5))
    doc = Document(text)
    assert counts(doc) == {"forward_target_not_found": 5}
    html = doc.to_html()
    assert html.startswith("<p>" + "＃「" * 100)
    assert html.count('<span class="kogane-directive" hidden>') == 5
    assert doc.to_source() == text


def test_many_forward_references_to_far_or_missing_targets():
    # Each target is absent or far back: every search would scan the whole
    # text before it; the shared budget keeps the total linear.
    filler = "あいうえおかきくけこ" * 50
    text = "遠い語" + filler * 200 + "".join(f"{filler[:30]}［＃「無{i}」に傍点］［＃「遠い語」は太字］" for i in range(3000))
    doc = Document(text)
    kinds = [n["kind"] for n in json.loads(doc.nodes_json())["data"]]
    assert len(kinds) == 6000 and set(kinds) <= {"directive", "emphasis"}
    assert kinds.count("directive") == 3000
    assert "<b" not in doc.to_html()


def test_forward_references_looking_back_over_long_dense_lines():
    # Each annotation reads back over the line before it for an earlier
    # occurrence; the look-back is bounded, so a line dense in rubies and
    # annotations stays linear.
    unit = "漢字《かんじ》あ" * 30 + "い［＃「漢字」に傍線］" * 64
    doc = Document(unit * 400)
    kinds = [n["kind"] for n in json.loads(doc.nodes_json())["data"]]
    assert kinds.count("bouten") == 400 * 65  # each unit: 64 annotations, one placement
    html = doc.to_html()
    assert balanced(html)
    assert html.count("<ruby>") == 400 * 30
    assert html.count("い") == 400 * 64


# --- CR LF sources, floods of diagnostics, controls. Sizes are chosen so that
# work growing with the square of the input would take many minutes; a
# watchdog ends the run if one ever hangs (a guard, not a timing).

HANG_LIMIT_SECONDS = 300


@pytest.fixture
def watchdog():
    import faulthandler

    faulthandler.dump_traceback_later(HANG_LIMIT_SECONDS, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()


def test_crlf_lines_of_unclosed_brackets_map_every_offset(watchdog):
    lines = 200_000
    doc = Document("［\r\n" * lines)
    data = json.loads(doc.diagnostics_json())["data"]
    assert len(data) == lines
    assert data[-1]["span"] == {"start": 5 * (lines - 1), "end": 5 * (lines - 1) + 3}
    assert doc.diagnostics_text().count("\n") == 2 * lines
    assert json.loads(doc.pairs_json())["data"] == []


def test_crlf_book_views_are_the_lf_views_shifted(watchdog):
    import sys
    from pathlib import Path

    sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
    from gen_corpus import generate

    text = generate(2_000_000, seed=3)
    lf, crlf = Document(text), Document(text.replace("\n", "\r\n"))
    line_feeds = [i for i, b in enumerate(text.encode()) if b == 0x0A]

    import bisect

    def shift(offset):
        # Every LF before the offset gained a CR (so an end just after an LF
        # covers its CR LF, and a start at an LF is at its CR).
        return offset + bisect.bisect_left(line_feeds, offset)

    def shifted(value):
        if isinstance(value, dict) and set(value) == {"start", "end"}:
            return {"start": shift(value["start"]), "end": shift(value["end"])}
        if isinstance(value, dict):
            return {k: shifted(v) for k, v in value.items()}
        if isinstance(value, list):
            return [shifted(v) for v in value]
        return value

    for view in ("nodes_json", "pairs_json", "container_pairs_json", "diagnostics_json"):
        a, b = json.loads(getattr(lf, view)())["data"], json.loads(getattr(crlf, view)())["data"]
        assert len(a) == len(b) > 0 or view == "diagnostics_json"
        assert b == shifted(a), view


def test_a_flood_of_unclosed_brackets_is_counted_past_a_million(watchdog):
    n = 1_200_000
    doc = Document("［" * n)
    listed = doc.diagnostics_json()
    assert listed.count('"kind":"unclosed_bracket"') == 1_000_000
    summary = re.findall(r'\{"kind":"diagnostics_dropped"[^}]*\}[^}]*\}', listed)
    assert len(summary) == 1
    assert json.loads(summary[0]) == {
        "kind": "diagnostics_dropped", "severity": "warning", "source": "source",
        "span": json.loads(summary[0])["span"], "of": "unclosed_bracket", "count": 200_000,
    }
    text = doc.diagnostics_text()
    assert "200000 further `kogane::lex::unclosed_bracket` diagnostics counted but not listed" in text
    assert doc.to_html() == "<p>" + "［" * n + "</p>\n"


def test_a_megabyte_of_controls(watchdog):
    doc = Document("\x00" * 1_000_000 + "a\x01" * 500_000)
    assert doc.diagnostics_json().count('"kind":"source_contains_control"') == 500_001
    assert doc.to_html() == "<p>" + "\ufffd" * 1_000_000 + "a\ufffd" * 500_000 + "</p>\n"


def test_report_quotes_only_the_head_of_long_spans(watchdog):
    # Every 〔 inside an accent-rewritten region maps to a span over the
    # whole region: quoting each in full grew the report with the square
    # of the input (about 1 GB for these 60 KB).
    k = 10_000
    source = "〔" * k + "e'" + "x" * k + "〕"
    report = Document(source).diagnostics_text()
    assert report.count("\n") == 2 * k  # k - 1 unclosed 〔 and the rewrite note
    assert len(report.encode()) < 100 * len(source.encode())  # whole spans: 10,000 times
    lines = report.splitlines()
    assert lines[2] == f"note [kogane::lex::accent_decomposition_applied] @ 0..{3 * k + 2 + k + 3}: accent digraph decomposed in sanitize stage"
    assert lines[3] == '  > "' + "〔" * 40 + f'"… ({3 * k + 2 + k + 3} bytes)'
    short = Document("〔" * 3 + "e'x〕").diagnostics_text().splitlines()
    assert short[3] == "  > \"〔〔〔e'x〕\""
