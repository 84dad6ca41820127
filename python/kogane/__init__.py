"""Kogane: a fast, exact parser and renderer for Kogane markup.

The engine lives in the compiled submodule ``kogane._kogane``; this package
re-exports its names.
"""

from importlib.metadata import PackageNotFoundError, version as _distribution_version

from ._kogane import (
    Document,
    PanicException,
    decode_sjis,
    parse_to_html,
    prewarm,
    schema_version,
    slugs_json,
    version,
)

from .book import Book, BookError
from .pages import page, render_page
from .text import to_text
from .batch import convert_many

try:
    __version__ = _distribution_version("kogane")
except PackageNotFoundError:  # running from a source tree without metadata
    __version__ = "0+unknown"

__all__ = [
    "Document",
    "parse_to_html",
    "prewarm",
    "decode_sjis",
    "slugs_json",
    "version",
    "schema_version",
]
# The book layer (Book, page, to_text) and the batch runner (convert_many)
# are reached as attributes; __all__ lists the engine's names only.
