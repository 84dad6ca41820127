"""A book as an EPUB 3: vertical, right to left, one document per chapter.

Chapters start at each 大見出し; a book without one is split at its page and
section breaks. The navigation document lists the headings (nested by
level), or the chapters by their first words when there are none. The
package carries the reading stylesheet, the book's illustrations when the
input held them, and an identifier derived from the text, so converting the
same book again yields the same identifier.
"""

from __future__ import annotations

import datetime as _dt
import hashlib
import html
import io
import os
import posixpath
import re
import uuid
import zipfile
from typing import Iterator

from .book import Book, BookError
from .pages import book_parts, close_tags, open_tags, stylesheet, walk_open_tags
from .text import fragment_to_text, matches_from_literal, sub_from_literal, sub_matches

__all__ = ["build_epub", "write_epub"]

_MEDIA_TYPES = {
    ".png": "image/png",
    ".jpg": "image/jpeg",
    ".jpeg": "image/jpeg",
    ".gif": "image/gif",
    ".svg": "image/svg+xml",
}
_IDENTIFIER_NAMESPACE = uuid.UUID("5b0f3f9e-6b8a-4f0e-9a57-6b6f67616e65")
# Heading elements, and headings named by a later annotation, which the
# fragment keeps inline in their line.
_HEADING = re.compile(
    r'<(?P<tag>h[123]|div) class="kogane-heading kogane-heading-(?P<size>large|medium|small)[^"]*"[^>]*>'
    r"(?P<text>.*?)</(?P=tag)>"
    r'|<(?P<hint>span) class="kogane-heading-hint" data-level="(?P<level>[123])"[^>]*>(?P<htext>[^<]+)</span>',
    re.S,
)
_LEVELS = {"large": 1, "medium": 2, "small": 3}
_BREAK = re.compile(r'<div class="kogane-(?:page-break|section-break)[^"]*"></div>')
_IMG_SRC = re.compile(r'(<img src=")([^"]*)(")')
# What a piece without text or pictures consists of, from its start.
_TAGS_AND_SPACE = re.compile(r"(?:<[^>]*>|\s)*")
_OPENING_LINE = re.compile(r"(?:<[a-z][^>]*>)+\n?$")


def _headings(fragment: str) -> Iterator[re.Match[str]]:
    """``_HEADING.finditer(fragment)``, tried only where a heading class stands."""
    return matches_from_literal(_HEADING, 'class="kogane-heading', fragment, back_to="<")


def _heading_level(m: re.Match[str]) -> int:
    return _LEVELS[m.group("size")] if m.group("tag") else int(m.group("level"))


def _line_start(fragment: str, offset: int) -> int:
    """Where the source line holding `offset` begins, before any elements it opens."""
    start = fragment.rfind("\n", 0, offset) + 1
    while start > 0:
        previous = fragment.rfind("\n", 0, start - 1) + 1
        if not _OPENING_LINE.fullmatch(fragment[previous:start]):
            break
        start = previous  # a line of start tags only: the chapter opens them
    return start


def _split_chapters(fragment: str) -> list[str]:
    """Pieces of the fragment, each well formed, starting at the chapter lines."""
    points = [_line_start(fragment, m.start()) for m in _headings(fragment) if _heading_level(m) == 1]
    if not points:
        points = [_line_start(fragment, m.start()) for m in _BREAK.finditer(fragment)]
    cuts = sorted({p for p in points if 0 < p < len(fragment)})
    pieces: list[str] = []
    stack: list[str] = []
    for a, b in zip([0, *cuts], [*cuts, len(fragment)]):
        segment = fragment[a:b]
        after = walk_open_tags(segment, stack)
        body = segment[:-len("<br />\n")] if segment.endswith("<br />\n") else segment
        pieces.append(open_tags(stack) + body + close_tags(after))
        stack = after
    # A piece without text or pictures joins the next one.
    merged: list[str] = []
    carry = ""
    for piece in pieces:
        if _TAGS_AND_SPACE.match(piece).end() < len(piece) or "<img" in piece:
            merged.append(carry + piece)
            carry = ""
        else:
            carry += piece
    if carry:
        if merged:
            merged[-1] += carry
        else:
            merged.append(carry)
    return merged or [""]


def _one_line(text: str) -> str:
    # Ideographic spaces inside a heading are kept; line breaks are not.
    return re.sub(r"[ \n]+", " ", text).strip(" \n")


def _label(fragment: str, limit: int = 24) -> str:
    text = _one_line(fragment_to_text(fragment)).strip("\u3000")
    return text if len(text) <= limit else text[:limit] + "…"


def _xml_escape(s: str) -> str:
    return html.escape(s, quote=True)


def _xhtml(title: str, body: str, *, vertical: bool = True, extra_ns: bool = False) -> str:
    ns = ' xmlns:epub="http://www.idpf.org/2007/ops"' if extra_ns else ""
    mode = "kogane-vertical" if vertical else "kogane-horizontal"
    return (
        '<?xml version="1.0" encoding="utf-8"?>\n<!DOCTYPE html>\n'
        f'<html xmlns="http://www.w3.org/1999/xhtml"{ns} lang="ja" xml:lang="ja" class="kogane-page {mode}">\n'
        f'<head>\n<meta charset="utf-8" />\n<title>{_xml_escape(title)}</title>\n'
        '<link rel="stylesheet" type="text/css" href="kogane.css" />\n</head>\n'
        f"<body>\n{body}\n</body>\n</html>\n"
    )


def _nav_list(entries: list[tuple[int, str, str]]) -> str:
    """Nested <ol> from (level, href, label) entries in document order."""
    out: list[str] = []
    levels: list[int] = []  # levels of the open <ol>s
    for level, href, label in entries:
        if not levels:
            out.append("<ol>")
            levels.append(level)
        elif level > levels[-1]:
            out.append("<ol>")  # inside the still open <li>
            levels.append(level)
        else:
            out.append("</li>")
            while len(levels) > 1 and level < levels[-1]:
                out.append("</ol></li>")
                levels.pop()
        out.append(f'<li><a href="{_xml_escape(href)}">{_xml_escape(label)}</a>')
    if levels:
        out.append("</li>" + "</ol></li>" * (len(levels) - 1) + "</ol>")
    return "\n".join(out)


def _modified(value: _dt.datetime | None) -> _dt.datetime:
    if value is None:
        epoch = os.environ.get("SOURCE_DATE_EPOCH")
        value = (
            _dt.datetime.fromtimestamp(int(epoch), _dt.timezone.utc)
            if epoch and epoch.isdigit()
            else _dt.datetime.now(_dt.timezone.utc)
        )
    if value.tzinfo is None:
        value = value.replace(tzinfo=_dt.timezone.utc)
    return value.astimezone(_dt.timezone.utc).replace(microsecond=0)


def book_identifier(book: Book) -> str:
    """urn:uuid derived from the text, stable across conversions."""
    digest = hashlib.sha256(book.text.encode("utf-8")).hexdigest()
    return f"urn:uuid:{uuid.uuid5(_IDENTIFIER_NAMESPACE, digest)}"


def build_epub(
    book: Book,
    *,
    notes: bool = False,
    warnings: list[str] | None = None,
    modified: _dt.datetime | None = None,
) -> bytes:
    """The EPUB 3 file of `book` as bytes.

    ``notes`` shows the editorial notes the text keeps hidden, as on the page.
    Illustrations the book does not hold (or in a format EPUB readers need
    not support) are left out and reported to ``warnings``; ``modified``
    (default: SOURCE_DATE_EPOCH, else now) is the package's modification time.
    """
    images: dict[str, tuple[str, bytes]] = {}  # source path -> (package path, data)

    def keep_image(src: str) -> str | None:
        """None when the image goes into the package, else why not."""
        ext = posixpath.splitext(src)[1].lower()
        if ext not in _MEDIA_TYPES:
            return "not a format every EPUB reader shows (PNG, JPEG, GIF, SVG)"
        if src not in images:
            data = book.image(src)
            if data is None:
                return "the book does not hold it"
            images[src] = (f"images/{len(images) + 1:03d}{ext}", data)
        return None

    parts = book_parts(book, notes=notes, warnings=warnings, keep_image=keep_image)

    def relink(fragment: str) -> str:
        def repl(m: re.Match[str]) -> str:
            src = html.unescape(m.group(2))
            return m.group(1) + _xml_escape(images[src][0]) + m.group(3) if src in images else m.group(0)

        return sub_from_literal(_IMG_SRC, '<img src="', repl, fragment)

    title = book.display_title
    docs: list[tuple[str, str]] = []  # (file, xhtml) in reading order
    nav_entries: list[tuple[int, str, str]] = []
    if parts["header"]:
        docs.append(("title.xhtml", _xhtml(title, relink(parts["header"]))))
        nav_entries.append((1, "title.xhtml", title))

    counter = 0
    for number, piece in enumerate(_split_chapters(parts["body"]), start=1):
        file = f"chapter-{number:03d}.xhtml"
        found: list[tuple[int, str, str]] = []

        def add_id(m: re.Match[str]) -> str:
            nonlocal counter
            counter += 1
            anchor = f"h{counter}"
            tag = m.group("tag") or m.group("hint")
            # An empty heading has text "", not None: name it by its number.
            heading = m.group("text") if m.group("tag") else m.group("htext")
            label = _one_line(fragment_to_text(heading)) or f"{number}"
            found.append((_heading_level(m), f"{file}#{anchor}", label))
            return m.group(0).replace(f"<{tag} ", f'<{tag} id="{anchor}" ', 1)

        piece = sub_matches(piece, _headings(piece), add_id)
        if found:
            nav_entries.extend(found)
        else:
            nav_entries.append((1, file, _label(piece) or f"{title} {number}"))
        body = f'<div class="kogane-body">\n{relink(piece)}</div>'
        docs.append((file, _xhtml(title, body)))

    if parts["colophon"]:
        docs.append(("colophon.xhtml", _xhtml(title, f'<section class="kogane-colophon">\n{relink(parts["colophon"])}</section>')))
        nav_entries.append((1, "colophon.xhtml", "底本"))

    nav_body = (
        '<nav epub:type="toc" id="toc">\n<h1>目次</h1>\n' + _nav_list(nav_entries) + "\n</nav>"
    )
    nav = _xhtml(title, nav_body, extra_ns=True)

    when = _modified(modified)
    identifier = book_identifier(book)
    manifest = ['<item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>',
                '<item id="css" href="kogane.css" media-type="text/css"/>']
    spine = []
    for k, (file, _) in enumerate(docs, start=1):
        manifest.append(f'<item id="d{k}" href="{file}" media-type="application/xhtml+xml"/>')
        spine.append(f'<itemref idref="d{k}"/>')
    for k, (package_path, _) in enumerate(images.values(), start=1):
        media = _MEDIA_TYPES[posixpath.splitext(package_path)[1]]
        manifest.append(f'<item id="img{k}" href="{package_path}" media-type="{media}"/>')
    meta = [
        f'<dc:identifier id="bookid">{identifier}</dc:identifier>',
        f"<dc:title>{_xml_escape(title)}</dc:title>",
        "<dc:language>ja</dc:language>",
        f'<meta property="dcterms:modified">{when.strftime("%Y-%m-%dT%H:%M:%SZ")}</meta>',
        '<meta name="primary-writing-mode" content="vertical-rl"/>',
    ]
    for k, author in enumerate(book.authors, start=1):
        meta.append(f'<dc:creator id="creator{k}">{_xml_escape(author)}</dc:creator>')
        meta.append(f'<meta refines="#creator{k}" property="role" scheme="marc:relators">aut</meta>')
    for contributor in book.contributors:
        meta.append(f"<dc:contributor>{_xml_escape(contributor)}</dc:contributor>")
    if book.subtitle:
        meta.append(f"<dc:description>{_xml_escape(book.subtitle)}</dc:description>")
    opf = (
        '<?xml version="1.0" encoding="utf-8"?>\n'
        '<package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="bookid" xml:lang="ja">\n'
        '<metadata xmlns:dc="http://purl.org/dc/elements/1.1/">\n' + "\n".join(meta) + "\n</metadata>\n"
        "<manifest>\n" + "\n".join(manifest) + "\n</manifest>\n"
        '<spine page-progression-direction="rtl">\n' + "\n".join(spine) + "\n</spine>\n</package>\n"
    )
    container = (
        '<?xml version="1.0" encoding="utf-8"?>\n'
        '<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">\n'
        '<rootfiles><rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/></rootfiles>\n'
        "</container>\n"
    )

    stamp = (max(when.year, 1980), when.month, when.day, when.hour, when.minute, when.second)
    out = _ZipWriter(stamp)
    out.add("mimetype", b"application/epub+zip", compress=False)
    out.add("META-INF/container.xml", container.encode())
    out.add("OEBPS/content.opf", opf.encode())
    out.add("OEBPS/nav.xhtml", nav.encode())
    out.add("OEBPS/kogane.css", stylesheet().encode())
    for file, xhtml in docs:
        out.add(f"OEBPS/{file}", xhtml.encode())
    for package_path, data in images.values():
        out.add(f"OEBPS/{package_path}", data)
    return out.finish()


class _ZipWriter:
    """A zip in memory with fixed entry times, so equal input gives equal bytes."""

    def __init__(self, stamp: tuple[int, int, int, int, int, int]) -> None:
        self._buffer = io.BytesIO()
        self._zip = zipfile.ZipFile(self._buffer, "w")
        self._stamp = stamp

    def add(self, name: str, data: bytes, *, compress: bool = True) -> None:
        info = zipfile.ZipInfo(name, date_time=self._stamp)
        info.compress_type = zipfile.ZIP_DEFLATED if compress else zipfile.ZIP_STORED
        info.external_attr = 0o644 << 16
        self._zip.writestr(info, data)

    def finish(self) -> bytes:
        self._zip.close()
        return self._buffer.getvalue()


def write_epub(book: Book, path: str | os.PathLike[str], **options) -> None:
    """Write the EPUB of `book` to `path` (see `build_epub` for the options)."""
    data = build_epub(book, **options)
    try:
        with open(path, "wb") as f:
            f.write(data)
    except OSError as e:
        raise BookError(f"{os.fspath(path)}: cannot write: {e.strerror or e}") from None
