"""The standalone reading page: structure, line layouts, notes, images, stylesheet."""

import re
import xml.etree.ElementTree as ET

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kogane
from kogane.book import Book, BookError
from kogane.pages import adapt_fragment, page_stylesheet, render_page, stylesheet
from kogane.text import fragment_to_text

NOTATION = (
    "-------------------------------------------------------\n"
    "【テキスト中に現れる記号について】\n"
    "《》：ルビ\n"
    "-------------------------------------------------------\n"
)

# Every construct the renderer has a class for, one or two per line.
RICH_BODY = (
    "［＃大見出し］第一章［＃大見出し終わり］\n"
    "［＃中見出し］その一［＃中見出し終わり］\n"
    "［＃小見出し］小さな見出し［＃小見出し終わり］\n"
    "　吾輩《わがはい》は猫である。｜名前《なまえ》はまだ無い。\n"
    "　点［＃「点」に傍点］白［＃「白」に白ゴマ傍点］丸［＃「丸」に丸傍点］輪［＃「輪」に白丸傍点］"
    "重［＃「重」に二重丸傍点］蛇［＃「蛇」に蛇の目傍点］罰［＃「罰」にばつ傍点］"
    "三［＃「三」に白三角傍点］黒［＃「黒」に黒三角傍点］\n"
    "　波［＃「波」に波線］線［＃「線」に傍線］双［＃「双」に二重傍線］鎖［＃「鎖」に鎖線］破［＃「破」に破線］"
    "左［＃「左」の左に傍点］両［＃「両」の両側に傍線］\n"
    "［＃３字下げ］三字下げの行。\n"
    "貰ひたい。［＃地から２字上げ］（一九三六）\n"
    "［＃地付き］地付きの行\n"
    "　※［＃「木＋吶のつくり」、第3水準1-85-54］と※［＃「存在しない字」］。\n"
    "　〔Cafe'〕の窓。涕［＃「涕」はママ］。\n"
    "　２０［＃「２０」は縦中横］日。学［＃二］而時習［＃一］之。\n"
    "［＃割り注］小さな注［＃割り注終わり］\n"
    "［＃挿絵（fig1_1.png、横321×縦123）入る］\n"
    "［＃「第一図」のキャプション付きの挿絵（fig2.png）入る］\n"
    "［＃ここから罫囲み］\n囲まれた文。\n［＃ここで罫囲み終わり］\n"
    "［＃ここから２字下げ］\n下げた段落。\n［＃ここで字下げ終わり］\n"
    "［＃ここから３字下げ、折り返して５字下げ］\n折り返し。\n［＃ここで字下げ終わり］\n"
    "［＃ここから地から２字上げ］\n上げた段落。\n［＃ここで字上げ終わり］\n"
    "［＃２段階大きな文字］大きい［＃大きな文字終わり］\n"
    "［＃２段階小さな文字］\n小さい\n［＃小さな文字終わり］\n"
    "ＡＢ［＃「ＡＢ」は太字］ＣＤ［＃「ＣＤ」は斜体］ゴ［＃「ゴ」はゴシック体］\n"
    "１／２［＃「１／２」は分数］ｘ［＃「ｘ」は上付き小文字］ア［＃「ア」は行右小書き］\n"
    "［＃改ページ］\n"
    "　二ページ目。\n"
    "［＃改丁］\n"
    "　最後。\n"
)
RICH = "星の｜停車場《ていしゃば》\n宮沢一郎\n\n" + NOTATION + RICH_BODY + "\n底本：「星の本」出版社\n"


def body_of(page: str) -> str:
    return page[page.index("<main") : page.index("</main>") + len("</main>")]


class TestDocument:
    def test_head_and_sections(self):
        page = render_page(Book.from_text(RICH))
        assert page.startswith("<!DOCTYPE html>\n<html lang=\"ja\" class=\"kogane-page kogane-vertical\">")
        assert "<title>星の停車場</title>" in page
        assert '<meta name="author" content="宮沢一郎" />' in page
        assert '<h1 class="kogane-book-title"><ruby>停車場' not in page  # the bar is not a ruby of 星の
        assert '<h1 class="kogane-book-title">星の<ruby>停車場<rp>(</rp><rt>ていしゃば</rt>' in page
        assert '<p class="kogane-book-byline">宮沢一郎</p>' in page
        assert '<section class="kogane-colophon">\n<p>底本：「星の本」出版社</p>' in page
        assert "テキスト中に現れる記号" not in page
        assert page.count("<style>") == 1 and page_stylesheet() in page

    def test_security_policy_and_no_network(self):
        page = render_page(Book.from_text(RICH))
        csp = re.search(r'<meta http-equiv="Content-Security-Policy" content="([^"]*)"', page).group(1)
        assert "script-src 'none'" in csp and "default-src 'none'" in csp
        assert "<script" not in page
        assert not re.search(r"(?:src|href)=\"[a-z]+:", page)
        assert "@import" not in stylesheet() and "url(" not in stylesheet()

    def test_vertical_by_default_horizontal_on_request(self):
        book = Book.from_text("本文。\n")
        assert 'class="kogane-page kogane-vertical"' in render_page(book)
        assert 'class="kogane-page kogane-horizontal"' in render_page(book, horizontal=True)
        css = stylesheet()
        assert re.search(r"html\.kogane-vertical \{[^}]*\bwriting-mode: vertical-rl;", css)

    def test_body_is_well_formed_xml(self):
        ET.fromstring(body_of(render_page(Book.from_text(RICH), notes=True)))

    def test_title_falls_back_to_the_file_name(self):
        page = render_page(Book.from_text("\n本文だけ。\n", name="books/猫.txt"))
        assert "<title>猫</title>" in page and "<header" not in page


class TestLineLayouts:
    def test_indent_and_end_alignment_take_the_rest_of_the_line(self):
        html = kogane.parse_to_html("前の行\n［＃３字下げ］三字下げ\n貰ひたい。［＃地から２字上げ］（一九三六）\n後の行")
        assert adapt_fragment(html) == (
            "<p>前の行\n"
            '<span class="kogane-line"><span class="kogane-indent kogane-indent-3" data-amount="3"'
            ' style="--kogane-amount:3">三字下げ</span></span>\n'
            '<span class="kogane-line"><span class="kogane-line-lead">貰ひたい。</span>'
            '<span class="kogane-align-end kogane-align-end-2" data-offset="2" style="--kogane-offset:2">'
            "（一九三六）</span></span>\n"
            "後の行</p>\n"
        )

    def test_a_layout_on_an_empty_line_keeps_the_empty_line(self):
        # As a block of its own an empty laid-out line would take no room.
        indent = '<span class="kogane-indent kogane-indent-3" data-amount="3" style="--kogane-amount:3"></span>'
        assert adapt_fragment(kogane.parse_to_html("あ\n［＃３字下げ］\nい")) == f"<p>あ<br />\n{indent}<br />\nい</p>\n"
        # Before a laid-out line, the empty line keeps the <br /> that ends it.
        assert adapt_fragment(kogane.parse_to_html("あ\n［＃３字下げ］\n［＃３字下げ］う")) == (
            f"<p>あ<br />\n{indent}<br />\n"
            '<span class="kogane-line"><span class="kogane-indent kogane-indent-3" data-amount="3"'
            ' style="--kogane-amount:3">う</span></span></p>\n'
        )

    def test_inline_elements_across_a_laid_out_line_stay_balanced(self):
        html = kogane.parse_to_html("前［＃太字］あ\n［＃地付き］い［＃太字終わり］う\n後")
        assert adapt_fragment(html) == (
            '<p>前<b class="kogane-futoji">あ\n'
            '</b><span class="kogane-line"><span class="kogane-align-end" data-offset="0" style="--kogane-offset:0">'
            '<b class="kogane-futoji">い</b>う</span></span>\n'
            "後</p>\n"
        )

    def test_an_end_aligned_run_keeps_its_span(self):
        out = adapt_fragment(kogane.parse_to_html("く［＃「く」は地付き］"))
        assert out == (
            '<p><span class="kogane-line"><span class="kogane-line-run kogane-align-end" data-offset="0"'
            ' style="--kogane-offset:0"><span class="kogane-align-end" data-offset="0" style="--kogane-offset:0">'
            "く</span></span></span></p>\n"
        )

    def test_a_layout_right_before_a_heading_moves_onto_it(self):
        html = kogane.parse_to_html("前\n［＃３字下げ］［＃中見出し］一　丘の上［＃中見出し終わり］\n\n本文")
        assert adapt_fragment(html) == (
            "<p>前</p>\n"
            '<h2 class="kogane-heading kogane-heading-medium kogane-indent kogane-indent-3" data-amount="3"'
            ' style="--kogane-amount:3">一　丘の上</h2>\n'
            "<p>本文</p>\n"
        )
        html = kogane.parse_to_html("［＃地付き］［＃小見出し］終［＃小見出し終わり］")
        assert adapt_fragment(html).startswith('<h3 class="kogane-heading kogane-heading-small kogane-align-end"')

    def test_hidden_becomes_an_attribute_value_but_text_is_untouched(self):
        out = adapt_fragment(kogane.parse_to_html('a" hidden>b［＃「 hidden」は大見出し］'))
        assert out.count('hidden="hidden"') == 1 and "a&quot; hidden&gt;b" in out

    def test_containers_get_their_numbers_as_properties(self):
        out = adapt_fragment(kogane.parse_to_html("［＃ここから３字下げ、折り返して５字下げ］\nあ\n［＃ここで字下げ終わり］"))
        assert 'style="--kogane-amount:3;--kogane-wrap:5"' in out


class TestRewrites:
    def test_accent_fragment_loses_its_brackets(self):
        assert adapt_fragment(kogane.parse_to_html("〔Cafe'〕と〔注〕")) == "<p>Caféと〔注〕</p>\n"

    def test_warichu_gets_half_its_length(self):
        assert adapt_fragment(kogane.parse_to_html("本文［＃割り注］割り注の｜中身《なかみ》です［＃割り注終わり］")) == (
            '<p>本文<span class="kogane-warichu kogane-warichu-lines" style="--kogane-half:4">割り注の'
            "<ruby>中身<rp>(</rp><rt>なかみ</rt><rp>)</rp></ruby>です</span></p>\n"
        )

    def test_editorial_notes_hidden_unless_asked(self):
        source = "涕［＃「涕」はママ］。誤字［＃「誤字」は底本では「誤事」］。謎［＃未知の注記もどき］"
        hidden = adapt_fragment(kogane.parse_to_html(source))
        assert hidden.count('hidden="hidden"') == 3
        shown = adapt_fragment(kogane.parse_to_html(source), notes=True)
        assert '涕<span class="kogane-note" title="［＃「涕」はママ］">「涕」はママ</span>' in shown
        assert '<span class="kogane-note" title="［＃「誤字」は底本では「誤事」］">' in shown
        # An annotation the engine does not know is no editorial note.
        assert '<span class="kogane-directive" hidden="hidden">［＃未知の注記もどき］</span>' in shown

    def test_image_sources_outside_the_book_are_dropped_and_reported(self):
        warnings: list[str] = []
        book = Book.from_text(
            "［＃挿絵（http://example.com/a.png）入る］\n［＃挿絵（../up.png）入る］\n［＃挿絵（img/ok.png）入る］\n",
            name="b.txt",
        )
        page = render_page(book, warnings=warnings)
        assert 'src="img/ok.png"' in page
        # The engine already keeps a name with a scheme out of src (shown as
        # text, with a diagnostic); the page drops what leaves the book.
        assert 'src="http' not in page and "up.png" not in page
        assert '<span class="kogane-illustration-name">http://example.com/a.png</span>' in page
        assert warnings == [
            "b.txt: image source '../up.png' dropped: not a relative path inside the book",
        ]


class TestStylesheet:
    def test_every_class_the_renderer_can_emit_has_a_rule(self):
        # Grouping classes (kogane-container, kogane-directive, numbered
        # variants) need none of their own.
        classes = """
            accent accent-dot align-end angle-quote body-end bouten bouten-both bouten-left bouten-right bunsu caption
            center combine-upright container-align-end container-center container-columns container-font-larger
            container-font-smaller container-futoji container-goshikku container-indent container-keigakomi
            container-line-kumi container-line-width container-shatai container-table container-warichu
            container-wrap-indent container-yokogumi editor-note enclosure-circle enclosure-circle-dotted
            enclosure-double-rule font-larger font-smaller futoji gaiji goshikku heading heading-hint heading-same-line
            heading-window illustration indent kaeriten keigakomi-box kogaki-left kogaki-right line-futoji
            line-goshikku margin-note page-break ruby-left ruby-note section-break shatai warichu uwatsuki shitatsuki
            keigakomi-inline yokogumi font-extra-large font-large font-medium font-small line-font-extra-large
            line-font-large line-font-medium line-font-small heading-large heading-medium heading-small
            section-break-kaicho section-break-kaidan section-break-kaimihiraki bouten-goma bouten-shirogoma
            bouten-maru bouten-shiromaru bouten-nijumaru bouten-janome bouten-batsu bouten-shirosankaku
            bouten-namisen bouten-bosen bouten-nijubosen bouten-kusarisen bouten-hasen bouten-kurosankaku bouten-other
        """.split()
        css = stylesheet()
        assert [c for c in classes if not re.search(rf"\.kogane-{re.escape(c)}(?![-\w])", css)] == []

    def test_every_bouten_kind_has_its_mark(self):
        css = stylesheet()
        for kind, style in [
            ("goma", "filled sesame"), ("shirogoma", "open sesame"), ("maru", "filled circle"),
            ("shiromaru", "open circle"), ("nijumaru", "open double-circle"), ("janome", "filled double-circle"),
            ("batsu", '"×"'), ("shirosankaku", "open triangle"), ("kurosankaku", "filled triangle"),
        ]:
            assert re.search(rf"\.kogane-bouten-{kind} \{{[^}}]* text-emphasis-style: {re.escape(style)};", css), kind
        for kind, style in [("namisen", "wavy"), ("bosen", "solid"), ("nijubosen", "double"),
                            ("kusarisen", "dotted"), ("hasen", "dashed")]:
            assert re.search(rf"\.kogane-bouten-{kind} \{{ text-decoration-style: {style};", css), kind


class TestSources:
    def test_page_accepts_book_path_bytes_and_text(self, tmp_path):
        f = tmp_path / "猫.txt"
        f.write_bytes("猫\n夏目\n\n本文。\n".encode("cp932"))
        for source in (Book.from_path(f), f, str(f), f.read_bytes(), "猫\n夏目\n\n本文。\n"):
            assert "<p>本文。</p>" in kogane.page(source)

    def test_unreadable_file_names_the_file(self, tmp_path):
        with pytest.raises(BookError, match="missing.txt"):
            kogane.page(tmp_path / "missing.txt")
        with pytest.raises(TypeError):
            kogane.page(42)


PIECES = [
    "あ", "漢字", "\n", "\n\n", "　", "［＃３字下げ］", "［＃地付き］", "［＃地から２字上げ］", "［＃ここから太字］",
    "［＃ここで太字終わり］", "［＃太字］", "［＃太字終わり］", "［＃ここから２字下げ］\n", "［＃ここで字下げ終わり］\n",
    "［＃中見出し］", "［＃中見出し終わり］", "［＃改ページ］\n", "吾輩《わがはい》", "｜", "《", "》", "［＃", "］",
    "［＃「漢字」に傍点］", "［＃割り注］", "［＃割り注終わり］", "〔", "〕", "e'", "<&>", "［＃「あ」はママ］",
    "［＃左に傍線］", "［＃左に傍線終わり］", "※［＃「存在しない」］", "［＃挿絵（a.png）入る］",
]


@settings(max_examples=150, deadline=None)
@given(st.lists(st.sampled_from(PIECES), max_size=24))
def test_adapting_keeps_every_character_and_stays_well_formed(pieces):
    source = "".join(pieces)
    fragment = kogane.parse_to_html(source)
    for notes in (False, True):
        adapted = adapt_fragment(fragment, notes=notes)
        ET.fromstring(f"<div>{adapted}</div>")
        if not notes:
            # A warichu split by a line layout is bracketed once per part, and
            # the empty paragraph a line leaves when its heading is taken out
            # is dropped (its line feed with it).
            def bare(t):
                return t.replace("（", "").replace("）", "").replace("\n", "")

            assert bare(fragment_to_text(adapted)) == bare(fragment_to_text(fragment))
