#!/usr/bin/env python3
"""What the reader formats cost on top of the engine.

    python3 bench/bench_formats.py                  # books of 100 KB, 1 MB and 5 MB
    python3 bench/bench_formats.py --sizes 100k,1m --repeat 5

For generated books that look like real ones (bench/gen_corpus.py), measured
in the same run:

* engine: Document(...) + to_html() of the header, body and colophon, the
  part every format needs; it is the yardstick;
* book: Book.from_text (finding the sections and the title);
* page: render_page; text: to_text; epub: build_epub;
* deflate: compressing the EPUB's members with zlib, as the zip writer does;
* all3: page, text and EPUB of one Book (it renders each section once).

Each figure is the best of --repeat rounds in which every run takes its
turn, in CPU time of this process (a machine shared with other work slows
the wall clock far more than it does that). For each format the table gives its MB/s (of UTF-8 input), its time as
a multiple of the engine's, and the Python share, (format - engine) /
engine: what the layer adds to the engine's work; for the EPUB also that
share without the time spent in zlib. Benchmarks are not tests: nothing here
fails on a slow figure.
"""

from __future__ import annotations

import argparse
import datetime as dt
import gc
import io
import sys
import time
from pathlib import Path
import zipfile
import zlib
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


def best_of_rounds(runs: dict[str, Callable[[Book], object]], text: str, repeat: int) -> dict[str, float]:
    """Best time of each run on a fresh Book of `text` (a Book keeps its
    fragments, so a second format from it would skip the engine). The runs
    take turns, so a busy machine slows them alike."""
    best = {name: float("inf") for name in runs}
    for _ in range(repeat):
        for name, fn in runs.items():
            book = Book.from_text(text, name="bench.txt")
            gc.collect()
            start = time.process_time()
            fn(book)
            best[name] = min(best[name], time.process_time() - start)
    return best


def deflate_members(epub: bytes) -> Callable[[], None]:
    """Compressing the EPUB's members as zipfile does: the part of build_epub
    spent in zlib rather than in Python."""
    with zipfile.ZipFile(io.BytesIO(epub)) as z:
        members = [(z.read(i), i.compress_type) for i in z.infolist()]

    def run(_: Book) -> None:
        for data, kind in members:
            if kind == zipfile.ZIP_DEFLATED:
                c = zlib.compressobj(zlib.Z_DEFAULT_COMPRESSION, zlib.DEFLATED, -15)
                c.compress(data)
                c.flush()

    return run


def engine(book: Book) -> None:
    for part in (book.header, book.body, book.colophon):
        kogane.Document(part).to_html()


def main(argv: list[str]) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--sizes", default="100k,1m,5m", help="comma-separated sizes, e.g. 100k,1m,5m")
    ap.add_argument("--repeat", type=int, default=5, help="rounds; the best run of each counts")
    ap.add_argument("--seed", type=int, default=SEED)
    args = ap.parse_args(argv)

    print(f"kogane {kogane.version()}, generated books (seed {args.seed}), best of {args.repeat} rounds")
    print("Python share: (format - engine) / engine; for epub also without the time zlib takes")
    header = f"{'book':>7} {'what':>7} {'ms':>9} {'MB/s':>7} {'× engine':>9} {'Python share':>13}"
    print(header)
    print("-" * len(header))
    for label, size in _parse_sizes(args.sizes):
        text = generate_book(args.seed, size)
        mb = len(text.encode("utf-8")) / 1e6
        epub = build_epub(Book.from_text(text, name="bench.txt"), modified=MODIFIED)
        runs: dict[str, Callable[[Book], object]] = {
            "engine": engine,
            "book": lambda _: Book.from_text(text, name="bench.txt"),
            "page": render_page,
            "text": to_text,
            "epub": lambda book: build_epub(book, modified=MODIFIED),
            "deflate": deflate_members(epub),
            "all3": lambda book: (render_page(book), to_text(book), build_epub(book, modified=MODIFIED)),
        }
        best = best_of_rounds(runs, text, args.repeat)
        base = best["engine"]
        for what, seconds in best.items():
            share = ""
            if what in ("page", "text", "epub", "all3"):
                share = f"{(seconds - base) / base:6.2f}"
            if what == "epub":
                share += f" ({(seconds - base - best['deflate']) / base:.2f})"
            print(f"{label:>7} {what:>7} {seconds * 1e3:9.1f} {mb / seconds:7.1f} {seconds / base:9.2f} {share:>13}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
