"""The example corpus under tests/examples: every example's HTML and
re-emitted source, byte for byte, and the re-emitted source read back as the
same book. After a deliberate change of output, regenerate with
`python3 tools/examples.py --update` and review the diff."""

import json
import sys
from pathlib import Path

import pytest

from kogane import Document

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import examples as corpus  # noqa: E402

EXAMPLES = corpus.all_examples()


def example_id(e):
    return f"{e.ident} {e.title}" if e.title else e.ident


def kinds(doc):
    return [n["kind"] for n in json.loads(doc.nodes_json())["data"]]


def container_kinds(doc):
    return [p["kind"] for p in json.loads(doc.container_pairs_json())["data"]]


@pytest.mark.parametrize("example", EXAMPLES, ids=example_id)
def test_example(example):
    assert example.complete, f"{example.path.name}:{example.line}: no expected output; run tools/examples.py --update"
    doc = Document(example.source)
    assert doc.to_html() == example.html
    assert doc.to_source() == example.reemitted
    # The re-emitted source is the same book and re-emits to itself.
    again = Document(example.reemitted)
    assert again.to_html() == example.html
    assert kinds(again) == kinds(doc)
    assert container_kinds(again) == container_kinds(doc)
    assert again.to_source() == example.reemitted


def test_every_topic_has_examples_and_nothing_is_said_twice():
    files = corpus.corpus_files()
    assert len(files) >= 10
    for path in files:
        examples = corpus.read_examples(path)
        assert examples, path.name
        titles = [e.title for e in examples]
        assert len(set(titles)) == len(titles), [t for t in titles if titles.count(t) > 1]
    sources = [e.source for e in EXAMPLES]
    assert len(set(sources)) == len(sources), [e.ident for e in EXAMPLES if sources.count(e.source) > 1]


def test_fuzz_seeds_match_the_corpus():
    on_disk = {p.name: p.read_bytes() for p in corpus.SEEDS_DIR.glob("*.txt")}
    assert on_disk == corpus.seed_files(EXAMPLES), "run tools/examples.py --seeds"


class TestFormat:
    @pytest.mark.parametrize(
        "text, lines",
        [
            ("", []),
            ("a", ["a"]),
            ("a\n", ["a␊"]),
            ("\n", ["␊"]),
            ("a\n\nb", ["a", "", "b"]),
            ("a\n\n", ["a", "␊"]),
            ("\ufeffa［b\r\n", ["⟦U+FEFF⟧a［b␍␊"]),
            ("x\t \u3000", ["x␉␠⟦U+3000⟧"]),
            ("\u3000字下げ", ["\u3000字下げ"]),
            ("\x01\x7f\u200b", ["␁␡⟦U+200B⟧"]),
            # the stand-ins themselves, and lines that would read as fences
            ("␉⟦U+0041⟧", ["⟦U+2409⟧⟦U+27E6⟧U+0041⟧"]),
            (".\n" + "`" * 32, ["⟦U+002E⟧", "⟦U+0060⟧" + "`" * 31]),
            ("..", [".."]),
        ],
    )
    def test_blocks_round_trip(self, text, lines):
        assert corpus.encode_block(text) == lines
        assert corpus.decode_block(lines) == text

    def test_file_with_prose_and_an_unfinished_example(self, tmp_path):
        fence = "`" * 32
        path = tmp_path / "topic.txt"
        path.write_text(
            f"# Topic\n\nprose\n{fence} example first\na␍\n.\n<p>a</p>␊\n.\na\n{fence}\n"
            f"{fence} example\nb\n{fence}\n",
            encoding="utf-8",
        )
        first, second = corpus.read_examples(path)
        assert (first.ident, first.title, first.line) == ("topic-001", "first", 4)
        assert (first.source, first.html, first.reemitted) == ("a\r", "<p>a</p>\n", "a")
        assert (second.ident, second.title, second.source, second.complete) == ("topic-002", "", "b", False)

    @pytest.mark.parametrize(
        "body, message",
        [
            ("{f} example\na\n", "is not closed"),
            ("{f} example\na\n.\nb\n{f}\n", "has 2 blocks"),
            ("{f}\n", "outside an example"),
            ("{f} example\n{f} example\n{f}\n", "opened inside"),
        ],
    )
    def test_malformed_files_are_reported_with_their_line(self, tmp_path, body, message):
        path = tmp_path / "bad.txt"
        path.write_text("intro\n" + body.format(f="`" * 32), encoding="utf-8")
        with pytest.raises(corpus.FormatError, match=message) as err:
            corpus.read_examples(path)
        assert f"{path}:2" in str(err.value) or f"{path}:3" in str(err.value)
