"""The kogane command, run as a user runs it: in a subprocess, through `python -m kogane`."""

import inspect
import json
import os
import signal
import subprocess
import sys
import time
import zipfile
from pathlib import Path

import pytest

import kogane

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "sample-sjis.txt"
PKG_PATH = str(Path(kogane.__file__).resolve().parents[1])


def run(*args, stdin=None, stdout=subprocess.PIPE):
    env = dict(os.environ, PYTHONPATH=PKG_PATH)
    return subprocess.run([sys.executable, "-m", "kogane", *map(str, args)], input=stdin,
                          stdout=stdout, stderr=subprocess.PIPE, env=env, timeout=120, check=False)


def html_of(path):
    return kogane.Document.from_bytes(Path(path).read_bytes()).to_html().encode()


@pytest.fixture
def library(tmp_path):
    """A small library: nested folders, an archive as distributed, an undecodable file."""
    lib = tmp_path / "lib"
    (lib / "a" / "b").mkdir(parents=True)
    (lib / "a" / "one.txt").write_bytes(SAMPLE.read_bytes())
    (lib / "a" / "b" / "two.txt").write_text("｜漢字《かんじ》\r\n", encoding="utf-8")
    with zipfile.ZipFile(lib / "a" / "three.zip", "w") as z:
        z.writestr("three/three.txt", SAMPLE.read_bytes())
    (lib / "bad.txt").write_bytes(b"\x82\xa0\xff\xfe")
    (lib / "notes.md").write_text("not a book")
    return lib


# -- one book ----------------------------------------------------------------------


def test_one_file_stdin_and_output_file_give_the_same_fragment(tmp_path):
    expected = html_of(SAMPLE)
    for r in (run(SAMPLE), run("convert", SAMPLE), run("convert", "-", stdin=SAMPLE.read_bytes())):
        assert (r.returncode, r.stdout) == (0, expected), r.stderr
    r = run("convert", SAMPLE, "-o", tmp_path / "x.html")
    assert r.returncode == 0 and r.stdout == b""
    assert (tmp_path / "x.html").read_bytes() == expected
    r = run("convert", SAMPLE, "--to", "source", "-o", tmp_path)  # an existing folder
    doc = kogane.Document.from_bytes(SAMPLE.read_bytes())
    assert (tmp_path / "sample-sjis.txt").read_bytes() == doc.to_source().encode()
    assert [p.name for p in tmp_path.iterdir() if p.name.startswith(".")] == []


def test_formats_to_standard_output():
    r = run("convert", SAMPLE, "--to", "source", "-o", "-")
    assert r.stdout == kogane.Document.from_bytes(SAMPLE.read_bytes()).to_source().encode()
    pytest.importorskip("kogane.epub")
    r = run("convert", SAMPLE, "--to", "epub")  # a pipe, not a terminal: binary is fine
    assert r.returncode == 0 and r.stdout.startswith(b"PK\x03\x04") and b"application/epub+zip" in r.stdout[:100]


def test_json_carries_every_view():
    r = run("convert", SAMPLE, "--to", "json")
    assert r.returncode == 0, r.stderr
    views = json.loads(r.stdout)
    doc = kogane.Document.from_bytes(SAMPLE.read_bytes())
    assert views["path"] == "sample-sjis.txt"
    assert views["title"] == "銀河の停車場"
    assert views["nodes"] == json.loads(doc.nodes_json())
    assert views["pairs"] == json.loads(doc.pairs_json())
    assert views["containerPairs"] == json.loads(doc.container_pairs_json())
    assert views["gaiji"] == json.loads(doc.gaiji_json())
    assert views["diagnostics"] == json.loads(doc.diagnostics_json())


def test_undecodable_file_is_one_line_naming_the_offset(tmp_path):
    bad = tmp_path / "bad.txt"
    bad.write_bytes(b"abc\r\n\x82\xa0\xff")
    r = run(bad)
    assert (r.returncode, r.stdout) == (1, b"")
    assert r.stderr.decode() == f"kogane: {bad}: neither UTF-8 nor Shift_JIS: undecodable byte 0xFF at offset 7\n"
    r = run(tmp_path / "missing.txt")
    assert r.returncode == 1
    assert r.stderr.decode() == f"kogane: {tmp_path / 'missing.txt'}: cannot read: No such file or directory\n"


def test_usage_errors_and_help():
    r = run("--help")
    assert r.returncode == 0 and b"kogane convert library/ --to page -o site/" in r.stdout
    r = run("convert", "--help")
    assert r.returncode == 0 and b"--to [html|page|epub|text|jsonl|source|json]" in r.stdout
    r = run(SAMPLE, SAMPLE)
    assert r.returncode == 2 and b"several inputs or a folder need -o DIR" in r.stderr
    r = run("convert", "-", SAMPLE, "-o", "x")
    assert r.returncode == 2 and b"standard input ('-') can only be converted on its own" in r.stderr
    r = run("convert", SAMPLE, "--to", "pdf")
    assert r.returncode == 2 and b"'pdf' is not one of" in r.stderr


# -- closed pipes, full disks, closed standard output ---------------------------------


@pytest.fixture
def long_book(tmp_path):
    path = tmp_path / "long.txt"
    path.write_bytes(SAMPLE.read_bytes() * 1000)  # every output far larger than a pipe holds
    return path


@pytest.mark.parametrize("unbuffered", [False, True])
@pytest.mark.parametrize("command", [[], ["convert", "--to", "source"], ["check"]])
def test_closed_pipe_ends_quietly_with_141(long_book, command, unbuffered):
    flags = ["-u"] if unbuffered else []
    env = dict(os.environ, PYTHONPATH=PKG_PATH)
    p = subprocess.Popen([sys.executable, *flags, "-m", "kogane", *command, str(long_book)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    p.stdout.read(100)
    p.stdout.close()  # what `| head -c 100` does
    err = p.stderr.read()
    assert p.wait(timeout=120) == 141
    assert err == b""


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
@pytest.mark.parametrize("command", [[], ["check"], ["--help"]])
def test_full_disk_is_one_error_line(long_book, command):
    with open("/dev/full", "wb") as full:
        r = run(*command, long_book, stdout=full) if command != ["--help"] else run("--help", stdout=full)
    assert r.returncode == 1
    assert r.stderr == b"kogane: cannot write to standard output: No space left on device\n"


@pytest.mark.parametrize("command", [[str(SAMPLE)], ["check", str(SAMPLE)], ["--help"]])
def test_closed_stdout_is_one_error_line(command):
    shell = f"{sys.executable} -m kogane {' '.join(command)} >&-"
    r = subprocess.run(["bash", "-c", shell], stderr=subprocess.PIPE,
                       env=dict(os.environ, PYTHONPATH=PKG_PATH), timeout=60)
    assert r.returncode == 1
    assert r.stderr == b"kogane: cannot write to standard output: it is closed\n"


# -- folders and batches ---------------------------------------------------------------


def test_folder_is_mirrored_and_the_batch_goes_on_past_a_bad_file(library, tmp_path):
    out = tmp_path / "out"
    r = run("convert", library, "-o", out, "--jobs", "2")
    assert r.returncode == 1
    files = sorted(p.relative_to(out).as_posix() for p in out.rglob("*") if p.is_file())
    assert files == ["a/b/two.html", "a/one.html", "a/three.html"]
    assert (out / "a" / "one.html").read_bytes() == html_of(SAMPLE)
    assert (out / "a" / "three.html").read_bytes() == html_of(SAMPLE)
    assert (out / "a" / "b" / "two.html").read_bytes() == html_of(library / "a" / "b" / "two.txt")
    err = r.stderr.decode().splitlines()
    assert err[0].startswith("kogane: 4 books, 0.0 MB in ") and err[0].endswith("; 1 failed")
    assert err[1] == "kogane: diagnostics: 0 errors, 0 warnings, 2 notes"
    assert err[2] == f"kogane: failed: {library / 'bad.txt'}: neither UTF-8 nor Shift_JIS: undecodable byte 0xFF at offset 2"
    assert len(err) == 3


def test_several_inputs_mirror_their_common_folder(library, tmp_path):
    out = tmp_path / "out"
    r = run("convert", library / "a" / "one.txt", library / "a" / "b", "-o", out, "-j", "1", "-q", "--to", "source")
    assert r.returncode == 0, r.stderr
    assert r.stderr == b""
    files = sorted(p.relative_to(out).as_posix() for p in out.rglob("*") if p.is_file())
    assert files == ["b/two.txt", "one.txt"]


def test_jsonl_is_one_record_per_book_in_input_order(library, tmp_path):
    pytest.importorskip("kogane.text")
    from kogane.text import to_text
    from kogane.book import Book

    out = tmp_path / "corpus.jsonl"
    r = run("convert", library, "--to", "jsonl", "-o", out, "-j", "2")
    assert r.returncode == 1  # bad.txt
    records = [json.loads(line) for line in out.read_text(encoding="utf-8").splitlines()]
    assert [rec["path"] for rec in records] == ["a/one.txt", "a/three.zip", "a/b/two.txt"]
    first = records[0]
    assert set(first) == {"path", "title", "author", "text", "diagnostics"}
    assert first["title"] == "銀河の停車場"
    assert first["text"] == to_text(Book.from_path(SAMPLE))
    assert first["diagnostics"] == {"error": 0, "warning": 0, "note": 1}
    r2 = run("convert", library, "--to", "jsonl", "-j", "1", "-q")  # to standard output
    assert r2.stdout == out.read_bytes()


def test_page_of_an_archive_brings_its_illustrations(tmp_path):
    pytest.importorskip("kogane.pages")
    archive = tmp_path / "book.zip"
    with zipfile.ZipFile(archive, "w") as z:
        z.writestr("book/book.txt", "題\r\n\r\n本文［＃挿絵（fig/a.png）入る］\r\n".encode("cp932"))
        z.writestr("book/fig/a.png", b"\x89PNG fake")
    r = run("convert", archive, "--to", "page", "-o", tmp_path / "site" / "book.html")
    assert r.returncode == 0, r.stderr
    assert 'src="fig/a.png"' in (tmp_path / "site" / "book.html").read_text(encoding="utf-8")
    assert (tmp_path / "site" / "fig" / "a.png").read_bytes() == b"\x89PNG fake"


def test_what_a_format_leaves_out_is_reported(tmp_path):
    book = tmp_path / "b.txt"
    book.write_text("本文［＃挿絵（fig.png）入る］\n", encoding="utf-8")
    pytest.importorskip("kogane.pages")
    r = run("convert", book, "--to", "page", "-o", tmp_path / "b.html")
    assert r.returncode == 0
    assert r.stderr.decode() == f"kogane: note: {book}: the illustration fig.png is missing\n"
    epub = pytest.importorskip("kogane.epub")
    if "warnings" not in inspect.signature(epub.build_epub).parameters:
        pytest.skip("this EPUB builder reports nothing")
    r = run("convert", book, "--to", "epub", "-o", tmp_path / "b.epub")
    assert r.returncode == 0 and (tmp_path / "b.epub").exists()
    assert r.stderr.decode().startswith(f"kogane: note: {book}: image 'fig.png' left out")


def test_ctrl_c_leaves_only_complete_outputs(tmp_path):
    lib = tmp_path / "lib"
    lib.mkdir()
    text = SAMPLE.read_bytes() * 200
    for i in range(40):
        (lib / f"book{i:02}.txt").write_bytes(text)
    expected = html_of(lib / "book00.txt")
    out = tmp_path / "out"
    env = dict(os.environ, PYTHONPATH=PKG_PATH)
    p = subprocess.Popen([sys.executable, "-m", "kogane", "convert", str(lib), "-o", str(out), "-j", "2"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    deadline = time.monotonic() + 60
    while not (out.exists() and any(out.glob("*.html"))) and time.monotonic() < deadline:
        time.sleep(0.02)
    p.send_signal(signal.SIGINT)
    _, err = p.communicate(timeout=120)
    assert p.returncode == 130, err
    assert b"of 40 books" in err
    written = sorted(out.iterdir())
    assert 0 < len(written) < 40
    for f in written:
        assert not f.name.startswith("."), f.name  # no temporary file left behind
        assert f.read_bytes() == expected


# -- check ----------------------------------------------------------------------------


def test_check_reports_lines_columns_and_a_summary(tmp_path):
    book = tmp_path / "b.txt"
    book.write_text("一行目\nあいう《えお\n", encoding="utf-8")
    r = run("check", book, SAMPLE, "-j", "1")
    assert r.returncode == 1  # an error-severity diagnostic
    assert r.stdout.decode().splitlines() == [
        f"{book}:2:4: error [kogane::lex::unclosed_bracket] @ 19..22: unclosed Kogane Ruby bracket",
        '  > "《"',
        f"{SAMPLE}:12:2: note [kogane::lex::accent_decomposition_applied] @ 498..509: accent digraph decomposed in sanitize stage",
        '  > "〔Cafe\'〕"',
        "summary (severity note and above):",
        "  error    unclosed_bracket" + " " * 20 + "1",
        "  note     accent_decomposition_applied" + " " * 8 + "1",
        "2 books checked: 1 error, 0 warnings, 1 note",
    ]
    r = run("check", SAMPLE, "--severity", "warning")
    assert r.returncode == 0
    assert r.stdout.decode() == "1 book checked: 0 errors, 0 warnings, 1 note\n"


def test_check_json_and_unreadable_files(tmp_path, library):
    r = run("check", "--format", "json", library / "a" / "one.txt", library / "bad.txt", "-j", "1")
    assert r.returncode == 1
    report = json.loads(r.stdout)
    assert [b["path"] for b in report["books"]] == [str(library / "a" / "one.txt"), str(library / "bad.txt")]
    (diag,) = report["books"][0]["diagnostics"]
    assert {k: diag[k] for k in ("kind", "severity", "span", "line", "column")} == {
        "kind": "accent_decomposition_applied", "severity": "note",
        "span": {"start": 498, "end": 509}, "line": 12, "column": 2,
    }
    assert report["books"][1]["error"].endswith("undecodable byte 0xFF at offset 2")
    assert report["summary"] == {
        "books": 2, "checked": 1, "failed": 1,
        "bySeverity": {"error": 0, "warning": 0, "note": 1},
        "byCode": [{"kind": "accent_decomposition_applied", "severity": "note", "count": 1}],
    }
    assert r.stderr.decode() == f"kogane: {library / 'bad.txt'}: neither UTF-8 nor Shift_JIS: undecodable byte 0xFF at offset 2\n"
    r = run("check", "-", stdin="あ《\n".encode("utf-8"))
    assert r.returncode == 1 and r.stdout.startswith(b"<stdin>:1:2: error [kogane::lex::unclosed_bracket]")
