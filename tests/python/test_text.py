"""Plain text of a book: readings, annotations, gaiji, accents and breaks."""

from kogane.book import Book
from kogane.text import fragment_to_text, strip_accent_brackets, to_text

BOOK = (
    "星の｜停車場《ていしゃば》\n"
    "宮沢一郎\n"
    "\n"
    "-------------------------------------------------------\n"
    "【テキスト中に現れる記号について】\n"
    "《》：ルビ\n"
    "-------------------------------------------------------\n"
    "［＃大見出し］第一章［＃大見出し終わり］\n"
    "　吾輩《わがはい》は猫である。汽笛［＃「汽笛」に傍点］が鳴る。\n"
    "［＃３字下げ］三字下げの行。\n"
    "貰ひたい。［＃地から２字上げ］（一九三六）\n"
    "　※［＃「木＋吶のつくり」、第3水準1-85-54］と※［＃「存在しない字」］。\n"
    "　〔Cafe'〕の窓。涕［＃「涕」はママ］。〔注〕は残る。\n"
    "　学［＃二］而時習［＃一］之。［＃割り注］小さな注［＃割り注終わり］\n"
    "［＃入力者注（行ごと消える）］\n"
    "［＃改ページ］\n"
    "　二ページ目。\n"
    "\n"
    "底本：「星の本」出版社\n"
)


class TestBody:
    def test_readings_annotations_and_breaks(self):
        assert to_text(Book.from_text(BOOK)) == (
            "第一章\n"
            "　吾輩は猫である。汽笛が鳴る。\n"
            "三字下げの行。\n"
            "貰ひたい。（一九三六）\n"
            "　枘と〓。\n"
            "　Caféの窓。涕。〔注〕は残る。\n"
            "　学而時習之。（小さな注）\n"
            "\n"
            "　二ページ目。\n"
        )

    def test_readings_and_descriptions_on_request(self):
        text = to_text(Book.from_text(BOOK), ruby=True, gaiji_descriptions=True)
        assert "　吾輩（わがはい）は猫である。" in text
        assert "　枘と存在しない字。\n" in text

    def test_full_adds_header_and_colophon_but_never_the_notation(self):
        text = to_text(Book.from_text(BOOK), full=True, ruby=True)
        assert text.startswith("星の停車場（ていしゃば）\n宮沢一郎\n\n第一章\n")
        assert text.endswith("　二ページ目。\n\n底本：「星の本」出版社\n")
        assert "テキスト中に現れる記号" not in text

    def test_empty_and_markup_only_books(self):
        assert to_text(Book.from_text("")) == ""
        assert to_text(Book.from_text("［＃改ページ］\n")) == ""


class TestFragments:
    def test_accent_brackets_only_around_latin(self):
        assert strip_accent_brackets("〔Café〕と〔注〕と〔Ａ〕") == "Caféと〔注〕と〔Ａ〕"
        assert strip_accent_brackets('〔<span class="kogane-gaiji">é</span>t〕') == '<span class="kogane-gaiji">é</span>t'
        assert strip_accent_brackets("〔open\nline〕") == "〔open\nline〕"
        assert strip_accent_brackets("〔a<b〕 c> 〔d〕", markup=False) == "a<b c> d"

    def test_escaped_markup_characters_come_back(self):
        assert fragment_to_text("<p>&lt;&amp;&gt;&quot;&#x27;</p>\n") == "<&>\"'\n"

    def test_lines_of_a_paragraph(self):
        # A reading without a base or an annotation alone on a line leaves no
        # line, an empty line stays, escaped markup in the text is text, and
        # a hidden note spanning a line end takes its line end with it.
        fragment = (
            "<p>一<br />\n<ruby><rp>(</rp><rt>よみ</rt><rp>)</rp></ruby><br />\n"
            "&lt;br /&gt;&amp;<br />\n"
            '<span class="kogane-directive" hidden>［＃注<br />\n］</span><br />\n'
            "<ruby>二<rp>(</rp><rt>に</rt><rp>)</rp></ruby><br />\n<br />\n三</p>\n"
        )
        assert fragment_to_text(fragment) == "一\n<br />&\n二\n\n三\n"
        assert fragment_to_text(fragment, ruby=True) == "一\n（よみ）\n<br />&\n二（に）\n\n三\n"

    def test_malformed_markup_keeps_its_text(self):
        # An unclosed annotation is text to the engine, so it stays.
        assert to_text(Book.from_text("本文［＃閉じない注記\n")) == "本文［＃閉じない注記\n"

    def test_caption_text_is_kept(self):
        book = Book.from_text("［＃「第一図　港」のキャプション付きの挿絵（fig.png）入る］\n")
        assert to_text(book) == "第一図　港\n"
