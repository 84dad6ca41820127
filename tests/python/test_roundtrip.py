"""Re-emitted source reads back as the same book: the same node kinds, the
same HTML, the same container pairs, and it re-emits to itself."""

import json
import sys
from pathlib import Path

import pytest

from kogane import Document

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
from gen_corpus import generate, generate_book  # noqa: E402


def kinds(doc):
    return [n["kind"] for n in json.loads(doc.nodes_json())["data"]]


def container_kinds(doc):
    return [p["kind"] for p in json.loads(doc.container_pairs_json())["data"]]


def assert_round_trip(text):
    doc = Document(text)
    once = doc.to_source()
    again = Document(once)
    assert kinds(again) == kinds(doc)
    assert again.to_html() == doc.to_html()
    assert container_kinds(again) == container_kinds(doc)
    assert again.to_source() == once
    return once


@pytest.mark.parametrize(
    "text, source",
    [
        # a bare 0字下げ would read back as a remark
        ("［＃天から０字下げ］本文", "［＃天から0字下げ］本文"),
        # a ｜ earlier in the run must not take the base over
        ("｜あいう｜東京《とうきょう》", "｜あいう｜東京《とうきょう》"),
        ("｜あいう\n東京《とうきょう》", "｜あいう\n東京《とうきょう》"),
        # the description that became the alt text is written back
        ("［＃猫の絵（cat.png）入る］", "\n\n［＃猫の絵（cat.png）入る］\n\n"),
        # a collapsed bold is written back as the container it was
        ("［＃太字］Le 〔cafe'〕［＃太字終わり］", "［＃太字］Le 〔café〕［＃太字終わり］"),
        ("［＃傍点］に［＃傍点終わり］ながら［＃「にながら」は太字］", "［＃傍点］に［＃傍点終わり］ながら［＃「にながら」は太字］"),
        # a heading after a page break on its line stays a heading
        ("［＃改ページ］第一章\n［＃「第一章」は中見出し］", "\n\n［＃改ページ］\n\n第一章\n［＃「第一章」は中見出し］\n\n"),
        # decorations and headings over rubies and gaiji
        ("吾輩《わがはい》は猫である［＃「吾輩は猫である」に傍点］", "吾輩《わがはい》は猫である［＃「吾輩は猫である」に傍点］"),
        (
            "※［＃「木＋吶のつくり」、第3水準1-85-54］の章\n［＃「※の章」は大見出し］",
            "\n\n※［＃「木＋吶のつくり」、第3水準1-85-54］の章\n"
            "［＃「※［＃「木＋吶のつくり」、第3水準1-85-54］の章」は大見出し］\n\n",
        ),
    ],
)
def test_constructs_that_used_to_change(text, source):
    assert assert_round_trip(text) == source


@pytest.mark.parametrize("seed", range(6))
def test_generated_books_round_trip(seed):
    assert_round_trip(generate(40_000, seed=seed))


@pytest.mark.parametrize("seed", range(8))
def test_books_shaped_like_real_ones_round_trip(seed):
    # Densities and annotation shapes follow the measured profile of real
    # books: header, notation block, colophon, forward references mostly
    # right after their targets.
    assert_round_trip(generate_book(seed, 60_000))


@pytest.mark.parametrize(
    "text, source",
    [
        # text that cannot stand quoted in an annotation keeps the container form
        ("［＃太字］」［＃太字終わり］", "［＃太字］」［＃太字終わり］"),
        ("［＃太字］《かんじ》［＃太字終わり］", "［＃太字］《かんじ》［＃太字終わり］"),
        ("［＃傍点］｜［＃傍点終わり］", "［＃傍点］｜［＃傍点終わり］"),
        ("」［＃「」」は太字］", "」［＃「」」は太字］"),
    ],
)
def test_decorated_text_that_cannot_be_quoted(text, source):
    assert assert_round_trip(text) == source


def test_targets_spanning_lines_are_no_forward_references():
    text = "［＃ここから２字下げ］［＃「\n」に傍点］"
    assert kinds(Document(text)) == ["containerOpen", "directive"]
    assert_round_trip(text)
