"""Module functions called from many threads at once give each thread its own exact result.

parse_to_html, decode_sjis and Document.to_html run the engine with the
interpreter lock released, so these calls really overlap
(Document.from_bytes: test_threads.py).
"""

import threading

import kogane

THREADS = 6


def book(k):
    return (
        f"第{k}章\r\n｜銀河《ぎんが》の停車場［＃「停車場」に傍点］\r\n"
        "※［＃「木＋吶のつくり」、第3水準1-85-54］［＃ここから２字下げ］\r\n〔Cafe'〕の窓\r\n"
        "［＃ここで字下げ終わり］\r\n閉じない［＃「閉じない」に傍点\r\n"
    ) * (20 + 5 * k)


def run_together(work):
    """Runs work(i) on THREADS threads released at once; returns their results."""
    start = threading.Barrier(THREADS)
    results = [None] * THREADS
    errors = []

    def target(i):
        try:
            start.wait()
            results[i] = work(i)
        except BaseException as e:  # noqa: BLE001 - PanicException is a BaseException
            errors.append(e.with_traceback(None))

    threads = [threading.Thread(target=target, args=(i,)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert errors == []
    return results


def test_parse_to_html_side_by_side():
    texts = [book(k) for k in range(THREADS)]
    expected = [kogane.parse_to_html(t) for t in texts]
    assert len(set(expected)) == THREADS
    assert all('<em class="kogane-bouten kogane-bouten-goma kogane-bouten-right">停車場</em>' in html for html in expected)
    got = run_together(lambda i: [kogane.parse_to_html(texts[i]) for _ in range(4)])
    assert got == [[e] * 4 for e in expected]


def test_decode_sjis_side_by_side():
    texts = [book(k) for k in range(THREADS)]
    data = [t.encode("shift_jis") for t in texts]
    got = run_together(lambda i: [kogane.decode_sjis(data[i]) for _ in range(4)])
    assert got == [[t] * 4 for t in texts]



def test_documents_render_side_by_side():
    texts = [book(k) for k in range(THREADS)]
    expected = [kogane.parse_to_html(t) for t in texts]
    # Each thread makes and renders its own documents (they are pinned to it).
    got = run_together(lambda i: [kogane.Document(texts[i]).to_html() for _ in range(4)])
    assert got == [[e] * 4 for e in expected]
