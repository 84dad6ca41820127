"""A book as one standalone HTML5 page, vertical by default.

The engine's HTML fragment stays as it is; this module adapts it for reading:

* a single-line layout (［＃３字下げ］, ［＃地付き］, ［＃地から２字上げ］ …) is marked
  in the fragment by an empty span where the annotation stood. Here the rest
  of that source line is wrapped in an element carrying the layout, so the
  stylesheet can indent it or push it to the end of the line, also when the
  marker stands mid-line (貰ひたい。［＃地から２字上げ］（一九三六））;
* numbers carried in data attributes become CSS custom properties, so the
  stylesheet can size indents, offsets, widths and font steps in characters;
* accent fragments lose their delimiting 〔〕;
* image sources that are not relative paths inside the book are dropped and
  reported;
* editorial notes the fragment keeps hidden can be shown as small notes.
"""

from __future__ import annotations

import html
import os
import re
from importlib import resources
from functools import lru_cache
from pathlib import Path
from typing import Callable, Iterable

from .book import Book, is_safe_image_path
from .text import PLAIN_RUBY, strip_accent_brackets, sub_from_literal

__all__ = ["render_page", "render_page_bytes", "page", "stylesheet", "page_stylesheet", "minify_css", "adapt_fragment", "book_parts"]

_CSP = (
    "default-src 'none'; img-src 'self'; style-src 'unsafe-inline'; "
    "script-src 'none'; object-src 'none'; base-uri 'none'; form-action 'none'"
)

_VOID = frozenset({"br", "img", "hr", "wbr", "meta", "link"})
_PARAGRAPH = re.compile(r"<p>(.*?)</p>", re.S)
_LINE_END = "<br />\n"
# Start tags of the spans that lay out the rest of their line.
_MARKER = re.compile(
    r'<span class="(?:kogane-indent|kogane-align-end|kogane-center|kogane-line-)[^"]*"[^>]*>'
)
_EMPTY_MARKER_TAIL = "</span>"
_ONLY_EMPTY_MARKERS = re.compile(rf"(?:{_MARKER.pattern}{_EMPTY_MARKER_TAIL})+")
_NUMBER_NAMES = ("amount", "offset", "width", "wrap", "steps", "columns", "kumi-lines", "kumi-width")
_DATA_NUMBER = re.compile(rf' data-({"|".join(_NUMBER_NAMES)})="(\d+)"')
_IMG = re.compile(r'<img src="([^"]*)"([^>]*?) ?/>')
_HIDDEN_DIRECTIVE = re.compile(r'<span class="kogane-directive" hidden>(.*?)</span>', re.S)
# ruby-position is read from the <ruby> element, so a reading on the left
# marks its ruby too.
_LEFT_RUBY = re.compile(r'<ruby>(?=(?:(?!</?ruby>).)*?<rt class="kogane-ruby-left">)', re.S)
# A layout annotation right before a heading (［＃３字下げ］［＃中見出し］…) is
# left by the renderer in the paragraph the heading closes; it belongs to
# the heading.
_LAYOUT_BEFORE_HEADING = re.compile(
    r'(?:<br />\n)?((?:<span class="kogane-(?:indent|align-end|center)[^"]*"[^>]*></span>)+)</p>\n'
    r'<(h[123]|div) class="(kogane-heading[^"]*)">'
)
# Warichu: the note set in two half-size lines within the line. CSS cannot
# balance the two lines by itself, so the box is given half the note's
# length; a note with line breaks in it stays inline.
_WARICHU = re.compile(r'<span class="kogane-warichu">((?:(?!</?span\b).)*?)</span>', re.S)
# The renderer puts a line's layout written before a heading at the start of
# the heading itself.
_LAYOUT_INSIDE_HEADING = re.compile(
    r'<(h[123]|div) class="(kogane-heading[^"]*)">'
    r'((?:<span class="kogane-(?:indent|align-end|center)[^"]*"[^>]*></span>)+)'
)
_HEADING_AFTER_PARAGRAPH = re.compile(r'</p>\n<(h[123]|div) class="(kogane-heading[^"]*)">')
_LAYOUT_SPAN_BEFORE_HEADING = re.compile(r'<span class="kogane-(?:indent|align-end|center)[^"]*"[^>]*></span>')
_TAG_START = re.compile(r"<[a-z]")
_RT = re.compile(r"<rt\b.*?</rt>|<rp>.*?</rp>", re.S)
_LAYOUT_SPAN = re.compile(r'<span class="([^"]*)"([^>]*)></span>')


@lru_cache(maxsize=1)
def stylesheet() -> str:
    """The stylesheet shipped with the package (kogane.css)."""
    return resources.files(__package__).joinpath("kogane.css").read_text(encoding="utf-8")


@lru_cache(maxsize=1)
def page_stylesheet() -> str:
    """The stylesheet as every page inlines it: the same rules without
    comments and layout whitespace. A library of pages carries one copy per
    page, a sixth of what is written; kogane.css stays readable."""
    return minify_css(stylesheet())


_CSS_STRING = r'"(?:[^"\\\n]|\\.)*"' + r"|'(?:[^'\\\n]|\\.)*'"
_CSS_STRING_OR_COMMENT = re.compile(rf"({_CSS_STRING}|/\*.*?\*/)", re.S)
# Whitespace next to punctuation that never needs it. Not around + - * >
# (calc() needs its spaces) and not before ':' (a descendant combinator).
_CSS_SPACE = re.compile(r" ?([{};,]) ?|: ")


def minify_css(css: str) -> str:
    """`css` without comments and without whitespace that carries no meaning;
    string literals are kept as they are."""
    # Outside strings, alternating with strings; a comment separates tokens
    # as a space does.
    segments = [""]
    for i, piece in enumerate(_CSS_STRING_OR_COMMENT.split(css)):
        if i % 2 and piece[0] in "\"'":
            segments += [piece, ""]
        else:
            segments[-1] += " " if i % 2 else piece
    for i in range(0, len(segments), 2):
        squeezed = _CSS_SPACE.sub(lambda m: m.group(1) or ":", re.sub(r"\s+", " ", segments[i]))
        segments[i] = squeezed.replace(";}", "}")
    return "".join(segments).strip()


# -- tag balance -------------------------------------------------------------


_TAG_PARTS = re.compile(r"<(/?)([a-zA-Z][a-zA-Z0-9]*)[^>]*?(/?)>")


# An element with nothing but text in it leaves the open tags as they were;
# folding such elements away (innermost first) leaves few tags to walk.
_CLOSED_ELEMENT = re.compile(r"<([a-zA-Z][a-zA-Z0-9]*)(?:\s[^<>]*)?(?<!/)>[^<]*</\1>")


def walk_open_tags(segment: str, stack: list[str]) -> list[str]:
    """The open start tags after `segment`, given those open before it."""
    if "<" not in segment:
        return stack
    segment = PLAIN_RUBY.sub("", segment.replace("<br />", ""))  # most of a book's tags
    folded = 1
    while folded and "<" in segment:
        segment, folded = _CLOSED_ELEMENT.subn("", segment)
    if "<" not in segment:
        return stack
    stack = list(stack)
    for m in _TAG_PARTS.finditer(segment):
        closing, name, empty = m.groups()
        name = name.lower()
        if closing:
            for k in range(len(stack) - 1, -1, -1):
                if _tag_name(stack[k]) == name:
                    del stack[k:]
                    break
        elif not empty and name not in _VOID:
            stack.append(m.group(0))
    return stack


@lru_cache(maxsize=1024)  # a book opens few distinct tags, over and over
def _tag_name(start_tag: str) -> str:
    m = _TAG_PARTS.match(start_tag)
    return m.group(2).lower() if m else ""


def close_tags(stack: Iterable[str]) -> str:
    if not stack:  # nearly every line
        return ""
    return "".join(f"</{_tag_name(t)}>" for t in reversed(list(stack)))


def open_tags(stack: Iterable[str]) -> str:
    return "".join(stack)


# -- single-line layouts --------------------------------------------------------


def _split_at_markers(line: str) -> list[tuple[str, str]]:
    """[(wrapper start tag or '', html)] — the lead and one part per marker."""
    parts: list[tuple[str, str]] = []
    wrapper = ""
    pos = 0
    for m in _MARKER.finditer(line):
        parts.append((wrapper, line[pos : m.start()]))
        wrapper = m.group(0)
        pos = m.end()
        if line.startswith(_EMPTY_MARKER_TAIL, pos):
            pos += len(_EMPTY_MARKER_TAIL)
        else:  # a run with content: its own span stays inside the part
            pos = m.start()
            wrapper = wrapper.replace('class="', 'class="kogane-line-run ', 1)
    parts.append((wrapper, line[pos:]))
    return parts


def _layout_line(line: str, inherited: list[str]) -> tuple[str, list[str], bool]:
    """The line with its layouts applied, the tags open after it, and whether it was wrapped."""
    if not _MARKER.search(line):
        return line, walk_open_tags(line, inherited), False
    out = [close_tags(inherited), '<span class="kogane-line">']
    stack = inherited
    for wrapper, segment in _split_at_markers(line):
        after = walk_open_tags(segment, stack)
        if not wrapper and not segment:
            continue
        out.append(wrapper or '<span class="kogane-line-lead">')
        out.append(open_tags(stack) + segment + close_tags(after))
        out.append("</span>")
        stack = after
    out.append("</span>")
    out.append(open_tags(stack))
    return "".join(out), stack, True


def _layout_paragraph(content: str, marker: re.Match[str]) -> str:
    """The content of a paragraph with its single-line layouts applied;
    `marker` is the first marker in it."""
    sep = len(_LINE_END)
    out: list[str] = []
    stack: list[str] = []  # open after content[:done]
    done = -1  # end of the last laid-out line
    while marker is not None:
        start = content.rfind(_LINE_END, 0, marker.start())
        start = 0 if start < 0 else start + sep
        end = content.find(_LINE_END, marker.start())
        end = len(content) if end < 0 else end
        if _ONLY_EMPTY_MARKERS.fullmatch(content, start, end):
            # Nothing to lay out: the line stays an (empty) line of the text.
            marker = _MARKER.search(content, end)
            continue
        # A laid-out line is a block of its own; the <br /> on either side of
        # it would add an empty line, except after a line that is empty.
        if done < 0:
            if start:
                out.append(_lines_before_block(content[: start - sep]))
            stack = walk_open_tags(content[:start], stack)
        else:
            out.append("\n")
            if start > done + sep:
                out.append(_lines_before_block(content[done + sep : start - sep]))
            stack = walk_open_tags(content[done:start], stack)
        line, stack, _ = _layout_line(content[start:end], stack)
        out.append(line)
        done = end
        marker = _MARKER.search(content, end)
    if done < 0:  # only lines with nothing to lay out
        return content
    if done < len(content):
        out.append("\n")
        out.append(content[done + sep :])
    return "".join(out)


def _lines_before_block(lines: str) -> str:
    """Lines that a laid-out line follows: their last <br /> goes, unless
    the last line is empty, which would then take no room."""
    last = lines.rfind(_LINE_END)
    last = 0 if last < 0 else last + len(_LINE_END)
    if last == len(lines) or _ONLY_EMPTY_MARKERS.fullmatch(lines, last):
        return lines + _LINE_END
    return lines + "\n"


def _layout_paragraphs(fragment: str) -> str:
    """Every <p>…</p> (the first </p> after each <p>) that holds a marker, laid out."""
    marker = _MARKER.search(fragment)
    if marker is None:
        return fragment
    out: list[str] = []
    done = pos = 0
    while True:
        start = fragment.find("<p>", pos)
        if start < 0:
            break
        end = fragment.find("</p>", start + 3)
        if end < 0:
            break
        pos = end + 4
        if marker.start() < start + 3:  # it stood outside any paragraph
            marker = _MARKER.search(fragment, start + 3)
            if marker is None:
                break
        if marker.start() < end:
            out.append(fragment[done : start + 3])
            content = fragment[start + 3 : end]
            out.append(_layout_paragraph(content, _MARKER.search(content, marker.start() - start - 3)))
            done = end
    out.append(fragment[done:])
    return "".join(out)


# -- the whole fragment ---------------------------------------------------------


def _numbers_to_properties(fragment: str) -> str:
    """Start tags holding a data- attribute get its number as a custom property.

    Finds each ' data-' and the start tag around it (text holds no raw '<' or
    '>'), rather than trying a tag pattern at every '<'."""
    out: list[str] = []
    done = scanned = 0  # end of what is copied / of the last tag looked at
    at = fragment.find(" data-")
    while at >= 0:
        if not fragment.startswith(_NUMBER_NAMES, at + 6):  # most are a gaiji's data-codepoint
            at = fragment.find(" data-", at + 6)
            continue
        close = fragment.find(">", at)
        if close < 0:
            break
        # The tag begins at the first '<' + letter after the last '>' before it.
        region = max(fragment.rfind(">", scanned, at) + 1, scanned)
        m = _TAG_START.search(fragment, region, at)
        if m is None:  # ' data-' in text
            at = fragment.find(" data-", at + 1)
            continue
        tag = fragment[m.start() : close + 1]
        props = ";".join(f"--kogane-{k}:{v}" for k, v in _DATA_NUMBER.findall(tag))
        if props and " style=" not in tag:
            out.append(fragment[done:close])
            out.append(f' style="{props}">')
            done = close + 1
        scanned = close + 1
        at = fragment.find(" data-", scanned)
    if not out:
        return fragment
    out.append(fragment[done:])
    return "".join(out)


def _move_layouts_onto_headings(fragment: str) -> str:
    """`_LAYOUT_BEFORE_HEADING`, found from the heading back rather than tried
    at every position of the fragment; then the layouts the renderer already
    put at the start of a heading."""
    fragment = _move_layouts_before_headings(fragment)
    if '"><span class="kogane-' not in fragment:
        return fragment
    return _LAYOUT_INSIDE_HEADING.sub(
        lambda m: _heading_with_layouts(m.group(1), m.group(2), m.group(3))[len("</p>\n"):], fragment
    )


def _move_layouts_before_headings(fragment: str) -> str:
    out: list[str] = []
    done = 0
    for tail in _HEADING_AFTER_PARAGRAPH.finditer(fragment):
        # Step back over the layout spans that end where the paragraph does.
        start = tail.start()
        while fragment.endswith("></span>", done, start):
            span = fragment.rfind('<span class="kogane-', done, start)
            if span < 0 or not _LAYOUT_SPAN_BEFORE_HEADING.fullmatch(fragment, span, start):
                break
            start = span
        if start == tail.start():
            continue
        if fragment.endswith(_LINE_END, done, start):
            start -= len(_LINE_END)
        m = _LAYOUT_BEFORE_HEADING.fullmatch(fragment, start, tail.end())
        if m is None:
            continue
        out.append(fragment[done:start])
        out.append(_layout_to_heading(m))
        done = tail.end()
    if not out:
        return fragment
    out.append(fragment[done:])
    return "".join(out)


def adapt_fragment(
    fragment: str,
    *,
    notes: bool = False,
    warnings: list[str] | None = None,
    source_name: str = "",
    keep_image: Callable[[str], str | None] | None = None,
    images: list[str] | None = None,
) -> str:
    """The engine's fragment prepared for reading (see the module docstring).

    ``keep_image(path)`` may refuse an image by returning the reason (an
    EPUB can only hold what the book has); refused and unsafe sources are
    reported to ``warnings``. The sources kept are added to ``images``
    (each once).
    """
    prefix = f"{source_name}: " if source_name else ""

    def image(m: re.Match[str]) -> str:
        src = html.unescape(m.group(1))
        if not is_safe_image_path(src):
            if warnings is not None:
                warnings.append(f"{prefix}image source {src!r} dropped: not a relative path inside the book")
            return ""
        refusal = keep_image(src) if keep_image is not None else None
        if refusal:
            if warnings is not None:
                warnings.append(f"{prefix}image {src!r} left out: {refusal}")
            return ""
        if images is not None and src not in images:
            images.append(src)
        return m.group(0)

    # Each step looks for its literal first: most books need few of them.
    out = sub_from_literal(_IMG, "<img ", image, fragment)
    out = strip_accent_brackets(out)
    if "kogane-ruby-left" in out:
        out = _LEFT_RUBY.sub('<ruby class="kogane-ruby-left">', out)
    if notes:
        out = sub_from_literal(_HIDDEN_DIRECTIVE, '<span class="kogane-directive" hidden>', _note, out)
    out = _move_layouts_onto_headings(out)
    if "<p></p>\n" in out:
        out = out.replace("<p></p>\n", "")
    out = _layout_paragraphs(out)
    out = sub_from_literal(_WARICHU, '<span class="kogane-warichu">', _warichu, out)
    out = _numbers_to_properties(out)
    # hidden="hidden" reads the same in HTML and is well-formed XML too. Text
    # is escaped, so '" hidden>' can only be the end of one of our tags.
    return out.replace('" hidden>', '" hidden="hidden">') if '" hidden>' in out else out


def _warichu(m: re.Match[str]) -> str:
    content = m.group(1)
    if "<br" in content:
        return m.group(0)
    length = len(html.unescape(re.sub(r"<[^>]*>", "", _RT.sub("", content))))
    if length < 2:
        return m.group(0)
    half = (length + 1) // 2
    return f'<span class="kogane-warichu kogane-warichu-lines" style="--kogane-half:{half}">{content}</span>'


def _layout_to_heading(m: re.Match[str]) -> str:
    return _heading_with_layouts(m.group(2), m.group(3), m.group(1))


def _heading_with_layouts(tag: str, heading_class: str, spans: str) -> str:
    classes: list[str] = []
    data: dict[str, str] = {}  # a later layout overrides an earlier one
    for span in _LAYOUT_SPAN.finditer(spans):
        classes += [c for c in span.group(1).split() if c not in classes]
        data.update(re.findall(r' (data-[a-z-]+)="([^"]*)"', span.group(2)))
    attrs = "".join(f' {k}="{v}"' for k, v in data.items())
    return f'</p>\n<{tag} class="{heading_class} {" ".join(classes)}"{attrs}>'


# Remarks about the text itself (sic, the printed edition read otherwise, a
# note by whoever typed it in), as opposed to annotations the engine does not
# know, which stay hidden.
_EDITORIAL = re.compile(r"ママ|底本|初出|原文|入力者注|校訂|誤植")


def _note(m: re.Match[str]) -> str:
    raw = m.group(1)
    if not _EDITORIAL.search(raw):
        return m.group(0)
    body = raw
    if body.startswith("［＃") and body.endswith("］"):
        body = body[2:-1]
    return f'<span class="kogane-note" title="{raw}">{body}</span>'


# -- the page -------------------------------------------------------------------


def _header_html(book: Book, **adapt) -> str:
    if not book.header.strip():
        return ""
    fragment = adapt_fragment(book.header_html(), **adapt)
    m = _PARAGRAPH.search(fragment)
    lines = m.group(1).split(_LINE_END) if m else []
    parts = []
    for i, line in enumerate(line for line in lines if line.strip()):
        if i == 0:
            parts.append(f'<h1 class="kogane-book-title">{line}</h1>')
        else:
            parts.append(f'<p class="kogane-book-byline">{line}</p>')
    return '<header class="kogane-book-header">\n' + "\n".join(parts) + "\n</header>\n"


def book_parts(
    book: Book, *, notes: bool, warnings: list[str] | None, keep_image=None, images: list[str] | None = None
) -> dict[str, str]:
    """Header, body and colophon of `book` as adapted HTML (notation left out);
    the image sources they keep are added to `images`."""
    adapt = dict(notes=notes, warnings=warnings, source_name=book.name, keep_image=keep_image, images=images)
    if warnings is not None:
        warnings.extend(book.notes)  # e.g. which .txt of an archive was taken
    colophon = ""
    if book.colophon.strip():
        colophon = adapt_fragment(book.colophon_html(), **adapt)
    return dict(
        header=_header_html(book, **adapt),
        body=adapt_fragment(book.body_html(), **adapt),
        colophon=colophon,
    )


def _version() -> str:
    from . import __version__  # the package imports this module first

    return __version__


def _escape(s: str) -> str:
    return html.escape(s, quote=True)


def render_page(
    book: Book,
    *,
    horizontal: bool = False,
    notes: bool = False,
    warnings: list[str] | None = None,
    images: list[str] | None = None,
) -> str:
    """One HTML5 document for `book`: title, metadata, body and colophon.

    Vertical writing unless ``horizontal``; ``notes`` shows the editorial
    notes the text keeps hidden. Messages about dropped image sources are
    appended to ``warnings`` when a list is given; the image sources the page
    refers to (as paths relative to it) to ``images``.
    """
    head, body = _page_pieces(book, horizontal, notes, warnings, images)
    return "\n".join([*head, _page_head_end(), *body])


def render_page_bytes(
    book: Book,
    *,
    horizontal: bool = False,
    notes: bool = False,
    warnings: list[str] | None = None,
    images: list[str] | None = None,
) -> bytes:
    """`render_page` encoded as UTF-8, made without encoding the stylesheet
    every page shares again for each."""
    head, body = _page_pieces(book, horizontal, notes, warnings, images)
    # Each piece encoded on its own and joined once: the body is not copied
    # into a joined string first.
    return b"\n".join(["\n".join(head).encode("utf-8"), _page_head_end_bytes(), *(piece.encode("utf-8") for piece in body)])


def _page_pieces(book: Book, horizontal: bool, notes: bool, warnings: list[str] | None,
                 images: list[str] | None) -> tuple[list[str], list[str]]:
    """The lines of a page before and after the part every page shares."""
    parts = book_parts(book, notes=notes, warnings=warnings, images=images)
    mode = "kogane-horizontal" if horizontal else "kogane-vertical"
    head = [
        "<!DOCTYPE html>",
        f'<html lang="ja" class="kogane-page {mode}">',
        "<head>",
        '<meta charset="utf-8" />',
        f'<meta http-equiv="Content-Security-Policy" content="{_CSP}" />',
        '<meta name="viewport" content="width=device-width, initial-scale=1" />',
        f"<title>{_escape(book.display_title)}</title>",
    ]
    if book.authors:
        head.append(f'<meta name="author" content="{_escape("、".join(book.authors))}" />')
    if book.subtitle:
        head.append(f'<meta name="description" content="{_escape(book.subtitle)}" />')
    body = ["<body>", parts["header"], '<main class="kogane-body">', parts["body"], "</main>"]
    if parts["colophon"]:
        body += ['<section class="kogane-colophon">', parts["colophon"], "</section>"]
    body.append("</body>\n</html>\n")
    return head, body


@lru_cache(maxsize=1)
def _page_head_end() -> str:
    """The end of every page's head: generator, stylesheet."""
    return "\n".join([
        f'<meta name="generator" content="Kogane {_escape(_version())}" />',
        "<style>" + page_stylesheet() + "</style>",
        "</head>",
    ])


@lru_cache(maxsize=1)
def _page_head_end_bytes() -> bytes:
    return _page_head_end().encode("utf-8")


def _as_book(source: Book | str | bytes | os.PathLike[str]) -> Book:
    if isinstance(source, Book):
        return source
    if isinstance(source, bytes):
        return Book.from_bytes(source)
    if isinstance(source, os.PathLike):
        return Book.from_path(source)
    if isinstance(source, str):
        # A short single-line string naming an existing book file is a path;
        # anything else is the text of a book.
        if "\n" not in source and source.lower().endswith((".txt", ".zip")) and Path(source).is_file():
            return Book.from_path(source)
        return Book.from_text(source)
    raise TypeError(f"page() takes a Book, a path, bytes or str, not {type(source).__name__}")


def page(source: Book | str | bytes | os.PathLike[str], **options) -> str:
    """`render_page` for a Book, a path (.txt or .zip), bytes or the text of a book."""
    return render_page(_as_book(source), **options)
