"""The keyword table in data/ is the one source of the keywords: what it
generates (catalogue, HTML classes, fuzzing dictionary) follows it."""

import json
import pathlib
import subprocess
import sys

import kogane

ROOT = pathlib.Path(__file__).resolve().parents[2]
TABLE = ROOT / "data" / "annotation-keywords.tsv"
GENERATOR = ROOT / "tools" / "gen_keywords.py"


def rows():
    lines = [l for l in TABLE.read_text(encoding="utf-8").splitlines() if l and not l.startswith("#")]
    header = lines[0].split("\t")
    return [dict(zip(header, l.split("\t"))) for l in lines[1:]]


def test_catalogue_is_the_tables_catalogue_rows_in_order():
    served = json.loads(kogane.slugs_json())["data"]
    listed = [r for r in rows() if r["catalogue"] != "-"]
    assert [(d["canonical"], d["family"], d["doc"]) for d in served] == [
        (r["catalogue"], r["cat_family"], r["doc"]) for r in listed
    ]
    assert [d.get("partner", "-") for d in served] == [r["partner"] for r in listed]


def test_html_classes_come_from_the_table():
    html = kogane.parse_to_html("東京［＃「東京」に白ゴマ傍点］［＃改丁］")
    assert html == (
        '<p><em class="kogane-bouten kogane-bouten-shirogoma kogane-bouten-right">東京</em></p>\n'
        '<div class="kogane-section-break kogane-section-break-kaicho"></div>'
    )


def test_fuzzing_dictionary_is_current():
    done = subprocess.run(
        [sys.executable, str(GENERATOR), "--check", str(ROOT / "fuzz" / "kogane.dict"), str(TABLE)],
        capture_output=True,
        text=True,
    )
    assert done.returncode == 0, done.stdout + done.stderr


def test_generator_names_the_bad_row(tmp_path):
    bad = tmp_path / "k.tsv"
    text = TABLE.read_text(encoding="utf-8")
    bad.write_text(text + "PageBreak\t改ペエジ\tPageBreak\twhole\t-\t-\t-\t-\t-\n", encoding="utf-8")
    done = subprocess.run(
        [sys.executable, str(GENERATOR), str(tmp_path / "keyword_rows.inc"), str(bad)], capture_output=True, text=True
    )
    assert done.returncode != 0
    assert f"{bad}:{len(text.splitlines()) + 1}: key 'PageBreak' repeats line" in done.stderr
