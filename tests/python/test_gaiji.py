"""The gaiji view: references found in the caller's source, resolved."""

import json

from kogane import Document


def envelope(*entries):
    return '{"schemaVersion":3,"data":[' + ",".join(entries) + "]}"


def test_examples():
    src = (
        "※［＃「木＋吶のつくり」、第3水準1-85-54］"
        "※［＃「か゚」、第3水準1-4-87］"
        "※［＃「あ」、U+3042］"
        "※［＃「X」、U+D800］"
        "※［＃「丸19」］"
        "※［＃ローマ数字14小文字］"
        "※［＃「木＋吶のつくり」、第3水準1-85-54、123-4］"
        "※［＃火＋亢、第4水準2-79-62］"
    )
    data = json.loads(Document(src).gaiji_json())["data"]
    got = [(e["description"], e.get("mencode"), e.get("codepoint"), e.get("resolved")) for e in data]
    assert got == [
        ("木＋吶のつくり", "第3水準1-85-54", 0x6798, "枘"),
        ("か゚", "第3水準1-4-87", None, "か゚"),
        ("あ", "U+3042", 12354, "あ"),
        ("X", "U+D800", 0x58, "X"),
        ("丸19", None, 0x2472, "⑲"),
        ("ローマ数字14小文字", None, None, "ⅹⅰⅴ"),
        ("木＋吶のつくり", "第3水準1-85-54、123-4", 0x6798, "枘"),
        ("火＋亢", "第4水準2-79-62", 0x7095, "炕"),
    ]
    # Spans tile the source: each reference runs from its ※ to its ］.
    ends = [e["span"]["end"] for e in data]
    assert [e["span"]["start"] for e in data] == [0] + ends[:-1]
    assert ends[-1] == len(src.encode())


def test_exact_json_and_bare_references():
    src = "\ufeff前※［＃「謎の字」］［＃二字下げ］［＃火＋亢］［＃「あ」は傍点］※［＃「\"\x01」、U+0022］［＃"
    assert Document(src).gaiji_json() == envelope(
        '{"span":{"start":6,"end":33},"description":"謎の字"}',
        '{"span":{"start":54,"end":72},"description":"火＋亢","codepoint":28821,"resolved":"炕"}',
        '{"span":{"start":99,"end":128},"description":"\\"\\u0001",'
        '"mencode":"U+0022","codepoint":34,"resolved":"\\""}',
    )


def test_cached_and_empty():
    d = Document("※［＃］［＃］本文")
    assert d.gaiji_json() == envelope()
    d = Document("※［＃「丸七」］")
    assert d.gaiji_json() is not None and d.gaiji_json() == d.gaiji_json()
    assert json.loads(d.gaiji_json())["data"][0]["resolved"] == "㊆"
