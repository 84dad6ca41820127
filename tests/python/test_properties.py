"""Properties that hold for every input, checked over generated texts."""

import json
import re

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import kogane
from kogane import Document

TRIGGERS = "｜《》≪≫［］＃※〔〕「」"
PIECES = [
    *TRIGGERS,
    "\n", "\r\n", "\r", "\ufeff", "　", " ",
    "漢", "字", "東京", "か", "な", "カナ", "ー", "、", "。",
    "a", "e'", "AE&", "o/", "ドット付き",
    "\ue001", "\ue002", "\ue003", "\ue004", "\ue000", "\ufffd",
    "<", "&", '"', "'", "\x00", "\x01", "\\",
    "ここから", "ここで", "字下げ", "終わり", "２", "傍点", "太字", "改ページ", "に", "は",
    "第3水準1-85-54", "U+3042", "、", "木＋吶のつくり", "丸19", "ローマ数字14",
    "----------", "==========",
    "𠮟",
]

markup = st.lists(st.sampled_from(PIECES), max_size=60).map("".join)
any_text = st.one_of(markup, st.text(max_size=40))

SETTINGS = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
VIEWS = ["nodes_json", "pairs_json", "container_pairs_json", "gaiji_json", "diagnostics_json"]
TAG = re.compile(r"<(/?)([a-z0-9]+)([^>]*)>")
VOID = {"br", "img"}


def spans_of(entry):
    for key in ("span", "open", "close"):
        if key in entry:
            yield entry[key]


def check_span(encoded: bytes, span):
    start, end = span["start"], span["end"]
    assert 0 <= start <= end <= len(encoded), span
    for pos in (start, end):
        if pos < len(encoded):
            assert encoded[pos] & 0xC0 != 0x80, f"offset {pos} splits a character"


def check_html_balanced(html: str):
    stack = []
    for m in TAG.finditer(html):
        closing, name, rest = m.groups()
        if closing:
            assert stack and stack[-1] == name, f"</{name}> closes {stack[-1:]}"
            stack.pop()
        elif name not in VOID and not rest.endswith("/"):
            stack.append(name)
    assert stack == [], stack
    # escaped text never leaves a stray angle bracket outside a tag
    assert "<" not in TAG.sub("", html)


def full_code(kind: str) -> str:
    return ("kogane::lint::" if kind == "non_canonical_directive" else "kogane::lex::") + kind


@SETTINGS
@given(any_text)
def test_document_invariants(text):
    doc = Document(text)
    encoded = text.encode("utf-8")
    assert doc.source == text
    assert doc.source_byte_len() == len(encoded)
    for view in VIEWS:
        raw = getattr(doc, view)()
        env = json.loads(raw)
        assert env["schemaVersion"] == 3
        for entry in env["data"]:
            for span in spans_of(entry):
                check_span(encoded, span)
    diags = json.loads(doc.diagnostics_json())["data"]
    keys = [(d["span"]["start"], d["span"]["end"], full_code(d["kind"]).encode()) for d in diags]
    assert keys == sorted(keys)
    report = doc.diagnostics_text()
    assert report.count("\n") >= len(diags)
    html = doc.to_html()
    check_html_balanced(html)
    assert html == kogane.parse_to_html(text)
    assert isinstance(doc.to_source(), str)


@SETTINGS
@given(st.binary(max_size=64))
def test_bytes_decode_or_raise_value_error(data):
    try:
        doc = Document.from_bytes(data)
    except ValueError as e:
        assert str(e) == "Shift_JIS からの変換に失敗しました (不正なバイト列)"
        return
    assert doc.source_byte_len() == len(doc.source.encode("utf-8"))
    check_html_balanced(doc.to_html())


@SETTINGS
@given(markup)
def test_shift_jis_round_trip(text):
    try:
        data = text.encode("cp932")
    except UnicodeEncodeError:
        return
    assert kogane.decode_sjis(data) == data.decode("cp932")


@SETTINGS
@given(markup)
def test_reemitted_source_is_canonical(text):
    once = Document(text).to_source()
    again = Document(once)
    # canonical text re-emits to itself and keeps every construct
    assert again.to_source() == once
    kinds = lambda d: [n["kind"] for n in json.loads(d.nodes_json())["data"]]  # noqa: E731
    assert kinds(again) == kinds(Document(text))
