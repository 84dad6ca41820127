"""The module surface as a Python user sees it."""

import inspect
import json

import pytest

import kogane
from kogane import _kogane

EMPTY = '{"schemaVersion":3,"data":[]}'


def test_exports_in_order():
    assert _kogane.__all__ == [
        "Document",
        "parse_to_html",
        "prewarm",
        "decode_sjis",
        "slugs_json",
        "version",
        "schema_version",
    ]
    assert kogane.__all__ == _kogane.__all__
    for name in kogane.__all__:
        assert getattr(kogane, name) is getattr(_kogane, name)
    assert kogane.Document.__module__ == "kogane._kogane"


def test_versions():
    assert kogane.version() == "0.5.0"
    assert kogane.schema_version() == 3
    assert isinstance(kogane.__version__, str) and kogane.__version__
    assert kogane.prewarm() is None
    assert kogane.prewarm() is None


def test_text_signatures():
    sig = lambda f: str(inspect.signature(f))  # noqa: E731
    assert sig(kogane.parse_to_html) == "(source)"
    assert sig(kogane.decode_sjis) == "(data)"
    assert sig(kogane.prewarm) == "()"
    assert sig(kogane.Document) == "(source)"
    assert sig(kogane.Document.from_bytes) == "(data)"
    assert sig(kogane.Document.to_html) == "(self, /)"
    assert kogane.parse_to_html.__doc__.startswith("Convenience: parse + render in one call.")
    assert kogane.Document.to_html.__doc__ == "Render the document to HTML and return as a Python `str`."
    assert kogane.Document.source.__doc__ == "The source text the document was parsed from."
    assert isinstance(inspect.getattr_static(kogane.Document, "from_bytes"), staticmethod)


def test_panic_exception_is_not_an_exception():
    assert issubclass(kogane.PanicException, BaseException)
    assert not issubclass(kogane.PanicException, Exception)
    assert kogane.PanicException.__doc__


@pytest.mark.parametrize(
    "call",
    [
        lambda: kogane.parse_to_html(b"x"),
        lambda: kogane.parse_to_html(),
        lambda: kogane.parse_to_html("a", "b"),
        lambda: kogane.parse_to_html(text="a"),
        lambda: kogane.decode_sjis("text"),
        lambda: kogane.decode_sjis(bytearray(b"x")),
        lambda: kogane.Document(),
        lambda: kogane.Document(1),
        lambda: kogane.Document("a", "b"),
        lambda: kogane.Document("a", source="b"),
        lambda: kogane.Document.from_bytes("text"),
        lambda: kogane.version(1),
        lambda: kogane.Document("a").to_html(1),
    ],
)
def test_argument_errors_are_type_errors(call):
    with pytest.raises(TypeError):
        call()


def test_wrong_type_message_names_the_expected_type():
    with pytest.raises(TypeError, match="'str' object is not an instance of 'bytes'"):
        kogane.decode_sjis("text")
    with pytest.raises(TypeError, match="'bytes' object is not an instance of 'str'"):
        kogane.Document(b"text")


def test_keyword_arguments():
    assert kogane.parse_to_html(source="a") == "<p>a</p>\n"
    assert kogane.Document(source="a").source == "a"
    assert kogane.decode_sjis(data=b"\x82\xa0") == "あ"
    assert kogane.Document.from_bytes(data=b"a").source == "a"


def test_bytes_subclasses_are_accepted():
    class B(bytes):
        pass

    assert kogane.decode_sjis(B(b"abc")) == "abc"
    assert kogane.Document.from_bytes(B(b"abc")).source == "abc"


def test_lone_surrogate_fails_with_the_hosts_error():
    with pytest.raises(UnicodeEncodeError):
        kogane.Document("a\ud800")
    with pytest.raises(UnicodeEncodeError):
        kogane.parse_to_html("\udfff")


def test_slug_catalogue():
    text = kogane.slugs_json()
    assert text == kogane.slugs_json()
    env = json.loads(text)
    assert env["schemaVersion"] == 3
    data = env["data"]
    assert len(data) == 48
    assert [d["canonical"] for d in data[:4]] == ["改ページ", "改丁", "改段", "改見開き"]
    assert [d["canonical"] for d in data if d["accepts_param"]] == [
        "ここから{N}字下げ",
        "ここから地から{N}字上げ",
        "地から{N}字上げ",
        "{N}字下げ",
        "挿絵（{path}）入る",
    ]
    assert list(data[6]) == ["canonical", "family", "accepts_param", "doc", "partner"]
    assert "partner" not in data[0]
    families = []
    for d in data:
        if d["family"] not in families:
            families.append(d["family"])
    assert families == [
        "pageBreak", "section", "blockContainerOpen", "blockContainerClose", "framed", "warichu",
        "leafAlign", "bouten", "illustration", "combineUpright", "kaeritenSingle", "kaeritenCompound",
    ]


def test_subclass_of_document():
    class Mine(kogane.Document):
        pass

    d = Mine("abc")
    assert isinstance(d, Mine)
    assert d.source_byte_len() == 3
    # from_bytes always builds the base class
    assert type(Mine.from_bytes(b"abc")) is kogane.Document


def _reimported():
    """A second, independent load of the extension module."""
    import importlib
    import sys

    saved = sys.modules.pop("kogane._kogane")
    try:
        return importlib.import_module("kogane._kogane")
    finally:
        sys.modules["kogane._kogane"] = saved


def test_types_come_from_the_module_that_made_them():
    fresh = _reimported()
    assert fresh.Document is not _kogane.Document
    d = fresh.Document.from_bytes(b"abc")
    assert type(d) is fresh.Document
    assert type(_kogane.Document.from_bytes(b"abc")) is _kogane.Document
    assert type(fresh.Document("x")) is fresh.Document
    assert fresh.PanicException is not _kogane.PanicException
    assert fresh.parse_to_html("a") == "<p>a</p>\n"
    # Documents of both loads live side by side.
    assert d.to_html() == _kogane.Document("abc").to_html()


def test_a_sub_interpreter_gets_its_own_types():
    import sys

    interpreters = pytest.importorskip("_xxsubinterpreters")
    code = (
        "import sys\n"
        f"sys.path[:0] = {sys.path!r}\n"
        "from kogane import _kogane as K\n"
        "d = K.Document.from_bytes(b'a')\n"
        "assert type(d) is K.Document, type(d)\n"
        "assert d.to_html() == '<p>a</p>\\n'\n"
    )
    interp = interpreters.create()
    try:
        interpreters.run_string(interp, code)
    finally:
        interpreters.destroy(interp)


@pytest.mark.parametrize(
    "text, html",
    [
        ("abc", "<p>abc</p>\n"),  # ASCII only
        ("café ÿ", "<p>café ÿ</p>\n"),  # one byte a character
        ("漢字とŽ", "<p>漢字とŽ</p>\n"),  # two
        ("𠀋の字é", "<p>𠀋の字é</p>\n"),  # four
        ("", ""),
    ],
)
def test_strings_come_back_at_every_width(text, html):
    doc = kogane.Document(text)
    assert doc.to_html() == html
    assert doc.source == text
    assert doc.to_source() == text
