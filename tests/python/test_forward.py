"""Forward references whose targets run through markup: a ruby (reading
written or left out), a gaiji (written as ※ or in full), quotes and accent
fragments; and headings named on the line below their text. The HTML and
written-back source of each of these constructs are examples in
tests/examples; here are the node spans and diagnostics."""

import json
import re

import pytest

from kogane import Document, parse_to_html

GAIJI = "※［＃「木＋吶のつくり」、第3水準1-85-54］"


def nodes(text):
    return [(n["kind"], n["span"]["start"], n["span"]["end"]) for n in json.loads(Document(text).nodes_json())["data"]]


def visible(html):
    return re.sub(r'<span class="kogane-directive" hidden>.*?</span>', "", html)


def diag_kinds(text):
    return [d["kind"] for d in json.loads(Document(text).diagnostics_json())["data"]]


class TestTargetsThroughMarkup:
    @pytest.mark.parametrize(
        "text",
        [
            "漢字《かんじ》［＃「漢字」に傍点］",
            "吾輩《わがはい》は猫である［＃「吾輩は猫である」に傍点］",
            "吾輩《わがはい》は猫である［＃「吾輩《わがはい》は猫である」に傍点］",
            "｜吾輩《わがはい》は猫である［＃「｜吾輩《わがはい》は猫である」に傍点］",
            GAIJI + "の影［＃「※の影」に傍点］",
            GAIJI + "の影［＃「" + GAIJI + "の影」に傍点］",
            "彼は「はい」と言った［＃「彼は「はい」と言った」に傍点］",
            "漢字《かんじ》と" + GAIJI + "「等」［＃「漢字と※「等」」に傍点］",
        ],
    )
    def test_decoration_covers_the_constructs_once(self, text):
        # one node over everything, from the first construct to the ］
        assert nodes(text) == [("bouten", 0, len(text.encode()))]
        assert diag_kinds(text) == []

    def test_accent_fragment_as_written(self):
        text = "Le 〔cafe'〕［＃「Le 〔cafe'〕」は太字］"
        assert [k for k, _, _ in nodes(text)] == ["emphasis"]
        assert "forward_referent_not_stylable" not in diag_kinds(text)

    @pytest.mark.parametrize(
        "annotation, kind",
        [
            ("の左に傍線", "bouten"),
            ("の両側に白丸傍点", "bouten"),
            ("は太字", "emphasis"),
            ("は斜体", "emphasis"),
            ("は縦中横", "combineUpright"),
            ("は罫囲み", "emphasis"),
            ("は1段階大きな文字", "emphasis"),
        ],
    )
    def test_every_decoration_over_a_ruby(self, annotation, kind):
        text = f"漢字《かんじ》の本［＃「漢字の本」{annotation}］"
        assert [k for k, _, _ in nodes(text)] == [kind]
        assert diag_kinds(text) == []

    def test_decorations_nest(self):
        text = "東京［＃「東京」に傍点］は都［＃「東京は都」は太字］"
        assert nodes(text) == [("emphasis", 0, len(text.encode()))]

    def test_text_before_the_covered_part_stays(self):
        text = "前の文。漢字《かんじ》［＃「漢字」に傍点］後"
        start = len("前の文。".encode())
        assert nodes(text) == [("bouten", start, len(text.encode()) - 3)]

    def test_a_partial_ruby_base_is_not_split(self):
        # 京 alone is half of the base 東京: the decoration cannot go there
        text = "東京《とうきょう》［＃「京」に傍点］"
        assert diag_kinds(text) == ["forward_referent_not_stylable"]

    def test_margin_note_and_left_ruby_over_a_ruby_keep_the_text_once(self):
        for annotation in ("に「ママ」の注記", "の左に「かな」のルビ"):
            text = f"漢字《かんじ》［＃「漢字」{annotation}］"
            doc = Document(text)
            assert visible(doc.to_html()).count("漢字") == 1
            assert [k for k, _, _ in nodes(text)] == ["ruby", "directive"]
            assert diag_kinds(text) == ["forward_referent_not_stylable"]

    def test_margin_note_and_left_ruby_over_gaiji(self):
        note = GAIJI + "の影［＃「※の影」に「ママ」の注記］"
        assert nodes(note) == [("marginNote", 0, len(note.encode()))]
        left = "あ" + GAIJI + "［＃「あ※」の左に「かな」のルビ］"
        for text in (note, left):
            once = Document(text).to_source()
            assert Document(once).to_html() == Document(text).to_html()


class TestEarlierOccurrences:
    def test_decoration_over_an_earlier_ruby_on_the_line(self):
        text = "東京《とうきょう》は大きい［＃「東京」に傍点］"
        # the placed decoration over the ruby, then the annotation itself
        assert nodes(text) == [("bouten", 0, 27), ("bouten", 39, len(text.encode()))]
        assert diag_kinds(text) == []

    def test_decoration_inside_an_earlier_run_before_a_ruby(self):
        text = "電燈とそして化石《かせき》［＃「電燈」に二重丸傍点］"
        assert [k for k, _, _ in nodes(text)] == ["bouten", "ruby", "bouten"]

    def test_margin_note_on_an_earlier_ruby_is_reported(self):
        text = "ほんたう《ほんとう》にどこまでも［＃「ほんたう」に「ママ」の注記］"
        assert visible(parse_to_html(text)).count("ほんたう") == 1
        assert [k for k, _, _ in nodes(text)] == ["ruby", "directive"]
        assert diag_kinds(text) == ["forward_referent_not_stylable"]

    def test_margin_note_on_an_earlier_gaiji(self):
        text = GAIJI + "の影だ［＃「※の影」に「ママ」の注記］"
        assert [k for k, _, _ in nodes(text)] == ["marginNote", "directive"]


class TestTargetsThatFail:
    def test_repeated_annotations_nest_only_so_deep(self):
        text = "漢字《かんじ》" + "［＃「漢字」に傍点］" * 12
        assert diag_kinds(text) == ["forward_referent_not_stylable"] * 6

    def test_missing_target_stays_a_remark(self):
        for annotation in ("に傍点", "は太字", "の左に傍線"):
            text = f"吾輩は犬である［＃「吾輩は猫である」{annotation}］"
            doc = Document(text)
            assert visible(doc.to_html()).count("吾輩") == 1
            assert [k for k, _, _ in nodes(text)] == ["directive"]
            assert diag_kinds(text) == ["forward_target_not_found"]
        assert diag_kinds("［＃「12」は縦中横］") == ["tcy_target_not_found"]

    def test_found_earlier_but_not_in_place(self):
        # on the line before: found, but not placed
        text = "東京\n［＃「東京」に傍点］"
        assert diag_kinds(text) == ["forward_referent_not_stylable"]
        assert [k for k, _, _ in nodes(text)] == ["bouten"]

    def test_ambiguity_is_reported_only_for_real_repeats(self):
        assert diag_kinds("漢字《かんじ》［＃「漢字」に傍点］") == []
        assert diag_kinds("漢字、漢字《かんじ》［＃「漢字」に傍点］") == ["bouten_target_ambiguous"]


class TestPromotedHeadings:
    @pytest.mark.parametrize(
        "target",
        ["第一章《だいいっしょう》", "第一章"],
    )
    def test_heading_renders_its_ruby(self, target):
        text = f"第一章《だいいっしょう》\n［＃「{target}」は中見出し］\n本文"
        assert nodes(text) == [("heading", 0, len(text.encode()) - len("\n本文".encode()))]
        assert diag_kinds(text) == []

    def test_heading_after_a_page_break_on_its_line(self):
        text = "［＃改ページ］第一章\n［＃「第一章」は中見出し］"
        assert [k for k, _, _ in nodes(text)] == ["pageBreak", "heading"]

    def test_line_that_reads_otherwise_is_not_promoted(self):
        text = "第一章《だいいっしょう》です\n［＃「第一章」は中見出し］"
        assert [k for k, _, _ in nodes(text)] == ["ruby", "headingHint"]


class TestFormsRealBooksUse:
    @pytest.mark.parametrize(
        "text, kind",
        [
            ("１）［＃「１）」は縦中横、行右小書き］", "emphasis"),
            ("漢字《かんじ》［＃「漢字」は縦中横、太字］", "emphasis"),
            ("第一章［＃「第一章」は同行中見出し］", "headingHint"),
            ("漢字［＃「漢字」の左に「ママ」の注記］", "marginNote"),
            ("漢字［＃「漢字」の左に「かな」のルビ］", "ruby"),
            ("漢字［＃「漢字」に「ママ」の傍記］", "marginNote"),
            ("漢字［＃「漢字」に「ママ」注記］", "marginNote"),
            ("ァ［＃「ァ」は小書き］", "emphasis"),
            ("本文［＃「本文」はゴチック］", "emphasis"),
        ],
    )
    def test_form(self, text, kind):
        assert nodes(text) == [(kind, 0, len(text.encode()))]
        assert diag_kinds(text) == []

    @pytest.mark.parametrize(
        "text",
        [
            "［＃「宰相（壮年時代の肖像）」のキャプション付きの図（fig.png、横340×縦525）入る］",
            "［＃「宰相」のキャプション付きの挿絵（fig.png、横340×縦525）入る］",
            "［＃「宰相」のキャプション付きの写真（fig.png、横340×縦525）入る］",
        ],
    )
    def test_captioned_illustration_is_one_node(self, text):
        assert nodes(text) == [("illustration", 0, len(text.encode()))]


class TestFarTargetsInLongTexts:
    def test_a_far_target_is_found_after_many_missing_ones(self):
        # Every pair of these characters occurs in the filler, no three in a
        # row do: each missing target below survives any narrowing by pairs
        # and must be looked for through the whole text before it. However
        # much those searches read, the target named last, which does stand
        # at the very start, is still found.
        chars = "あいうえおかきくけこ"
        filler = "".join(a + b + "・" for a in chars for b in chars if a != b)
        missing = [a + b + c for a in chars for b in chars for c in chars if len({a, b, c}) == 3][:70]
        text = (
            "遠い昔。"
            + filler * 250
            + "".join(f"［＃「{t}」に傍点］" for t in missing)
            + "［＃「遠い昔」に傍点］"
        )
        kinds = [k for k in diag_kinds(text) if k.startswith("forward_")]
        assert kinds == ["forward_target_not_found"] * 70 + ["forward_referent_not_stylable"]
