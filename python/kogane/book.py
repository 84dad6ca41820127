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

import errno
import os
import posixpath
import re
import stat
import struct
import zipfile
import zlib
from dataclasses import dataclass, field
from pathlib import Path, PurePosixPath
from typing import Mapping

from ._kogane import Document, decode_sjis

__all__ = ["Book", "BookError", "decode_book_bytes", "is_safe_image_path"]

_NOTATION_START = "【テキスト中に現れる記号について】"
_COLOPHON_START = "底本："
_RULE_LINE = re.compile(r"^[-－―━─]{10,}\s*$")
_RULE_RUN = re.compile(r"[-－―━─]{10,}")
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
        sections, header_document, header_html = _sections(text, name)
        book = cls(name=name, text=text, **sections, **extra)
        if header_html is not None:
            book._fragments["header"] = header_html
            book._parsed_header(header_document)
        header_document.clear()
        return book

    def _parsed_header(self, holder: list[Document]) -> None:
        """The header's document, parsed while the sections were found, in a
        list of one. A Book keeps strings only; a subclass that keeps its
        documents takes it out of the list."""

    @classmethod
    def from_bytes(cls, data: bytes, name: str = "<stdin>", **extra) -> "Book":
        text, encoding = decode_book_bytes(data, name)
        return cls.from_text(text, name, encoding=encoding, **extra)

    @classmethod
    def from_path(cls, path: str | os.PathLike[str]) -> "Book":
        """Read a .txt file (UTF-8 or Shift_JIS), a .zip archive holding one,
        or a folder holding one (and its illustrations)."""
        p = Path(path)
        name = str(p)
        if name[-4:].lower() == ".zip" and p.suffix:  # not a file named just ".zip"
            return cls._from_zip(p)
        try:
            data = _read_file(name)
        except IsADirectoryError:
            return cls._from_folder(p)
        except OSError as e:
            raise BookError(f"{name}: cannot read: {e.strerror or e}") from None
        return cls.from_bytes(data, name, image_root=p.parent)

    @classmethod
    def _from_folder(cls, folder: Path) -> "Book":
        texts = sorted(t for t in folder.iterdir() if t.suffix.lower() == ".txt" and t.is_file())
        if not texts:
            raise BookError(f"{folder}: the folder holds no .txt file")
        chosen = max(texts, key=lambda t: (t.stat().st_size, t.name))
        notes: tuple[str, ...] = ()
        if len(texts) > 1:
            others = ", ".join(t.name for t in texts if t != chosen)
            notes = (f"{folder}: the folder holds {len(texts)} .txt files; took {chosen.name} (not {others})",)
        try:
            data = chosen.read_bytes()
        except OSError as e:
            raise BookError(f"{chosen}: cannot read: {e.strerror or e}") from None
        return cls.from_bytes(data, str(chosen), image_root=folder, notes=notes)

    @classmethod
    def _from_zip(cls, p: Path) -> "Book":
        try:
            found = _plain_archive_text(_read_file(str(p)))
        except OSError:
            found = None  # zipfile names the fault below
        if found is not None:
            text_name, data, notes = found
            notes = tuple(f"{p}: {note}" for note in notes)
            return cls.from_bytes(data, f"{p}!{text_name}", images={}, notes=notes)
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
            except (OSError, zipfile.BadZipFile, RuntimeError, EOFError, zlib.error) as e:
                raise BookError(f"{p}: cannot read {text_name}: {e}") from None
        base = posixpath.dirname(text_name)
        members = {}
        for i, n in entries:
            if n.lower().endswith(_IMAGE_SUFFIXES):
                members[posixpath.relpath(n, base) if base else n] = (i, n)
        images = _ArchiveImages(p, members) if members else {}
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
            try:
                return self.images[name]
            except KeyError:  # listed but unreadable (a damaged archive member)
                return None
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


class _ArchiveImages(Mapping[str, bytes]):
    """The illustrations of an archive by their path relative to its text,
    read only when asked for: a page names few of an archive's images, or none.

    The archive is opened again on the first read and kept open for the
    next ones until `close` (or until the mapping is dropped). A member that
    cannot be read raises KeyError, and `faults` tells why.
    """

    def __init__(self, path: Path, members: dict[str, tuple[zipfile.ZipInfo, str]]):
        self._path = path
        self._members = members
        self._read: dict[str, bytes] = {}
        self._archive: zipfile.ZipFile | None = None
        self.faults: dict[str, str] = {}

    def __getitem__(self, name: str) -> bytes:
        data = self._read.get(name)
        if data is None:
            info, member = self._members[name]
            if name in self.faults:
                raise KeyError(name)
            try:
                if self._archive is None:
                    self._archive = zipfile.ZipFile(self._path)
                data = self._archive.read(info)
            except (OSError, zipfile.BadZipFile, RuntimeError, EOFError, zlib.error) as e:
                self.faults[name] = f"{self._path}: cannot read {member}: {e}"
                raise KeyError(name) from None
            self._read[name] = data
        return data

    def __contains__(self, name: object) -> bool:
        return name in self._members

    def __iter__(self):
        return iter(self._members)

    def __len__(self) -> int:
        return len(self._members)

    def close(self) -> None:
        if self._archive is not None:
            self._archive.close()
            self._archive = None

    def __getstate__(self) -> dict:
        # An open archive does not travel; a copy opens its own when asked.
        return {**self.__dict__, "_archive": None}


def _read_file(name: str) -> bytes:
    """The whole file in as few system calls as the file allows; a folder
    raises IsADirectoryError."""
    fd = os.open(name, _READ_FLAGS)
    try:
        st = os.fstat(fd)
        if stat.S_ISDIR(st.st_mode):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), name)
        if not stat.S_ISREG(st.st_mode):  # a pipe or device: its size says nothing
            chunks = []
            while chunk := os.read(fd, 1 << 16):
                chunks.append(chunk)
            return b"".join(chunks)
        # One byte more than the size, so that the whole file usually comes
        # in one call. Anything but exactly the size (a file that grew or
        # shrank, a single read capped at 2 GiB) is read on to its end.
        data = os.read(fd, st.st_size + 1)
        if len(data) == st.st_size:
            return data
        chunks = [data]
        while chunk := os.read(fd, 1 << 20):
            chunks.append(chunk)
        return b"".join(chunks)
    finally:
        os.close(fd)


_READ_FLAGS = os.O_RDONLY | getattr(os, "O_CLOEXEC", 0) | getattr(os, "O_BINARY", 0)

# The records of a zip archive that a plain one (no encryption, no ZIP64, no
# comment, deflated or stored members) is read from.
_END_RECORD = struct.Struct("<4s4H2LH")
_CENTRAL_RECORD = struct.Struct("<4s6H3L5H2L")
_LOCAL_RECORD = struct.Struct("<4s5H3L2H")
_END_SIGNATURE = b"PK\x05\x06"
_CENTRAL_SIGNATURE = b"PK\x01\x02"
_LOCAL_SIGNATURE = b"PK\x03\x04"
_UTF8_NAME_FLAG = 0x800
_UNSUPPORTED_FLAGS = 0x1 | 0x20 | 0x40  # encrypted, patched data, strong encryption
_NAME_EXTRAS = frozenset({0x0001, 0x7075})  # ZIP64 sizes, a Unicode name: zipfile reads those


def _plain_archive_text(data: bytes) -> tuple[str, bytes, list[str]] | None:
    """(name, bytes, notes) of the largest .txt of an archive as distributed
    (one text, no illustrations), read straight from the archive's bytes:
    zipfile's objects and seeks cost more than inflating a short book.

    None for anything else, including any damage: zipfile then reads the
    archive, or names what is wrong with it.
    """
    size = len(data)
    if size < _END_RECORD.size:
        return None
    sig, disk, cd_disk, on_disk, entries, cd_size, cd_offset, comment = _END_RECORD.unpack_from(data, size - _END_RECORD.size)
    if (sig != _END_SIGNATURE or comment or disk or cd_disk or on_disk != entries
            or cd_offset + cd_size != size - _END_RECORD.size):
        return None
    texts: list[tuple[int, str, tuple[int, int, int, int, bytes]]] = []
    pos = cd_offset
    for _ in range(entries):
        if pos + _CENTRAL_RECORD.size > cd_offset + cd_size:
            return None
        (sig, _made, _needed, flags, method, _time, _date, crc, csize, usize,
         name_len, extra_len, comment_len, _disk, _internal, _external, offset) = _CENTRAL_RECORD.unpack_from(data, pos)
        start = pos + _CENTRAL_RECORD.size
        raw = data[start : start + name_len]
        extra_at = start + name_len
        pos = extra_at + extra_len + comment_len
        if sig != _CENTRAL_SIGNATURE or flags & _UNSUPPORTED_FLAGS or b"\x00" in raw or pos > cd_offset + cd_size:
            return None
        k = extra_at
        while k + 4 <= extra_at + extra_len:
            tag, length = struct.unpack_from("<2H", data, k)
            if tag in _NAME_EXTRAS:
                return None
            k += 4 + length
        try:
            name = _member_name(raw, flags)
        except UnicodeDecodeError:
            return None
        if name.endswith("/"):
            continue
        lowered = name.lower()
        if lowered.endswith(_IMAGE_SUFFIXES):
            return None  # illustrations are served from the archive later
        if lowered.endswith(".txt") and "__MACOSX" not in name:
            texts.append((usize, name, (method, crc, csize, offset, raw)))
    if not texts or pos != cd_offset + cd_size:
        return None
    usize, text_name, (method, crc, csize, offset, raw) = max(texts, key=lambda t: (t[0], t[1]))
    if offset + _LOCAL_RECORD.size > cd_offset:
        return None
    sig, _needed, _flags, _method, _time, _date, _crc, _csize, _usize, name_len, extra_len = _LOCAL_RECORD.unpack_from(data, offset)
    start = offset + _LOCAL_RECORD.size
    if sig != _LOCAL_SIGNATURE or data[start : start + name_len] != raw:
        return None
    start += name_len + extra_len
    if start + csize > cd_offset:
        return None
    packed = data[start : start + csize]
    if method == zipfile.ZIP_STORED:
        text = packed
    elif method == zipfile.ZIP_DEFLATED:
        inflater = zlib.decompressobj(-15)
        try:
            text = inflater.decompress(packed, usize + 1) if usize else inflater.flush()
        except zlib.error:
            return None
        if usize and not inflater.eof:
            return None
    else:
        return None
    if len(text) != usize or zlib.crc32(text) != crc:
        return None
    notes = []
    if len(texts) > 1:
        others = ", ".join(n for _, n, _ in texts if n != text_name)
        notes.append(f"the archive holds {len(texts)} .txt files; took {text_name} (not {others})")
    return text_name, text, notes


def _member_name(raw: bytes, flags: int) -> str:
    """A member's name as `_zip_name` gives it for zipfile's reading of the same bytes."""
    if flags & _UTF8_NAME_FLAG:
        return raw.decode("utf-8")  # a fault here sends the archive to zipfile
    try:
        return raw.decode("cp932")
    except UnicodeDecodeError:
        return raw.decode("cp437")


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


# What str.splitlines ends a line at; the sections are found line by line
# from the two ends of the text, so the middle is never split.
_LINE_BREAK = re.compile("\r\n|[\n\r\v\f\x1c\x1d\x1e\x85\u2028\u2029]")
_LINE_BREAK_CHARS = "\n\r\v\f\x1c\x1d\x1e\x85\u2028\u2029"


def _line_end(text: str, start: int) -> int:
    """End of the line that begins at `start`, its line break included."""
    m = _LINE_BREAK.search(text, start)
    return m.end() if m else len(text)


def _is_blank(line: str) -> bool:
    return not _bare(line).strip(" \u3000")


def _colophon_start(text: str, lo: int) -> int:
    """Start of the last line at or after `lo` (a line start) that begins
    with 底本： after spaces; the text's length when there is none."""
    hi = len(text)
    while True:
        at = text.rfind(_COLOPHON_START, lo, hi)
        if at < 0:
            return len(text)
        k = at
        while k > lo and text[k - 1] in " \u3000":
            k -= 1
        if k == lo or text[k - 1] in _LINE_BREAK_CHARS:
            return k
        hi = at + len(_COLOPHON_START) - 1


def _sections(text: str, name: str) -> tuple[dict, list[Document], str | None]:
    """The section fields of a Book, and the header's document and HTML when it was parsed."""
    n = len(text)

    # Header: up to the first blank line, when those lines look like one.
    lines: list[str] = []  # the first lines, up to a blank one
    pos = 0
    first_blank = None
    while pos < n and len(lines) <= _MAX_HEADER_LINES:
        end = _line_end(text, pos)
        line = text[pos:end]
        if _is_blank(line):
            first_blank = pos
            break
        lines.append(line)
        pos = end
    header = first_blank is not None and lines and all(_is_header_line(l) for l in lines)
    header_end = 0
    if header:
        # The header keeps the blank lines that end it.
        header_end = first_blank
        while header_end < n:
            end = _line_end(text, header_end)
            if not _is_blank(text[header_end:end]):
                break
            header_end = end

    # Notation block: a rule line, 【テキスト中に…】 …, a rule line.
    notation_end = header_end
    rule_end = _line_end(text, header_end)
    if rule_end < n and _RULE_LINE.match(_bare(text[header_end:rule_end])):
        second_end = _line_end(text, rule_end)
        if _bare(text[rule_end:second_end]).lstrip(_BOM).startswith(_NOTATION_START):
            # Only lines that begin with a run of rule characters can close it.
            for run in _RULE_RUN.finditer(text, second_end):
                k = run.start()
                if k > second_end and text[k - 1] not in _LINE_BREAK_CHARS:
                    continue
                end = _line_end(text, k)
                if _RULE_LINE.match(_bare(text[k:end])):
                    notation_end = end
                    break

    # Colophon: from the last line that starts with 底本： to the end.
    colophon_start = _colophon_start(text, notation_end)

    # The header's document leaves in a list the caller empties, not in a
    # variable: a frame a profiler still holds keeps its variables, and a
    # Document must be let go on the thread that made it.
    header_document = [Document(text[:header_end])] if header else []
    header_html = header_document[0].to_html() if header_document else None
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
        header=text[:header_end],
        notation=text[header_end:notation_end],
        body=text[notation_end:colophon_start],
        colophon=text[colophon_start:],
        title=title,
        subtitle=subtitle,
        authors=tuple(authors),
        contributors=tuple(contributors),
    )
    return sections, header_document, header_html
