#!/usr/bin/env python3
"""Dump every output of the engine for a fixed set of inputs, and compare two dumps.

Used to show that a change (a refactor, a faster path) leaves every result
byte-identical:

    PYTHONPATH=build/before/pkg python3 tools/compare_outputs.py dump /tmp/out-before
    PYTHONPATH=build/after/pkg  python3 tools/compare_outputs.py dump /tmp/out-after
    python3 tools/compare_outputs.py compare /tmp/out-before /tmp/out-after

Inputs: generated books (bench/gen_corpus.py) at a few sizes and seeds, each
parsed from the UTF-8 text and from its Shift_JIS CR LF bytes; examples/;
fuzz/seeds (the minimised corpus included); every string literal holding
markup in tests/python and tests/cpp; any extra files or folders named with
--input. For each input the dump holds the HTML, every JSON view,
diagnostics_text and to_source, or the error the input raised, one file per
view under a folder named after the input. MANIFEST.tsv lists the inputs with
their SHA-256, so a comparison can tell changed outputs from changed inputs.

compare exits 0 when the dumps are identical, 1 otherwise, and names the
first differing file and byte.
"""

from __future__ import annotations

import argparse
import ast
import hashlib
import re
import sys
from pathlib import Path
from typing import Callable, Iterator

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))

VIEWS: list[tuple[str, str]] = [
    ("html", "to_html"),
    ("source", "to_source"),
    ("nodes.json", "nodes_json"),
    ("pairs.json", "pairs_json"),
    ("container_pairs.json", "container_pairs_json"),
    ("gaiji.json", "gaiji_json"),
    ("diagnostics.json", "diagnostics_json"),
    ("diagnostics.txt", "diagnostics_text"),
]
BOOK_SIZES = {"10k": 10_000, "100k": 100_000, "1m": 1_000_000}
BOOK_SEEDS = (1, 2, 7)
MARKUP = re.compile("[《》｜［］＃※〔〕「」]")
# A C++ string literal with no escapes other than \n and \".
CPP_LITERAL = re.compile(r'(?:u8)?"((?:[^"\\\n]|\\n|\\")*)"')


def test_literals() -> Iterator[tuple[str, str]]:
    """Markup written as string literals in the test suites, named by content so
    that a test added between two dumps shows up as a new input, not a shift."""
    seen: set[str] = set()

    def named(kind: str, text: str) -> Iterator[tuple[str, str]]:
        if MARKUP.search(text) and text not in seen:
            seen.add(text)
            yield f"tests-{kind}-{hashlib.sha1(text.encode('utf-8', 'surrogatepass')).hexdigest()[:16]}", text

    for path in sorted((ROOT / "tests" / "python").glob("*.py")):
        try:
            tree = ast.parse(path.read_text(encoding="utf-8"))
        except SyntaxError:
            continue
        for node in ast.walk(tree):
            if isinstance(node, ast.Constant) and isinstance(node.value, str):
                yield from named("py", node.value)
    for path in sorted((ROOT / "tests" / "cpp").glob("*.cpp")):
        for m in CPP_LITERAL.finditer(path.read_text(encoding="utf-8", errors="replace")):
            yield from named("cpp", m.group(1).replace("\\n", "\n").replace('\\"', '"'))


def _safe_name(rel: str) -> str:
    return rel.replace("/", "__")


def gather_inputs(extra: list[Path], with_books: bool = True) -> Iterator[tuple[str, bytes | str]]:
    """(name, input): str inputs go to Document(str), bytes to Document.from_bytes."""
    if with_books:
        import gen_corpus

        for seed in BOOK_SEEDS:
            for label, size in BOOK_SIZES.items():
                text = gen_corpus.generate_book(seed, size)
                yield f"book-{label}-s{seed}.utf8", text
                yield f"book-{label}-s{seed}.sjis", gen_corpus.to_sjis_crlf(text)
        yield "dense-100k.utf8", gen_corpus.generate(100_000, seed=7)
    yield from test_literals()
    roots = [ROOT / "examples", ROOT / "fuzz" / "seeds", *extra]
    for root in roots:
        files = sorted(p for p in root.rglob("*") if p.is_file()) if root.is_dir() else [root]
        for path in files:
            try:
                rel = str(path.resolve().relative_to(ROOT))
            except ValueError:
                rel = str(path.resolve()).lstrip("/")
            yield _safe_name(rel), path.read_bytes()


def _outputs(data: bytes | str) -> Iterator[tuple[str, str]]:
    import kogane

    try:
        doc = kogane.Document(data) if isinstance(data, str) else kogane.Document.from_bytes(data)
    except Exception as e:  # the error is itself a result to compare
        yield "error.txt", f"{type(e).__name__}: {e}\n"
        return
    for name, method in VIEWS:
        try:
            yield name, getattr(doc, method)()
        except Exception as e:
            yield name + ".error.txt", f"{type(e).__name__}: {e}\n"


def dump(out: Path, extra: list[Path], with_books: bool, progress: Callable[[str], None] | None = None) -> int:
    import kogane

    out.mkdir(parents=True, exist_ok=True)
    manifest = [f"# kogane {kogane.version()}\tname\tsha256 of the input"]
    count = 0
    for name, data in gather_inputs(extra, with_books):
        raw = data.encode("utf-8") if isinstance(data, str) else data
        manifest.append(f"{'str' if isinstance(data, str) else 'bytes'}\t{name}\t{hashlib.sha256(raw).hexdigest()}")
        folder = out / name
        folder.mkdir(parents=True, exist_ok=True)
        for view, text in _outputs(data):
            # surrogatepass: a lone surrogate in a view is dumped as found, not fatal
            (folder / view).write_bytes(text.encode("utf-8", errors="surrogatepass"))
        count += 1
        if progress and count % 500 == 0:
            progress(f"{count} inputs")
    (out / "MANIFEST.tsv").write_text("\n".join(manifest) + "\n", encoding="utf-8")
    return count


def _files(root: Path) -> list[str]:
    return sorted(str(p.relative_to(root)) for p in root.rglob("*") if p.is_file())


def _manifest(root: Path) -> dict[str, str]:
    out = {}
    path = root / "MANIFEST.tsv"
    if path.exists():
        for line in path.read_text(encoding="utf-8").splitlines():
            if line and not line.startswith("#"):
                _, name, digest = line.split("\t")
                out[name] = digest
    return out


def compare(a: Path, b: Path) -> int:
    ma, mb = _manifest(a), _manifest(b)
    changed_inputs = sorted(n for n in ma.keys() & mb.keys() if ma[n] != mb[n])
    if changed_inputs:
        print(f"warning: {len(changed_inputs)} inputs differ between the dumps, first: {changed_inputs[0]}")
    fa = [f for f in _files(a) if f != "MANIFEST.tsv"]
    fb = [f for f in _files(b) if f != "MANIFEST.tsv"]
    only_a, only_b = sorted(set(fa) - set(fb)), sorted(set(fb) - set(fa))
    differing = []
    for rel in sorted(set(fa) & set(fb)):
        da, db = (a / rel).read_bytes(), (b / rel).read_bytes()
        if da != db:
            differing.append((rel, da, db))
    if not (only_a or only_b or differing):
        print(f"identical: {len(fa)} files")
        return 0
    if only_a:
        print(f"{len(only_a)} files only in {a}, first: {only_a[0]}")
    if only_b:
        print(f"{len(only_b)} files only in {b}, first: {only_b[0]}")
    if differing:
        rel, da, db = differing[0]
        at = next((i for i, (x, y) in enumerate(zip(da, db)) if x != y), min(len(da), len(db)))
        line = da.count(b"\n", 0, at) + 1
        print(f"{len(differing)} files differ; first: {rel} at byte {at} (line {line}; "
              f"sizes {len(da)} and {len(db)})")
        lo = max(0, at - 60)
        print(f"  {a}: …{da[lo:at + 60].decode('utf-8', 'replace')!r}")
        print(f"  {b}: …{db[lo:at + 60].decode('utf-8', 'replace')!r}")
    return 1


def main(argv: list[str]) -> int:
    return command_line(argv, dump, "view", __doc__)


def command_line(argv: list[str], dump_fn, what: str, doc: str | None) -> int:
    """The dump / compare command of this tool and of its siblings."""
    ap = argparse.ArgumentParser(description=doc, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="command", required=True)
    d = sub.add_parser("dump", help=f"write every {what} of every input into OUTDIR")
    d.add_argument("outdir", type=Path)
    d.add_argument("--input", type=Path, action="append", default=[], help="extra file or folder (repeatable)")
    d.add_argument("--no-books", action="store_true", help="leave out the generated books")
    c = sub.add_parser("compare", help="compare two dumps")
    c.add_argument("a", type=Path)
    c.add_argument("b", type=Path)
    args = ap.parse_args(argv)
    if args.command == "dump":
        n = dump_fn(args.outdir, args.input, not args.no_books, progress=lambda s: print(s, file=sys.stderr))
        print(f"dumped {n} inputs to {args.outdir}")
        return 0
    return compare(args.a, args.b)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
