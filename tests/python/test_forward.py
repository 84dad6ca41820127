"""Forward references whose targets run through markup: a ruby (reading
written or left out), a gaiji (written as ※ or in full), quotes and accent
fragments; and headings named on the line below their text."""

import json
import re

import pytest

from kogane import Document, parse_to_html

GOMA = '<em class="kogane-bouten kogane-bouten-goma kogane-bouten-right">'
RUBY_KANJI = "<ruby>漢字<rp>(</rp><rt>かんじ</rt><rp>)</rp></ruby>"
RUBY_WAGAHAI = "<ruby>吾輩<rp>(</rp><rt>わがはい</rt><rp>)</rp></ruby>"
GAIJI = "※［＃「木＋吶のつくり」、第3水準1-85-54］"
GAIJI_HTML = '<span class="kogane-gaiji" data-codepoint="U+6798">枘</span>'


def nodes(text):
    return [(n["kind"], n["span"]["start"], n["span"]["end"]) for n in json.loads(Document(text).nodes_json())["data"]]


def visible(html):
    return re.sub(r'<span class="kogane-directive" hidden>.*?</span>', "", html)


def diag_kinds(text):
    return [d["kind"] for d in json.loads(Document(text).diagnostics_json())["data"]]


class TestTargetsThroughMarkup:
    @pytest.mark.parametrize(
        "text, inner",
        [
            ("漢字《かんじ》［＃「漢字」に傍点］", RUBY_KANJI),
            ("吾輩《わがはい》は猫である［＃「吾輩は猫である」に傍点］", RUBY_WAGAHAI + "は猫である"),
            ("吾輩《わがはい》は猫である［＃「吾輩《わがはい》は猫である」に傍点］", RUBY_WAGAHAI + "は猫である"),
            ("｜吾輩《わがはい》は猫である［＃「｜吾輩《わがはい》は猫である」に傍点］", RUBY_WAGAHAI + "は猫である"),
            (GAIJI + "の影［＃「※の影」に傍点］", GAIJI_HTML + "の影"),
            (GAIJI + "の影［＃「" + GAIJI + "の影」に傍点］", GAIJI_HTML + "の影"),
            ("彼は「はい」と言った［＃「彼は「はい」と言った」に傍点］", "彼は「はい」と言った"),
            ("漢字《かんじ》と" + GAIJI + "「等」［＃「漢字と※「等」」に傍点］", RUBY_KANJI + "と" + GAIJI_HTML + "「等」"),
        ],
    )
    def test_decoration_covers_the_constructs_once(self, text, inner):
        doc = Document(text)
        assert doc.to_html() == f"<p>{GOMA}{inner}</em></p>\n"
        # one node over everything, from the first construct to the ］
        assert nodes(text) == [("bouten", 0, len(text.encode()))]
        assert diag_kinds(text) == []
        assert doc.to_source() == text

    def test_accent_fragment_as_written(self):
        text = "Le 〔cafe'〕［＃「Le 〔cafe'〕」は太字］"
        assert parse_to_html(text) == '<p><b class="kogane-futoji">Le 〔café〕</b></p>\n'
        assert [k for k, _, _ in nodes(text)] == ["emphasis"]
        assert "forward_referent_not_stylable" not in diag_kinds(text)

    @pytest.mark.parametrize(
        "annotation, opening, closing, kind",
        [
            ("の左に傍線", '<em class="kogane-bouten kogane-bouten-bosen kogane-bouten-left">', "</em>", "bouten"),
            ("の両側に白丸傍点", '<em class="kogane-bouten kogane-bouten-shiromaru kogane-bouten-both">', "</em>", "bouten"),
            ("は太字", '<b class="kogane-futoji">', "</b>", "emphasis"),
            ("は斜体", '<i class="kogane-shatai">', "</i>", "emphasis"),
            ("は縦中横", '<span class="kogane-combine-upright">', "</span>", "combineUpright"),
            ("は罫囲み", '<span class="kogane-keigakomi-inline">', "</span>", "emphasis"),
            ("は1段階大きな文字", '<span class="kogane-font-larger" data-steps="1">', "</span>", "emphasis"),
        ],
    )
    def test_every_decoration_over_a_ruby(self, annotation, opening, closing, kind):
        text = f"漢字《かんじ》の本［＃「漢字の本」{annotation}］"
        assert parse_to_html(text) == f"<p>{opening}{RUBY_KANJI}の本{closing}</p>\n"
        assert [k for k, _, _ in nodes(text)] == [kind]
        assert diag_kinds(text) == []
        assert Document(text).to_source() == text

    def test_decorations_nest(self):
        text = "東京［＃「東京」に傍点］は都［＃「東京は都」は太字］"
        assert parse_to_html(text) == f'<p><b class="kogane-futoji">{GOMA}東京</em>は都</b></p>\n'
        assert nodes(text) == [("emphasis", 0, len(text.encode()))]

    def test_text_before_the_covered_part_stays(self):
        text = "前の文。漢字《かんじ》［＃「漢字」に傍点］後"
        assert parse_to_html(text) == f"<p>前の文。{GOMA}{RUBY_KANJI}</em>後</p>\n"
        start = len("前の文。".encode())
        assert nodes(text) == [("bouten", start, len(text.encode()) - 3)]

    def test_a_partial_ruby_base_is_not_split(self):
        # 京 alone is half of the base 東京: the decoration cannot go there
        text = "東京《とうきょう》［＃「京」に傍点］"
        html = parse_to_html(text)
        assert html == '<p><ruby>東京<rp>(</rp><rt>とうきょう</rt><rp>)</rp></ruby></p>\n'
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
        assert parse_to_html(note) == (
            f'<p><ruby>{GAIJI_HTML}の影<rp>(</rp><rt class="kogane-margin-note">ママ</rt><rp>)</rp></ruby></p>\n'
        )
        assert nodes(note) == [("marginNote", 0, len(note.encode()))]
        left = "あ" + GAIJI + "［＃「あ※」の左に「かな」のルビ］"
        assert parse_to_html(left) == (
            f'<p><ruby>あ{GAIJI_HTML}<rp>(</rp><rt class="kogane-ruby-left">かな</rt><rp>)</rp></ruby></p>\n'
        )
        for text in (note, left):
            once = Document(text).to_source()
            assert Document(once).to_html() == Document(text).to_html()

    def test_left_ruby_and_margin_note_across_quote_runs(self):
        text = "「はい」と［＃「「はい」と」に「ママ」の注記］"
        assert parse_to_html(text) == (
            '<p><ruby>「はい」と<rp>(</rp><rt class="kogane-margin-note">ママ</rt><rp>)</rp></ruby></p>\n'
        )


class TestEarlierOccurrences:
    def test_decoration_over_an_earlier_ruby_on_the_line(self):
        text = "東京《とうきょう》は大きい［＃「東京」に傍点］"
        assert parse_to_html(text) == f"<p>{GOMA}<ruby>東京<rp>(</rp><rt>とうきょう</rt><rp>)</rp></ruby></em>は大きい</p>\n"
        # the placed decoration over the ruby, then the annotation itself
        assert nodes(text) == [("bouten", 0, 27), ("bouten", 39, len(text.encode()))]
        assert diag_kinds(text) == []
        assert Document(text).to_source() == text

    def test_decoration_inside_an_earlier_run_before_a_ruby(self):
        text = "電燈とそして化石《かせき》［＃「電燈」に二重丸傍点］"
        assert parse_to_html(text) == (
            '<p><em class="kogane-bouten kogane-bouten-nijumaru kogane-bouten-right">電燈</em>とそして'
            "<ruby>化石<rp>(</rp><rt>かせき</rt><rp>)</rp></ruby></p>\n"
        )
        assert [k for k, _, _ in nodes(text)] == ["bouten", "ruby", "bouten"]

    def test_quoted_ruby_followed_by_the_closing_bracket(self):
        text = "「漢字《かんじ》」［＃「漢字」に傍点］"
        assert parse_to_html(text) == f"<p>「{GOMA}{RUBY_KANJI}</em>」</p>\n"

    def test_several_placements_on_one_line(self):
        text = "東京《とうきょう》は大きい東京《とうきょう》は［＃「東京」に傍点］［＃「東京は大きい」は太字］"
        assert parse_to_html(text) == (
            f'<p><b class="kogane-futoji"><ruby>東京<rp>(</rp><rt>とうきょう</rt><rp>)</rp></ruby>は大きい</b>'
            f"{GOMA}<ruby>東京<rp>(</rp><rt>とうきょう</rt><rp>)</rp></ruby></em>は</p>\n"
        )
        assert Document(text).to_source() == text

    def test_margin_note_on_an_earlier_ruby_is_reported(self):
        text = "ほんたう《ほんとう》にどこまでも［＃「ほんたう」に「ママ」の注記］"
        assert visible(parse_to_html(text)).count("ほんたう") == 1
        assert [k for k, _, _ in nodes(text)] == ["ruby", "directive"]
        assert diag_kinds(text) == ["forward_referent_not_stylable"]

    def test_margin_note_on_an_earlier_gaiji(self):
        text = GAIJI + "の影だ［＃「※の影」に「ママ」の注記］"
        assert parse_to_html(text).startswith(f'<p><ruby>{GAIJI_HTML}の影<rp>(</rp><rt class="kogane-margin-note">ママ</rt>')
        assert [k for k, _, _ in nodes(text)] == ["marginNote", "directive"]


class TestTargetsThatFail:
    def test_repeated_annotations_nest_only_so_deep(self):
        text = "漢字《かんじ》" + "［＃「漢字」に傍点］" * 12
        html = parse_to_html(text)
        assert html == "<p>" + GOMA * 6 + RUBY_KANJI + "</em>" * 6 + "</p>\n"
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
        assert parse_to_html(text) == '<p>東京<br />\n</p>\n'
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
        doc = Document(text)
        assert doc.to_html() == (
            '<h2 class="kogane-heading kogane-heading-medium">'
            "<ruby>第一章<rp>(</rp><rt>だいいっしょう</rt><rp>)</rp></ruby></h2>\n<p>本文</p>\n"
        )
        assert nodes(text) == [("heading", 0, len(text.encode()) - len("\n本文".encode()))]
        assert diag_kinds(text) == []

    def test_heading_with_gaiji_and_decoration(self):
        text = GAIJI + "の章［＃「の章」に傍点］\n［＃「※の章」は大見出し］"
        assert parse_to_html(text) == (
            f'<h1 class="kogane-heading kogane-heading-large">{GAIJI_HTML}{GOMA}の章</em></h1>'
        )

    def test_heading_after_a_page_break_on_its_line(self):
        text = "［＃改ページ］第一章\n［＃「第一章」は中見出し］"
        assert [k for k, _, _ in nodes(text)] == ["pageBreak", "heading"]
        assert parse_to_html(text) == (
            '<div class="kogane-page-break"></div>\n<h2 class="kogane-heading kogane-heading-medium">第一章</h2>'
        )

    def test_line_that_reads_otherwise_is_not_promoted(self):
        text = "第一章《だいいっしょう》です\n［＃「第一章」は中見出し］"
        assert [k for k, _, _ in nodes(text)] == ["ruby", "headingHint"]


class TestFormsRealBooksUse:
    @pytest.mark.parametrize(
        "text, html, kind, source",
        [
            (
                "１）［＃「１）」は縦中横、行右小書き］",
                '<span class="kogane-kogaki-right"><span class="kogane-combine-upright">１）</span></span>',
                "emphasis",
                "１）［＃「１）」は縦中横］［＃「１）」は行右小書き］",
            ),
            (
                "漢字《かんじ》［＃「漢字」は縦中横、太字］",
                f'<b class="kogane-futoji"><span class="kogane-combine-upright">{RUBY_KANJI}</span></b>',
                "emphasis",
                "漢字《かんじ》［＃「漢字」は縦中横］［＃「漢字」は太字］",
            ),
            (
                "第一章［＃「第一章」は同行中見出し］",
                '<span class="kogane-heading-hint" data-level="2" data-style="same-line">第一章</span>',
                "headingHint",
                "第一章［＃「第一章」は同行中見出し］",
            ),
            (
                "漢字［＃「漢字」の左に「ママ」の注記］",
                '<ruby>漢字<rp>(</rp><rt class="kogane-margin-note">ママ</rt><rp>)</rp></ruby>',
                "marginNote",
                "漢字［＃「漢字」の左に「ママ」の注記］",
            ),
            (
                "漢字［＃「漢字」の左に「かな」のルビ］",
                '<ruby>漢字<rp>(</rp><rt class="kogane-ruby-left">かな</rt><rp>)</rp></ruby>',
                "ruby",
                "漢字［＃「漢字」の左に「かな」のルビ］",
            ),
            (
                "漢字［＃「漢字」に「ママ」の傍記］",
                '<ruby>漢字<rp>(</rp><rt class="kogane-margin-note">ママ</rt><rp>)</rp></ruby>',
                "marginNote",
                "漢字［＃「漢字」に「ママ」の注記］",
            ),
            (
                "漢字［＃「漢字」に「ママ」注記］",
                '<ruby>漢字<rp>(</rp><rt class="kogane-margin-note">ママ</rt><rp>)</rp></ruby>',
                "marginNote",
                "漢字［＃「漢字」に「ママ」の注記］",
            ),
            ("ァ［＃「ァ」は小書き］", '<span class="kogane-kogaki-right">ァ</span>', "emphasis", "ァ［＃「ァ」は行右小書き］"),
            ("本文［＃「本文」はゴチック］", '<b class="kogane-goshikku">本文</b>', "emphasis", "本文［＃「本文」はゴシック体］"),
        ],
    )
    def test_form(self, text, html, kind, source):
        doc = Document(text)
        assert doc.to_html() == f"<p>{html}</p>\n"
        assert nodes(text) == [(kind, 0, len(text.encode()))]
        assert diag_kinds(text) == []
        assert doc.to_source() == source
        assert Document(source).to_html() == doc.to_html()

    @pytest.mark.parametrize(
        "text, caption",
        [
            ("［＃「宰相（壮年時代の肖像）」のキャプション付きの図（fig.png、横340×縦525）入る］", "宰相（壮年時代の肖像）"),
            ("［＃「宰相」のキャプション付きの挿絵（fig.png、横340×縦525）入る］", "宰相"),
            ("［＃「宰相」のキャプション付きの写真（fig.png、横340×縦525）入る］", "宰相"),
        ],
    )
    def test_captioned_illustration_splits_file_and_size(self, text, caption):
        assert parse_to_html(text) == (
            '<figure class="kogane-illustration"><img src="fig.png" width="340" height="525" alt="" />'
            f"<figcaption>{caption}</figcaption></figure>"
        )
        assert nodes(text) == [("illustration", 0, len(text.encode()))]
