"""A Document is pinned to the thread that created it."""

import gc
import sys
import threading

import pytest

import kogane
from kogane import Document


def run_in_thread(fn):
    box = {}

    def target():
        try:
            box["value"] = fn()
        except BaseException as e:  # noqa: BLE001 - PanicException is a BaseException
            # without its traceback the error holds no frames, so the
            # documents they reference are freed on their own thread
            box["error"] = e.with_traceback(None)

    t = threading.Thread(target=target)
    t.start()
    t.join()
    return box


@pytest.mark.parametrize(
    "member",
    ["to_html", "to_source", "source_byte_len", "nodes_json", "pairs_json", "container_pairs_json",
     "gaiji_json", "diagnostics_json", "diagnostics_text"],
)
def test_every_member_refuses_another_thread(member):
    d = Document("abc")
    box = run_in_thread(lambda: getattr(d, member)())
    err = box.get("error")
    assert isinstance(err, kogane.PanicException)
    assert str(err).startswith(
        "assertion `left == right` failed: _kogane::bindings::Document is unsendable, but sent to another thread"
    )
    # still usable on its own thread
    getattr(d, member)()


def test_source_property_refuses_another_thread():
    d = Document("abc")
    box = run_in_thread(lambda: d.source)
    assert isinstance(box.get("error"), kogane.PanicException)
    assert d.source == "abc"


def test_documents_made_in_a_thread_work_there():
    box = run_in_thread(lambda: Document("a\n\nb").to_html())
    assert box["value"] == "<p>a</p>\n<p>b</p>\n"


def test_drop_on_another_thread_is_reported(monkeypatch):
    # Documents of earlier tests may sit in garbage cycles; collected on the
    # worker they would be reported too, so collect them here first.
    gc.collect()
    gc.disable()
    try:
        seen = []
        monkeypatch.setattr(sys, "unraisablehook", seen.append)
        holder = [Document("abc")]
        # the last reference is dropped inside the worker
        box = run_in_thread(lambda: holder.pop() and None)
        assert "error" not in box
    finally:
        gc.enable()
    assert len(seen) == 1
    assert isinstance(seen[0].exc_value, RuntimeError)
    assert str(seen[0].exc_value) == "_kogane::bindings::Document is unsendable, but is being dropped on another thread"


def test_drop_on_owner_thread_is_silent(monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    d = Document("abc")
    del d
    assert seen == []


def test_books_parsed_side_by_side_match_one_at_a_time():
    # The parse runs with the interpreter lock released, so these threads
    # really overlap; each must still get exactly its own book.
    texts = ["｜青空《あおぞら》の下で「こんにちは」［＃「こんにちは」に傍点］と言った。\r\n" * (50 + 7 * k) for k in range(6)]
    texts += ["第%d章\n\n本文［＃「本文」は太字］。\n" % k for k in range(6)]
    books = [t.encode("cp932") for t in texts[:6]] + [t.encode() for t in texts[6:]]
    expected = [Document.from_bytes(b).to_html() for b in books]
    results = [None] * len(books)
    errors = []

    def work(i):
        try:
            for _ in range(5):
                html = Document.from_bytes(books[i]).to_html()
                assert html == expected[i]
            results[i] = Document(texts[i]).to_html()
        except BaseException as e:  # noqa: BLE001
            errors.append(e.with_traceback(None))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(books))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert errors == []
    assert results == expected


def test_undecodable_bytes_in_a_thread_raise_value_error():
    box = run_in_thread(lambda: Document.from_bytes(b"\x82"))
    assert isinstance(box.get("error"), ValueError)
