"""Checks over generated books that look like real ones (bench/gen_corpus.py):
what a reader would notice at once if it went wrong, on text with the markup
mix of real books rather than on hand-picked examples."""

from __future__ import annotations

import json
import re
import sys
from dataclasses import dataclass
from pathlib import Path

import pytest

import kogane

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
import gen_corpus  # noqa: E402
from gen_corpus import Ending  # noqa: E402

SIZE = 120_000
TAG = re.compile(r"<[^>]*>")


def _features(book: gen_corpus.Book) -> set[str]:
    """The constructs in `book` that the checks below need to meet at least once."""
    found = {c.ending.value for c in book.containers}
    found |= {"inline container"} if any(c.inline for c in book.containers) else set()
    found |= {"uncommon ruby base"} if book.rubies_uncommon_base else set()
    for ill in book.illustrations:
        found.add("parenthesised caption" if _caption_has_parentheses(ill) else "illustration")
    return found


NEEDED = {"closed", "replaced", "notation_end", "inline container", "uncommon ruby base",
          "illustration", "parenthesised caption"}


def _pick_books() -> list[tuple[int, gen_corpus.Book]]:
    """The first four seeds, then further seeds only while they bring a construct
    not met yet: a few books between which every check has something to check."""
    picked, seen = [], set()
    for seed in range(1, 80):
        book = gen_corpus.generate_book_facts(seed, SIZE)
        new = _features(book) - seen
        if len(picked) < 4 or new:
            picked.append((seed, book))
            seen |= new
        if len(picked) >= 4 and NEEDED <= seen:
            break
    return picked


@dataclass(repr=False)
class Rendered:
    seed: int
    book: gen_corpus.Book
    html: str
    text: str  # the HTML without its tags: what a reader sees
    open_nodes: set[int]  # source offsets of container opens
    pairs: dict[int, int]  # container open start -> close start


@pytest.fixture(scope="module")
def books() -> list[Rendered]:
    out = []
    for seed, book in _pick_books():
        doc = kogane.Document(book.text)
        html = doc.to_html()
        nodes = json.loads(doc.nodes_json())["data"]
        pairs = json.loads(doc.container_pairs_json())["data"]
        out.append(Rendered(
            seed, book, html, TAG.sub("", html),
            {n["span"]["start"] for n in nodes if n["kind"] == "containerOpen"},
            {p["open"]["start"]: p["close"]["start"] for p in pairs},
        ))
    return out


def test_books_hold_what_the_checks_look_for(books):
    assert sum(r.book.rubies for r in books) > 2000
    assert NEEDED <= set().union(*(_features(r.book) for r in books))
    assert len(books) <= 12  # the check stays quick


def test_same_seed_same_book_and_shift_jis_reads_the_same():
    a = gen_corpus.generate_book(3, 20_000)
    assert a == gen_corpus.generate_book(3, 20_000)
    assert a != gen_corpus.generate_book(4, 20_000)
    sjis = gen_corpus.to_sjis_crlf(a)
    assert b"\r\n" in sjis and b"\n" not in sjis.replace(b"\r\n", b"")
    assert sjis.decode("cp932").replace("\r\n", "\n") == a
    assert kogane.Document.from_bytes(sjis).to_html() == kogane.Document(a).to_html()


def test_characters_outside_shift_jis_become_gaiji_references():
    # 鷗 is in JIS X 0213 plane 1; an emoji has no reference and is left out.
    assert gen_corpus.encode_sjis("森鷗外").decode("cp932") == "森※［＃「區＋鳥」、第3水準1-94-69］外"
    assert gen_corpus.encode_sjis("a\U0001F600b") == b"ab"


def test_ruby_marks_reach_the_reader_only_where_no_base_is_known(books):
    for r in books:
        b = r.book
        opens, bars, readings = r.text.count("《"), r.text.count("｜"), r.html.count("<rt>")
        assert opens <= b.literal_ruby_opens + b.rubies_uncommon_base, r.seed
        assert bars <= b.literal_bars + b.rubies_uncommon_base, r.seed
        assert readings >= b.rubies - b.rubies_uncommon_base, r.seed


def test_no_ruby_marks_reach_the_reader(books):
    for r in books:
        opens, bars = r.text.count("《"), r.text.count("｜")
        assert (opens, bars) == (r.book.literal_ruby_opens, r.book.literal_bars), r.seed


def test_containers_end_where_the_source_closes_them(books):
    for r in books:
        for c in r.book.containers:
            if c.ending is not Ending.CLOSED:
                continue
            if c.inline and c.open_start not in r.open_nodes:
                continue  # rendered inside its paragraph: nothing to stay open
            closed_at = r.pairs.get(c.open_start)
            assert closed_at == c.close_start, (r.seed, c)


def test_no_container_runs_on_unless_the_source_left_it_open(books):
    for r in books:
        left_open = {c.open_start for c in r.book.containers if c.ending is Ending.LEFT_OPEN}
        never_closed = r.open_nodes - set(r.pairs) - left_open
        assert not never_closed, (r.seed, sorted(never_closed))
        for c in r.book.containers:
            if c.ending in (Ending.REPLACED, Ending.NOTATION_END):
                closed_at = r.pairs.get(c.open_start)
                assert closed_at is not None and closed_at <= c.close_start, (r.seed, c)


def _caption_has_parentheses(ill: gen_corpus.Illustration) -> bool:
    return ill.markup.startswith("［＃「") and "（" in ill.markup.split("」")[0]


def test_illustrations_have_their_image(books):
    for r in books:
        for ill in r.book.illustrations:
            if _caption_has_parentheses(ill):
                continue
            found = f'<img src="{ill.file}"' in r.html
            assert found, ill.markup


def test_illustrations_with_parenthesised_captions_have_their_image(books):
    for r in books:
        for ill in r.book.illustrations:
            found = f'<img src="{ill.file}"' in r.html
            assert found, ill.markup


def test_generated_densities_follow_the_profile():
    measured = gen_corpus.measure(gen_corpus.generate_book(7, 1_000_000))
    profile = gen_corpus.load_profile()["per_MB"]
    for key in ("ruby_open", "quote_open", "annotation_open", "line_feed"):
        assert measured["per_MB"][key] == pytest.approx(profile[key], rel=0.15), key
    assert measured["blank_line_share"] == pytest.approx(0.116, abs=0.03)
