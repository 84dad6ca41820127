"""EPUB 3 packages: layout of the archive, chapters, navigation, images, epubcheck."""

import datetime as dt
import io
import os
import re
import shutil
import struct
import subprocess
import xml.etree.ElementTree as ET
import zipfile
import zlib

import pytest

from kogane.book import Book, BookError
from kogane.epub import book_identifier, build_epub, write_epub

WHEN = dt.datetime(2024, 5, 6, 7, 8, 9, tzinfo=dt.timezone.utc)
OPF = "{http://www.idpf.org/2007/opf}"
DC = "{http://purl.org/dc/elements/1.1/}"
XHTML = "{http://www.w3.org/1999/xhtml}"

CHAPTERED = (
    "星の旅\n宮沢一郎\n山田花子訳\n\n"
    "［＃大見出し］第一章　出発［＃大見出し終わり］\n"
    "［＃中見出し］一［＃中見出し終わり］\n"
    "　汽笛《きてき》が鳴った。\n"
    "［＃挿絵（img/fig1.png、横2×縦2）入る］\n"
    "［＃挿絵（http://example.com/x.png）入る］\n"
    "［＃挿絵（img/absent.png）入る］\n"
    "［＃ここから２字下げ］\n"
    "［＃大見出し］第二章　到着［＃大見出し終わり］\n"
    "　着いた。\n"
    "［＃ここで字下げ終わり］\n"
    "\n底本：「星の本」出版社\n"
)
UNCHAPTERED = "　一枚目。\n［＃改ページ］\n　二枚目。\n［＃改丁］\n　三枚目。\n"


def tiny_png(width: int = 2, height: int = 2) -> bytes:
    raw = b"".join(b"\x00" + b"\x88\x00\x00" * width for _ in range(height))

    def chunk(tag: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


@pytest.fixture
def zipped_book(tmp_path):
    path = tmp_path / "hoshi.zip"
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("hoshi/hoshi.txt", CHAPTERED.replace("\n", "\r\n").encode("cp932"))
        z.writestr("hoshi/readme.txt", "読んでね")
        z.writestr("hoshi/img/fig1.png", tiny_png())
    return Book.from_path(path)


def entries(data: bytes) -> dict[str, bytes]:
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        return {i.filename: z.read(i) for i in z.infolist()}


class TestPackage:
    def test_archive_layout_and_metadata(self, zipped_book):
        warnings: list[str] = []
        data = build_epub(zipped_book, warnings=warnings, modified=WHEN)
        with zipfile.ZipFile(io.BytesIO(data)) as z:
            first = z.infolist()[0]
            assert (first.filename, first.compress_type) == ("mimetype", zipfile.ZIP_STORED)
            assert z.read(first) == b"application/epub+zip"
        files = entries(data)
        opf = ET.fromstring(files["OEBPS/content.opf"])
        meta = opf.find(f"{OPF}metadata")
        assert meta.find(f"{DC}title").text == "星の旅"
        assert meta.find(f"{DC}creator").text == "宮沢一郎"
        assert meta.find(f"{DC}contributor").text == "山田花子訳"
        assert meta.find(f"{DC}language").text == "ja"
        assert meta.find(f"{DC}identifier").text == book_identifier(zipped_book)
        modified = [m.text for m in meta.findall(f"{OPF}meta") if m.get("property") == "dcterms:modified"]
        assert modified == ["2024-05-06T07:08:09Z"]
        assert opf.find(f"{OPF}spine").get("page-progression-direction") == "rtl"
        hrefs = [i.get("href") for i in opf.find(f"{OPF}manifest")]
        assert hrefs == ["nav.xhtml", "kogane.css", "title.xhtml", "chapter-001.xhtml", "chapter-002.xhtml",
                         "colophon.xhtml", "images/001.png"]
        assert files["OEBPS/images/001.png"] == tiny_png()
        assert files["OEBPS/kogane.css"].decode().startswith("/* Kogane reading stylesheet")
        assert [w.split(": ", 1)[1] for w in warnings] == [
            "the archive holds 2 .txt files; took hoshi/hoshi.txt (not hoshi/readme.txt)",
            "image 'img/absent.png' left out: the book does not hold it",
        ]

    def test_identifier_is_stable_and_output_reproducible(self):
        a, b = Book.from_text(UNCHAPTERED, name="a.txt"), Book.from_text(UNCHAPTERED, name="a.txt")
        assert book_identifier(a) == book_identifier(Book.from_text(UNCHAPTERED, name="other.txt"))
        assert book_identifier(a) != book_identifier(Book.from_text(UNCHAPTERED + "　四枚目。\n"))
        assert re.fullmatch(r"urn:uuid:[0-9a-f-]{36}", book_identifier(a))
        assert build_epub(a, modified=WHEN) == build_epub(b, modified=WHEN)

    def test_write_epub_writes_the_file(self, tmp_path):
        target = tmp_path / "out.epub"
        write_epub(Book.from_text(UNCHAPTERED), target, modified=WHEN)
        assert target.read_bytes() == build_epub(Book.from_text(UNCHAPTERED), modified=WHEN)
        with pytest.raises(BookError, match=r"nowhere/out\.epub: cannot write"):
            write_epub(Book.from_text(UNCHAPTERED), tmp_path / "nowhere" / "out.epub")


class TestChapters:
    def test_split_at_large_headings_even_inside_containers(self, zipped_book):
        files = entries(build_epub(zipped_book, modified=WHEN))
        one = files["OEBPS/chapter-001.xhtml"].decode()
        two = files["OEBPS/chapter-002.xhtml"].decode()
        assert '<h1 id="h1" class="kogane-heading kogane-heading-large">第一章　出発</h1>' in one
        assert '<img src="images/001.png" width="2" height="2" alt="" />' in one
        assert 'src="http' not in one and "absent.png" not in one
        # The indent container holding the second heading moves whole.
        assert re.search(r'<div class="kogane-body">\n<div class="kogane-container kogane-container-indent[^>]*>\n'
                         r'<h1 id="h3" class="kogane-heading kogane-heading-large">第二章　到着</h1>', two)
        assert 'class="kogane-page kogane-vertical"' in two
        for name, body in files.items():
            if name.endswith((".xhtml", ".opf", ".xml")):
                ET.fromstring(body)

    def test_navigation_nests_headings(self, zipped_book):
        nav = ET.fromstring(entries(build_epub(zipped_book, modified=WHEN))["OEBPS/nav.xhtml"])
        top = nav.find(f".//{XHTML}nav/{XHTML}ol")

        def tree(ol):
            return [(li.find(f"{XHTML}a").text, li.find(f"{XHTML}a").get("href"),
                     tree(li.find(f"{XHTML}ol")) if li.find(f"{XHTML}ol") is not None else [])
                    for li in ol.findall(f"{XHTML}li")]

        assert tree(top) == [
            ("星の旅", "title.xhtml", []),
            ("第一章　出発", "chapter-001.xhtml#h1", [("一", "chapter-001.xhtml#h2", [])]),
            ("第二章　到着", "chapter-002.xhtml#h3", []),
            ("底本", "colophon.xhtml", []),
        ]

    def test_headings_named_by_annotations_split_their_paragraph(self):
        book = Book.from_text("第一［＃「第一」は大見出し］\n本文\n一［＃「一」は中見出し］\n第二［＃「第二」は大見出し］\nおわり\n")
        files = entries(build_epub(book, modified=WHEN))
        one, two = (files[f"OEBPS/chapter-00{k}.xhtml"].decode() for k in (1, 2))
        assert '<p><span id="h1" class="kogane-heading-hint" data-level="1">第一</span><br />\n本文<br />\n' in one
        assert one.endswith('data-level="2">一</span></p></div>\n</body>\n</html>\n')
        assert '<p><span id="h3" class="kogane-heading-hint" data-level="1">第二</span><br />\nおわり</p>' in two
        assert '<a href="chapter-001.xhtml#h2">一</a>' in files["OEBPS/nav.xhtml"].decode()

    def test_an_empty_heading_is_named_by_its_chapter_number(self):
        files = entries(build_epub(Book.from_text("［＃大見出し］［＃大見出し終わり］\n本文\n"), modified=WHEN))
        assert '<a href="chapter-001.xhtml#h1">1</a>' in files["OEBPS/nav.xhtml"].decode()
        assert '<h1 id="h1" class="kogane-heading kogane-heading-large"></h1>' in files["OEBPS/chapter-001.xhtml"].decode()

    def test_without_headings_split_at_page_breaks(self):
        files = entries(build_epub(Book.from_text(UNCHAPTERED), modified=WHEN))
        chapters = sorted(n for n in files if "chapter-" in n)
        assert chapters == ["OEBPS/chapter-001.xhtml", "OEBPS/chapter-002.xhtml", "OEBPS/chapter-003.xhtml"]
        assert "三枚目" in files["OEBPS/chapter-003.xhtml"].decode()
        nav = files["OEBPS/nav.xhtml"].decode()
        assert '<a href="chapter-002.xhtml">二枚目。</a>' in nav
        assert "title.xhtml" not in nav  # no header block, no title page


def epubcheck_command() -> list[str] | None:
    found = shutil.which("epubcheck")
    if not found:
        return None
    # Debian installs the jar itself as the command; it runs through
    # binfmt_misc where that is set up, and through java everywhere.
    with open(os.path.realpath(found), "rb") as f:
        is_jar = f.read(2) == b"PK"
    if is_jar:
        java = shutil.which("java")
        return [java, "-jar", found] if java else None
    return [found]


@pytest.mark.skipif(epubcheck_command() is None, reason="epubcheck is not installed")
def test_epubcheck_accepts_our_books(tmp_path, zipped_book):
    from test_page import RICH  # the page tests' book with every construct

    books = {
        "chaptered.epub": zipped_book,
        "unchaptered.epub": Book.from_text(UNCHAPTERED),
        "rich.epub": Book.from_text(RICH),
    }
    runs = []
    for name, book in books.items():
        write_epub(book, tmp_path / name)
        runs.append((name, subprocess.Popen([*epubcheck_command(), str(tmp_path / name)],
                                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)))
    for name, run in runs:
        out, _ = run.communicate(timeout=600)
        assert run.returncode == 0 and "ERROR" not in out and "FATAL" not in out, f"{name}:\n{out}"
