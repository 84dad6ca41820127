#!/usr/bin/env python3
"""Fuzzing seeds cut from generated real-like books.

    python3 fuzz/make_seeds.py            # rewrites fuzz/seeds/books/

Each book from the benchmark generator (bench/gen_corpus.py, imported at run
time, so re-running this after the generator changes picks up its new
books) is cut at line ends into pieces no longer than the fuzz pass's
-max_len, written as UTF-8 with LF, UTF-8 with CR LF, and Shift_JIS with
CR LF (as archive files are). Files are named by content hash, so a piece
that did not change keeps its name.
"""

from __future__ import annotations

import argparse
import hashlib
import shutil
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "bench"))

from gen_corpus import encode_sjis, generate  # noqa: E402

MAX_LEN = 8192  # keep in step with -max_len in tools/run_tests.sh


def pieces(text: str, limit: int) -> list[str]:
    """Consecutive runs of whole lines, each at most `limit` UTF-8 bytes
    (with CR LF line ends) and cut at varying lengths."""
    out: list[str] = []
    current: list[str] = []
    size = 0
    target = limit // 4
    for line in text.splitlines(keepends=True):
        n = len(line.encode("utf-8")) + 1
        if n > limit:
            continue
        if current and size + n > target:
            out.append("".join(current))
            current, size = [], 0
            target = limit // 4 if target >= limit else min(limit, target * 2)
        current.append(line)
        size += n
    if current:
        out.append("".join(current))
    return out


def variants(piece: str) -> list[bytes]:
    crlf = piece.replace("\n", "\r\n")
    out = [piece.encode("utf-8"), crlf.encode("utf-8")]
    try:
        out.append(encode_sjis(crlf))
    except (UnicodeEncodeError, ValueError):
        pass  # a character Shift_JIS cannot hold: the UTF-8 forms suffice
    return [b for b in out if len(b) <= MAX_LEN]


def main(argv: list[str]) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--out", type=Path, default=ROOT / "fuzz" / "seeds" / "books")
    ap.add_argument("--books", type=int, default=4, help="number of generated books (different seeds)")
    ap.add_argument("--size", type=int, default=48_000, help="bytes per generated book")
    args = ap.parse_args(argv)

    if args.out.exists():
        shutil.rmtree(args.out)
    args.out.mkdir(parents=True)
    written = 0
    for seed in range(1, args.books + 1):
        for piece in pieces(generate(args.size, seed=seed), MAX_LEN):
            for data in variants(piece):
                name = hashlib.sha1(data).hexdigest()
                (args.out / name).write_bytes(data)
                written += 1
    print(f"{written} seeds in {args.out.relative_to(ROOT)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
