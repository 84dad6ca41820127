"""Plain text of a book, as a reader or a text corpus wants it.

The text is taken from the engine's HTML rendering, never from the markup
itself, so it agrees with every other view: readings are dropped (or kept in
parentheses), annotations disappear, gaiji become their characters, accent
fragments lose the tortoise brackets that only delimit them, and page breaks
become blank lines.
"""

from __future__ import annotations

import html
import re

from .book import Book

__all__ = ["to_text", "fragment_to_text", "UNRESOLVED_GAIJI", "strip_accent_brackets"]

UNRESOLVED_GAIJI = "〓"  # the geta mark printers use for a missing character

# Classes of elements whose content is an annotation, not text of the book.
_NOTE_CLASSES = frozenset(
    {"kogane-directive", "kogane-editor-note", "kogane-ruby-note", "kogane-margin-note", "kogane-kaeriten"}
)
_BLOCKS = frozenset({"p", "div", "h1", "h2", "h3", "figure", "figcaption", "section", "main", "header"})
_BREAK_CLASSES = frozenset({"kogane-page-break", "kogane-section-break"})

_LATIN = "A-Za-z\u00c0-\u024f\u1e00-\u1eff"
# A 〔…〕 on one line with a Latin letter in it is an accent fragment; the
# brackets only delimit it. In rendered HTML, tags may stand inside (a gaiji
# span or ruby within the fragment); in plain text there are none.
_ACCENT_FRAGMENT_HTML = re.compile(r"〔((?:[^〔〕\n<>]|<[^<>\n]*>)*?)〕")
_ACCENT_FRAGMENT_TEXT = re.compile(r"〔([^〔〕\n]*?)〕")
_HAS_LATIN = re.compile(f"[{_LATIN}]")
_TAG = re.compile(r"<[^>]*>")


def strip_accent_brackets(s: str, *, markup: bool = True) -> str:
    """Drop the 〔〕 around accent fragments, in rendered HTML or (markup=False) in plain text."""
    if "〔" not in s:
        return s

    def repl(m: re.Match[str]) -> str:
        inner = m.group(1)
        visible = html.unescape(_TAG.sub("", inner)) if markup else inner  # &amp; is no Latin text
        return inner if _HAS_LATIN.search(visible) else m.group(0)

    return (_ACCENT_FRAGMENT_HTML if markup else _ACCENT_FRAGMENT_TEXT).sub(repl, s)


# The renderer writes well-formed markup with double-quoted attributes, so a
# tag-by-tag scan is enough (and several times faster than html.parser).
_HTML_TOKEN = re.compile(r"<(/?)([a-zA-Z][a-zA-Z0-9]*)([^>]*?)(/?)>|([^<]+)|<")
_ATTRIBUTE = re.compile(r'([a-zA-Z_:][-a-zA-Z0-9_:.]*)(?:="([^"]*)")?')


class _TextWriter:
    def __init__(self, *, ruby: bool, gaiji_descriptions: bool) -> None:
        self.ruby = ruby
        self.gaiji_descriptions = gaiji_descriptions
        self.out: list[str] = []
        # One entry per open element: (tag, text written at its end, skipped).
        self.stack: list[tuple[str, str, bool]] = []
        self.skip = 0
        # A source line that held nothing but annotations leaves no line.
        self.line_has_text = False
        self.line_had_note = False

    # -- output helpers -------------------------------------------------
    def _ends_with(self, suffix: str) -> bool:
        tail = "".join(self.out[-3:])
        return tail.endswith(suffix)

    def _line_break(self) -> None:
        if self.out and not self._ends_with("\n"):
            self.out.append("\n")
        self.line_has_text = self.line_had_note = False

    def _blank_line(self) -> None:
        if not self.out:
            return
        self._line_break()
        if not self._ends_with("\n\n"):
            self.out.append("\n")

    def _write(self, s: str) -> None:
        if not self.skip and s:
            self.out.append(s)
            self.line_has_text = True

    def feed(self, markup: str) -> None:
        for m in _HTML_TOKEN.finditer(markup):
            closing, name, attributes, empty, data = m.groups()
            if data is not None or name is None:
                text = data if data is not None else "<"
                self.handle_data(html.unescape(text) if "&" in text else text)
            elif closing:
                self.handle_endtag(name.lower())
            else:
                attrs = [(k, html.unescape(v) if "&" in v else v) for k, v in _ATTRIBUTE.findall(attributes)]
                if empty:
                    self.handle_startendtag(name.lower(), attrs)
                else:
                    self.handle_starttag(name.lower(), attrs)

    # -- tag handlers ---------------------------------------------------
    def handle_startendtag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        if tag == "br" and not self.skip:
            if self.line_has_text or not self.line_had_note:
                self.out.append("\n")
            self.line_has_text = self.line_had_note = False
        elif tag in ("div", "span", "p"):  # an empty element written as <x />
            self.handle_starttag(tag, attrs)
            self.handle_endtag(tag)

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        if tag in ("br", "img"):
            self.handle_startendtag(tag, attrs)
            return
        a = dict(attrs)
        classes = set((a.get("class") or "").split())
        skip = False
        end = ""
        if tag == "rp" or classes & _NOTE_CLASSES or "hidden" in a:
            skip = True
        elif tag == "rt":
            skip = not self.ruby
            if not skip:
                self._write("（")
                end = "）"
        elif "kogane-gaiji" in classes and "data-description" in a:
            self._write((a["data-description"] or "") if self.gaiji_descriptions else UNRESOLVED_GAIJI)
            skip = True
        elif "kogane-warichu" in classes and tag == "span":
            self._write("（")
            end = "）"
        elif (tag in _BLOCKS or "kogane-line" in classes) and not self.skip:
            if classes & _BREAK_CLASSES:
                self._blank_line()
            else:
                self._line_break()
            end = "\n\n" if tag == "p" else "\n"
        self.stack.append((tag, end, skip))
        if skip:
            self.skip += 1
            self.line_had_note = True

    def handle_endtag(self, tag: str) -> None:
        # The fragment is well formed; pop to the matching element anyway so
        # a stray end tag cannot shift everything after it.
        for depth in range(len(self.stack) - 1, -1, -1):
            if self.stack[depth][0] == tag:
                break
        else:
            return
        while len(self.stack) > depth:
            _, end, skip = self.stack.pop()
            if skip:
                self.skip -= 1
            if end == "\n\n":
                self._blank_line()
            elif end == "\n":
                self._line_break()
            else:
                self._write(end)

    def handle_data(self, data: str) -> None:
        # Line ends of the source arrive as <br />; newlines between tags
        # are only the renderer's layout.
        self._write(data.replace("\r", "").replace("\n", ""))

    def text(self) -> str:
        s = strip_accent_brackets("".join(self.out), markup=False)
        s = re.sub(r"\n{3,}", "\n\n", s).strip("\n")
        return s + "\n" if s else ""


def fragment_to_text(fragment: str, *, ruby: bool = False, gaiji_descriptions: bool = False) -> str:
    """Plain text of an HTML fragment rendered by the engine."""
    writer = _TextWriter(ruby=ruby, gaiji_descriptions=gaiji_descriptions)
    writer.feed(fragment)
    return writer.text()


def to_text(book: Book, *, ruby: bool = False, gaiji_descriptions: bool = False, full: bool = False) -> str:
    """The body of `book` as plain text; with ``full`` also its header and colophon.

    ``ruby`` keeps readings as 漢字（かんじ）; ``gaiji_descriptions`` writes the
    description of a character the engine could not resolve instead of 〓.
    """
    options = dict(ruby=ruby, gaiji_descriptions=gaiji_descriptions)
    parts = [fragment_to_text(book.body_document().to_html(), **options)]
    if full:
        parts.insert(0, fragment_to_text(book.header_document().to_html(), **options))
        parts.append(fragment_to_text(book.colophon_document().to_html(), **options))
    return "\n".join(p for p in parts if p)
