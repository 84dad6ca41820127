"""kogane.convert_many and the planning of targets, on local processes, threads and a Dask cluster."""

import gc
import json
import pickle
import sys
import threading
import zipfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import kogane
from kogane.batch import Format, _Book, plan, severity_counts
from kogane.book import Book

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "sample-sjis.txt"


def html_of(path):
    return kogane.Document.from_bytes(Path(path).read_bytes()).to_html().encode()


@pytest.fixture
def library(tmp_path):
    lib = tmp_path / "lib"
    (lib / "a").mkdir(parents=True)
    (lib / "a" / "one.txt").write_bytes(SAMPLE.read_bytes())
    (lib / "a" / "two.txt").write_text("｜漢字《かんじ》\n", encoding="utf-8")
    with zipfile.ZipFile(lib / "one.zip", "w") as z:
        z.writestr("one/one.txt", SAMPLE.read_bytes())
    (lib / "one.txt").write_bytes(b"\x82\xa0\xff")  # undecodable, and the same stem as one.zip
    return lib


def outputs(results):
    return [(r.label, r.output, r.error) for r in results]


def test_results_come_back_in_input_order_with_their_outputs(library):
    results = kogane.convert_many([library], to="html", workers=2)
    assert [r.label for r in results] == ["one.txt", "one.zip", "a/one.txt", "a/two.txt"]
    bad, zipped, one, two = results
    assert not bad.ok and bad.output is None
    assert bad.error == f"{library / 'one.txt'}: neither UTF-8 nor Shift_JIS: undecodable byte 0xFF at offset 2"
    assert zipped.output == one.output == html_of(SAMPLE)
    assert two.output == "<p><ruby>漢字<rp>(</rp><rt>かんじ</rt><rp>)</rp></ruby></p>\n".encode()
    assert (one.title, one.encoding, one.severities) == ("銀河の停車場", "shift_jis", {"error": 0, "warning": 0, "note": 1})
    assert zipped.notes == [] and zipped.bytes_in == (library / "one.zip").stat().st_size
    # Any executor runs the same work.
    with ThreadPoolExecutor(2) as pool:
        assert outputs(kogane.convert_many([library], to="html", executor=pool)) == outputs(results)
    assert outputs(kogane.convert_many([library], to="html", workers=1)) == outputs(results)


def test_targets_mirror_the_tree_and_never_overwrite_an_input(library, tmp_path):
    jobs = plan([library], Format.HTML, tmp_path / "out")
    out = tmp_path / "out"
    assert [(j.label, j.target) for j in jobs] == [
        ("one.txt", str(out / "one.html")),
        ("one.zip", str(out / "one.zip.html")),  # one.html is taken by one.txt
        ("a/one.txt", str(out / "a" / "one.html")),
        ("a/two.txt", str(out / "a" / "two.html")),
    ]
    # An output folder inside the library is not read back as part of it.
    (library / "site").mkdir()
    (library / "site" / "old.txt").write_text("x")
    assert [j.label for j in plan([library], Format.TEXT, library / "site")] == [j.label for j in jobs]
    # Plain text next to its source would replace it.
    results = kogane.convert_many([library / "a"], to="source", out=library / "a", workers=1)
    assert all(r.error and r.error.endswith("the output would overwrite the input; choose another output folder")
               for r in results)
    assert (library / "a" / "two.txt").read_text(encoding="utf-8") == "｜漢字《かんじ》\n"


def test_written_outputs_match_the_in_memory_ones(library, tmp_path):
    in_memory = kogane.convert_many([library], to="json", workers=1)
    written = kogane.convert_many([library], to="json", out=tmp_path / "out", workers=2)
    for mem, disk in zip(in_memory, written):
        assert disk.output is None
        if mem.ok:
            assert Path(disk.target).read_bytes() == mem.output
            assert disk.bytes_out == len(mem.output)
    assert sorted(p.name for p in (tmp_path / "out").rglob("*")) == ["a", "one.json", "one.zip.json", "two.json"]


def test_a_dask_cluster_gives_the_same_outputs(library, tmp_path):
    distributed = pytest.importorskip("distributed")
    local = kogane.convert_many([library], to="html", out=tmp_path / "local", workers=2)
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        remote = kogane.convert_many([library], to="html", out=tmp_path / "dask", executor=client.get_executor())
    assert [(r.label, r.error) for r in remote] == [(r.label, r.error) for r in local]

    def tree(root):
        return {p.relative_to(root).as_posix(): p.read_bytes() for p in root.rglob("*") if p.is_file()}

    assert tree(tmp_path / "dask") == tree(tmp_path / "local")
    assert len(tree(tmp_path / "local")) == 3


def test_stopping_a_run_finishes_the_books_under_way_and_starts_no_more(tmp_path):
    from kogane.batch import BatchRun

    lib = tmp_path / "lib"
    lib.mkdir()
    for i in range(24):
        (lib / f"b{i:02}.txt").write_bytes(SAMPLE.read_bytes() * 50)
    jobs = plan([lib], Format.HTML, tmp_path / "out")
    with BatchRun(jobs, Format.HTML, workers=2) as run:
        first = next(iter(run))
        finished = [first, *run.stop()]
        left = run.not_done()
    assert all(r.ok for r in finished)
    assert len(finished) + len(left) == 24 and left  # books not started stay undone
    written = sorted((tmp_path / "out").iterdir())
    assert sorted(Path(r.target) for r in finished) == written  # nothing half-written beside them
    expected = html_of(lib / "b00.txt")
    assert all(p.read_bytes() == expected for p in written)


def test_planning_skips_hidden_and_linked_folders_and_keeps_names_as_given(library, tmp_path, monkeypatch):
    (library / ".git").mkdir()
    (library / ".git" / "x.txt").write_text("x")
    (library / "a" / ".draft.txt").write_text("x")
    (library / "linked").symlink_to(library / "a", target_is_directory=True)
    (library / "..odd.txt").write_text("x")
    monkeypatch.chdir(tmp_path)
    jobs = plan(["./lib/", "lib/a/two.txt", "lib/..odd.txt"], Format.HTML, "out/")
    assert [(j.source, j.label, j.target) for j in jobs] == [
        ("lib/one.txt", "one.txt", "out/one.html"),
        ("lib/one.zip", "one.zip", "out/one.zip.html"),
        ("lib/a/one.txt", "a/one.txt", "out/a/one.html"),
        ("lib/a/two.txt", "a/two.txt", "out/a/two.html"),  # named twice, planned once
        ("lib/..odd.txt", "..odd.txt", "out/..odd.html"),
    ]
    assert [j.size for j in jobs[2:4]] == [SAMPLE.stat().st_size, len("｜漢字《かんじ》\n".encode())]


def test_an_archive_gives_up_only_the_illustrations_its_page_shows(tmp_path):
    archive = tmp_path / "book.zip"
    text = "題\r\n\r\n本文［＃挿絵（fig/a.png）入る］\r\n［＃挿絵（fig/b.png）入る］\r\n"
    with zipfile.ZipFile(archive, "w") as z:  # stored, so that a member can be damaged in place
        z.writestr("book/book.txt", text.encode("cp932"))
        z.writestr("book/fig/a.png", b"\x89PNG a")
        z.writestr("book/fig/b.png", b"\x89PNG bbbb")
        z.writestr("book/fig/unused.png", b"\x89PNG unused")
    archive.write_bytes(archive.read_bytes().replace(b"PNG bbbb", b"PNG xxxx").replace(b"PNG unused", b"PNG UNUSED"))

    book = kogane.Book.from_path(archive)
    assert sorted(book.images) == ["fig/a.png", "fig/b.png", "fig/unused.png"]
    assert book.image("fig/a.png") == b"\x89PNG a" and book.image("fig/b.png") is None
    assert book.images.faults == {"fig/b.png": f"{archive}: cannot read book/fig/b.png: Bad CRC-32 for file 'book/fig/b.png'"}
    assert pickle.loads(pickle.dumps(book.images))["fig/a.png"] == b"\x89PNG a"  # the open archive stays behind

    # A damaged illustration the page does not show costs nothing; one it
    # shows is left out with the reason, and the page is written all the same.
    (r,) = kogane.convert_many([archive], to="page", out=tmp_path / "site", workers=1)
    assert r.ok and r.images == ["fig/a.png", "fig/b.png"]
    assert r.notes == [f"{archive}: cannot read book/fig/b.png: Bad CRC-32 for file 'book/fig/b.png'"]
    site = tmp_path / "site"
    assert sorted(p.relative_to(site).as_posix() for p in site.rglob("*") if p.is_file()) == ["book.html", "fig/a.png"]
    assert (site / "fig" / "a.png").read_bytes() == b"\x89PNG a"


def test_page_bytes_are_the_page_encoded():
    from kogane.pages import render_page, render_page_bytes

    book = kogane.Book.from_text("銀河\r\n副題\r\n宮沢賢治\r\n\r\n本文［＃「本文」に傍点］\r\n底本：「本」\r\n", "b.txt")
    for options in ({}, {"horizontal": True, "notes": True}):
        page = render_page(book, **options)
        assert render_page_bytes(book, **options) == page.encode("utf-8")
        assert '<meta name="author" content="宮沢賢治" />' in page and '<section class="kogane-colophon">' in page


def test_missing_illustrations_are_one_note_per_book(tmp_path):
    lib = tmp_path / "lib"
    lib.mkdir()
    (lib / "one.txt").write_text("本文［＃挿絵（a.png）入る］\n", encoding="utf-8")
    (lib / "many.txt").write_text("".join(f"［＃挿絵（f{i}.png）入る］\n" for i in range(7)), encoding="utf-8")
    (lib / "f3.png").write_bytes(b"\x89PNG 3")
    many, one = kogane.convert_many([lib], to="page", out=tmp_path / "site", workers=1)
    assert one.notes == [f"{lib / 'one.txt'}: the illustration a.png is missing"]
    assert many.notes == [f"{lib / 'many.txt'}: 6 illustrations are missing: f0.png, f1.png, f2.png, f4.png, f5.png, …"]
    assert (tmp_path / "site" / "f3.png").read_bytes() == b"\x89PNG 3"


def test_severity_counts_are_the_severity_fields_of_the_diagnostics():
    # Line ends and an accent fragment that the parse rewrites: the counts hold for the source as given.
    text = "あ《\r\n［＃「x」に傍点］\r\n〔Cafe'〕\n" + "い《\r\n" * 3
    doc = kogane.Document(text)
    fields = [d["severity"] for d in json.loads(doc.diagnostics_json())["data"]]
    counts = doc.severity_counts()
    assert counts == {"error": 4, "warning": 1, "note": 1}
    assert counts == {s: fields.count(s) for s in ("error", "warning", "note")}
    assert kogane.Document("").severity_counts() == {"error": 0, "warning": 0, "note": 0}
    # A book's page counts its sections' diagnostics; the json view counts the whole file's.
    for cls in (Book, _Book):  # _Book keeps the documents it parsed for the sections
        book = cls.from_text("題《\n著者\n\n" + text + "\n底本：「x」《\n")
        assert book.header == "題《\n著者\n\n"
        assert severity_counts(book, Format.PAGE) == {"error": 6, "warning": 1, "note": 1}
        assert severity_counts(book, Format.JSON) == {"error": 6, "warning": 1, "note": 1}


class _ShiftJisNamed(zipfile.ZipInfo):
    """A member named as archivers on Japanese systems name them: Shift_JIS, no UTF-8 flag."""

    def _encodeFilenameFlags(self):
        return self.filename.encode("cp932"), self.flag_bits & ~0x800


def _archive(path, members, *, comment=b"", compression=zipfile.ZIP_DEFLATED, sjis_names=False):
    with zipfile.ZipFile(path, "w", compression) as z:
        for name, data in members:
            info = (_ShiftJisNamed if sjis_names else zipfile.ZipInfo)(name)
            info.compress_type = compression
            z.writestr(info, data)
        z.comment = comment
    return path


def _read_both_ways(path, monkeypatch):
    """Book.from_path of an archive, read directly and through zipfile: (fields or error) each."""
    from kogane import book as book_module

    def outcome():
        try:
            b = Book.from_path(path)
        except Exception as e:  # noqa: BLE001 - the error is the outcome
            return type(e).__name__, str(e)
        return b.name, b.text, b.encoding, b.notes, sorted(b.images)

    direct = outcome()
    with monkeypatch.context() as m:
        m.setattr(book_module, "_plain_archive_text", lambda data: None)
        through_zipfile = outcome()
    return direct, through_zipfile


def test_archives_read_directly_as_zipfile_reads_them(tmp_path, monkeypatch):
    from kogane.book import _plain_archive_text

    sjis = SAMPLE.read_bytes()
    cases = {
        "plain": dict(members=[("book/book.txt", sjis)]),
        "stored": dict(members=[("a.txt", "｜漢字《かんじ》\n".encode())], compression=zipfile.ZIP_STORED),
        "two texts": dict(members=[("d/", b""), ("__MACOSX/._big.txt", sjis * 2), ("small.txt", b"x\n"), ("big.txt", sjis)]),
        "empty text": dict(members=[("e.txt", b"")]),
        "sjis names": dict(members=[("作品/銀河.txt", sjis), ("作品/注.txt", b"a\n")], sjis_names=True),
        "comment": dict(members=[("c.txt", sjis)], comment=b"distributed with a comment"),
        "illustration": dict(members=[("i/i.txt", sjis), ("i/fig.png", b"png")]),
        "no text": dict(members=[("readme.md", b"x")]),
    }
    direct_ones = set()
    for label, spec in cases.items():
        path = _archive(tmp_path / f"{label}.zip", **spec)
        if _plain_archive_text(path.read_bytes()) is not None:
            direct_ones.add(label)
        direct, through_zipfile = _read_both_ways(path, monkeypatch)
        assert direct == through_zipfile, label
    # Archives as distributed take the direct way; the unusual ones are left to zipfile.
    assert direct_ones == {"plain", "stored", "two texts", "empty text", "sjis names"}
    assert Book.from_path(tmp_path / "sjis names.zip").notes == (
        f"{tmp_path / 'sjis names.zip'}: the archive holds 2 .txt files; took 作品/銀河.txt (not 作品/注.txt)",
    )

    # Damage anywhere gives what zipfile says about it (the direct way never guesses).
    good = (tmp_path / "plain.zip").read_bytes()
    text_at = good.index(b"book/book.txt") + len("book/book.txt")
    damaged = {
        "crc": good[:text_at] + bytes([good[text_at] ^ 0xFF]) + good[text_at + 1 :],
        "truncated": good[: len(good) // 2],
        "no end record": good[:-22],
        "central record": good.replace(b"PK\x01\x02", b"PK\x01\x09"),
        "sizes": good[:-6] + (len(good) + 5).to_bytes(4, "little") + b"\x00\x00",
    }
    for label, data in damaged.items():
        path = tmp_path / f"{label}.zip"
        path.write_bytes(data)
        assert _plain_archive_text(data) is None, label
        direct, through_zipfile = _read_both_ways(path, monkeypatch)
        assert direct == through_zipfile and direct[0] == "BookError", label


def test_a_book_is_read_whole_however_the_reads_come(tmp_path, monkeypatch):
    import os
    import threading

    data = SAMPLE.read_bytes()
    expected = Book.from_bytes(data).text
    path = tmp_path / "b.txt"
    path.write_bytes(data)
    zipped = _archive(tmp_path / "b.zip", [("b/b.txt", data)])
    real_read = os.read
    with monkeypatch.context() as m:  # reads cut short, as a 2 GiB file's first read is
        m.setattr(os, "read", lambda fd, n: real_read(fd, min(n, 7)))
        assert Book.from_path(path).text == expected
        assert Book.from_path(zipped).text == expected
    fifo = tmp_path / "pipe.txt"
    os.mkfifo(fifo)
    writer = threading.Thread(target=fifo.write_bytes, args=(data,))
    writer.start()
    try:
        assert Book.from_path(fifo).text == expected
    finally:
        writer.join(timeout=10)


def test_frames_kept_after_a_conversion_hold_no_document(tmp_path, monkeypatch):
    """A sampling profiler (Dask's, for one) may keep a worker's frames, and so
    their variables, after the calls return, and let them go on its own
    thread. A document dropped there is reported and left allocated, so no
    frame of a conversion may hold one. Every frame of the package is kept
    here as it returns, in every format, then dropped on another thread."""
    book = tmp_path / "book.txt"
    book.write_bytes(SAMPLE.read_bytes())
    package = str(Path(kogane.__file__).parent)
    kept = []

    def tracer(frame, event, arg):
        if event == "return" and frame.f_code.co_filename.startswith(package):
            kept.append(frame)
        return tracer

    def convert():
        sys.settrace(tracer)
        try:
            for fmt in Format:
                for job in plan([book], fmt, tmp_path / fmt.value):
                    r = kogane.batch.convert_book(job, fmt, collect_diagnostics=True)
                    assert r.error is None, r.error
        finally:
            sys.settrace(None)

    worker = threading.Thread(target=convert)
    worker.start()
    worker.join()
    assert len(kept) > 100
    dropped = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: dropped.append(str(u.exc_value)))
    kept.clear()
    gc.collect()
    assert dropped == []
