#!/usr/bin/env python3
"""Speed of converting a whole library with the kogane command.

Generates a library of N books (Shift_JIS, CR LF; some as .zip archives)
whose sizes follow those of real book files, then converts it with
``kogane convert --to page`` at --jobs 2 and --jobs 1 and reports books/s and
MB/s. To see what the command costs around the engine, the command's units
of work (tasks of a few books) are also run in a separate process twice,
back to back: from the files to the output files, and from the books' bytes
already in memory to outputs kept in memory. Those pairs give the share of
a task that files cost; the command's run itself (its tasks timed) gives
what it spends around them: starting, walking the folder, handling the
results. CPU times of whole runs made at different times differ by a
tenth on a shared machine, too much to take the overhead as their difference.

    python3 bench/bench_library.py                 # 10,000 books (about 500 MB)
    python3 bench/bench_library.py --books 300     # a quick run
    python3 bench/bench_library.py --to html       # another format
    python3 bench/bench_library.py --dir LIB --limit 1000   # the first 1,000 books of a library

The library is kept under build/library-N-SEED and reused by later runs.
Needs the installed package (pip install .) or PYTHONPATH pointing at a
staged one.
"""

from __future__ import annotations

import argparse
import bisect
import io
import json
import math
import os
import random
import resource
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path
from typing import Iterator

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import gen_corpus  # noqa: E402

PROFILE = HERE.parent / "data" / "markup-profile.json"

# Quantiles of the UTF-8 size of real book files (bytes): the profile's
# figures, kept here so the benchmark runs where the profile is not copied.
SIZE_QUANTILES = [
    (0.00, 400),
    (0.10, 2542),
    (0.25, 6313),
    (0.50, 16175),
    (0.75, 39576),
    (0.90, 86708),
    (0.99, 618229),
    (1.00, 3169110),
]


def _quantiles() -> list[tuple[float, int]]:
    if PROFILE.exists():
        sizes = json.loads(PROFILE.read_text(encoding="utf-8")).get("file_size_utf8_bytes", {})
        keys = [("p10", 0.10), ("p25", 0.25), ("p50", 0.50), ("p75", 0.75), ("p90", 0.90), ("p99", 0.99), ("max", 1.0)]
        if all(k in sizes for k, _ in keys):
            return [(0.0, 400)] + [(q, int(sizes[k])) for k, q in keys]
    return SIZE_QUANTILES


def _sample_size(rng: random.Random, quantiles: list[tuple[float, int]]) -> int:
    """A size drawn from the quantiles, log-linear between them."""
    u = rng.random()
    qs = [q for q, _ in quantiles]
    i = max(1, bisect.bisect_right(qs, u))
    (q0, s0), (q1, s1) = quantiles[i - 1], quantiles[min(i, len(quantiles) - 1)]
    t = 0.0 if q1 == q0 else (u - q0) / (q1 - q0)
    return int(math.exp(math.log(s0) + t * (math.log(s1) - math.log(s0))))


def _fallback_library(n_books: int, seed: int) -> Iterator[tuple[str, bytes]]:
    """TEMPORARY stand-in for gen_corpus.generate_library until it lands:
    sizes from the profile, texts from gen_corpus.generate, one book in ten
    as a .zip archive as distributed."""
    rng = random.Random(seed)
    quantiles = _quantiles()
    for i in range(n_books):
        size = _sample_size(rng, quantiles)
        # gen_corpus.generate counts UTF-8 bytes; the texts are Shift_JIS.
        text = gen_corpus.generate(size, seed=seed * 1_000_003 + i).replace("\n", "\r\n")
        data = gen_corpus.encode_sjis(text)
        folder = f"{i % 97:02d}"
        if rng.random() < 0.1:
            buf = io.BytesIO()
            with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
                z.writestr(f"book{i:05d}/book{i:05d}.txt", data)
            yield f"{folder}/book{i:05d}.zip", buf.getvalue()
        else:
            yield f"{folder}/book{i:05d}.txt", data


def generate_library(n_books: int, seed: int) -> Iterator[tuple[str, bytes]]:
    make = getattr(gen_corpus, "generate_library", None)
    return make(n_books, seed) if make is not None else _fallback_library(n_books, seed)


def ensure_library(root: Path, n_books: int, seed: int) -> tuple[int, int]:
    """Writes the library unless a complete one is there; returns (books, bytes)."""
    marker = root / ".complete"
    if marker.exists():
        books, size = map(int, marker.read_text().split())
        return books, size
    if root.exists():
        shutil.rmtree(root)
    books = size = 0
    start = time.perf_counter()
    for rel, data in generate_library(n_books, seed):
        path = root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        books += 1
        size += len(data)
    marker.write_text(f"{books} {size}\n")
    print(f"generated {books} books, {size / 1e6:.1f} MB in {time.perf_counter() - start:.1f} s -> {root}")
    return books, size


def _book_files(root: Path) -> list[Path]:
    """The book files of a library in path order, as the command walks it."""
    found: list[Path] = []
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        found.extend(Path(folder) / name for name in sorted(files)
                     if not name.startswith(".") and name.lower().endswith((".txt", ".zip")))
    return found


def _mirror(books: list[Path], root: Path, where: Path) -> tuple[Path, int, int]:
    """A folder at `where` of symbolic links to `books` (files under `root`),
    so the library itself stays untouched; returns (folder, books, bytes)."""
    if where.exists():
        shutil.rmtree(where)
    size = 0
    for source in books:
        link = where / source.relative_to(root)
        link.parent.mkdir(parents=True, exist_ok=True)
        link.symlink_to(source)
        size += source.stat().st_size
    return where, len(books), size


def first_books(root: Path, limit: int, where: Path) -> tuple[Path, int, int]:
    """A folder at `where` that mirrors the first `limit` books of `root` (in
    path order); returns (folder, books, bytes)."""
    return _mirror(_book_files(root)[:limit], root, where)


def _book_bytes(path: Path) -> bytes:
    if path.suffix.lower() != ".zip":
        return path.read_bytes()
    with zipfile.ZipFile(path) as z:
        info = max((i for i in z.infolist() if i.filename.lower().endswith(".txt")), key=lambda i: i.file_size)
        return z.read(info)


def paired(root: Path, out: Path, to: str) -> dict[str, float]:
    """The command's units of work (tasks: a few books read, converted and
    written) run in a fresh process set up as the command is, each task once
    from the files to the output files and once from the books' bytes
    already in memory to outputs kept in memory. The two ways take turns
    task by task, every other task one way in a first round and the other
    way in a second, so that a change in the machine's speed (other
    processes, a neighbour on the host) reaches both alike, and no book is
    converted right after itself (its data still in the caches), which the
    command never does either."""
    cmd = [sys.executable, str(Path(__file__).resolve()), "--paired-child", str(root), str(out), to]
    r = subprocess.run(cmd, stdout=subprocess.PIPE, check=True)
    return json.loads(r.stdout)


def _paired_child(root: str, out: str, to: str) -> None:
    from dataclasses import replace

    from kogane import Document, batch
    from kogane.batch import Format, FormatOptions, convert_book, plan

    batch.keep_freed_memory()  # as the command does for itself
    clock = time.process_time
    written = [0.0]
    write_atomic = batch.write_atomic

    def timed_write(path, data):
        t = clock()
        try:
            write_atomic(path, data)
        finally:
            written[0] += clock() - t

    batch.write_atomic = timed_write
    fmt = Format(to)
    jobs = plan([root], fmt, out)
    shutil.rmtree(out, ignore_errors=True)  # written into an empty folder, as the command does
    tasks = list(batch._tasks(jobs, 1, fmt, FormatOptions(), False))  # as the command's --jobs 1 run makes them
    files, memory, writes = [0.0] * len(tasks), [0.0] * len(tasks), [0.0] * len(tasks)
    engine = 0.0
    text = 0
    # Lazy imports, compiled patterns and caches are paid once, before either
    # leg is timed, so that neither carries them.
    for job in tasks[0].jobs if tasks else ():
        convert_book(replace(job, target=None), fmt, data=_book_bytes(Path(job.source)))
    for round_ in (0, 1):
        for i, task in enumerate(tasks):
            if (i + round_) % 2 == 0:
                written[0] = 0.0
                t = clock()
                results = batch._run_task(task)
                files[i] = clock() - t
                writes[i] = written[0]
                blobs = [_book_bytes(Path(job.source)) for job in task.jobs] if round_ == 0 else []
            else:
                blobs = [_book_bytes(Path(job.source)) for job in task.jobs]
                t = clock()
                results = [convert_book(replace(job, target=None), fmt, data=data)
                           for job, data in zip(task.jobs, blobs)]
                memory[i] = clock() - t
            failed = [r.error for r in results if r.error]
            if failed:
                raise SystemExit(f"conversion failed: {failed[0]}")
            if round_ == 0:
                text += sum(len(b) for b in blobs)
                t = clock()
                for data in blobs:
                    Document.from_bytes(data).to_html()
                engine += clock() - t
    json.dump({"files": files, "memory": memory, "write": writes, "engine": engine, "text_mb": text / 1e6}, sys.stdout)


def _fastest_pairs(runs: list[dict]) -> dict[str, float]:
    """Sums over the tasks of each task's fastest leg among the runs: a burst
    of someone else's work slows a few tasks of one run, not the same tasks
    of every run."""
    tasks = range(len(runs[0]["files"]))
    return {
        "files": sum(min(r["files"][t] for r in runs) for t in tasks),
        "memory": sum(min(r["memory"][t] for r in runs) for t in tasks),
        "write": sum(min(r["write"][t] for r in runs) for t in tasks),
        "engine": min(r["engine"] for r in runs),
        "text_mb": runs[0]["text_mb"],
    }


# Runs the command with its tasks timed, so that what it spends around them
# (start-up, walking the folder, handling the results, the summary) is
# known from the same run. Two clock reads per task.
_TIMED_COMMAND = """
import sys, time
import kogane.batch as batch
spent = 0.0
def timed(step):
    def run(*args, **kwargs):
        global spent
        t = time.process_time()
        try:
            return step(*args, **kwargs)
        finally:
            spent += time.process_time() - t
    return run
# A run in one process goes through tasks, whose books do not pass through
# convert_book; earlier versions called convert_book book by book.
batch._run_task = timed(batch._run_task)
batch.convert_book = timed(batch.convert_book)
from kogane.cli import main
status = main(sys.argv[2:])
with open(sys.argv[1], "w") as f:
    f.write(repr(spent))
sys.exit(status)
"""


def start_up_cpu() -> float:
    """CPU time of starting the command that does nothing (imports, argument parsing)."""
    cpu = _children_cpu()
    subprocess.run([sys.executable, "-m", "kogane", "--version"], stdout=subprocess.DEVNULL, check=True)
    return _children_cpu() - cpu


def _children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def _children_system() -> float:
    return resource.getrusage(resource.RUSAGE_CHILDREN).ru_stime


def run_command(root: Path, out: Path, to: str, jobs: int, timed: bool = False) -> tuple[float, float, float, float]:
    """(wall seconds, CPU seconds of the command and its workers, of which in
    the kernel, CPU seconds of its tasks when `timed`)."""
    if out.exists():
        shutil.rmtree(out)
    args = ["convert", str(root), "--to", to, "-o", str(out), "--jobs", str(jobs), "--no-progress", "-q"]
    steps_file = out.parent / (out.name + "-steps")
    cmd = [sys.executable, "-c", _TIMED_COMMAND, str(steps_file)] if timed else [sys.executable, "-m", "kogane"]
    cpu, system = _children_cpu(), _children_system()
    start = time.perf_counter()
    r = subprocess.run(cmd + args, stderr=subprocess.PIPE, check=False)
    seconds = time.perf_counter() - start
    cpu, system = _children_cpu() - cpu, _children_system() - system
    if r.returncode != 0:
        sys.stderr.write(r.stderr.decode("utf-8", "replace"))
        raise SystemExit(f"kogane convert failed with status {r.returncode}")
    steps = float(steps_file.read_text()) if timed else 0.0
    if timed:
        steps_file.unlink()
    return seconds, cpu, system, steps


def io_floor(root: Path, out: Path) -> dict[str, float]:
    """CPU time of plain reads of every input (unpacking the text of an
    archive) and plain writes of every output: what any converter pays, the
    yardstick for the command's I/O."""
    inputs = sorted(p for p in root.rglob("*") if p.is_file() and p.name[0] != ".")
    start = time.process_time()
    for p in inputs:
        if p.suffix.lower() == ".zip":
            _book_bytes(p)
        else:
            with open(p, "rb") as f:
                f.read()
    read = time.process_time() - start
    outputs = [(p.relative_to(out), p.read_bytes()) for p in sorted(out.rglob("*")) if p.is_file()]
    floor = out.parent / (out.name + "-floor")
    if floor.exists():
        shutil.rmtree(floor)
    start = time.process_time()
    for rel, data in outputs:
        target = floor / rel
        try:
            f = open(target, "wb")
        except FileNotFoundError:
            target.parent.mkdir(parents=True, exist_ok=True)
            f = open(target, "wb")
        with f:
            f.write(data)
    write = time.process_time() - start
    shutil.rmtree(floor)
    return {"read": read, "write": write}


def _autogroup_note(jobs1_wall: float, jobs2_wall: float) -> str | None:
    """Why --jobs 2 may not beat --jobs 1 in wall time on a busy machine."""
    try:
        autogroup = Path("/proc/sys/kernel/sched_autogroup_enabled").read_text().strip() == "1"
    except OSError:
        autogroup = False
    load, cores = os.getloadavg()[0], os.cpu_count() or 1
    if jobs2_wall < jobs1_wall * 0.8 or load < cores:
        return None
    note = f"the machine is busy (load {load:.1f} on {cores} cores)"
    if autogroup:
        note += ("; the kernel groups processes by session (autogroup) and gives each session one share of "
                 "the CPU, so the workers of --jobs 2 split the share --jobs 1 has to itself")
    return "wall times say little here: " + note


def main(argv: list[str]) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--books", type=int, default=10_000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--to", default="page")
    ap.add_argument("--dir", type=Path, default=None, help="where the library is kept (default build/library-N-SEED)")
    ap.add_argument("--limit", type=int, default=None, help="convert only the first N books of the library")
    ap.add_argument("--repeat", type=int, default=2, help="runs of each measurement; the fastest counts (shared machines)")
    ap.add_argument("--out", type=Path, default=None, help="where the outputs go (default beside the library; try /dev/shm)")
    ap.add_argument("--keep-output", action="store_true")
    ap.add_argument("--paired-child", nargs=3, help=argparse.SUPPRESS)
    args = ap.parse_args(argv)
    if args.paired_child:
        _paired_child(*args.paired_child)
        return 0

    library = args.dir or HERE.parent / "build" / f"library-{args.books}-{args.seed}"
    books, size = ensure_library(library, args.books, args.seed)
    out = args.out or library.parent / (library.name + "-out")
    root = library
    subset = None
    if args.limit is not None and args.limit < books:
        subset = out.parent / (out.name + f"-first{args.limit}")
        root, books, size = first_books(library, args.limit, subset)
    mb = size / 1e6

    try:
        from kogane.batch import default_workers

        # The measurements take turns, so that a change in the machine's load
        # reaches all of them alike; the fastest of each counts.
        runs: dict[str, list] = {"jobs2": [], "jobs1": [], "paired": []}
        for _ in range(max(1, args.repeat)):
            runs["jobs2"].append(run_command(root, out, args.to, 2))
            runs["jobs1"].append(run_command(root, out, args.to, 1, timed=True))
            runs["paired"].append(paired(root, out, args.to))
        jobs2 = min(runs["jobs2"], key=lambda r: r[1])
        jobs1 = min(runs["jobs1"], key=lambda r: r[1])
        jobs2_wall = min(r[0] for r in runs["jobs2"])
        jobs1_wall = min(r[0] for r in runs["jobs1"])
        pair = _fastest_pairs(runs["paired"])
        start_up = min(start_up_cpu() for _ in range(3))
        floor = io_floor(root, out)
    finally:
        if not args.keep_output and out.exists():
            shutil.rmtree(out)
        if subset is not None:
            shutil.rmtree(subset)

    def line(name: str, wall: float | None, cpu: float) -> str:
        walls = f"{wall:8.2f} s wall {books / wall:7.1f} books/s {mb / wall:6.1f} MB/s" if wall else " " * 45
        return f"{name:<34} {walls}   {cpu:7.2f} s CPU {books / cpu:7.1f} books/s {mb / cpu:6.1f} MB/s"

    def spread(values) -> str:
        return ", ".join(f"{v:.2f}" for v in values)

    print(f"library: {books} books, {mb:.1f} MB on disk ({pair['text_mb']:.1f} MB of text); format {args.to}; "
          f"{default_workers()} cores; load average {os.getloadavg()[0]:.1f}")
    print(line("kogane convert --jobs 2", jobs2_wall, jobs2[1]))
    print(line("kogane convert --jobs 1", jobs1_wall, jobs1[1]))
    print(line("in process: conversion, no files", None, pair["memory"]))
    print(line("in process: engine only", None, pair["engine"]))
    print(f"wall-time speed-up of --jobs 2 over --jobs 1: {jobs1_wall / jobs2_wall:.2f}x; "
          f"CPU time of --jobs 2 over --jobs 1: {jobs2[1] / jobs1[1]:.2f}x")
    note = _autogroup_note(jobs1_wall, jobs2_wall)
    if note:
        print(note)

    # CPU time, not wall time: on a shared machine the wall clock also counts
    # other people's work. Even CPU time moves by a tenth from one run to the
    # next here (caches and cores shared with others), so the command's share
    # is not taken as the difference of two whole runs made at different
    # times: what it spends around its tasks comes from its own run, and what
    # the tasks spend on files from pairs of the same task run with and
    # without files, back to back.
    cpu1, steps1 = jobs1[1], jobs1[3]
    fixed = cpu1 - steps1  # start-up, walking the folder, results, summary
    in_tasks = (pair["files"] - pair["memory"]) / pair["files"]
    writes = pair["write"] / pair["files"]
    around = fixed + in_tasks * steps1
    share = 100 * around / cpu1
    print(f"--jobs 1: {steps1:.2f} s CPU in its tasks, {fixed:.2f} s around them "
          f"(start-up of the command alone: {start_up:.2f} s)")
    print(f"tasks from the files to the output files vs from bytes in memory, taking turns: "
          f"{pair['files']:.2f} vs {pair['memory']:.2f} s CPU -> files cost {100 * in_tasks:.1f} % of a task "
          f"(writing {100 * writes:.1f} %, reading, unpacking and the rest {100 * (in_tasks - writes):.1f} %)")
    print(f"overhead of the command (open, detect, write, start-up) in --jobs 1 CPU time: {around:.2f} s = {share:.1f} % "
          f"(start-up {100 * start_up / cpu1:.1f} %, the rest around the tasks {100 * (fixed - start_up) / cpu1:.1f} %, "
          f"writing {100 * writes * steps1 / cpu1:.1f} %, reading and unpacking {100 * (in_tasks - writes) * steps1 / cpu1:.1f} %)"
          f" -> {'met' if share < 10 else 'NOT met'} against the 10 % target")
    io_cpu = floor["read"] + floor["write"]
    print(f"for comparison, bare reads of the inputs (archives unpacked) and bare writes of the outputs, timed apart: "
          f"{floor['read']:.2f} + {floor['write']:.2f} s CPU = {100 * io_cpu / cpu1:.1f} % of --jobs 1")
    direct = [100 * (r[1] - sum(p["memory"])) / r[1] for r, p in zip(runs["jobs1"], runs["paired"])]
    print(f"unpaired cross-check, each whole --jobs 1 run minus the in-memory conversion of the same round: "
          f"{spread(direct)} % (--jobs 1 CPU per run: {spread(r[1] for r in runs['jobs1'])} s; "
          f"in-memory conversion per run: {spread(sum(p['memory']) for p in runs['paired'])} s)")
    print(f"--jobs 1 CPU time in the kernel (reads, writes, memory): {jobs1[2]:.2f} s = {100 * jobs1[2] / cpu1:.1f} %")
    print(f"everything around the engine (also book sections, diagnostics counts and the {args.to} format): "
          f"{100 * (cpu1 - pair['engine']) / cpu1:.1f} %")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
