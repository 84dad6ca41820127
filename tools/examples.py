#!/usr/bin/env python3
"""The example corpus under tests/examples: reading, writing, checking.

Each tests/examples/*.txt holds examples of one topic; the format is described
in tests/examples/README.md. This module is the one reader and writer of that
format: tests/python/test_examples.py imports it, and run as a program it

  (no option)   checks every example against the engine and lists mismatches;
  --update      rewrites the expected HTML and re-emitted source of every
                example from the engine (for a deliberate change of output;
                review the diff), then writes the fuzz seeds;
  --seeds       only writes every example's source to fuzz/seeds/examples/.

An example written with its source block alone is completed by --update.
"""

from __future__ import annotations

import argparse
import re
import sys
import unicodedata
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
EXAMPLES_DIR = ROOT / "tests" / "examples"
SEEDS_DIR = ROOT / "fuzz" / "seeds" / "examples"

FENCE = "`" * 32
OPENING = FENCE + " example"
SEPARATOR = "."

# Visible stand-ins: the control pictures U+2400..U+241F picture the C0
# controls, U+2420 a space, U+2421 DEL. ⟦U+XXXX⟧ writes any code point.
_PICTURE_BASE = 0x2400
_SPACE_PICTURE = "\u2420"
_DEL_PICTURE = "\u2421"
_ESCAPE_OPEN = "⟦"
_ESCAPE = re.compile(r"⟦U\+([0-9A-F]{4,6})⟧|[\u2400-\u2421]")
_INVISIBLE_CATEGORIES = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs"}


class FormatError(ValueError):
    """A corpus file that does not follow the format; names file and line."""


@dataclass
class Example:
    path: Path
    number: int  # 1-based within its file
    title: str
    line: int  # line of the opening fence, 1-based
    source: str
    html: str | None  # None: not yet generated
    reemitted: str | None

    @property
    def topic(self) -> str:
        return self.path.stem

    @property
    def ident(self) -> str:
        return f"{self.topic}-{self.number:03d}"

    @property
    def complete(self) -> bool:
        return self.html is not None and self.reemitted is not None


def _decode_escape(match: re.Match[str]) -> str:
    if match.group(1) is not None:
        return chr(int(match.group(1), 16))
    ch = match.group(0)
    if ch == _SPACE_PICTURE:
        return " "
    if ch == _DEL_PICTURE:
        return "\x7f"
    return chr(ord(ch) - _PICTURE_BASE)


def decode_block(lines: list[str]) -> str:
    """File lines of a block → the text they stand for. The line break
    before the fence that ends the block is not part of the text."""
    return _ESCAPE.sub(_decode_escape, "\n".join(lines))


def _code_point(ch: str) -> str:
    return f"⟦U+{ord(ch):04X}⟧"


def _needs_escape(ch: str) -> bool:
    if ch == _ESCAPE_OPEN or 0x2400 <= ord(ch) <= 0x2421:
        return True
    return ch != " " and unicodedata.category(ch) in _INVISIBLE_CATEGORIES and ch != "\u3000"


def _encode_char(ch: str) -> str:
    code = ord(ch)
    if code < 0x20:
        return chr(_PICTURE_BASE + code)
    if code == 0x7F:
        return _DEL_PICTURE
    return _code_point(ch) if _needs_escape(ch) else ch


def _encode_line(line: str) -> str:
    body = line.rstrip(" \u3000")
    trailing = "".join(_SPACE_PICTURE if ch == " " else _code_point(ch) for ch in line[len(body) :])
    out = "".join(_encode_char(ch) for ch in body) + trailing
    # A content line must never read as a fence line.
    if out == SEPARATOR or out.startswith(FENCE):
        out = _code_point(out[0]) + out[1:]
    return out


def encode_block(text: str) -> list[str]:
    """Text → the file lines of a block (inverse of decode_block)."""
    if text == "":
        return []
    ends_with_lf = text.endswith("\n")
    lines = [_encode_line(line) for line in (text[:-1] if ends_with_lf else text).split("\n")]
    if ends_with_lf:
        lines[-1] += chr(_PICTURE_BASE + 0x0A)
    return lines


@dataclass
class _Parsed:
    """A file as prose lines and examples, in order; lets --update rewrite
    only the blocks."""

    pieces: list[str | Example]


def _parse(path: Path) -> _Parsed:
    lines = path.read_text(encoding="utf-8").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    pieces: list[str | Example] = []
    i = 0
    number = 0
    while i < len(lines):
        line = lines[i]
        if not line.startswith(FENCE):
            pieces.append(line)
            i += 1
            continue
        if not (line == OPENING or line.startswith(OPENING + " ")):
            raise FormatError(f"{path}:{i + 1}: a fence line outside an example (expected {OPENING!r})")
        start = i
        number += 1
        blocks: list[list[str]] = [[]]
        i += 1
        while True:
            if i >= len(lines):
                raise FormatError(f"{path}:{start + 1}: example {number} is not closed by a {FENCE} line")
            line = lines[i]
            i += 1
            if line == FENCE:
                break
            if line.startswith(FENCE):
                raise FormatError(f"{path}:{i}: an example opened inside example {number}")
            if line == SEPARATOR:
                blocks.append([])
            else:
                blocks[-1].append(line)
        if len(blocks) not in (1, 3):
            raise FormatError(
                f"{path}:{start + 1}: example {number} has {len(blocks)} blocks; "
                "expected source, HTML and re-emitted source (or the source alone, for --update)"
            )
        texts = [decode_block(b) for b in blocks]
        pieces.append(
            Example(
                path=path,
                number=number,
                title=lines[start][len(OPENING) :].strip(),
                line=start + 1,
                source=texts[0],
                html=texts[1] if len(texts) == 3 else None,
                reemitted=texts[2] if len(texts) == 3 else None,
            )
        )
    return _Parsed(pieces)


def _render(parsed: _Parsed) -> str:
    out: list[str] = []
    for piece in parsed.pieces:
        if isinstance(piece, str):
            out.append(piece)
            continue
        out.append(OPENING + (f" {piece.title}" if piece.title else ""))
        out += encode_block(piece.source)
        if piece.complete:
            assert piece.html is not None and piece.reemitted is not None
            out += [SEPARATOR, *encode_block(piece.html), SEPARATOR, *encode_block(piece.reemitted)]
        out.append(FENCE)
    return "\n".join(out) + "\n"


def corpus_files(directory: Path = EXAMPLES_DIR) -> list[Path]:
    return sorted(directory.glob("*.txt"))


def read_examples(path: Path) -> list[Example]:
    return [p for p in _parse(path).pieces if isinstance(p, Example)]


def all_examples(directory: Path = EXAMPLES_DIR) -> list[Example]:
    return [e for path in corpus_files(directory) for e in read_examples(path)]


def seed_files(examples: list[Example]) -> dict[str, bytes]:
    """File name → contents of the fuzz seed of every example (libFuzzer
    always tries the empty input, so empty sources need no file)."""
    return {f"{e.ident}.txt": e.source.encode("utf-8") for e in examples if e.source}


def write_seeds(examples: list[Example], directory: Path = SEEDS_DIR) -> None:
    directory.mkdir(parents=True, exist_ok=True)
    wanted = seed_files(examples)
    for stale in directory.glob("*.txt"):
        if stale.name not in wanted:
            stale.unlink()
    for name, data in wanted.items():
        target = directory / name
        if not target.exists() or target.read_bytes() != data:
            target.write_bytes(data)


def _engine():
    try:
        from kogane import Document
    except ImportError as err:
        sys.exit(f"examples: cannot import kogane ({err}); build it, e.g. "
                 "`bash tools/dev_python.sh build/dev` and PYTHONPATH=build/dev/pkg")
    return Document


def update(directory: Path = EXAMPLES_DIR) -> int:
    Document = _engine()
    changed = 0
    for path in corpus_files(directory):
        parsed = _parse(path)
        for piece in parsed.pieces:
            if isinstance(piece, Example):
                doc = Document(piece.source)
                html, reemitted = doc.to_html(), doc.to_source()
                if (html, reemitted) != (piece.html, piece.reemitted):
                    print(f"updated {piece.ident} ({path.name}:{piece.line}) {piece.title}")
                    changed += 1
                piece.html, piece.reemitted = html, reemitted
        text = _render(parsed)
        if path.read_text(encoding="utf-8") != text:
            path.write_text(text, encoding="utf-8")
    write_seeds(all_examples(directory))
    return changed


def check(directory: Path = EXAMPLES_DIR) -> int:
    Document = _engine()
    failures = 0
    examples = all_examples(directory)
    for e in examples:
        doc = Document(e.source)
        wrong = [
            name
            for name, got, want in (("html", doc.to_html(), e.html), ("source", doc.to_source(), e.reemitted))
            if got != want
        ]
        if wrong:
            failures += 1
            print(f"{e.path.name}:{e.line}: {e.ident} {e.title}: {', '.join(wrong)} differ")
    print(f"{len(examples) - failures} of {len(examples)} examples hold")
    return failures


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--update", action="store_true", help="rewrite the expected blocks from the engine")
    mode.add_argument("--seeds", action="store_true", help="only write the fuzz seeds")
    args = parser.parse_args(argv)
    try:
        if args.seeds:
            write_seeds(all_examples())
            return 0
        if args.update:
            print(f"{update()} examples changed")
            return 0
        return 1 if check() else 0
    except FormatError as err:
        print(f"examples: {err}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
