"""The ``kogane`` command: convert books and check their markup.

Exit status: 0 when everything went through; 1 when a book could not be read,
converted or written (each such book gets one line on standard error and the
rest of the batch goes on), or when ``check`` found an error-severity
diagnostic, or when standard output cannot be written; 2 for a usage error;
130 after Ctrl-C; 141 when the reader of standard output went away (``| head``).
141 is what the shell reports for any program ended by a closed pipe (``cat``,
``grep``): a pipeline with ``set -o pipefail`` sees the same as for them, and
the output was cut, so success is not claimed.
"""

from __future__ import annotations

import errno
import json
import os
import select
import sys
import time
from collections import Counter
from pathlib import Path
from typing import Callable, Sequence

import click

from . import __version__
from .batch import (
    BatchRun,
    BookResult,
    Format,
    FormatOptions,
    Job,
    Severity,
    convert_book,
    default_workers,
    keep_freed_memory,
    plan,
)

__all__ = ["main", "cli"]

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130
EXIT_PIPE_CLOSED = 141  # 128 + SIGPIPE, as the shell reports a program ended by a closed pipe

_COMMANDS = ("convert", "check")
_GROUP_OPTIONS = ("-h", "--help", "--version")


class OutputError(Exception):
    """Standard output or an output file cannot be written; ends the command with one line."""


class PipeClosed(Exception):
    """The reader of standard output went away.

    Not an OSError, so that click does not turn it into its own exit status.
    """


# -- standard streams ----------------------------------------------------------


def _stdout_binary():
    if sys.stdout is None or isinstance(sys.stdout, _ClosedStdout):  # started with standard output closed
        raise OutputError("cannot write to standard output: it is closed")
    sys.stdout.flush()
    return sys.stdout.buffer


def write_stdout(data: bytes) -> None:
    """Write all of `data`; an unbuffered stream may take it in parts."""
    out = _stdout_binary()
    view = memoryview(data)
    try:
        while view:
            n = out.write(view)
            if n is None:  # non-blocking descriptor that is full: wait until it drains
                select.select([], [out.fileno()], [])
                n = 0
            view = view[n:]
        out.flush()
    except BrokenPipeError:
        raise PipeClosed() from None
    except OSError as e:
        raise OutputError(f"cannot write to standard output: {e.strerror or e}") from None


def _flush_stdout() -> None:
    if sys.stdout is None:
        return
    try:
        sys.stdout.flush()
    except BrokenPipeError:
        raise PipeClosed() from None
    except OSError as e:
        raise OutputError(f"cannot write to standard output: {e.strerror or e}") from None


def _silence_stdout() -> None:
    """After a failed write, point standard output at /dev/null so the exit flush cannot fail again."""
    if sys.stdout is None:
        return
    try:
        fd = sys.stdout.fileno()
    except (OSError, ValueError):
        return
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, fd)
    os.close(devnull)


def say(message: str) -> None:
    """One line on standard error; a closed standard error is not worth failing for."""
    if sys.stderr is None:
        return
    try:
        sys.stderr.write(f"kogane: {message}\n")
        sys.stderr.flush()
    except (OSError, ValueError):
        pass


class _ClosedStdout:
    """Stands in for a closed standard output so that every write reports it."""

    def write(self, _data):
        raise OSError(errno.EBADF, "it is closed")

    def flush(self):
        pass

    def isatty(self):
        return False

    def fileno(self):
        raise OSError(errno.EBADF, "it is closed")


# -- shared pieces ---------------------------------------------------------------

_EXAMPLES = """\b
Examples:
  kogane convert book.txt --to page -o book.html     a page to open in a browser
  kogane convert book.zip --to epub -o book.epub     an archive as distributed
  kogane convert book.txt                            the HTML fragment on stdout
  cat book.txt | kogane convert - --to text          standard input
  kogane convert library/ --to page -o site/ -j 4    a folder, mirrored under site/
  kogane convert library/ --to jsonl > corpus.jsonl  one JSON record per book
  kogane check book.txt                              the diagnostics
  kogane check --severity error texts/               exit status 1 on any error
"""


def _progress_wanted(flag: bool | None, books: int, writes_stdout: bool = False) -> bool:
    if flag is not None:
        return flag and books > 1
    if writes_stdout and sys.stdout is not None and sys.stdout.isatty():
        return False  # the bar would run through the records on the same terminal
    return books > 1 and sys.stderr is not None and sys.stderr.isatty()


class _Progress:
    """A progress bar on standard error (files done, MB/s, time left), or nothing."""

    def __init__(self, enabled: bool, total_books: int):
        self._bar = None
        self._bytes = 0
        if not enabled:
            return
        from rich.console import Console
        from rich.progress import BarColumn, MofNCompleteColumn, Progress, ProgressColumn, TextColumn, TimeRemainingColumn
        from rich.text import Text

        class Rate(ProgressColumn):
            def render(self, task):
                elapsed = task.elapsed or 0.0
                mb = task.fields.get("mb", 0.0)
                return Text(f"{mb / elapsed:6.1f} MB/s" if elapsed > 0 else "   -- MB/s")

        self._bar = Progress(
            TextColumn("converting"),
            BarColumn(),
            MofNCompleteColumn(),
            TextColumn("books"),
            Rate(),
            TimeRemainingColumn(),
            console=Console(stderr=True),
            transient=True,
            # Records go to the real standard output; notes on standard error print above the bar.
            redirect_stdout=False,
        )
        self._task = self._bar.add_task("books", total=total_books, mb=0.0)
        self._bar.start()

    def advance(self, r: BookResult) -> None:
        if self._bar is None:
            return
        self._bytes += r.bytes_in
        self._bar.update(self._task, advance=1, mb=self._bytes / 1e6)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.stop()
            self._bar = None


class _InOrder:
    """Hands results on in plan order, whatever order they complete in."""

    def __init__(self, emit: Callable[[BookResult], None]):
        self._emit = emit
        self._waiting: dict[int, BookResult] = {}
        self._next = 0

    def add(self, r: BookResult) -> None:
        self._waiting[r.index] = r
        while self._next in self._waiting:
            self._emit(self._waiting.pop(self._next))
            self._next += 1


def _run(
    jobs: list[Job],
    to: Format | None,
    options: FormatOptions,
    workers: int,
    progress: bool,
    on_result: Callable[[BookResult], None],
    collect_diagnostics: bool = False,
) -> tuple[list[BookResult], bool, float]:
    """Runs the batch; returns (results, interrupted, seconds)."""
    results: list[BookResult] = []
    interrupted = False
    start = time.perf_counter()
    keep_freed_memory()  # this process and the workers forked from it only convert
    run = BatchRun(jobs, to, options, workers=workers, collect_diagnostics=collect_diagnostics)
    bar = _Progress(progress, len(jobs))  # after the workers are forked: the bar runs a thread

    def take(r: BookResult) -> None:
        results.append(r)
        bar.advance(r)
        on_result(r)

    try:
        try:
            for r in run:
                take(r)
        except KeyboardInterrupt:
            interrupted = True
            bar.close()
            say("interrupted: finishing the books being written")
            for r in run.stop():
                take(r)
        except BaseException:
            run.stop()
            raise
    finally:
        bar.close()
        run.close()
    return results, interrupted, time.perf_counter() - start


def _summary(results: list[BookResult], total: int, seconds: float, interrupted: bool) -> None:
    done = [r for r in results if not r.skipped]
    failed = [r for r in done if r.error]
    mb = sum(r.bytes_in for r in done) / 1e6
    rate = f"{mb / seconds:.1f} MB/s, {len(done) / seconds:.1f} books/s" if seconds > 0 else "-"
    head = f"{len(done)} of {total} books" if interrupted else f"{len(done)} books"
    say(f"{head}, {mb:.1f} MB in {seconds:.2f} s ({rate}); {len(failed)} failed")
    sev = Counter()
    for r in done:
        sev.update(r.severities)
    say("diagnostics: " + _counts(sev))
    for r in failed:
        say(f"failed: {r.error}")


def _count(n: int, word: str) -> str:
    return f"{n} {word}" if n == 1 else f"{n} {word}s"


def _counts(severities: dict[str, int]) -> str:
    return ", ".join(_count(severities.get(s.value, 0), s.value) for s in Severity)


def _notes(r: BookResult) -> None:
    for note in r.notes:
        say(f"note: {note}")


# -- the commands ----------------------------------------------------------------


@click.group(
    context_settings={"help_option_names": ["-h", "--help"], "max_content_width": 100},
    epilog=_EXAMPLES,
)
@click.version_option(version=__version__, prog_name="kogane", message="%(prog)s %(version)s")
def cli() -> None:
    """Convert Kogane markup books (Shift_JIS or UTF-8 .txt, or .zip archives
    as distributed) to HTML, pages, EPUB, text or JSON, and check their markup.

    A bare file name means `convert`: `kogane book.txt` prints the HTML fragment.
    """


_format_names = [f.value for f in Format]


@cli.command(epilog=_EXAMPLES)
@click.argument("inputs", nargs=-1, required=True, metavar="IN...")
@click.option("-o", "--output", metavar="OUT", help="Output file (one input) or folder (several inputs or a folder); `-` or none: standard output.")
@click.option("-t", "--to", "to", type=click.Choice(_format_names), default="html", show_default=True,
              help="html: the body fragment; page: a standalone page; epub; text: plain text; "
                   "jsonl: one record per book (path, title, author, text, diagnostics); "
                   "source: the re-emitted markup; json: the document's views.")
@click.option("-j", "--jobs", type=click.IntRange(min=1), default=None, help="Worker processes. Default: the number of cores.")
@click.option("--horizontal", is_flag=True, help="page: horizontal writing.")
@click.option("--notes", is_flag=True, help="page: show editorial notes.")
@click.option("--ruby", is_flag=True, help="text: keep readings.")
@click.option("--gaiji-descriptions", is_flag=True, help="text: keep descriptions of gaiji.")
@click.option("--full", is_flag=True, help="text: the header and colophon too.")
@click.option("--progress/--no-progress", default=None, help="Progress bar. Default: on when standard error is a terminal.")
@click.option("-q", "--quiet", is_flag=True, help="No summary and no diagnostics counts.")
def convert(inputs, output, to, jobs, horizontal, notes, ruby, gaiji_descriptions, full, progress, quiet) -> int:
    """Convert books. IN is a file, `-` for standard input, a .zip archive or
    a folder (its .txt and .zip files, recursively).

    One input and no -o writes to standard output. Several inputs or a folder
    need -o DIR, where the input tree is mirrored (book.txt -> book.html);
    jsonl writes one stream, to standard output or the file -o names.
    """
    fmt = Format(to)
    options = FormatOptions(horizontal=horizontal, notes=notes, ruby=ruby, gaiji_descriptions=gaiji_descriptions, full=full)
    workers = jobs or default_workers()
    single = len(inputs) == 1 and (inputs[0] == "-" or not Path(inputs[0]).is_dir())
    if single:
        return _convert_one(inputs[0], output, fmt, options, quiet)
    if "-" in inputs:
        raise click.UsageError("standard input ('-') can only be converted on its own")
    if fmt.is_stream:
        return _convert_stream(list(inputs), None if output == "-" else output, fmt, options, workers, progress, quiet)
    if output is None:
        raise click.UsageError("several inputs or a folder need -o DIR (the folder to write the outputs to)")
    if Path(output).exists() and not Path(output).is_dir():
        raise click.UsageError(f"-o {output}: not a folder")
    jobs_ = plan(list(inputs), fmt, output)
    if not jobs_:
        say("no .txt or .zip files found")
        return EXIT_FAILED
    results, interrupted, seconds = _run(jobs_, fmt, options, workers, _progress_wanted(progress, len(jobs_)), _notes)
    if not quiet or interrupted:
        _summary(results, len(jobs_), seconds, interrupted)
    elif any(r.error for r in results):
        for r in results:
            if r.error:
                say(r.error)
    if interrupted:
        return EXIT_INTERRUPTED
    return EXIT_FAILED if any(r.error for r in results) else EXIT_OK


def _read_stdin() -> bytes:
    if sys.stdin is None:
        raise OutputError("cannot read standard input: it is closed")
    try:
        return sys.stdin.buffer.read()
    except OSError as e:
        raise OutputError(f"cannot read standard input: {e.strerror or e}") from None


def _single_target(given: str, output: str | None, fmt: Format) -> str | None:
    if output is None or output == "-":
        return None
    out = Path(output)
    if out.is_dir() or output.endswith(("/", os.sep)):
        stem = "stdin" if given == "-" else Path(given).stem
        return str(out / (stem + fmt.suffix))
    return output


def _convert_one(given: str, output: str | None, fmt: Format, options: FormatOptions, quiet: bool) -> int:
    target = _single_target(given, output, fmt)
    if target is None and fmt.binary and sys.stdout is not None and sys.stdout.isatty():
        raise click.UsageError(f"{fmt.value} is binary: name an output file with -o")
    if given == "-":
        data = _read_stdin()
        job = Job(index=0, source="<stdin>", label="<stdin>", target=target, size=len(data))
    else:
        data = None
        (job,) = plan([given], fmt, None)
        job = Job(index=0, source=job.source, label=job.label, target=target, size=job.size)
        if target is not None and os.path.abspath(target) == os.path.abspath(given):
            say(f"{given}: the output would overwrite the input")
            return EXIT_FAILED
    r = convert_book(job, fmt, options, data=data)
    _notes(r)
    if r.error:
        say(r.error)
        return EXIT_FAILED
    if r.output is not None:
        write_stdout(r.output)
        if fmt is Format.PAGE and r.images:
            say(f"note: the page refers to {len(r.images)} illustration(s); with -o FILE they are written beside it")
    if not quiet and (r.severities.get("error") or r.severities.get("warning")):
        say(f"{job.source}: {_counts(r.severities)} (kogane check {'-' if given == '-' else given} lists them)")
    return EXIT_OK


def _convert_stream(inputs, output, fmt, options, workers, progress, quiet) -> int:
    """jsonl: every book's record in one output, in input order."""
    jobs_ = plan(inputs, fmt, None)
    if not jobs_:
        say("no .txt or .zip files found")
        return EXIT_FAILED
    tmp = None
    sink = None
    if output is not None:
        target = Path(output)
        if target.is_dir():
            raise click.UsageError(f"-o {output}: jsonl is one file; name a file, not a folder")
        tmp = target.with_name(f".{target.name}.{os.getpid()}.part")
        try:
            sink = open(tmp, "wb")
        except OSError as e:
            raise OutputError(f"{output}: cannot write: {e.strerror or e}") from None

    def emit(r: BookResult) -> None:
        if r.output:
            if sink is None:
                write_stdout(r.output)
            else:
                try:
                    sink.write(r.output)
                except OSError as e:
                    raise OutputError(f"{output}: cannot write: {e.strerror or e}") from None

    order = _InOrder(emit)

    def on_result(r: BookResult) -> None:
        _notes(r)
        order.add(r)

    renamed = False
    try:
        bar = _progress_wanted(progress, len(jobs_), writes_stdout=output is None)
        results, interrupted, seconds = _run(jobs_, fmt, options, workers, bar, on_result)
        if sink is not None and not interrupted:
            try:
                sink.close()
                os.replace(tmp, output)
                renamed = True
            except OSError as e:
                raise OutputError(f"{output}: cannot write: {e.strerror or e}") from None
    finally:
        if sink is not None:
            sink.close()
            if not renamed:
                try:
                    os.unlink(tmp)
                except OSError:
                    pass
    if not quiet or interrupted:
        _summary(results, len(jobs_), seconds, interrupted)
    if interrupted:
        return EXIT_INTERRUPTED
    return EXIT_FAILED if any(r.error for r in results) else EXIT_OK


@cli.command(epilog=_EXAMPLES)
@click.argument("inputs", nargs=-1, required=True, metavar="IN...")
@click.option("--format", "format_", type=click.Choice(["text", "json"]), default="text", show_default=True,
              help="text: one entry per diagnostic (path:line:column: severity [code] message) and a summary; json: one document.")
@click.option("--severity", type=click.Choice([s.value for s in Severity]), default="note", show_default=True,
              help="Show diagnostics of this severity and more severe ones.")
@click.option("-q", "--quiet", is_flag=True, help="Only the summary.")
@click.option("-j", "--jobs", type=click.IntRange(min=1), default=None, help="Worker processes. Default: the number of cores.")
@click.option("--progress/--no-progress", default=None, help="Progress bar. Default: on when standard error is a terminal.")
def check(inputs, format_, severity, quiet, jobs, progress) -> int:
    """Report the diagnostics of books. IN is a file, `-`, a .zip archive or a folder.

    The exit status is 1 when any error-severity diagnostic is found or a
    book cannot be read, so the command can guard a repository of texts.
    """
    level = Severity(severity)
    if "-" in inputs and len(inputs) > 1:
        raise click.UsageError("standard input ('-') can only be checked on its own")
    if inputs == ("-",):
        data = _read_stdin()
        job = Job(index=0, source="<stdin>", label="<stdin>", size=len(data))
        results = [convert_book(job, None, collect_diagnostics=True, data=data)]
        interrupted = False
        total = 1
        emitter = _CheckReport(format_, level, quiet)
        emitter.add(results[0])
    else:
        jobs_ = plan(list(inputs), Format.HTML, None)
        total = len(jobs_)
        if not jobs_:
            say("no .txt or .zip files found")
            return EXIT_FAILED
        emitter = _CheckReport(format_, level, quiet)
        order = _InOrder(emitter.add)
        results, interrupted, _seconds = _run(
            jobs_, None, FormatOptions(), jobs or default_workers(), _progress_wanted(progress, total, writes_stdout=True),
            order.add, collect_diagnostics=True,
        )
    emitter.finish(total)
    for r in results:
        _notes(r)
        if r.error:
            say(r.error)
    if interrupted:
        return EXIT_INTERRUPTED
    errors = any(r.error for r in results) or any(r.severities.get("error") for r in results)
    return EXIT_FAILED if errors else EXIT_OK


class _CheckReport:
    """Writes the check report as results arrive (text) or at the end (json)."""

    def __init__(self, format_: str, level: Severity, quiet: bool):
        self.json = format_ == "json"
        self.level = level
        self.quiet = quiet
        self.books: list[dict] = []
        self.by_code: Counter = Counter()
        self.by_severity: Counter = Counter()
        self.failed = 0
        self.checked = 0

    def _shown(self, r: BookResult) -> list[dict]:
        out = []
        for d in r.diagnostics or ():
            try:
                sev = Severity(d.get("severity"))
            except ValueError:
                sev = Severity.NOTE
            if self.level.includes(sev):
                out.append(d)
        return out

    def add(self, r: BookResult) -> None:
        if r.skipped:
            return
        if r.error:
            self.failed += 1
        else:
            self.checked += 1
        self.by_severity.update(r.severities)
        shown = self._shown(r)
        for d in shown:
            self.by_code[(d.get("severity", "note"), d.get("kind", "?"))] += 1
        if self.json:
            self.books.append({
                "path": r.source, "title": r.title, "encoding": r.encoding or None,
                "error": r.error, "diagnostics": shown,
            })
            return
        if self.quiet or not shown:
            return
        lines = []
        for d in shown:
            text = d.get("text")
            if text is None:
                span = d.get("span") or {}
                text = f"{d.get('severity')} [{d.get('kind')}] @ {span.get('start')}..{span.get('end')}\n"
            where = f"{r.source}:{d['line']}:{d['column']}: " if "line" in d else f"{r.source}: "
            lines.append(where + (text if text.endswith("\n") else text + "\n"))
        write_stdout("".join(lines).encode("utf-8"))

    def finish(self, total: int) -> None:
        severities = {s.value: self.by_severity.get(s.value, 0) for s in Severity}
        codes = sorted(self.by_code.items(), key=lambda kv: (Severity(kv[0][0]).rank if kv[0][0] in _SEV else 9, -kv[1], kv[0][1]))
        if self.json:
            doc = {
                "books": self.books,
                "summary": {
                    "books": total, "checked": self.checked, "failed": self.failed,
                    "bySeverity": severities,
                    "byCode": [{"kind": k, "severity": s, "count": n} for (s, k), n in codes],
                },
            }
            write_stdout((json.dumps(doc, ensure_ascii=False) + "\n").encode("utf-8"))
            return
        lines = []
        if codes:
            lines.append(f"summary (severity {self.level.value} and above):")
            width = max(len(k) for (_, k), _ in codes)
            lines.extend(f"  {s:<8} {k:<{width}} {n:>8}" for (s, k), n in codes)
        counts = _counts(severities)
        failed = f", {self.failed} could not be read" if self.failed else ""
        lines.append(f"{_count(self.checked, 'book')} checked{failed}: {counts}")
        write_stdout(("\n".join(lines) + "\n").encode("utf-8"))


_SEV = {s.value for s in Severity}


# -- entry point -------------------------------------------------------------------


def _normalise(argv: Sequence[str]) -> list[str]:
    """`kogane FILE ...` is `kogane convert FILE ...` (what `python -m kogane FILE` always did)."""
    args = list(argv)
    if args and args[0] not in _COMMANDS and args[0] not in _GROUP_OPTIONS:
        args.insert(0, "convert")
    return args


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command; returns the exit status (the console script exits with it)."""
    args = _normalise(sys.argv[1:] if argv is None else argv)
    if sys.stdout is None:
        sys.stdout = _ClosedStdout()  # type: ignore[assignment]
    try:
        try:
            status = cli.main(args=args, prog_name="kogane", standalone_mode=False)
        except click.exceptions.Exit as e:
            status = e.exit_code
        except click.ClickException as e:
            e.show()
            status = e.exit_code
        except click.exceptions.Abort:
            status = EXIT_INTERRUPTED
        if status is None:
            status = EXIT_OK
        _flush_stdout()
        return int(status)
    except (PipeClosed, BrokenPipeError):
        _silence_stdout()
        return EXIT_PIPE_CLOSED
    except OutputError as e:
        say(str(e))
        _silence_stdout()
        return EXIT_FAILED
    except OSError as e:
        if e.errno == errno.EPIPE:
            _silence_stdout()
            return EXIT_PIPE_CLOSED
        # Book files report their own faults; what gets here is a stream that failed.
        where = e.filename or "standard output"
        say(f"cannot write to {where}: {e.strerror or e}")
        _silence_stdout()
        return EXIT_FAILED
    except KeyboardInterrupt:
        say("interrupted")
        return EXIT_INTERRUPTED


if __name__ == "__main__":
    sys.exit(main())
