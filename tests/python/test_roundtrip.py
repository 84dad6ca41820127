"""Re-emitted source reads back as the same book: the same node kinds, the
same HTML, the same container pairs, and it re-emits to itself. Written-back
forms of single constructs are examples in tests/examples."""

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


@pytest.mark.parametrize("seed", range(6))
def test_generated_books_round_trip(seed):
    assert_round_trip(generate(40_000, seed=seed))


@pytest.mark.parametrize("seed", range(8))
def test_books_shaped_like_real_ones_round_trip(seed):
    # Densities and annotation shapes follow the measured profile of real
    # books: header, notation block, colophon, forward references mostly
    # right after their targets.
    assert_round_trip(generate_book(seed, 60_000))


def test_targets_spanning_lines_are_no_forward_references():
    text = "［＃ここから２字下げ］［＃「\n」に傍点］"
    assert kinds(Document(text)) == ["containerOpen", "directive"]
    assert_round_trip(text)


def test_bar_before_a_decorated_earlier_occurrence_still_needs_the_rubys_own_bar():
    # The bouten lands on the 燈 after the stray ｜, which is written back as
    # bare text: without the ruby's own ｜ the stray one would take 燈カ台 as
    # the base.
    text = "｜燈カ｜台《き》［＃「燈」に傍点］"
    assert kinds(Document(text)) == ["bouten", "ruby", "bouten"]
    assert assert_round_trip(text) == text


@pytest.mark.parametrize(
    "line, target",
    [
        # A gaiji written without its ※ reads as ※ in the line, but inside a
        # quote it would not read as a gaiji at all.
        ("［＃「」「」、第水準1］の章［＃］", "※の章"),
        ("［＃「木＋吉」、第4水準2-14-1］の章", "※の章"),
    ],
)
def test_heading_over_a_line_with_an_unmarked_gaiji_names_it_as_its_annotation_did(line, target):
    text = f"{line}\n［＃「{target}」は大見出し］"
    assert kinds(Document(text)) == ["heading"]
    once = assert_round_trip(text)
    # The line's source in quotes would not read as the line does.
    assert f"\n［＃「{target}」は大見出し］" in once
