"""Documents: construction, the source, byte lengths and empty views."""

import json
import subprocess
import sys
from pathlib import Path

import pytest

import kogane
from kogane import Document

EMPTY = '{"schemaVersion":3,"data":[]}'
VIEWS = ["nodes_json", "pairs_json", "container_pairs_json", "gaiji_json", "diagnostics_json"]
ROOT = Path(__file__).resolve().parents[2]


def test_empty_document():
    d = Document("")
    assert d.source == ""
    assert d.source_byte_len() == 0
    assert d.to_html() == ""
    assert d.diagnostics_text() == ""
    for view in VIEWS:
        assert getattr(d, view)() == EMPTY
    assert Document.from_bytes(b"").source == ""
    assert kogane.parse_to_html("") == ""


def test_byte_length_counts_utf8():
    assert Document("かなか").source_byte_len() == 9
    assert Document("a\U00020b9f").source_byte_len() == 5


def test_source_is_returned_exactly():
    text = "\ufeff\ufeffＡ\r\nB\rC\n"
    d = Document(text)
    assert d.source == text
    assert d.source_byte_len() == len(text.encode("utf-8"))


def test_views_are_stable_across_calls():
    d = Document("text")
    for view in VIEWS:
        first = getattr(d, view)()
        assert getattr(d, view)() == first
        json.loads(first)


def test_plain_text_html():
    assert kogane.parse_to_html("a\nb") == "<p>a<br />\nb</p>\n"
    assert kogane.parse_to_html("a\n\nb") == "<p>a</p>\n<p>b</p>\n"
    assert kogane.parse_to_html("<&>\"'") == "<p>&lt;&amp;&gt;&quot;&#x27;</p>\n"
    assert Document("a\n\nb").to_html() == kogane.parse_to_html("a\n\nb")


class TestFromBytes:
    def test_utf8_wins(self):
        assert Document.from_bytes("漢字".encode()).source == "漢字"
        assert Document.from_bytes(b"ascii").source == "ascii"

    def test_bom_is_kept_in_the_source(self):
        d = Document.from_bytes(b"\xef\xbb\xbfabc")
        assert d.source == "\ufeffabc"
        assert d.source_byte_len() == 6

    def test_shift_jis(self):
        data = "｜漢字《かんじ》\r\n".encode("cp932")
        d = Document.from_bytes(data)
        assert d.source == "｜漢字《かんじ》\r\n"

    def test_undecodable(self):
        for bad in (b"\x82", b"\x85\x40", b"abc\xff"):
            with pytest.raises(ValueError) as e:
                Document.from_bytes(bad)
            assert str(e.value) == "Shift_JIS からの変換に失敗しました (不正なバイト列)"


class TestDecodeSjis:
    def test_mappings(self):
        assert kogane.decode_sjis(b"") == ""
        assert kogane.decode_sjis(b"\x82\xa0") == "あ"
        assert kogane.decode_sjis(b"\\~\x80") == "\\~\x80"
        assert kogane.decode_sjis(b"\xb1\xdf") == "ｱﾟ"
        assert kogane.decode_sjis(b"\xf0\x41") == "\ue001"
        assert kogane.decode_sjis(b"\xf0\x40") == "\ue000"

    def test_matches_cp932_on_a_sample(self):
        text = "吾輩は猫である。名前はまだ無い。①ⅰ髙﨑"
        assert kogane.decode_sjis(text.encode("cp932")) == text

    @pytest.mark.parametrize("bad", [b"\x82", b"a\x82", b"\x85\x40", b"\x82\x20", b"\xa0", b"\xff"])
    def test_failures(self, bad):
        with pytest.raises(ValueError, match="^Shift_JIS からの変換に失敗しました \\(不正なバイト列\\)$"):
            kogane.decode_sjis(bad)


def test_command_line_converts_a_sample(tmp_path):
    env_path = str(Path(kogane.__file__).resolve().parents[1])
    sample = ROOT / "examples" / "sample-sjis.txt"
    r = subprocess.run(
        [sys.executable, "-m", "kogane", str(sample)],
        capture_output=True,
        env={"PYTHONPATH": env_path},
        check=False,
    )
    assert r.returncode == 0, r.stderr
    html = r.stdout.decode("utf-8")
    assert html.startswith("<p>")
    assert "停車場" in html

    bad = tmp_path / "bad.txt"
    bad.write_bytes(b"\x85\x40")
    r = subprocess.run([sys.executable, "-m", "kogane", str(bad)], capture_output=True,
                       env={"PYTHONPATH": env_path}, check=False)
    assert r.returncode == 1
    assert r.stderr == f"kogane: {bad}: neither UTF-8 nor Shift_JIS: undecodable byte 0x85 at offset 0\n".encode()



def test_a_str_source_gets_no_utf8_copy_attached():
    text = "日本語の本文" * 1000
    before = sys.getsizeof(text)
    Document(text)
    kogane.parse_to_html(text)
    assert sys.getsizeof(text) == before
    assert Document("é" + text).source_byte_len() == 2 + len(text.encode())
    assert Document("\U00020b9f\x00").source == "\U00020b9f\x00"
