#!/usr/bin/env python3
"""What the reader formats cost on top of the engine.

    python3 bench/bench_formats.py                  # books of 100 KB, 1 MB and 5 MB
    python3 bench/bench_formats.py --sizes 100k,1m --repeat 5

For generated books that look like real ones (bench/gen_corpus.py), measured
in the same run:

* engine: Document(...) + to_html() of the header, body and colophon, the
  part every format needs; it is the yardstick;
* book: Book.from_text (finding the sections and the title);
* page: render_page; text: to_text; epub: build_epub.

Each figure is the best of --repeat runs. For each format the table gives
its MB/s (of UTF-8 input), its time as a multiple of the engine's, and the
Python share, (format - engine) / engine: what the layer adds to the
engine's work. Benchmarks are not tests: nothing here fails on a slow figure.
"""

from __future__ import annotations

import argparse
import datetime as dt
import gc
import sys
import time
from pathlib import Path
from typing import Callable

sys.path.insert(0, str(Path(__file__).resolve().parent))

import kogane  # noqa: E402
from gen_corpus import generate_book  # noqa: E402
from kogane.book import Book  # noqa: E402
from kogane.epub import build_epub  # noqa: E402
from kogane.pages import render_page  # noqa: E402
from kogane.text import to_text  # noqa: E402

SEED = 7
MODIFIED = dt.datetime(2024, 1, 1, tzinfo=dt.timezone.utc)


def _parse_sizes(spec: str) -> list[tuple[str, int]]:
    units = {"k": 1_000, "m": 1_000_000}
    out = []
    for item in spec.split(","):
        item = item.strip().lower()
        out.append((item.upper().replace("K", " KB").replace("M", " MB"), int(float(item[:-1]) * units[item[-1]])))
    return out


def best_of(fn: Callable[[], object], repeat: int) -> float:
    best = float("inf")
    for _ in range(repeat):
        gc.collect()
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def engine(book: Book) -> None:
    for part in (book.header, book.body, book.colophon):
        kogane.Document(part).to_html()


def main(argv: list[str]) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--sizes", default="100k,1m,5m", help="comma-separated sizes, e.g. 100k,1m,5m")
    ap.add_argument("--repeat", type=int, default=3, help="runs per figure; the best counts")
    ap.add_argument("--seed", type=int, default=SEED)
    args = ap.parse_args(argv)

    print(f"kogane {kogane.version()}, generated books (seed {args.seed}), best of {args.repeat}")
    header = f"{'book':>7} {'what':>6} {'ms':>9} {'MB/s':>7} {'× engine':>9} {'Python share':>13}"
    print(header)
    print("-" * len(header))
    for label, size in _parse_sizes(args.sizes):
        text = generate_book(args.seed, size)
        mb = len(text.encode("utf-8")) / 1e6
        book = Book.from_text(text, name="bench.txt")
        runs: list[tuple[str, Callable[[], object]]] = [
            ("engine", lambda: engine(book)),
            ("book", lambda: Book.from_text(text, name="bench.txt")),
            ("page", lambda: render_page(book)),
            ("text", lambda: to_text(book)),
            ("epub", lambda: build_epub(book, modified=MODIFIED)),
        ]
        base = None
        for what, fn in runs:
            seconds = best_of(fn, args.repeat)
            if base is None:
                base = seconds
            share = "" if what in ("engine", "book") else f"{(seconds - base) / base:12.2f}"
            print(f"{label:>7} {what:>6} {seconds * 1e3:9.1f} {mb / seconds:7.1f} {seconds / base:9.2f} {share:>13}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
