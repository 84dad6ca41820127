"""An allocation the engine cannot make is a MemoryError, never a dead interpreter.

These tests need a module built with KOGANE_FAULT_INJECTION=ON, whose
`_fail_allocation(n)` makes the n-th next engine allocation on the calling
thread fail. Each test walks that failure through every allocation of one
call: each attempt raises MemoryError, and the same call made normally
afterwards returns exactly what it returns on an untouched document.
"""

import pytest

import kogane
from kogane import _kogane

pytestmark = pytest.mark.skipif(
    not hasattr(_kogane, "_fail_allocation"), reason="module built without KOGANE_FAULT_INJECTION"
)

# Ruby, emphasis, gaiji, a container, an accent fragment, kaeriten, and
# markup that does not close (so diagnostics are made too).
SOURCE = (
    "銀河の｜停車場《ていしゃば》\n\n"
    "　空には｜天の川《あまのがわ》が白く流れ、汽笛［＃「汽笛」に傍点］が鳴った。\n"
    "　※［＃「木＋吶のつくり」、第3水準1-85-54］の影。※［＃「未知」、第9水準9-99-99］\n"
    "［＃ここから２字下げ］\n　――切符は｜お持ち《もち》ですか。\n［＃ここで字下げ終わり］\n"
    "［＃改ページ］\n　〔Cafe'〕の窓。学而時習之［＃二］［＃一］\n"
    "閉じない［＃「閉じない」に傍点\n《宙に浮くるび》と［＃ここから太字］\n"
)

VIEWS = [
    "to_html",
    "to_source",
    "source_byte_len",
    "nodes_json",
    "pairs_json",
    "container_pairs_json",
    "gaiji_json",
    "diagnostics_json",
    "diagnostics_text",
]

# A sweep that has not finished after this many attempts is a fault of its own.
MAX_ATTEMPTS = 20_000


def sweep(call):
    """Fails the 1st, 2nd, ... allocation of `call()` until a run makes no
    more allocations than the armed count; returns how many failed."""
    for n in range(1, MAX_ATTEMPTS):
        _kogane._fail_allocation(n)
        try:
            call()
        except MemoryError:
            # the failure fired, so nothing was left pending
            assert _kogane._fail_allocation(0) == 0
            continue
        finally:
            _kogane._fail_allocation(0)
        return n - 1
    pytest.fail("allocation sweep did not finish")


@pytest.fixture
def expected():
    d = kogane.Document(SOURCE)
    return {name: getattr(d, name)() for name in VIEWS}


def test_parsing_from_str_fails_cleanly_at_every_allocation(expected):
    failed = sweep(lambda: kogane.Document(SOURCE))
    assert failed > 10
    assert kogane.Document(SOURCE).to_html() == expected["to_html"]


def test_parsing_from_shift_jis_bytes_fails_cleanly_at_every_allocation():
    text = SOURCE.replace("\n", "\r\n")
    data = text.encode("shift_jis")
    failed = sweep(lambda: kogane.Document.from_bytes(data))
    assert failed > 10
    d = kogane.Document.from_bytes(data)
    assert d.source == text
    assert d.to_html() == kogane.Document(text).to_html()


def test_one_call_helpers_fail_cleanly_at_every_allocation(expected):
    assert sweep(lambda: kogane.parse_to_html(SOURCE)) > 10
    assert kogane.parse_to_html(SOURCE) == expected["to_html"]
    data = SOURCE.encode("shift_jis")
    assert sweep(lambda: kogane.decode_sjis(data)) >= 1
    assert kogane.decode_sjis(data) == SOURCE
    catalogue = kogane.slugs_json()
    assert sweep(kogane.slugs_json) >= 1
    assert kogane.slugs_json() == catalogue


@pytest.mark.parametrize("view", VIEWS)
def test_a_view_that_fails_is_built_afresh_on_the_next_call(view, expected):
    # Each attempt gets a new document, so the failure lands inside the
    # view's own first build (and any cache it fills), not in a cached copy.
    docs = []

    def first_call():
        d = kogane.Document(SOURCE)
        docs.append(d)
        getattr(d, view)()

    sweep(first_call)
    assert docs
    for d in docs:
        assert getattr(d, view)() == expected[view]
    # and every other view of a document whose build failed is whole too
    for name in VIEWS:
        assert getattr(docs[len(docs) // 2], name)() == expected[name]

