"""Plain text of a book, as a reader or a text corpus wants it.

The text is taken from the engine's HTML rendering, never from the markup
itself, so it agrees with every other view: readings are dropped (or kept in
parentheses), annotations disappear, gaiji become their characters, accent
fragments lose the tortoise brackets that only delimit them, and page breaks
become blank lines.
"""

from __future__ import annotations

import enum
import html
import re
from dataclasses import dataclass
from functools import lru_cache
from typing import Callable, Iterable, Iterator

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


def matches_from_literal(pattern: re.Pattern[str], literal: str, s: str, *, back_to: str = "") -> Iterator[re.Match[str]]:
    """``pattern.finditer(s)`` for a pattern whose every match starts with
    `literal` (and is never empty) or, with `back_to`, whose literal stands
    after the last `back_to` before the start of the match. The places to
    try are found with str.find, many times faster than the pattern's own
    scan of a long fragment."""
    pos = 0
    while True:
        at = s.find(literal, pos)
        if at < 0:
            return
        start = s.rfind(back_to, pos, at) if back_to else at
        m = pattern.match(s, start) if start >= 0 else None
        if m is None:
            pos = at + 1
            continue
        yield m
        pos = m.end()


def sub_matches(s: str, matches: Iterable[re.Match[str]], repl: Callable[[re.Match[str]], str]) -> str:
    """`s` with each of the (ordered, disjoint) `matches` replaced by ``repl(match)``;
    `s` itself when there are none."""
    out: list[str] = []
    done = 0
    for m in matches:
        out.append(s[done : m.start()])
        out.append(repl(m))
        done = m.end()
    if not out:
        return s
    out.append(s[done:])
    return "".join(out)


def sub_from_literal(pattern: re.Pattern[str], literal: str, repl: Callable[[re.Match[str]], str], s: str) -> str:
    """``pattern.sub(repl, s)`` for a pattern whose every match starts with `literal`."""
    return sub_matches(s, matches_from_literal(pattern, literal, s), repl)


def strip_accent_brackets(s: str, *, markup: bool = True) -> str:
    """Drop the 〔〕 around accent fragments, in rendered HTML or (markup=False) in plain text."""

    def repl(m: re.Match[str]) -> str:
        inner = m.group(1)
        visible = html.unescape(_TAG.sub("", inner)) if markup else inner  # &amp; is no Latin text
        return inner if _HAS_LATIN.search(visible) else m.group(0)

    return sub_from_literal(_ACCENT_FRAGMENT_HTML if markup else _ACCENT_FRAGMENT_TEXT, "〔", repl, s)


# The renderer writes well-formed markup with double-quoted attributes, so a
# tag-by-tag scan is enough. Text between tags is handled as whole runs, and
# what a start tag does is worked out once per distinct tag.
_HTML_TAG = re.compile(r"<(/?)([a-zA-Z][a-zA-Z0-9]*)([^>]*)>")
_ATTRIBUTE = re.compile(r'([a-zA-Z_:][-a-zA-Z0-9_:.]*)(?:="([^"]*)")?')
# Nearly every tag of a book belongs to a plain ruby. It is folded into text
# before the scan: its base (and reading), with a mark standing for the
# annotation it held (a line of nothing but rubies without bases leaves no
# line, as a line of annotations does not).
PLAIN_RUBY = re.compile(r"<ruby>([^<]*)<rp>\(</rp><rt>([^<]*)</rt><rp>\)</rp></ruby>")
_MARK_CANDIDATES = "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x0b\x0c\x0e\x0f"
# The tags _HTML_TAG matches, but for <br />: line ends stay in the text
# around them, so runs of plain lines are written at once.
_TAG_SPLIT = re.compile(r"(<(?!br />)/?[a-zA-Z][^>]*>)")


@lru_cache(maxsize=None)
def _mark_only_lines(mark: str) -> re.Pattern[str]:
    """Lines (each ended by <br />) that hold nothing but `mark`."""
    return re.compile(f"(?:^|(?<=<br />)){re.escape(mark)}+<br />")


@lru_cache(maxsize=1024)
def _end_tag_name(tag: str) -> str:
    m = _HTML_TAG.fullmatch(tag)
    assert m is not None
    return m.group(2).lower()


class _Block(enum.Enum):
    """What an element does to the lines around it."""

    INLINE = enum.auto()
    LINE = enum.auto()  # starts on a line of its own
    BLANK = enum.auto()  # a page or section break: a blank line before it


@dataclass(frozen=True, slots=True)
class _StartTag:
    """What a start tag does, the same wherever it stands."""

    name: str
    empty: bool  # written <x />
    skip: bool  # its content is not text of the book
    opening: str  # written where it starts
    closing: str  # written where it ends (unless it is a block)
    block: _Block
    block_end: str  # "\n\n" after a paragraph, "\n" after another block


@lru_cache(maxsize=8192)
def _start_tag(tag: str, ruby: bool, gaiji_descriptions: bool) -> _StartTag:
    m = _HTML_TAG.fullmatch(tag)
    assert m is not None
    name, attributes = m.group(2).lower(), m.group(3)
    empty = attributes.endswith("/")
    if empty:
        attributes = attributes[:-1]
    a = {k: html.unescape(v) if "&" in v else v for k, v in _ATTRIBUTE.findall(attributes)}
    classes = set((a.get("class") or "").split())
    skip = False
    opening = closing = ""
    block = _Block.INLINE
    if name == "rp" or classes & _NOTE_CLASSES or "hidden" in a:
        skip = True
    elif name == "rt":
        skip = not ruby
        if not skip:
            opening, closing = "（", "）"
    elif "kogane-gaiji" in classes and "data-description" in a:
        opening = (a["data-description"] or "") if gaiji_descriptions else UNRESOLVED_GAIJI
        skip = True
    elif "kogane-warichu" in classes and name == "span":
        opening, closing = "（", "）"
    elif name in _BLOCKS or "kogane-line" in classes:
        block = _Block.BLANK if classes & _BREAK_CLASSES else _Block.LINE
    return _StartTag(name, empty, skip, opening, closing, block, "\n\n" if name == "p" else "\n")


def _trailing_newlines(s: str, before: int) -> int:
    """Newlines at the end of the output once `s` is appended, counted up to two."""
    bare = s.rstrip("\n")
    count = len(s) - len(bare)
    return min(2, before + count if not bare else count)


def _fold_plain_rubies(fragment: str, mark: str, ruby: bool) -> str:
    parts = PLAIN_RUBY.split(fragment)  # text, base, reading, text, ...
    if len(parts) == 1:
        return fragment
    readings = parts[2::3]
    # The mark may follow the base: nothing between them ends a line.
    parts[2::3] = [f"（{r}）{mark}" for r in readings] if ruby else [mark] * len(readings)
    return "".join(parts)


def fragment_to_text(fragment: str, *, ruby: bool = False, gaiji_descriptions: bool = False) -> str:
    """Plain text of an HTML fragment rendered by the engine."""
    mark = next((c for c in _MARK_CANDIDATES if c not in fragment), None)
    if mark is not None:
        fragment = _fold_plain_rubies(fragment, mark, ruby)
    # A newline right after a tag is the renderer's layout (text between tags
    # drops its newlines anyway; a tag cannot hold a '>').
    parts = _TAG_SPLIT.split(fragment.replace(">\n", ">"))  # text, tag, text, tag, ..., text

    out: list[str] = []
    tail = 0  # newlines at the end of the output, up to two
    # One entry per open element: (name, text written at its end, skipped).
    stack: list[tuple[str, str, bool]] = []
    skip = 0
    # A source line that held nothing but annotations leaves no line.
    line_has_text = line_had_note = False

    def write(s: str) -> None:
        nonlocal tail, line_has_text
        if not skip and s:
            out.append(s)
            tail = _trailing_newlines(s, tail) if s[-1] == "\n" else 0
            line_has_text = True

    def line_break() -> None:
        nonlocal tail, line_has_text, line_had_note
        if out and not tail:
            out.append("\n")
            tail = 1
        line_has_text = line_had_note = False

    def blank_line() -> None:
        nonlocal tail
        if not out:
            return
        line_break()
        if tail < 2:
            out.append("\n")
            tail = 2

    def end_tag(name: str) -> None:
        nonlocal skip
        # The fragment is well formed; pop to the matching element anyway so
        # a stray end tag cannot shift everything after it.
        for depth in range(len(stack) - 1, -1, -1):
            if stack[depth][0] == name:
                break
        else:
            return
        while len(stack) > depth:
            _, end, skipped = stack.pop()
            if skipped:
                skip -= 1
            if end == "\n\n":
                blank_line()
            elif end == "\n":
                line_break()
            else:
                write(end)

    def line_end() -> None:  # a <br />: where a source line ended
        nonlocal tail, line_has_text, line_had_note
        if not skip:
            if line_has_text or not line_had_note:
                out.append("\n")
                tail = min(2, tail + 1)
            line_has_text = line_had_note = False

    def text_line(data: str) -> None:  # text within one source line
        nonlocal line_had_note
        if mark is not None and mark in data:
            line_had_note = True
            data = data.replace(mark, "")
        if "&" in data:
            data = html.unescape(data)
        # Line ends of the source arrive as <br />; newlines between tags
        # are only the renderer's layout.
        write(data.replace("\r", "").replace("\n", "") if "\n" in data or "\r" in data else data)

    def text_lines(data: str) -> None:
        """Text with <br /> in it: the lines between the first and the last
        are written at once."""
        nonlocal tail, line_has_text, line_had_note
        first, _, rest = data.partition("<br />")
        text_line(first)
        line_end()
        middle, sep, last = rest.rpartition("<br />")
        if sep and not skip and "&" not in middle:
            middle += "<br />"
            if "\n" in middle or "\r" in middle:
                middle = middle.replace("\r", "").replace("\n", "")
            if mark is not None and mark in middle:
                # A line of nothing but annotations leaves no line; such a
                # line starts with the mark (a ruby's base comes before it).
                if middle.startswith(mark) or "<br />" + mark in middle:
                    middle = _mark_only_lines(mark).sub("", middle)
                middle = middle.replace(mark, "")
            middle = middle.replace("<br />", "\n")
            if middle:
                out.append(middle)
                tail = _trailing_newlines(middle, tail)
        elif sep:
            for line in middle.split("<br />"):
                text_line(line)
                line_end()
        text_line(last)

    roles: dict[str, _StartTag] = {}  # in front of the shared cache, for speed
    parts.append("")  # every text is followed by a tag, the last by none
    for i in range(0, len(parts) - 1, 2):
        data = parts[i]
        if data:
            if "<br />" in data:
                text_lines(data)
            elif (mark is None or mark not in data) and "&" not in data and "\n" not in data and "\r" not in data:
                if not skip:
                    out.append(data)
                    tail = 0
                    line_has_text = True
            else:
                text_line(data)
        tag = parts[i + 1]
        if not tag:
            break
        if tag == "<p>" and not skip:
            line_break()
            stack.append(("p", "\n\n", False))
            continue
        if tag == "</p>" and stack and stack[-1][0] == "p":
            _, end, skipped = stack.pop()
            if skipped:
                skip -= 1
            if end:
                blank_line()
            continue
        if tag[1] == "/":
            name = _end_tag_name(tag)
            if stack and stack[-1][0] == name:  # the usual case: the innermost element ends
                _, end, skipped = stack.pop()
                if skipped:
                    skip -= 1
                if end == "\n\n":
                    blank_line()
                elif end == "\n":
                    line_break()
                elif end:
                    write(end)
            else:
                end_tag(name)
            continue
        role = roles.get(tag)
        if role is None:
            role = roles[tag] = _start_tag(tag, ruby, gaiji_descriptions)
        if role.name in ("br", "img") or (role.empty and role.name not in ("div", "span", "p")):
            if role.name == "br":
                line_end()
            continue
        end = role.closing
        if role.opening:
            write(role.opening)
        if role.block is not _Block.INLINE and not skip:
            if role.block is _Block.BLANK:
                blank_line()
            else:
                line_break()
            end = role.block_end
        stack.append((role.name, end, role.skip))
        if role.skip:
            skip += 1
            line_had_note = True
        if role.empty:
            end_tag(role.name)

    s = strip_accent_brackets("".join(out), markup=False)
    while "\n\n\n" in s:  # at most two newlines in a row
        s = s.replace("\n\n\n", "\n\n")
    s = s.strip("\n")
    return s + "\n" if s else ""


def to_text(book: Book, *, ruby: bool = False, gaiji_descriptions: bool = False, full: bool = False) -> str:
    """The body of `book` as plain text; with ``full`` also its header and colophon.

    ``ruby`` keeps readings as 漢字（かんじ）; ``gaiji_descriptions`` writes the
    description of a character the engine could not resolve instead of 〓.
    """
    options = dict(ruby=ruby, gaiji_descriptions=gaiji_descriptions)
    parts = [fragment_to_text(book.body_html(), **options)]
    if full:
        parts.insert(0, fragment_to_text(book.header_html(), **options))
        parts.append(fragment_to_text(book.colophon_html(), **options))
    return "\n".join(p for p in parts if p)
