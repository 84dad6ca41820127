#!/usr/bin/env python3
"""End-to-end benchmark of the installed kogane package.

    python3 bench/run_bench.py                 # everything; books up to 50 MB
    python3 bench/run_bench.py --quick         # short: books of 100 KB and 1 MB, views at 10 KB and 1 MB
    python3 bench/run_bench.py --max-book 5m   # leave out the 50 MB book
    python3 bench/run_bench.py --dense         # per-view table on the dense synthetic text

Three sections:
1. Books that look like real books (bench/gen_corpus.py, Shift_JIS CR LF) at
   100 KB, 1 MB, 5 MB and 50 MB: MB/s of Shift_JIS input and time relative to
   bytes.decode('cp932') of the same bytes, measured in the same run, for
   Document.from_bytes and Document.from_bytes(b).to_html(); the peak memory
   growth of from_bytes + to_html (the returned str included) as a multiple
   of the UTF-8 size; how flat the throughput stays from 100 KB up.
2. Per view: throughput (MB/s of UTF-8 input) and peak memory growth of
   every stage seen from Python, with memcpy and bytes.decode('cp932') of the
   same input for scale.
3. Pathological inputs at n and 2n; the ratio should stay near 2.
4. The books of section 1 again, in a process that keeps the memory it frees
   for the next book (kogane.batch.keep_freed_memory(), glibc only), as the
   converting command and its workers run; --no-kept leaves it out.
Benchmarks are not tests: nothing here fails on a slow figure.
"""

from __future__ import annotations

import argparse
import ctypes
import gc
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import kogane  # noqa: E402
from kogane import batch  # noqa: E402
from gen_corpus import encode_sjis, generate, generate_book, to_sjis_crlf  # noqa: E402

BOOK_SEED = 7
BOOK_SIZES = [("100 KB", 100_000), ("1 MB", 1_000_000), ("5 MB", 5_000_000), ("50 MB", 50_000_000)]


def _read_status(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1]) * 1024
    return 0


def _reset_peak() -> bool:
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def _settle_heap() -> None:
    """Collects garbage and, with glibc, hands free heap memory back to the system.

    Otherwise a book that fits in memory the interpreter freed earlier and
    still holds reads as needing none: the growth measured would depend on
    what ran before, not on the book."""
    gc.collect()
    if batch._glibc():
        ctypes.CDLL(None).malloc_trim(0)


def _best_time(fn, budget: float, min_runs: int = 3) -> float:
    best = float("inf")
    runs = 0
    start = time.perf_counter()
    while runs < min_runs or time.perf_counter() - start < budget:
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
        runs += 1
        if runs >= 200:
            break
    return best


def measure(fn, budget: float = 1.0, min_runs: int = 3) -> tuple[float, int]:
    """Best wall time of `fn` and the peak resident growth of one call."""
    gc.collect()
    base = _read_status("VmRSS:")
    can_reset = _reset_peak()
    fn()
    peak = _read_status("VmHWM:") - base if can_reset else 0
    return _best_time(fn, budget, min_runs), max(peak, 0)


def stages(text: str, sjis: bytes):
    utf8 = text.encode("utf-8")
    doc = kogane.Document(text)
    buf = ctypes.create_string_buffer(len(utf8) + 1)
    return [
        ("memcpy", lambda: ctypes.memmove(buf, utf8, len(utf8))),
        ("bytes.decode('cp932')", lambda: sjis.decode("cp932")),
        ("Document.from_bytes(sjis)", lambda: kogane.Document.from_bytes(sjis)),
        ("Document(str)", lambda: kogane.Document(text)),
        ("parse_to_html", lambda: kogane.parse_to_html(text)),
        ("to_html", doc.to_html),
        ("to_source", doc.to_source),
        ("nodes_json", doc.nodes_json),
        ("pairs_json", doc.pairs_json),
        ("container_pairs_json", doc.container_pairs_json),
        ("gaiji_json", doc.gaiji_json),
        ("diagnostics_json", doc.diagnostics_json),
        ("diagnostics_text", doc.diagnostics_text),
    ]


def run_sizes(sizes: list[tuple[str, int]], budget: float, dense: bool = False) -> None:
    kogane.prewarm()
    table: dict[str, dict[str, tuple[float, int]]] = {}
    names: list[str] = []
    print()
    print("per view, on " + ("the dense synthetic text" if dense else "generated books (UTF-8 and Shift_JIS, CR LF)"))
    for label, size in sizes:
        text = (generate(size, seed=7) if dense else generate_book(BOOK_SEED, size)).replace("\n", "\r\n")
        sjis = encode_sjis(text)
        nbytes = len(text.encode("utf-8"))
        for name, fn in stages(text, sjis):
            secs, peak = measure(fn, budget)
            table.setdefault(name, {})[label] = (nbytes / secs / 1e6, peak)
            if name not in names:
                names.append(name)
    labels = [label for label, _ in sizes]
    print("throughput in MB/s of UTF-8 input (peak memory growth of one call)")
    print(f"{'stage':28}" + "".join(f"{label:>22}" for label in labels))
    for name in names:
        cells = []
        for label in labels:
            mbps, peak = table[name][label]
            cells.append(f"{mbps:10.1f} ({peak / 1e6:7.1f} MB)")
        print(f"{name:28}" + "".join(f"{c:>22}" for c in cells))


# ---------------------------------------------------------------------------
# Books that look like real books


_PEAK_CHILD = r"""
import gc, sys
sys.path[:0] = {path!r}
import kogane
from run_bench import _read_status, _reset_peak, _settle_heap
kogane.prewarm()
data = open({file!r}, "rb").read()
_settle_heap()
base = _read_status("VmRSS:")
if not _reset_peak():
    print(-1)
    sys.exit(0)
html = kogane.Document.from_bytes(data).to_html()
print(_read_status("VmHWM:") - base)
"""


_FLOOD_PEAK_CHILD = r"""
import gc, sys
sys.path[:0] = {path!r}
import kogane
from run_bench import _read_status, _reset_peak, _settle_heap
kogane.prewarm()
text = {prefix!r} + {unit!r} * ({size} // len({unit!r}.encode("utf-8"))) + {suffix!r}
_settle_heap()
base = _read_status("VmRSS:")
if not _reset_peak():
    print(-1)
    sys.exit(0)
doc = kogane.Document(text)
print(_read_status("VmHWM:") - base)
"""


def flood_parse_peak(unit: str, size: int, prefix: str = "", suffix: str = "") -> int | None:
    """Peak resident growth of parsing `unit` repeated to `size` bytes (between `prefix`
    and `suffix`), in a fresh interpreter."""
    code = _FLOOD_PEAK_CHILD.format(path=[str(Path(__file__).resolve().parent), *sys.path], unit=unit, size=size,
                                    prefix=prefix, suffix=suffix)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    peak = int(out.stdout.split()[-1])
    return None if peak < 0 else peak


def peak_growth_from_bytes_to_html(sjis: bytes) -> int | None:
    """Peak resident growth of Document.from_bytes(sjis).to_html(), the returned str included.

    Measured in a fresh interpreter: in this one the heap already holds memory
    freed by earlier runs, which a new peak would reuse without growing. There
    prewarm() has faulted in the engine's code, and the heap is settled first,
    so what grows is the book's own memory."""
    with tempfile.NamedTemporaryFile(suffix=".txt") as f:
        f.write(sjis)
        f.flush()
        code = _PEAK_CHILD.format(path=[str(Path(__file__).resolve().parent), *sys.path], file=f.name)
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    peak = int(out.stdout.split()[-1])
    return None if peak < 0 else peak


def book_figures(sjis: bytes, budget: float) -> dict[str, float]:
    """Times of the yardstick and the two paths, and the memory multiple, for one book.

    The three timings interleave call by call, each the best of its calls, so
    that a neighbour's load on a shared machine, which comes and goes over
    seconds, falls on all of them alike."""
    utf8_len = len(sjis.decode("cp932").encode("utf-8"))
    paths = {
        "decode": lambda: sjis.decode("cp932"),
        "from_bytes": lambda: kogane.Document.from_bytes(sjis),
        "to_html": lambda: kogane.Document.from_bytes(sjis).to_html(),
    }
    best = {name: float("inf") for name in paths}
    rounds = 0
    start = time.perf_counter()
    while rounds < 3 or (time.perf_counter() - start < budget and rounds < 200):
        for name, fn in paths.items():
            t0 = time.perf_counter()
            fn()
            best[name] = min(best[name], time.perf_counter() - t0)
        rounds += 1
    peak = peak_growth_from_bytes_to_html(sjis)
    return {
        "sjis_bytes": len(sjis),
        "utf8_bytes": utf8_len,
        **{f"t_{name}": t for name, t in best.items()},
        "peak": float("nan") if peak is None else peak,
    }


def run_books(sizes: list[tuple[str, int]], budget: float, process: str = "") -> dict[str, dict[str, float]]:
    kogane.prewarm()
    print()
    print(f"books that look like real books (gen_corpus seed {BOOK_SEED}, Shift_JIS CR LF){process}; "
          "MB/s of Shift_JIS input, time relative to bytes.decode('cp932') of the same bytes")
    print(f"{'book':>8} {'SJIS MB':>8} {'decode':>9} {'from_bytes':>18} {'from_bytes+to_html':>20} "
          f"{'peak memory growth':>26}")
    figures: dict[str, dict[str, float]] = {}
    for label, size in sizes:
        sjis = to_sjis_crlf(generate_book(BOOK_SEED, size))
        f = book_figures(sjis, budget)
        figures[label] = f
        mb = f["sjis_bytes"] / 1e6
        ratio_from = f["t_from_bytes"] / f["t_decode"]
        ratio_html = f["t_to_html"] / f["t_decode"]
        print(f"{label:>8} {mb:8.2f} {mb / f['t_decode']:6.0f}/s "
              f"{mb / f['t_from_bytes']:8.1f}/s x{ratio_from:5.2f} "
              f"{mb / f['t_to_html']:10.1f}/s x{ratio_html:5.2f} "
              f"{f['peak'] / 1e6:9.1f} MB = x{f['peak'] / f['utf8_bytes']:5.2f} of UTF-8")
    flatness(figures)
    return figures


def flatness(figures: dict[str, dict[str, float]]) -> None:
    """How far throughput strays across book sizes: slowest against fastest, per path."""
    if len(figures) < 2:
        return
    for path in ("from_bytes", "to_html"):
        rates = {label: f["sjis_bytes"] / f[f"t_{path}"] for label, f in figures.items()}
        lo, hi = min(rates.values()), max(rates.values())
        slowest, fastest = min(rates, key=rates.get), max(rates, key=rates.get)
        labels = list(figures)
        print(f"  {path:10} from {labels[0]} to {labels[-1]}: slowest ({slowest}) "
              f"{(1 - lo / hi) * 100:4.1f} % below fastest ({fastest})")



def pathological(scale: int) -> dict[str, callable]:
    n = scale

    def nested(opener: str):
        return lambda k: opener * k

    def quotes(k: int) -> str:
        # k distinct quoted texts spread through filler text
        filler = "あいうえおかきくけこ" * 20
        return "".join(f"{filler}「語{i}」" for i in range(k))

    def nested_quotes_missing_targets(k: int) -> str:
        # quotes nested k deep, then forward references whose targets are absent
        return "＃「" * k + "」" * k + "".join(f"［＃「無{i}」に傍点］" for i in range(5))

    def forward(k: int) -> str:
        return "".join(f"単語{i}［＃「単語{i}」に傍点］" for i in range(k))

    return {
        f"{n} 《": (nested("《"), n),
        f"{n} ［": (nested("［"), n),
        f"{n} 「": (nested("「"), n),
        f"{n} 〔": (nested("〔"), n),
        f"{n} ≪": (nested("≪"), n),
        f"{n} 」 stray": (nested("」"), n),
        f"{n} ］ stray": (nested("］"), n),
        f"{n} 「 then ］": (lambda k: "「" * k + "］" * k, n),
        f"{n} ［ then 」": (lambda k: "［" * k + "」" * k, n),
        "1 MB trigger line": (lambda k: ("｜《》≪≫［］＃※〔〕「」" * (k // 39 + 1))[: k // 3], 1_000_000),
        "1 MB ruby reading": (lambda k: "漢字《" + "よ" * (k // 3) + "》", 1_000_000),
        f"{n // 10} forward refs": (forward, n // 10),
        f"{n // 10} distinct quotes": (quotes, n // 10),
        f"{n} container opens": (lambda k: "［＃ここから２字下げ］\n" * k, n),
        f"{n // 10} nested quotes, missing targets": (nested_quotes_missing_targets, n // 10),
        # An opener the rest of the text never closes, or closes only at
        # its end, over lines: the classifier must not hold what follows.
        f"《 then {n} lines": (lambda k: "《" + "x\n" * k, n),
        f"［《 then {n} lines then ］": (lambda k: "［《" + "x\n" * k + "］", n),
    }


def run_pathological(scale: int) -> None:
    print()
    print("pathological inputs, parse_to_html: time at n and 2n (ratio near 2 means linear)")
    for name, (make, n) in pathological(scale).items():
        times = []
        for k in (n, 2 * n):
            text = make(k)
            best = float("inf")
            for _ in range(3):  # best of three: single runs are noisy on a shared machine
                t0 = time.perf_counter()
                kogane.parse_to_html(text)
                best = min(best, time.perf_counter() - t0)
            times.append(best)
        ratio = times[1] / times[0] if times[0] > 0 else float("nan")
        print(f"  {name:24} n: {times[0] * 1e3:9.1f} ms   2n: {times[1] * 1e3:9.1f} ms   ratio {ratio:4.2f}")


def _peak_growth(fn) -> int:
    """Peak resident growth of one call (0 where the kernel cannot reset it)."""
    gc.collect()
    base = _read_status("VmRSS:")
    if not _reset_peak():
        fn()
        return 0
    fn()
    return max(_read_status("VmHWM:") - base, 0)


def _best_of(fn, runs: int = 3) -> float:
    best = float("inf")
    for _ in range(runs):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


VIEWS = ["pairs_json", "nodes_json", "diagnostics_json", "container_pairs_json", "diagnostics_text", "gaiji_json"]


def run_hostile_sources(scale: float = 1.0) -> None:
    """CR LF sources and floods of diagnostics: every view at n and 2n, and
    peak memory as a multiple of the input."""
    print()
    print("hostile sources: time at n and 2n (ratio near 2 means linear), peak memory / input bytes")

    def views(make):
        # Views are built once per document and cached, so every timed run
        # gets a fresh document, parsed (and its text generated) untimed.
        def at(k):
            text = make(k)
            docs = [kogane.Document(text) for _ in range(3)]

            def run():
                doc = docs.pop()
                for view in VIEWS:
                    getattr(doc, view)()

            return run

        return at

    def parse(make):
        def at(k):
            text = make(k)
            return lambda: kogane.Document(text)

        return at

    def book(k: int) -> str:
        return generate(k, seed=7)

    cases = [
        ("[ CR LF lines: views", views(lambda k: "［\r\n" * (k // 5)), int(800_000 * scale)),
        ("[ LF lines: views", views(lambda k: "［\n" * (k // 4)), int(800_000 * scale)),
        ("CR LF book: views", views(lambda k: book(k).replace("\n", "\r\n")), int(8_000_000 * scale)),
        ("LF book: views", views(book), int(8_000_000 * scale)),
        ("unclosed [ line: parse", parse(lambda k: "［" * (k // 3)), int(50_000_000 * scale)),
    ]
    for name, make, n in cases:
        times = []
        for k in (n, 2 * n):
            run = make(k)
            times.append(_best_of(run, runs=1 if k >= 20_000_000 else 3))
            del run
        ratio = times[1] / times[0] if times[0] > 0 else float("nan")
        print(f"  {name:26} n={n / 1e6:5.1f} MB: {times[0] * 1e3:9.1f} ms   2n: {times[1] * 1e3:9.1f} ms   ratio {ratio:4.2f}")

    # Peak memory of the flood at n: the parse, then its text report.
    n = int(50_000_000 * scale)
    text = "［" * (n // 3)
    size = len(text.encode("utf-8"))
    holder = {}
    parse_peak = _peak_growth(lambda: holder.setdefault("doc", kogane.Document(text)))
    report_peak = _peak_growth(lambda: holder["doc"].diagnostics_text())
    print(f"  unclosed [ line, {size / 1e6:.0f} MB: parse peak {parse_peak / size:5.1f}x input, "
          f"diagnostics_text peak {report_peak / size:5.1f}x input")
    del holder

    # Peak memory per input byte is worst where a record is made for every
    # few bytes of input and no per-document limit applies yet: floods of
    # short lines and of brackets at a few MB.
    floods = [
        ("unclosed [", "［"),
        ("unclosed [ lines", "［\n"),
        ("lines of one letter", "x\n"),
        ("empty lines", "\n"),
        ("unclosed 《", "《"),
        ("unmatched ]", "］"),
        ("unclosed 《 lines", "《\n"),
        ("rubies x《y》", "x《y》"),
        ("angle quotes ≪x≫", "≪x≫"),
        ("kaeriten x［＃二］", "x［＃二］"),
        ("tortoise accents 〔e`〕", "〔e`〕\n"),
        # One opener, then lines: it never closes, or closes at the end.
        ("《 then empty lines", "\n", "《", ""),
        ("x《 then lines", "x\n", "x《", ""),
        ("≪ then empty lines", "\n", "≪", ""),
        ("［＃「 then empty lines", "\n", "［＃「", ""),
        ("《, lines, 》", "\n", "《", "》"),
        ("［《, lines, ］", "\n", "［《", "］"),
    ]
    # Each in a fresh interpreter: this one's heap holds memory freed by the
    # cases before, which a parse would reuse (or fragment) instead.
    n = 3_000_000
    for name, unit, *around in floods:
        prefix, suffix = around or ("", "")
        size = len((prefix + unit * (n // len(unit.encode("utf-8"))) + suffix).encode("utf-8"))
        peak = flood_parse_peak(unit, n, prefix, suffix)
        shown = "n/a" if peak is None else f"{peak / size:5.1f}x input"
        print(f"  {name:26} {size / 1e6:5.1f} MB: parse peak {shown}")


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--quick", action="store_true", help="small sizes only, shorter timing")
    ap.add_argument("--max-book", choices=["100k", "1m", "5m", "50m"], default="50m",
                    help="largest generated book in the books section")
    ap.add_argument("--dense", action="store_true", help="per-view table on the dense synthetic text")
    ap.add_argument("--no-books", action="store_true")
    ap.add_argument("--no-views", action="store_true")
    ap.add_argument("--no-pathological", action="store_true")
    ap.add_argument("--no-kept", action="store_true",
                    help="leave out the books again in a process that keeps freed memory")
    args = ap.parse_args()
    limit = {"100k": 100_000, "1m": 1_000_000, "5m": 5_000_000, "50m": 50_000_000}[args.max_book]
    if args.quick:
        sizes = [("10 KB", 10_000), ("1 MB", 1_000_000)]
        books = [b for b in BOOK_SIZES if b[1] <= min(limit, 1_000_000)]
        budget = 0.3
    else:
        sizes = [("10 KB", 10_000), ("100 KB", 100_000), ("1 MB", 1_000_000), ("5 MB", 5_000_000)]
        books = [b for b in BOOK_SIZES if b[1] <= limit]
        budget = 1.0
    print(f"kogane {kogane.version()} ({kogane.__version__}), Python {sys.version.split()[0]}")
    if not args.no_books:
        run_books(books, 3 * budget)
    if not args.no_views:
        run_sizes(sizes, budget, dense=args.dense)
    if not args.no_pathological:
        run_pathological(100_000)
        run_hostile_sources(0.1 if args.quick else 1.0)
    # Last, as it cannot be undone: the same books in a process that keeps
    # the memory it frees, as the converting command and its workers run.
    if not args.no_books and not args.no_kept and batch.keep_freed_memory():
        run_books(books, 3 * budget, process=", in a process that keeps freed memory (as the command runs)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
