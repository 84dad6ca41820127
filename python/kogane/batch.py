"""Converting many books at once.

`plan` turns the inputs (files, .zip archives, folders) into one `Job` per
book with its target path, mirroring the input tree under the output folder.
`BatchRun` runs jobs on any `concurrent.futures.Executor` (worker processes by
default; a Dask ``Client.get_executor()`` works unchanged, given that the
workers see the same file system) and yields one `BookResult` per book.
`convert_many` is both in one call.

Every output file is written under a temporary name in its target folder and
renamed into place, so an interrupted run never leaves a half-written file.
"""

from __future__ import annotations

import bisect
import enum
import functools
import inspect
import json
import multiprocessing
import os
import re
import signal
import time
import urllib.parse
from collections import deque
from concurrent.futures import FIRST_COMPLETED, Executor, Future, ProcessPoolExecutor, wait
from contextlib import suppress
from dataclasses import dataclass, field
from pathlib import Path
from typing import Iterable, Iterator, Sequence

from ._kogane import Document, PanicException, _helper_threads
from .book import Book, BookError, is_safe_image_path

__all__ = [
    "Format",
    "FormatOptions",
    "Severity",
    "Job",
    "BookResult",
    "BatchRun",
    "plan",
    "convert_many",
    "convert_book",
    "render",
    "severity_counts",
    "write_atomic",
    "default_workers",
    "keep_freed_memory",
]


class Format(enum.Enum):
    """What a book is converted to."""

    HTML = "html"  # the body fragment the engine renders
    PAGE = "page"  # a standalone HTML5 page
    EPUB = "epub"
    TEXT = "text"  # plain text for reading or indexing
    JSONL = "jsonl"  # one JSON record per book, all books in one stream
    SOURCE = "source"  # the markup as the engine re-emits it
    JSON = "json"  # the document's views

    @property
    def suffix(self) -> str:
        return _SUFFIXES[self]

    @property
    def binary(self) -> bool:
        return self is Format.EPUB

    @property
    def is_stream(self) -> bool:
        """Records of several books go one after another into one output."""
        return self is Format.JSONL


_SUFFIXES = {
    Format.HTML: ".html",
    Format.PAGE: ".html",
    Format.EPUB: ".epub",
    Format.TEXT: ".txt",
    Format.JSONL: ".jsonl",
    Format.SOURCE: ".txt",
    Format.JSON: ".json",
}


class Severity(enum.Enum):
    ERROR = "error"
    WARNING = "warning"
    NOTE = "note"

    @property
    def rank(self) -> int:
        """Smaller is more severe."""
        return _SEVERITY_RANK[self]

    def includes(self, other: "Severity") -> bool:
        """Whether a filter at this level shows diagnostics of `other`."""
        return other.rank <= self.rank


_SEVERITY_RANK = {Severity.ERROR: 0, Severity.WARNING: 1, Severity.NOTE: 2}


@dataclass(frozen=True)
class FormatOptions:
    """Switches of the formats; each format reads the ones it knows."""

    horizontal: bool = False  # page: horizontal writing instead of vertical
    notes: bool = False  # page: show editorial notes
    ruby: bool = False  # text: keep readings
    gaiji_descriptions: bool = False  # text: keep descriptions of gaiji
    full: bool = False  # text: header and colophon too


@dataclass(frozen=True)
class Job:
    """One book to read and convert."""

    index: int  # position in the plan; results are reported against it
    source: str  # the file as named by the caller
    label: str  # the path relative to the input root, as records name the book
    target: str | None = None  # output file; None keeps the output in the result
    size: int = 0  # bytes on disk when planned
    refusal: str | None = None  # why the job must not run (found while planning)


@dataclass
class BookResult:
    """What became of one book."""

    index: int
    source: str
    label: str
    target: str | None = None
    output: bytes | None = None  # the converted book when it has no target
    error: str | None = None  # one line naming the file and the fault
    skipped: bool = False  # the run stopped before this book
    bytes_in: int = 0
    bytes_out: int = 0
    title: str = ""
    encoding: str = ""
    severities: dict[str, int] = field(default_factory=dict)
    notes: list[str] = field(default_factory=list)
    diagnostics: list[dict] | None = None  # filled when diagnostics are collected
    images: list[str] = field(default_factory=list)  # illustrations the output refers to
    read_seconds: float = 0.0
    convert_seconds: float = 0.0
    write_seconds: float = 0.0

    @property
    def ok(self) -> bool:
        return self.error is None and not self.skipped


def default_workers() -> int:
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:  # not on every platform
        return max(1, os.cpu_count() or 1)


# -- planning ----------------------------------------------------------------

_BOOK_SUFFIXES = (".txt", ".zip")


def _is_book_file(name: str) -> bool:
    return name.lower().endswith(_BOOK_SUFFIXES) and not name.startswith(".")


def _walk_books(folder: str, skip: str | None) -> list[tuple[str, int]]:
    """The book files under `folder` in a stable order: (path relative to
    `folder` with '/' between its parts, size)."""
    found: list[tuple[str, int]] = []

    def visit(path: str, rel: str) -> None:
        try:
            with os.scandir(path) as it:
                entries = sorted(it, key=lambda e: e.name)
        except OSError:
            return
        subfolders = []
        for e in entries:
            name = e.name
            try:
                is_dir = e.is_dir()
            except OSError:
                continue
            if is_dir:
                if e.is_symlink():  # as os.walk: linked folders are not followed
                    continue
                # Hidden folders and the output folder (when it lies inside
                # the input) are not part of the library.
                if not name.startswith(".") and (skip is None or os.path.realpath(e.path) != skip):
                    subfolders.append(e)
            elif _is_book_file(name):
                try:
                    size = e.stat().st_size
                except OSError:
                    size = 0
                found.append((rel + name, size))
        for e in subfolders:
            visit(e.path, rel + e.name + "/")

    visit(folder, "")
    return found


def _size(p: str | Path) -> int:
    try:
        return os.stat(p).st_size
    except OSError:
        return 0


def plan(
    inputs: Sequence[str | os.PathLike[str]],
    to: Format | str,
    out: str | os.PathLike[str] | None = None,
) -> list[Job]:
    """One job per book of `inputs` (files, archives, folders searched recursively).

    With `out` a folder, each book's target mirrors its path relative to the
    common root of the inputs (a folder input is its own root, a file's root
    is its folder), with the format's suffix. With `out` None the outputs stay
    in the results. Stream formats (jsonl) have no per-book target.
    """
    fmt = Format(to)
    out_dir = str(Path(out)) if out is not None and not fmt.is_stream else None
    skip = os.path.realpath(out_dir) if out_dir is not None else None
    # (file as the caller names it, size, absolute root, path below the root)
    books: list[tuple[str, int, str, str]] = []
    for given in inputs:
        if str(given) == "-":
            raise ValueError("standard input ('-') cannot be part of a batch")
        p = str(Path(given))
        if os.path.isdir(p):
            root = os.path.abspath(p)
            lead = p if p.endswith("/") else p + "/"
            books.extend((lead + rel, size, root, rel) for rel, size in _walk_books(p, skip))
        else:
            absolute = os.path.abspath(p)
            root, name = os.path.split(absolute)
            books.append((p, _size(p), root, name))
    if not books:
        return []
    roots = {root for _, _, root, _ in books}
    base = os.path.commonpath(list(roots))
    # Labels are relative to the common root: each root's own place under it, once.
    prefixes = {}
    for root in roots:
        rel = os.path.relpath(root, base).replace(os.sep, "/")
        prefixes[root] = "" if rel == "." else rel + "/"
    out_lead = out_abs = None
    if out_dir is not None:
        out_lead = out_dir if out_dir.endswith("/") else out_dir + "/"
        out_abs = os.path.join(os.path.abspath(out_dir), "")  # labels hold no '..': joined, they stay absolute
    suffix = fmt.suffix

    seen: set[str] = set()
    jobs: list[Job] = []
    targets: set[str] = set()
    for f, size, root, rel in books:
        absolute = root + rel if root.endswith("/") else root + "/" + rel
        if absolute in seen:  # named twice, or a file inside a folder also given
            continue
        seen.add(absolute)
        label = prefixes[root] + rel
        target = refusal = None
        if out_lead is not None:
            # The suffix as os.path.splitext sees it: not a name's leading dots.
            dot, start = label.rfind("."), label.rfind("/") + 1
            stem = label[:dot] if dot > start and label[start:dot].strip(".") else label
            name = stem + suffix
            if out_lead + name in targets:  # book.txt and book.zip side by side
                name = label + suffix
            t = out_lead + name
            if out_abs + name == absolute:
                refusal = f"{f}: the output would overwrite the input; choose another output folder"
            targets.add(t)
            target = t
        jobs.append(Job(index=len(jobs), source=f, label=label, target=target, size=size, refusal=refusal))
    return jobs


# -- converting one book -------------------------------------------------------


class _Book(Book):
    """A book whose documents are parsed once however often they are asked for.

    The formats and the diagnostics count ask for the same documents; each
    parse is most of a book's conversion time.
    """

    # A document is let go on the thread that made it (see release): no
    # variable below holds one, since a profiler that samples this thread
    # may keep a frame, and with it its variables, after the call returns.

    def _cached(self, key: str, make) -> Document:
        cache = self.__dict__  # frozen dataclasses refuse setattr; the cache is not a field
        if key not in cache:
            cache[key] = make()
        return cache[key]

    def document(self) -> Document:
        return self._cached("_document", super().document)

    def body_document(self) -> Document:
        return self._cached("_body_document", super().body_document)

    def colophon_document(self) -> Document:
        return self._cached("_colophon_document", super().colophon_document)

    if hasattr(Book, "header_document"):

        def header_document(self) -> Document:
            return self._cached("_header_document", super().header_document)

    def _parsed_header(self, holder: list[Document]) -> None:
        self.__dict__["_header_document"] = holder.pop()

    def release(self) -> None:
        """Drop the documents now, on this thread: a document is pinned to the
        thread that made it, and an executor's bookkeeping (a profiler sampling
        frames, say) may hold the book until some other thread lets go."""
        for key in ("_document", "_body_document", "_colophon_document", "_header_document"):
            self.__dict__.pop(key, None)
        close = getattr(self.images, "close", None)  # an archive kept open for its illustrations
        if close is not None:
            close()


# Formats made from the book's sections (header, body, colophon) rather than
# from the whole file; their diagnostics are those of the sections, which
# the format has parsed already.
_SECTION_FORMATS = frozenset({Format.PAGE, Format.EPUB, Format.TEXT, Format.JSONL})


def severity_counts(book: Book, to: Format | None) -> dict[str, int]:
    """Diagnostics by severity of what format `to` renders."""
    if to in _SECTION_FORMATS:
        sections = [book.body_document, book.colophon_document]
        if hasattr(book, "header_document"):
            sections.append(book.header_document)
        counts = {s.value: 0 for s in Severity}
        for section in sections:  # methods, not documents (see _Book)
            for sev, n in section().severity_counts().items():
                counts[sev] += n
        return counts
    return book.document().severity_counts()


def _record(book: Book, label: str, counts: dict[str, int]) -> bytes:
    from .text import to_text

    record = {
        "path": label,
        "title": book.title,
        "author": "、".join(book.authors),
        "text": to_text(book),
        "diagnostics": counts,
    }
    return (json.dumps(record, ensure_ascii=False) + "\n").encode("utf-8")


def _views(label: str, book: Book) -> bytes:
    head = json.dumps({"path": label, "title": book.title, "authors": list(book.authors)}, ensure_ascii=False)
    # The views are JSON already; they are spliced in, not decoded and
    # re-encoded. The document is asked for each time, not kept (see _Book).
    parts = [
        head[:-1],
        ',"nodes":', book.document().nodes_json(),
        ',"pairs":', book.document().pairs_json(),
        ',"containerPairs":', book.document().container_pairs_json(),
        ',"gaiji":', book.document().gaiji_json(),
        ',"diagnostics":', book.document().diagnostics_json(),
        "}\n",
    ]
    return "".join(parts).encode("utf-8")


@functools.lru_cache(maxsize=None)
def _takes_warnings(fn) -> bool:
    return "warnings" in inspect.signature(fn).parameters


def _with_warnings(fn, book: Book, warnings: list[str] | None, **options):
    """Call a format that may report what it left out (an unsafe image
    source, say) to a ``warnings`` list; those messages join `warnings`."""
    if warnings is None or not _takes_warnings(fn):
        return fn(book, **options)
    reported: list[str] = []
    out = fn(book, warnings=reported, **options)
    warnings.extend(w for w in reported if w not in book.notes)  # the book's notes are reported already
    return out


def render(
    book: Book,
    to: Format | str,
    options: FormatOptions = FormatOptions(),
    label: str = "",
    warnings: list[str] | None = None,
    images: list[str] | None = None,
) -> bytes:
    """The book in format `to`, as the bytes of the output file.

    Messages about what the format had to leave out are appended to `warnings`;
    the illustrations a page refers to (paths relative to it) to `images`.
    """
    fmt = Format(to)
    if fmt is Format.HTML:
        return book.document().to_html().encode("utf-8")
    if fmt is Format.SOURCE:
        return book.document().to_source().encode("utf-8")
    if fmt is Format.JSON:
        return _views(label or book.name, book)
    if fmt is Format.JSONL:
        return _record(book, label or book.name, severity_counts(book, fmt))
    if fmt is Format.PAGE:
        from .pages import render_page_bytes

        reported: list[str] = []
        page = render_page_bytes(book, horizontal=options.horizontal, notes=options.notes, warnings=reported, images=images)
        if warnings is not None:
            warnings.extend(w for w in reported if w not in book.notes)  # the book's notes are reported already
        return page
    if fmt is Format.EPUB:
        from .epub import build_epub

        return _with_warnings(build_epub, book, warnings)
    if fmt is Format.TEXT:
        from .text import to_text

        text = to_text(book, ruby=options.ruby, gaiji_descriptions=options.gaiji_descriptions, full=options.full)
        return text.encode("utf-8")
    raise AssertionError(fmt)


_WRITE_FLAGS = os.O_WRONLY | os.O_CREAT | os.O_TRUNC | getattr(os, "O_CLOEXEC", 0) | getattr(os, "O_BINARY", 0)


def write_atomic(path: str | os.PathLike[str], data: bytes) -> None:
    """Write `data` to `path` through a temporary file in the same folder and a rename."""
    path = os.fspath(path)
    slash = path.rfind(os.sep)
    folder = path[:slash] if slash >= 0 else ""
    tmp = f"{path[: slash + 1]}.{path[slash + 1 :]}.{os.getpid()}.part"
    try:
        # A bare descriptor: one output is one write, a file object would only add work.
        try:
            fd = os.open(tmp, _WRITE_FLAGS, 0o666)
        except FileNotFoundError:  # the folder is made on first use only
            os.makedirs(folder or ".", exist_ok=True)
            fd = os.open(tmp, _WRITE_FLAGS, 0o666)
        try:
            view = memoryview(data)
            while view:
                view = view[os.write(fd, view) :]
        finally:
            os.close(fd)
        os.replace(tmp, path)
    except BaseException as e:
        with suppress(OSError):
            os.unlink(tmp)
        if isinstance(e, OSError) and e.filename == tmp:
            e.filename = path  # the file the caller asked for, not a name it never saw
        raise


def _line_starts(data: bytes) -> list[int]:
    starts = [0]
    i = data.find(b"\n")
    while i >= 0:
        starts.append(i + 1)
        i = data.find(b"\n", i + 1)
    return starts


_TEXT_ENTRY_HEAD = re.compile(r"^(error|warning|note)\b")


def _text_entries(report: str) -> list[str]:
    """The engine's text report cut into one block per diagnostic."""
    entries: list[str] = []
    for line in report.splitlines(keepends=True):
        if entries and (line[:1] in (" ", "\t") or not _TEXT_ENTRY_HEAD.match(line)):
            entries[-1] += line
        else:
            entries.append(line)
    return entries


def _collect_diagnostics(book: Book) -> list[dict]:
    """The diagnostics as records with the line and column editors jump to."""
    records = json.loads(book.document().diagnostics_json()).get("data", [])
    texts = _text_entries(book.document().diagnostics_text())
    source = book.text.encode("utf-8")
    starts = _line_starts(source)
    for i, rec in enumerate(records):
        start = (rec.get("span") or {}).get("start", 0)
        line = bisect.bisect_right(starts, start) - 1
        column = len(source[starts[line] : start].decode("utf-8", errors="replace")) + 1
        rec["line"] = line + 1
        rec["column"] = column
        if len(texts) >= len(records):
            rec["text"] = texts[i]
    # Report entries without a record (e.g. a closing summary) are kept as text.
    for extra in texts[len(records) :] if len(texts) > len(records) else ():
        severity = extra.split(" ", 1)[0]
        rec = {"kind": "report", "severity": severity if severity in _SEVERITY_NAMES else "note", "text": extra}
        records.append(rec)
    return records


_SEVERITY_NAMES = {s.value for s in Severity}


def convert_book(
    job: Job,
    to: Format | str | None,
    options: FormatOptions = FormatOptions(),
    collect_diagnostics: bool = False,
    data: bytes | None = None,
) -> BookResult:
    """Read, convert and write one book; never raises for a fault of the book.

    `to` None only reads the book and counts (or collects) its diagnostics.
    `data`, when given, is the book's bytes (e.g. standard input) and
    `job.source` only names it.
    """
    return _convert_book(job, to, options, collect_diagnostics, data, None)


def _convert_book(job: Job, to: Format | str | None, options: FormatOptions, collect_diagnostics: bool,
                  data: bytes | None, deferred: list[tuple[BookResult, bytes]] | None) -> BookResult:
    """`convert_book`; with `deferred` a list, an output that is a single
    file is appended to it with its result instead of being written."""
    fmt = Format(to) if to is not None else None
    r = BookResult(index=job.index, source=job.source, label=job.label, target=job.target, bytes_in=job.size)
    if job.refusal:
        r.error = job.refusal
        return r
    t0 = time.perf_counter()
    try:
        book = _Book.from_path(job.source) if data is None else _Book.from_bytes(data, job.source)
    except BookError as e:
        r.error = str(e)
        return r
    try:
        return _convert_loaded(book, job, fmt, options, collect_diagnostics, r, t0, deferred)
    finally:
        book.release()


def _convert_loaded(book: "_Book", job: Job, fmt: Format | None, options: FormatOptions,
                    collect_diagnostics: bool, r: BookResult, t0: float,
                    deferred: list[tuple[BookResult, bytes]] | None) -> BookResult:
    r.title, r.encoding, r.notes = book.title, book.encoding, list(book.notes)
    t1 = time.perf_counter()
    r.read_seconds = t1 - t0
    try:
        opts = FormatOptions() if options is None else options
        output = render(book, fmt, opts, job.label, warnings=r.notes, images=r.images) if fmt else b""
        r.severities = severity_counts(book, fmt)
        if collect_diagnostics:
            r.diagnostics = _collect_diagnostics(book)
    except ImportError as e:
        r.error = f"{job.source}: the {fmt.value if fmt else ''} format is not available: {e}"
        return r
    except (Exception, PanicException) as e:  # an engine or renderer fault: this book fails, the batch goes on
        r.error = f"{job.source}: cannot convert: {type(e).__name__}: {e}"
        return r
    t2 = time.perf_counter()
    r.convert_seconds = t2 - t1
    r.bytes_out = len(output)
    if fmt is not None and job.target is None:
        r.output = output
    elif fmt is not None and deferred is not None and not r.images:  # illustrations come from the open book
        deferred.append((r, output))
        return r
    elif fmt is not None:
        try:
            write_atomic(job.target, output)
            if r.images:
                _write_images(book, job, r)
        except OSError as e:
            r.error = f"{e.filename or job.target}: cannot write: {e.strerror or e}"
    r.write_seconds = time.perf_counter() - t2
    return r


_MISSING_NAMED = 5  # missing illustrations named in the one note about them


def _write_images(book: Book, job: Job, r: BookResult) -> None:
    """The illustrations the page refers to, beside it."""
    folder = os.path.dirname(job.target)
    faults = getattr(book.images, "faults", {})
    missing: list[str] = []
    for name in r.images:
        # The browser asks for the decoded path of a percent-encoded src.
        on_disk = urllib.parse.unquote(name) if "%" in name else name
        image = None
        if is_safe_image_path(on_disk):
            image = book.image(name)
            if image is None and on_disk != name:
                image = book.image(on_disk)
        if image is None:
            fault = faults.get(on_disk) or faults.get(name)
            if fault:
                r.notes.append(fault)
            else:
                missing.append(name)
            continue
        write_atomic(os.path.join(folder, on_disk), image)
    # One note per book: a library shipped without its illustrations would
    # otherwise bury every other message.
    if len(missing) == 1:
        r.notes.append(f"{job.source}: the illustration {missing[0]} is missing")
    elif missing:
        named = ", ".join(missing[:_MISSING_NAMED]) + (", …" if len(missing) > _MISSING_NAMED else "")
        r.notes.append(f"{job.source}: {len(missing)} illustrations are missing: {named}")


# -- running on an executor ----------------------------------------------------


@dataclass(frozen=True)
class _Task:
    """A few jobs sent to a worker together, so small books do not pay a round trip each."""

    jobs: tuple[Job, ...]
    to: Format | None
    options: FormatOptions
    collect_diagnostics: bool


_stop_event = None  # set in worker processes: asks them to stop after the current book


def _init_worker(stop) -> None:
    global _stop_event
    # Ctrl-C reaches the whole process group; the parent decides how to stop.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    _stop_event = stop
    keep_freed_memory()
    # The workers keep every core busy: a helper thread beside each (to
    # render HTML, or to search for far annotation targets) would only add
    # the cost of handing work over.
    _helper_threads(False)


_memory_kept: bool | None = None
# glibc's mallopt parameters and the values a converting process runs with.
_M_TRIM_THRESHOLD, _M_TOP_PAD, _M_MMAP_THRESHOLD = -1, -2, -3
_KEEP_FREED = ((_M_MMAP_THRESHOLD, 32 << 20), (_M_TRIM_THRESHOLD, 256 << 20), (_M_TOP_PAD, 16 << 20))


def keep_freed_memory() -> bool:
    """Have the C allocator keep the memory it frees for the next book.

    Book after book allocates and frees the same large buffers; by default
    the allocator hands them back to the system and every page is faulted in
    again for the next book (a tenth of a library conversion's CPU time).
    A converting process keeps up to a few hundred MB instead. Only for
    processes that do nothing but convert (the command, batch workers);
    glibc only, elsewhere nothing changes. Returns whether it applied.
    """
    global _memory_kept
    if _memory_kept is None:
        _memory_kept = False
        if _glibc():
            try:
                import ctypes

                mallopt = ctypes.CDLL(None).mallopt
                mallopt.argtypes = (ctypes.c_int, ctypes.c_int)
                _memory_kept = all(mallopt(param, value) == 1 for param, value in _KEEP_FREED)
            except (OSError, AttributeError):
                pass
    return _memory_kept


def _glibc() -> bool:
    try:
        return (os.confstr("CS_GNU_LIBC_VERSION") or "").startswith("glibc")
    except (AttributeError, ValueError, OSError):  # not a POSIX system, or not glibc
        return False


def _run_task(task: _Task, finished: list[BookResult] | None = None) -> list[BookResult]:
    """The task's books converted, then their outputs written one after
    another: a run of writes costs the kernel a third of the same writes
    each made between two conversions (its caches stay warm). Each result
    is appended to `finished` once its book is through, output written, so
    that a caller stopped half-way knows which books are."""
    finished = [] if finished is None else finished
    results: list[BookResult] = []
    unwritten: list[tuple[BookResult, bytes]] = []
    for job in task.jobs:
        if _stop_event is not None and _stop_event.is_set():
            r = BookResult(index=job.index, source=job.source, label=job.label, target=job.target, skipped=True)
        else:
            r = _convert_book(job, task.to, task.options, task.collect_diagnostics, None, unwritten)
        results.append(r)
        if not unwritten or unwritten[-1][0] is not r:
            finished.append(r)
    for r, output in unwritten:
        start = time.perf_counter()
        try:
            write_atomic(r.target, output)
        except OSError as e:
            r.error = f"{e.filename or r.target}: cannot write: {e.strerror or e}"
        r.write_seconds = time.perf_counter() - start
        finished.append(r)
    return results


_TASK_BOOKS = 64
_TASK_BYTES = 4 << 20


def _tasks(jobs: Sequence[Job], workers: int, to, options, collect) -> Iterator[_Task]:
    # Tasks small enough that the last ones spread over all workers.
    per_task = max(1, min(_TASK_BOOKS, len(jobs) // (workers * 8)))
    group: list[Job] = []
    size = 0
    for job in jobs:
        group.append(job)
        size += job.size
        if len(group) >= per_task or size >= _TASK_BYTES:
            yield _Task(tuple(group), to, options, collect)
            group, size = [], 0
    if group:
        yield _Task(tuple(group), to, options, collect)


class BatchRun:
    """Runs jobs and yields their results as they complete.

    Without an executor, `workers` processes are started (1: in this process).
    `stop()` asks running work to end after the current book and returns what
    was finished; books not started come back as skipped.
    """

    def __init__(
        self,
        jobs: Sequence[Job],
        to: Format | str | None,
        options: FormatOptions = FormatOptions(),
        *,
        executor: Executor | None = None,
        workers: int | None = None,
        collect_diagnostics: bool = False,
    ):
        self.jobs = list(jobs)
        self.to = Format(to) if to is not None else None
        self.options = options
        self.collect = collect_diagnostics
        self._own = None
        self._stop = None
        self.workers = workers or default_workers()
        if executor is None and self.workers > 1 and len(self.jobs) > 1:
            ctx = multiprocessing.get_context()
            self._stop = ctx.Event()
            executor = self._own = ProcessPoolExecutor(
                max_workers=min(self.workers, len(self.jobs)),
                mp_context=ctx,
                initializer=_init_worker,
                initargs=(self._stop,),
            )
            # Start the workers now, before the caller starts threads of its
            # own (a progress bar): forking while another thread holds a lock
            # can leave a worker stuck on it.
            self._own.submit(os.getpid).result()
        self.executor = executor
        self._pending: dict[Future, _Task] = {}
        self._ready: deque[BookResult] = deque()
        self._done: set[int] = set()
        self._stopped = False

    def __iter__(self) -> Iterator[BookResult]:
        if self.executor is None:
            for task in _tasks(self.jobs, 1, self.to, self.options, self.collect):
                if self._stopped:
                    return
                finished: list[BookResult] = []
                try:
                    _run_task(task, finished)
                except BaseException:
                    self._ready.extend(finished)  # stop() hands them over
                    raise
                for r in finished:
                    self._done.add(r.index)
                    yield r
            return
        tasks = _tasks(self.jobs, self.workers, self.to, self.options, self.collect)
        window = self.workers * 3
        for task in tasks:
            self._pending[self.executor.submit(_run_task, task)] = task
            if len(self._pending) >= window:
                break
        while True:
            # A task's results wait here until taken, so that a consumer that
            # stops half-way through them loses none (stop() hands them over).
            while self._ready:
                r = self._ready.popleft()
                self._done.add(r.index)
                yield r
            if not self._pending or self._stopped:
                return
            finished, _ = wait(list(self._pending), return_when=FIRST_COMPLETED)
            for fut in finished:
                task = self._pending.pop(fut)
                nxt = next(tasks, None)
                if nxt is not None:
                    self._pending[self.executor.submit(_run_task, nxt)] = nxt
                self._ready.extend(self._task_results(fut, task))

    def _task_results(self, fut: Future, task: _Task) -> list[BookResult]:
        try:
            return fut.result()
        except BaseException as e:  # a worker died (killed, out of memory): its books failed
            if isinstance(e, KeyboardInterrupt):
                raise
            return [
                BookResult(index=j.index, source=j.source, label=j.label, target=j.target,
                           error=f"{j.source}: the worker converting it failed: {type(e).__name__}: {e}")
                for j in task.jobs
            ]

    def stop(self) -> list[BookResult]:
        """End the run early; returns the results not yet taken, including the books under way."""
        self._stopped = True
        if self._stop is not None:
            self._stop.set()
        finished = list(self._ready)
        self._ready.clear()
        for fut, task in list(self._pending.items()):
            if fut.cancel():
                continue
            with suppress(Exception):
                finished.extend(self._task_results(fut, task))
        self._pending.clear()
        finished = [r for r in finished if not r.skipped]
        self._done.update(r.index for r in finished)
        return finished

    def not_done(self) -> list[Job]:
        return [j for j in self.jobs if j.index not in self._done]

    def close(self) -> None:
        if self._own is not None:
            self._own.shutdown(wait=True, cancel_futures=True)
            self._own = None

    def __enter__(self) -> "BatchRun":
        return self

    def __exit__(self, *exc) -> None:
        self.close()


def convert_many(
    paths: Iterable[str | os.PathLike[str]],
    to: Format | str = Format.HTML,
    out: str | os.PathLike[str] | None = None,
    executor: Executor | None = None,
    *,
    workers: int | None = None,
    options: FormatOptions = FormatOptions(),
) -> list[BookResult]:
    """Convert books (files, .zip archives, folders) and return one result per book, in input order.

    With `out` a folder the outputs are written there, mirroring the input
    tree; with `out` None each result carries its output bytes. Any
    `concurrent.futures.Executor` runs the work (worker processes by default),
    e.g. ``distributed.Client(...).get_executor()`` for a cluster whose
    workers see the same files. A book that fails has `error` set; the others
    go on.
    """
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    jobs = plan(list(paths), to, out)
    results: list[BookResult] = []
    with BatchRun(jobs, to, options, executor=executor, workers=workers) as run:
        try:
            results.extend(run)
        except BaseException:
            run.stop()
            raise
    results.sort(key=lambda r: r.index)
    return results
