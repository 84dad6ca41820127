#!/usr/bin/env python3
"""Dump every reader format of a fixed set of books, and compare two dumps.

Used to show that a change to the page, text or EPUB layers (a faster path,
a refactor) leaves every output byte-identical:

    PYTHONPATH=build/before/pkg python3 tools/compare_formats.py dump /tmp/formats-before
    PYTHONPATH=build/after/pkg  python3 tools/compare_formats.py dump /tmp/formats-after
    python3 tools/compare_formats.py compare /tmp/formats-before /tmp/formats-after

Inputs are those of tools/compare_outputs.py (generated books at a few sizes
and seeds as UTF-8 text and Shift_JIS CR LF bytes, the dense synthetic text,
examples/, fuzz/seeds, every markup literal of the test suites), plus
docs/sample-book.txt and a few generated books packed as .zip archives
(some with their illustrations). For each input the dump holds the book's
sections and metadata, the page (vertical and horizontal, notes off and on),
the text (each option and their combinations), the EPUB (notes off and on,
fixed modification time) and every warning, or the error a step raised.
"""

from __future__ import annotations

import datetime as dt
import hashlib
import os
import sys
import tempfile
import zipfile
from pathlib import Path
from typing import Callable, Iterator

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(ROOT / "bench"))

from compare_outputs import command_line, gather_inputs  # noqa: E402

MODIFIED = dt.datetime(2024, 1, 2, 3, 4, 5, tzinfo=dt.timezone.utc)
PAGE_OPTIONS = {
    "page-vertical": dict(),
    "page-vertical-notes": dict(notes=True),
    "page-horizontal": dict(horizontal=True),
    "page-horizontal-notes": dict(horizontal=True, notes=True),
}
TEXT_OPTIONS = {
    f"text{'-ruby' * r}{'-gaiji' * g}{'-full' * f}": dict(ruby=bool(r), gaiji_descriptions=bool(g), full=bool(f))
    for r in (0, 1)
    for g in (0, 1)
    for f in (0, 1)
}
EPUB_OPTIONS = {"epub": dict(), "epub-notes": dict(notes=True)}
LIBRARY = (8, 4)  # books, seed: a library draw where about half are archives
ILLUSTRATED = ((5, 120_000), (9, 120_000))  # (seed, size) of books with illustrations


def _archives(folder: Path) -> Iterator[tuple[str, Path]]:
    """Archives as distributed: library books, and illustrated books packed
    with their images so the EPUB has pictures to carry."""
    import gen_corpus

    for rel, data in gen_corpus.generate_library(*LIBRARY):
        if rel.endswith(".zip"):
            path = folder / rel.replace("/", "__")
            path.write_bytes(data)
            yield "library__" + path.name, path
    for seed, size in ILLUSTRATED:
        book = gen_corpus.generate_book_facts(seed, size)
        path = folder / f"illustrated-s{seed}.zip"
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr(f"illustrated-s{seed}/book.txt", gen_corpus.to_sjis_crlf(book.text))
            for fig in book.illustrations:
                z.writestr(f"illustrated-s{seed}/{fig.file}", gen_corpus.TINY_PNG)
        yield path.name, path


def _archive_digest(path: Path) -> str:
    """SHA-256 of the members (an archive's own bytes hold the time it was made)."""
    digest = hashlib.sha256()
    with zipfile.ZipFile(path) as z:
        for info in sorted(z.infolist(), key=lambda i: i.filename):
            digest.update(info.filename.encode() + b"\0" + hashlib.sha256(z.read(info)).digest())
    return digest.hexdigest()


def _sha256(data: bytes | str) -> str:
    return hashlib.sha256(data.encode("utf-8", "surrogatepass") if isinstance(data, str) else data).hexdigest()


def gather_books(extra: list[Path], with_books: bool, folder: Path) -> Iterator[tuple[str, str, Callable]]:
    """(name, SHA-256 of the input, function making the Book): the Book is
    made inside the dump so that a refusal is recorded as that input's result."""
    from kogane.book import Book

    for name, data in gather_inputs(extra, with_books):
        if isinstance(data, str):
            yield name, _sha256(data), (lambda d=data, n=name: Book.from_text(d, name=f"{n}.txt"))
        else:
            yield name, _sha256(data), (lambda d=data, n=name: Book.from_bytes(d, name=n))
    sample = ROOT / "docs" / "sample-book.txt"
    if sample.exists():
        yield "docs__sample-book.txt", _sha256(sample.read_bytes()), lambda: Book.from_path(sample)
    if with_books:
        for name, path in _archives(folder):
            yield name, _archive_digest(path), (lambda p=path: Book.from_path(p))


def _failure(e: BaseException) -> str:
    return f"{type(e).__name__}: {e}\n"


def _outputs(make_book: Callable) -> Iterator[tuple[str, bytes]]:
    from kogane.epub import build_epub
    from kogane.pages import render_page
    from kogane.text import to_text

    try:
        book = make_book()
    except Exception as e:  # a refusal is itself a result to compare
        yield "book.error.txt", _failure(e).encode()
        return
    facts = [
        f"name\t{book.name}", f"encoding\t{book.encoding}", f"title\t{book.title}",
        f"subtitle\t{book.subtitle}", f"authors\t{book.authors!r}", f"contributors\t{book.contributors!r}",
        f"notes\t{book.notes!r}", f"images\t{sorted(book.images)!r}",
        f"sections\t{len(book.header)} {len(book.notation)} {len(book.body)} {len(book.colophon)}",
    ]
    yield "book.txt", "\n".join(facts).encode("utf-8", "surrogatepass") + b"\n"
    runs: list[tuple[str, Callable[[list[str]], str | bytes]]] = []
    runs += [(k, lambda w, o=o: render_page(book, warnings=w, **o)) for k, o in PAGE_OPTIONS.items()]
    runs += [(k, lambda w, o=o: to_text(book, **o)) for k, o in TEXT_OPTIONS.items()]
    runs += [(k, lambda w, o=o: build_epub(book, warnings=w, modified=MODIFIED, **o)) for k, o in EPUB_OPTIONS.items()]
    for key, run in runs:
        warnings: list[str] = []
        try:
            result = run(warnings)
        except Exception as e:
            yield key + ".error.txt", _failure(e).encode("utf-8", "surrogatepass")
            continue
        raw = result if isinstance(result, bytes) else result.encode("utf-8", "surrogatepass")
        yield key + (".epub" if key.startswith("epub") else ".html" if key.startswith("page") else ".txt"), raw
        if warnings:
            yield key + ".warnings.txt", "\n".join(warnings).encode("utf-8", "surrogatepass") + b"\n"


def _dump_books(out: Path, extra: list[Path], with_books: bool, manifest: list[str],
                progress: Callable[[str], None] | None) -> None:
    for name, digest, make_book in gather_books(extra, with_books, Path(".")):
        folder = out / name
        folder.mkdir(parents=True, exist_ok=True)
        for file, raw in _outputs(make_book):
            (folder / file).write_bytes(raw)
        manifest.append(f"input\t{name}\t{digest}")
        if progress and (len(manifest) - 1) % 500 == 0:
            progress(f"{len(manifest) - 1} inputs")


def dump(out: Path, extra: list[Path], with_books: bool, progress: Callable[[str], None] | None = None) -> int:
    import kogane

    out = out.resolve()
    out.mkdir(parents=True, exist_ok=True)
    extra = [p.resolve() for p in extra]
    manifest = [f"# kogane {kogane.version()}\tname\tsha256 of the input"]
    here = os.getcwd()
    with tempfile.TemporaryDirectory() as tmp:
        # Archives are read by a relative path, so the names in the outputs
        # do not depend on where the temporary folder is.
        os.chdir(tmp)
        try:
            _dump_books(out, extra, with_books, manifest, progress)
        finally:
            os.chdir(here)
    (out / "MANIFEST.tsv").write_text("\n".join(manifest) + "\n", encoding="utf-8")
    return len(manifest) - 1


def main(argv: list[str]) -> int:
    return command_line(argv, dump, "format", __doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
