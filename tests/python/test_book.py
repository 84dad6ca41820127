"""Finding the sections of a book file, and reading files and archives."""

import io
import zipfile

import pytest

from kogane.book import Book, BookError, is_safe_image_path

NOTATION = (
    "-------------------------------------------------------\n"
    "【テキスト中に現れる記号について】\n"
    "\n"
    "《》：ルビ\n"
    "（例）銀河《ぎんが》\n"
    "［＃］：入力者注\n"
    "（例）［＃ここから２字下げ］\n"
    "-------------------------------------------------------\n"
)
BODY = "　ある晩のこと。\n\n［＃改ページ］\n　二章。\n\n"
COLOPHON = "底本：「銀河の本」出版社\n　1950（昭和25）年1月1日発行\n入力：誰か\n"


def full_book(header="銀河の｜停車場《ていしゃば》\n北の旅\n宮沢一郎\n山田花子訳\n\n"):
    return header + NOTATION + BODY + COLOPHON


class TestSections:
    def test_every_section_of_a_conventional_book(self):
        b = Book.from_text(full_book())
        assert b.title == "銀河の停車場"
        assert b.subtitle == "北の旅"
        assert b.authors == ("宮沢一郎",)
        assert b.contributors == ("山田花子訳",)
        assert b.notation == NOTATION
        assert b.body == BODY
        assert b.colophon == COLOPHON
        assert b.header + b.notation + b.body + b.colophon == b.text

    def test_header_fields_read_as_the_engine_renders_them(self):
        b = Book.from_text("※［＃「木＋吶のつくり」、第3水準1-85-54］の｜影《かげ》［＃「影」に傍点］\n著者\n\n本文\n")
        assert (b.title, b.authors) == ("枘の影", ("著者",))

    def test_title_and_author_only(self):
        b = Book.from_text("猫\n夏目漱石\n\n本文。\n")
        assert (b.title, b.subtitle, b.authors, b.contributors) == ("猫", "", ("夏目漱石",), ())
        assert b.notation == "" and b.colophon == ""
        assert b.header == "猫\n夏目漱石\n\n"
        assert b.body == "本文。\n"

    def test_no_header_block_keeps_everything_in_the_body(self):
        text = "\n　いきなり本文が始まる。\n［＃ここから２字下げ］\nその後。\n［＃ここで字下げ終わり］\n"
        b = Book.from_text(text, name="dir/mybook.txt")
        assert b.header == "" and b.title == ""
        assert b.body == text
        assert b.display_title == "mybook"

    def test_a_long_first_paragraph_is_not_a_header(self):
        text = "".join(f"行{i}\n" for i in range(10)) + "\n本文。\n"
        b = Book.from_text(text)
        assert b.header == "" and b.body == text

    def test_unclosed_notation_block_stays_in_the_body(self):
        text = "題\n著者\n\n-------------------------------------------------------\n【テキスト中に現れる記号について】\n本文が続く。\n"
        b = Book.from_text(text)
        assert b.notation == ""
        assert b.body == text[len("題\n著者\n\n"):]

    def test_crlf_and_bom(self):
        text = "\ufeff" + full_book().replace("\n", "\r\n")
        b = Book.from_text(text)
        assert b.title == "銀河の停車場"
        assert b.notation == NOTATION.replace("\n", "\r\n")
        assert b.colophon.startswith("底本：")
        assert b.header + b.notation + b.body + b.colophon == text

    def test_colophon_is_the_last_line_starting_with_teihon(self):
        text = "題\n著者\n\n底本：と書いた本文。\n続き。\n底本：「本」\n"
        b = Book.from_text(text)
        assert b.colophon == "底本：「本」\n"
        assert "底本：と書いた本文。" in b.body

    def test_notation_containers_do_not_leak_into_the_body(self):
        b = Book.from_text(full_book())
        html = b.body_document().to_html()
        assert "kogane-indent" not in html


class TestRenderedOnce:
    def test_every_format_of_a_book_renders_each_section_once(self, monkeypatch):
        import kogane.book
        from kogane.epub import build_epub
        from kogane.pages import render_page
        from kogane.text import to_text

        parsed = []
        real = kogane.book.Document
        monkeypatch.setattr(kogane.book, "Document", lambda text: (parsed.append(text), real(text))[1])
        b = Book.from_text(full_book())
        render_page(b)
        to_text(b, full=True)
        build_epub(b)
        assert sorted(parsed) == sorted([b.header, b.body, b.colophon])

    def test_a_changed_copy_does_not_reuse_the_fragments(self):
        import dataclasses

        b = Book.from_text(full_book())
        assert "ある晩" in b.body_html()
        changed = dataclasses.replace(b, body="　別の話。\n")
        assert "別の話" in changed.body_html() and "ある晩" not in changed.body_html()
        assert b == Book.from_text(full_book())  # a rendered fragment is no part of equality


class TestReading:
    def test_shift_jis_and_utf8_files(self, tmp_path):
        sjis = tmp_path / "a.txt"
        sjis.write_bytes(full_book().replace("\n", "\r\n").encode("cp932"))
        utf8 = tmp_path / "b.txt"
        utf8.write_bytes(full_book().encode("utf-8"))
        a, b = Book.from_path(sjis), Book.from_path(utf8)
        assert (a.encoding, b.encoding) == ("shift_jis", "utf-8")
        assert a.title == b.title == "銀河の停車場"
        assert a.body.replace("\r\n", "\n") == b.body

    def test_undecodable_bytes_name_the_file_and_offset(self, tmp_path):
        p = tmp_path / "bad.txt"
        p.write_bytes("あいう\n".encode("cp932") + b"ok\xff\xfe")
        with pytest.raises(BookError) as e:
            Book.from_path(p)
        assert str(e.value) == f"{p}: neither UTF-8 nor Shift_JIS: undecodable byte 0xFF at offset 9"

    def test_missing_file(self, tmp_path):
        with pytest.raises(BookError, match=r"missing\.txt: cannot read"):
            Book.from_path(tmp_path / "missing.txt")

    def test_zip_as_distributed(self, tmp_path):
        p = tmp_path / "book.zip"
        with zipfile.ZipFile(p, "w") as z:
            z.writestr("book/銀河.txt", full_book().replace("\n", "\r\n").encode("cp932"))
            z.writestr("book/fig1.png", b"\x89PNG fake")
        b = Book.from_path(p)
        assert b.title == "銀河の停車場"
        assert b.name == f"{p}!book/銀河.txt"
        assert b.image("fig1.png") == b"\x89PNG fake"
        assert b.image("../fig1.png") is None
        assert b.notes == ()

    def test_zip_with_two_texts_says_which_was_taken(self, tmp_path):
        p = tmp_path / "two.zip"
        with zipfile.ZipFile(p, "w") as z:
            z.writestr("small.txt", "小\n著\n\n短い。\n")
            z.writestr("large.txt", full_book())
        b = Book.from_path(p)
        assert b.title == "銀河の停車場"
        assert b.notes == (f"{p}: the archive holds 2 .txt files; took large.txt (not small.txt)",)

    def test_zip_without_text_and_broken_zip(self, tmp_path):
        p = tmp_path / "empty.zip"
        with zipfile.ZipFile(p, "w") as z:
            z.writestr("fig.png", b"x")
        with pytest.raises(BookError, match=r"empty\.zip: the archive holds no \.txt file"):
            Book.from_path(p)
        q = tmp_path / "broken.zip"
        q.write_bytes(b"PK\x03\x04 not really")
        with pytest.raises(BookError, match=r"broken\.zip: not a readable zip archive"):
            Book.from_path(q)

    def test_images_next_to_a_text_file(self, tmp_path):
        (tmp_path / "fig.png").write_bytes(b"img")
        t = tmp_path / "a.txt"
        t.write_text("題\n著\n\n［＃挿絵（fig.png）入る］\n", encoding="utf-8")
        b = Book.from_path(t)
        assert b.image("fig.png") == b"img"
        assert b.image("nope.png") is None

    def test_a_folder_holding_the_book(self, tmp_path):
        (tmp_path / "fig.png").write_bytes(b"img")
        (tmp_path / "a.txt").write_text("題\n著\n\n本文。\n", encoding="utf-8")
        b = Book.from_path(tmp_path)
        assert (b.title, b.image("fig.png"), b.notes) == ("題", b"img", ())
        (tmp_path / "readme.txt").write_text("短い", encoding="utf-8")
        assert Book.from_path(tmp_path).notes == (
            f"{tmp_path}: the folder holds 2 .txt files; took a.txt (not readme.txt)",)
        with pytest.raises(BookError, match=r"empty: the folder holds no \.txt file"):
            (tmp_path / "empty").mkdir()
            Book.from_path(tmp_path / "empty")


def test_safe_image_paths():
    assert is_safe_image_path("fig1_1.png") and is_safe_image_path("img/a.png")
    for bad in ["", "/etc/passwd", "//host/a.png", "javascript:alert(1)", "data:image/png;base64,xx",
                "file:///a.png", "../a.png", "a/../../b.png", "C:\\a.png"]:
        assert not is_safe_image_path(bad), bad


def test_sections_whatever_ends_the_lines():
    for nl in ("\n", "\r\n", "\r"):
        rule = "-" * 12
        text = nl.join(["銀河", "宮沢賢治", "", "", rule, "【テキスト中に現れる記号について】", "《》：ルビ", rule,
                        "本文。底本：ではない", "　底本：「前の本」", "底本：「後の本」", "入力：誰か", ""])
        book = Book.from_text(text)
        assert (book.title, book.authors) == ("銀河", ("宮沢賢治",)), repr(nl)
        assert book.header == "銀河" + nl + "宮沢賢治" + nl * 3  # with the blank lines that end it
        assert book.notation == nl.join([rule, "【テキスト中に現れる記号について】", "《》：ルビ", rule, ""])
        assert book.body == nl.join(["本文。底本：ではない", "　底本：「前の本」", ""])
        assert book.colophon == nl.join(["底本：「後の本」", "入力：誰か", ""])
