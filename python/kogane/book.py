"""The structure of a book file: header, notation block, body and colophon.

Book files follow a convention: the first lines up to the first blank line
name the title, an optional subtitle, the author and optionally a translator
or editor; then, often, a block between two lines of hyphens that explains the
notation (it begins with 【テキスト中に現れる記号について】); the body; and at
the end a colophon that begins with a line starting 底本：.

A `Book` finds those sections by line and keeps them as consecutive slices of
the decoded text, so ``header + notation + body + colophon == text`` always
holds: whatever cannot be identified stays in the body, nothing is dropped.
"""

from __future__ import annotations

import os
import posixpath
import re
import zipfile
from dataclasses import dataclass, field
from pathlib import Path, PurePosixPath
from typing import Mapping

from ._kogane import Document, decode_sjis

__all__ = ["Book", "BookError", "decode_book_bytes", "is_safe_image_path"]

_NOTATION_START = "【テキスト中に現れる記号について】"
_COLOPHON_START = "底本："
_RULE_LINE = re.compile(r"^[-－―━─]{10,}\s*$")
_CONTRIBUTOR_SUFFIXES = ("訳", "翻訳", "編", "編集", "編訳", "校訂", "校注", "訳注", "監修", "補", "解説", "選")
_IMAGE_SUFFIXES = (".png", ".jpg", ".jpeg", ".gif", ".svg", ".webp")
_MAX_HEADER_LINES = 6
_MAX_HEADER_LINE_CHARS = 80
_BOM = "\ufeff"


class BookError(ValueError):
    """A book file that cannot be read; the message names the file and the fault."""


def _first_bad_sjis_offset(data: bytes) -> int:
    """Offset of the first byte the strict Shift_JIS decoder rejects."""
    start = 0
    # A line feed is never the second byte of a double-byte character, so each
    # line decodes on its own and the faulty one is found without rescanning.
    while start < len(data):
        end = data.find(b"\n", start)
        end = len(data) if end < 0 else end + 1
        line = data[start:end]
        try:
            decode_sjis(line)
        except ValueError:
            i = 0
            while i < len(line):
                b = line[i]
                if b <= 0x80 or 0xA1 <= b <= 0xDF:
                    i += 1
                    continue
                try:
                    decode_sjis(line[i : i + 2])
                except ValueError:
                    return start + i
                i += 2
            return start + len(line) - 1
        start = end
    return len(data)


def decode_book_bytes(data: bytes, name: str) -> tuple[str, str]:
    """Decode UTF-8 or Shift_JIS bytes; returns (text, encoding name).

    Raises BookError naming ``name`` and the first undecodable byte.
    """
    try:
        return data.decode("utf-8"), "utf-8"
    except UnicodeDecodeError as utf8_error:
        try:
            return decode_sjis(data), "shift_jis"
        except ValueError:
            offset = _first_bad_sjis_offset(data)
            if offset >= len(data):  # only the UTF-8 reading names a byte
                offset = utf8_error.start
            byte = data[offset] if offset < len(data) else 0
            raise BookError(
                f"{name}: neither UTF-8 nor Shift_JIS: undecodable byte 0x{byte:02X} at offset {offset}"
            ) from None


def is_safe_image_path(name: str) -> bool:
    """A relative path inside the book: no scheme, no root, no '..' step."""
    if not name or "\\" in name or "\x00" in name:
        return False
    if name.startswith("/") or re.match(r"^[A-Za-z][A-Za-z0-9+.-]*:", name):
        return False
    return ".." not in PurePosixPath(name).parts


def _split_lines(text: str) -> list[str]:
    """Lines with their line ends kept, so joining them gives the text back."""
    return text.splitlines(keepends=True)


def _bare(line: str) -> str:
    return line.rstrip("\r\n")


@dataclass(frozen=True)
class Book:
    """A decoded book file and its sections (consecutive slices of `text`)."""

    name: str
    text: str
    encoding: str = "utf-8"
    header: str = ""
    notation: str = ""
    body: str = ""
    colophon: str = ""
    title: str = ""
    subtitle: str = ""
    authors: tuple[str, ...] = ()
    contributors: tuple[str, ...] = ()
    images: Mapping[str, bytes] = field(default_factory=dict, repr=False)
    image_root: Path | None = None
    notes: tuple[str, ...] = ()
    # The engine's HTML of each section, rendered once per Book however many
    # formats are made from it. Strings, not Documents: a Document belongs to
    # the thread that made it, a Book may be shared.
    _fragments: dict[str, str] = field(default_factory=dict, init=False, repr=False, compare=False)

    # -- construction -------------------------------------------------------
    @classmethod
    def from_text(cls, text: str, name: str = "<text>", **extra) -> "Book":
        sections, header_html = _sections(text, name)
        book = cls(name=name, text=text, **sections, **extra)
        if header_html is not None:
            book._fragments["header"] = header_html
        return book

    @classmethod
    def from_bytes(cls, data: bytes, name: str = "<stdin>", **extra) -> "Book":
        text, encoding = decode_book_bytes(data, name)
        return cls.from_text(text, name, encoding=encoding, **extra)

    @classmethod
    def from_path(cls, path: str | os.PathLike[str]) -> "Book":
        """Read a .txt file (UTF-8 or Shift_JIS), a .zip archive holding one,
        or a folder holding one (and its illustrations)."""
        p = Path(path)
        if p.suffix.lower() == ".zip":
            return cls._from_zip(p)
        notes: tuple[str, ...] = ()
        if p.is_dir():
            texts = sorted(t for t in p.iterdir() if t.suffix.lower() == ".txt" and t.is_file())
            if not texts:
                raise BookError(f"{p}: the folder holds no .txt file")
            chosen = max(texts, key=lambda t: (t.stat().st_size, t.name))
            if len(texts) > 1:
                others = ", ".join(t.name for t in texts if t != chosen)
                notes = (f"{p}: the folder holds {len(texts)} .txt files; took {chosen.name} (not {others})",)
            p = chosen
        try:
            data = p.read_bytes()
        except OSError as e:
            raise BookError(f"{p}: cannot read: {e.strerror or e}") from None
        return cls.from_bytes(data, str(p), image_root=p.parent, notes=notes)

    @classmethod
    def _from_zip(cls, p: Path) -> "Book":
        try:
            archive = zipfile.ZipFile(p)
        except (OSError, zipfile.BadZipFile) as e:
            raise BookError(f"{p}: not a readable zip archive: {e}") from None
        with archive:
            entries = [(i, _zip_name(i)) for i in archive.infolist() if not i.is_dir()]
            texts = [(i, n) for i, n in entries if n.lower().endswith(".txt") and "__MACOSX" not in n]
            if not texts:
                raise BookError(f"{p}: the archive holds no .txt file")
            notes: list[str] = []
            info, text_name = max(texts, key=lambda e: (e[0].file_size, e[1]))
            if len(texts) > 1:
                others = ", ".join(n for _, n in texts if n != text_name)
                notes.append(f"{p}: the archive holds {len(texts)} .txt files; took {text_name} (not {others})")
            try:
                data = archive.read(info)
                base = posixpath.dirname(text_name)
                images = {}
                for i, n in entries:
                    if n.lower().endswith(_IMAGE_SUFFIXES):
                        rel = posixpath.relpath(n, base) if base else n
                        images[rel] = archive.read(i)
            except (OSError, zipfile.BadZipFile, RuntimeError) as e:
                raise BookError(f"{p}: cannot read {text_name}: {e}") from None
        return cls.from_bytes(data, f"{p}!{text_name}", images=images, notes=tuple(notes))

    # -- documents ----------------------------------------------------------
    def document(self) -> Document:
        """The whole file as one document (what the engine's views describe)."""
        return Document(self.text)

    def header_document(self) -> Document:
        return Document(self.header)

    def body_document(self) -> Document:
        return Document(self.body)

    def colophon_document(self) -> Document:
        return Document(self.colophon)

    def header_html(self) -> str:
        """The engine's HTML fragment of the header (rendered once per Book)."""
        return self._fragment("header")

    def body_html(self) -> str:
        """The engine's HTML fragment of the body (rendered once per Book)."""
        return self._fragment("body")

    def colophon_html(self) -> str:
        """The engine's HTML fragment of the colophon (rendered once per Book)."""
        return self._fragment("colophon")

    def _fragment(self, section: str) -> str:
        html = self._fragments.get(section)
        if html is None:
            # Through the section's document method, so that a subclass that
            # keeps its documents parses each section once for every view.
            html = self._fragments[section] = getattr(self, f"{section}_document")().to_html()
        return html

    def image(self, name: str) -> bytes | None:
        """The bytes of an illustration named in the text, if the book has them."""
        if not is_safe_image_path(name):
            return None
        if name in self.images:
            return self.images[name]
        if self.image_root is not None:
            try:
                return (self.image_root / name).read_bytes()
            except OSError:
                return None
        return None

    @property
    def display_title(self) -> str:
        if self.title:
            return self.title
        stem = self.name.rsplit("!", 1)[-1]
        return PurePosixPath(stem.replace("\\", "/")).stem or "untitled"


def _zip_name(info: zipfile.ZipInfo) -> str:
    # Archives made on Japanese systems store Shift_JIS names without the
    # UTF-8 flag; zipfile then reads them as code page 437.
    if info.flag_bits & 0x800:
        return info.filename
    try:
        return info.filename.encode("cp437").decode("cp932")
    except (UnicodeEncodeError, UnicodeDecodeError):
        return info.filename


def _is_header_line(line: str) -> bool:
    s = _bare(line).strip(" \u3000")
    return bool(s) and len(s) <= _MAX_HEADER_LINE_CHARS and not s.startswith("［＃") and not _RULE_LINE.match(s)


def _header_fields(header_html: str) -> list[str]:
    """The header lines as a reader sees them, as the engine renders them:
    readings and annotations left out, gaiji as their characters."""
    from .text import fragment_to_text  # the text module builds on this one

    lines = fragment_to_text(header_html).splitlines()
    return [s for s in (line.strip(" \u3000") for line in lines) if s]


def _sections(text: str, name: str) -> tuple[dict, str | None]:
    """The section fields of a Book, and the header's HTML when it was rendered."""
    lines = _split_lines(text)
    n = len(lines)
    pos = 0  # index of the first line not yet assigned

    # Header: up to the first blank line, when those lines look like one.
    header_lines: list[str] = []
    first_blank = next((i for i, l in enumerate(lines) if not _bare(l).strip(" \u3000")), None)
    if first_blank is not None and 0 < first_blank <= _MAX_HEADER_LINES:
        candidate = lines[:first_blank]
        if all(_is_header_line(l) for l in candidate):
            header_lines = candidate
            pos = first_blank
    # The header keeps the blank lines that end it.
    j = pos
    while header_lines and j < n and not _bare(lines[j]).strip(" \u3000"):
        j += 1
    header_end = j

    # Notation block: a rule line, 【テキスト中に…】 …, a rule line.
    notation_start = notation_end = header_end
    if j + 1 < n and _RULE_LINE.match(_bare(lines[j])) and _bare(lines[j + 1]).lstrip(_BOM).startswith(_NOTATION_START):
        close = next((k for k in range(j + 2, n) if _RULE_LINE.match(_bare(lines[k]))), None)
        if close is not None:
            notation_end = close + 1

    # Colophon: from the last line that starts with 底本： to the end.
    colophon_start = n
    for k in range(n - 1, notation_end - 1, -1):
        if _bare(lines[k]).lstrip(" \u3000").startswith(_COLOPHON_START):
            colophon_start = k
            break

    def join(a: int, b: int) -> str:
        return "".join(lines[a:b])

    header_html = Document(join(0, header_end)).to_html() if header_lines else None
    fields = _header_fields(header_html) if header_html is not None else []
    title = subtitle = ""
    authors: list[str] = []
    contributors: list[str] = []
    if fields:
        title = fields[0]
        rest = fields[1:]
        while rest and rest[-1].endswith(_CONTRIBUTOR_SUFFIXES) and len(rest) > 1:
            contributors.insert(0, rest.pop())
        if rest:
            authors.append(rest.pop())
        subtitle = "\u3000".join(rest)
    sections = dict(
        header=join(0, header_end),
        notation=join(notation_start, notation_end),
        body=join(notation_end, colophon_start),
        colophon=join(colophon_start, n),
        title=title,
        subtitle=subtitle,
        authors=tuple(authors),
        contributors=tuple(contributors),
    )
    return sections, header_html
