#!/usr/bin/env python3
"""End-to-end benchmark of the installed kogane package.

    python3 bench/run_bench.py            # all sizes, all stages, pathological inputs
    python3 bench/run_bench.py --quick    # 10 KB and 1 MB only

For each input size it prints the throughput (MB/s of UTF-8 input) and the
peak memory growth of every stage seen from Python, with memcpy and
bytes.decode('cp932') of the same input measured in the same run for scale.
Then it times pathological inputs at n and 2n; the ratio should stay near 2.
Benchmarks are not tests: nothing here fails on a slow figure.
"""

from __future__ import annotations

import argparse
import ctypes
import gc
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import kogane  # noqa: E402
from gen_corpus import encode_sjis, generate  # noqa: E402


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


def measure(fn, budget: float = 1.0, min_runs: int = 3) -> tuple[float, int]:
    """Best wall time of `fn` and the peak resident growth of one call."""
    gc.collect()
    base = _read_status("VmRSS:")
    can_reset = _reset_peak()
    fn()
    peak = _read_status("VmHWM:") - base if can_reset else 0
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
    return best, max(peak, 0)


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


def run_sizes(sizes: list[tuple[str, int]], budget: float) -> None:
    kogane.prewarm()
    table: dict[str, dict[str, tuple[float, int]]] = {}
    names: list[str] = []
    for label, size in sizes:
        text = generate(size, seed=7).replace("\n", "\r\n")
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


def pathological(scale: int) -> dict[str, callable]:
    n = scale

    def nested(opener: str):
        return lambda k: opener * k

    def quotes(k: int) -> str:
        # k distinct quoted texts spread through filler text
        filler = "あいうえおかきくけこ" * 20
        return "".join(f"{filler}「語{i}」" for i in range(k))

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


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--quick", action="store_true", help="10 KB and 1 MB only, shorter timing")
    ap.add_argument("--no-pathological", action="store_true")
    args = ap.parse_args()
    if args.quick:
        sizes = [("10 KB", 10_000), ("1 MB", 1_000_000)]
        budget = 0.3
    else:
        sizes = [("10 KB", 10_000), ("100 KB", 100_000), ("1 MB", 1_000_000), ("5 MB", 5_000_000)]
        budget = 1.0
    print(f"kogane {kogane.version()} ({kogane.__version__}), Python {sys.version.split()[0]}")
    run_sizes(sizes, budget)
    if not args.no_pathological:
        run_pathological(100_000)
        run_hostile_sources(0.1 if args.quick else 1.0)
    return 0


if __name__ == "__main__":
    sys.exit(main())
