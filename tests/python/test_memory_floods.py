"""Peak memory of a parse stays a small multiple of its input.

The worst inputs per byte are floods where every few bytes make a record:
short and empty lines, openers that never close, rubies and angle quotes,
and one opener followed by a flood of lines, which the classifier must not
hold while it writes what they make.
Each is parsed at 3 MB in a fresh interpreter, which reports the growth of
its peak resident size. The bound is a guard against the records growing
back (these floods peaked at 24 to 30 times their size before the lexer
read the text in pieces), not a measurement: the benchmark reports the
figures.
"""

import subprocess
import sys
from pathlib import Path

import pytest

import kogane

PACKAGE_ROOT = str(Path(kogane.__file__).resolve().parent.parent)

PROBE = """
import gc, resource, sys
sys.path.insert(0, sys.argv[1])
import kogane
prefix, unit, suffix, encoding = sys.argv[2:6]
text = prefix + unit * (3_000_000 // len(unit.encode())) + suffix
data = text.encode(encoding) if encoding else None
gc.collect()
base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
doc = kogane.Document.from_bytes(data) if encoding else kogane.Document(text)
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print((peak - base) * 1024 / len(text.encode()))
"""

FLOODS = {
    "empty lines": "\n",
    "lines of one letter": "x\n",
    "unclosed [ lines": "［\n",
    "unclosed [ on one line": "［",
    "unclosed 《 on one line": "《",
    "unmatched ]": "］",
    "rubies": "x《y》",
    "angle quotes": "≪x≫",
    "lines after a 《 that never closes": ("《", "\n", ""),
    "lines after x《 that never closes": ("x《", "x\n", ""),
    "lines after ≪ that never closes": ("≪", "\n", ""),
    "lines after ［＃「 that never closes": ("［＃「", "\n", ""),
    "lines inside 《…》 with no base": ("《", "\n", "》"),
    "lines inside ［《…］": ("［《", "\n", "］"),
}


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="ru_maxrss in KiB is Linux's")
@pytest.mark.parametrize("unit", FLOODS.values(), ids=FLOODS.keys())
def test_flood_peak_is_bounded(unit):
    prefix, unit, suffix = unit if isinstance(unit, tuple) else ("", unit, "")
    out = subprocess.run(
        [sys.executable, "-c", PROBE, PACKAGE_ROOT, prefix, unit, suffix, ""],
        capture_output=True, text=True, check=True, timeout=120,
    )
    multiple = float(out.stdout.strip())
    assert multiple <= 22.0, f"{unit!r} flood peaked at {multiple:.1f} times its size"


# Bytes are decoded with their line ends folded and sanitized in place, the
# changes kept as records to give the source back: floods of what the
# sanitizer changes must not make the records outgrow the text they save.
BYTE_FLOODS = {
    "reserved code points": ("\ue001", "utf-8"),
    "accent fragments": ("〔e'〕", "utf-8"),
    "rule lines after text": ("x\n----------\n", "utf-8"),
    "lone CRs": ("\r", "utf-8"),
    "Shift_JIS CR LF lines": ("あ\r\n", "cp932"),
}


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="ru_maxrss in KiB is Linux's")
@pytest.mark.parametrize("unit, encoding", BYTE_FLOODS.values(), ids=BYTE_FLOODS.keys())
def test_byte_flood_peak_is_bounded(unit, encoding):
    out = subprocess.run(
        [sys.executable, "-c", PROBE, PACKAGE_ROOT, "", unit, "", encoding],
        capture_output=True, text=True, check=True, timeout=120,
    )
    multiple = float(out.stdout.strip())
    assert multiple <= 22.0, f"{unit!r} flood from bytes peaked at {multiple:.1f} times its size"
