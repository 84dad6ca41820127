"""What a reader sees: generated pages laid out by a real, headless Chromium.

Uses Debian's chromium and chromium-driver through Selenium; the driver is
named explicitly so nothing is downloaded. Skipped when any is missing.
"""

import shutil
import struct
import zlib

import pytest

from kogane.book import Book
from kogane.pages import render_page
from test_epub import tiny_png

webdriver = pytest.importorskip("selenium.webdriver")
from selenium.webdriver.chrome.service import Service  # noqa: E402

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
pytestmark = pytest.mark.skipif(
    CHROMIUM is None or not shutil.which(CHROMEDRIVER), reason="chromium and chromium-driver are not installed"
)

FONT_PX = 20  # the test pages set this size so character units are known

BOOK = (
    "試験の本\n著者\n\n"
    "基準の行です。\n"
    "［＃３字下げ］三字下げの行です。\n"
    "［＃地付き］地付きの行\n"
    "貰ひたい。［＃地から２字上げ］（一九三六）\n"
    "汽笛［＃「汽笛」に傍点］と平文、左［＃「左」の左に丸傍点］と平文。\n"
    "吾輩《わがはい》は猫、左側［＃「左側」の左に「ひだりがわ」のルビ］。\n"
    "２０［＃「２０」は縦中横］日、※［＃「存在しない字」］、［＃挿絵（fig.png、横40×縦30）入る］\n"
    "［＃ここから罫囲み］\n囲まれた文。\n［＃ここで罫囲み終わり］\n"
    "　とても長い行" + "あいうえおかきくけこ" * 12 + "。\n"
    "\n底本：「試験の本」\n"
)


def decode_png(data: bytes) -> tuple[int, int, list[bytearray]]:
    """Width, height and RGBA rows of an 8-bit non-interlaced PNG (what Chromium writes)."""
    pos, idat, width, height, channels = 8, b"", 0, 0, 4
    while pos < len(data):
        length, tag = struct.unpack(">I4s", data[pos : pos + 8])
        body = data[pos + 8 : pos + 8 + length]
        if tag == b"IHDR":
            width, height, _depth, color = struct.unpack(">IIBB", body[:10])
            channels = {2: 3, 6: 4}[color]
        elif tag == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows: list[bytearray] = []
    prev = bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1 : (y + 1) * (stride + 1)])
        for i in range(stride):
            a = row[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + a) & 255
            elif kind == 2:
                row[i] = (row[i] + b) & 255
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(row)
        prev = row
    if channels == 3:
        rows = [bytearray(b for k in range(0, stride, 3) for b in (*r[k : k + 3], 255)) for r in rows]
    return width, height, rows


def dark_pixels(shot, rect) -> int:
    """Dark pixels inside `rect` (CSS px; the screenshot is at scale 1)."""
    width, height, rows = shot
    left, top = max(0, int(rect["left"])), max(0, int(rect["top"]))
    right, bottom = min(width, int(rect["right"])), min(height, int(rect["bottom"]))
    count = 0
    for y in range(top, bottom):
        row = rows[y]
        for x in range(left, right):
            if row[4 * x] + row[4 * x + 1] + row[4 * x + 2] < 300:
                count += 1
    return count


@pytest.fixture(scope="module")
def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=1200,800", "--force-device-scale-factor=1", "--hide-scrollbars"):
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(60)
    yield driver
    driver.quit()


def open_page(browser, tmp_path, book=BOOK, **options) -> None:
    page = render_page(Book.from_text(book), **options)
    # A fixed size keeps character units in whole pixels.
    page = page.replace("</style>", f"html {{ font-size: {FONT_PX}px; }}\n</style>")
    (tmp_path / "page.html").write_text(page, encoding="utf-8")
    (tmp_path / "fig.png").write_bytes(tiny_png(40, 30))
    browser.get((tmp_path / "page.html").as_uri())


# Rectangles of one character of a text, of an element, of its line (<p>).
MEASURE = """
const [selector, text, index] = arguments;
const root = selector ? document.querySelector(selector) : document.body;
if (!root) return null;
if (text === null) { const r = root.getBoundingClientRect(); return {left: r.left, right: r.right, top: r.top, bottom: r.bottom}; }
const walker = document.createTreeWalker(root, NodeFilter.SHOW_TEXT);
for (let node; (node = walker.nextNode());) {
  const at = node.data.indexOf(text);
  if (at < 0) continue;
  const range = document.createRange();
  const k = at + (index < 0 ? text.length + index : index);
  range.setStart(node, k); range.setEnd(node, k + 1);
  const r = range.getBoundingClientRect();
  return {left: r.left, right: r.right, top: r.top, bottom: r.bottom};
}
return null;
"""


def char_rect(browser, text, index=0, selector="main"):
    rect = browser.execute_script(MEASURE, selector, text, index)
    assert rect is not None, text
    return rect


def element_rect(browser, selector):
    rect = browser.execute_script(MEASURE, selector, None, 0)
    assert rect is not None, selector
    return rect


def line_box(browser, text):
    """The <p> holding `text`: its block end is where end-aligned lines end."""
    return browser.execute_script(
        "const w=document.createTreeWalker(document.querySelector('main'),NodeFilter.SHOW_TEXT);"
        "for(let n;(n=w.nextNode());){if(n.data.includes(arguments[0])){"
        "const r=n.parentElement.closest('p').getBoundingClientRect();"
        "return {left:r.left,right:r.right,top:r.top,bottom:r.bottom};}}return null;",
        text,
    )


def near(a, b, tolerance=2.0):
    return abs(a - b) <= tolerance


class TestVerticalPage:
    def test_writing_mode(self, browser, tmp_path):
        open_page(browser, tmp_path)
        mode = browser.execute_script("return getComputedStyle(document.querySelector('main')).writingMode")
        assert mode == "vertical-rl"
        open_page(browser, tmp_path, horizontal=True)
        mode = browser.execute_script("return getComputedStyle(document.querySelector('main')).writingMode")
        assert mode == "horizontal-tb"

    def test_three_character_indent(self, browser, tmp_path):
        open_page(browser, tmp_path)
        plain = char_rect(browser, "基準の行")
        indented = char_rect(browser, "三字下げの行")
        assert near(indented["top"] - plain["top"], 3 * FONT_PX)
        assert indented["right"] < plain["left"] + 1  # the next line, to the left

    def test_end_alignment_reaches_the_block_end(self, browser, tmp_path):
        open_page(browser, tmp_path)
        block_end = line_box(browser, "基準の行")["bottom"]
        assert near(char_rect(browser, "地付きの行", -1)["bottom"], block_end)
        # Mid-line marker: the date sits two characters above the end,
        # on the same line as the words before it.
        date = char_rect(browser, "（一九三六）", -1)
        words = char_rect(browser, "貰ひたい。")
        assert near(date["bottom"], block_end - 2 * FONT_PX)
        assert near(date["left"], words["left"], 4)
        assert date["top"] > words["bottom"] + 5 * FONT_PX

    def test_emphasis_marks_sit_beside_their_base(self, browser, tmp_path):
        open_page(browser, tmp_path)
        shot = decode_png(browser.get_screenshot_as_png())
        right_mark = char_rect(browser, "汽笛")
        plain = char_rect(browser, "と平文")
        left_mark = char_rect(browser, "左", selector="em.kogane-bouten-left")

        def strip(rect, side):
            x = rect["right"] if side == "right" else rect["left"] - FONT_PX * 0.6
            return {"left": x, "right": x + FONT_PX * 0.6, "top": rect["top"], "bottom": rect["bottom"]}

        assert dark_pixels(shot, strip(right_mark, "right")) > 4
        assert dark_pixels(shot, strip(plain, "right")) == 0
        assert dark_pixels(shot, strip(left_mark, "left")) > 4
        assert dark_pixels(shot, strip(left_mark, "right")) == 0
        style = browser.execute_script(
            "return getComputedStyle(document.querySelector('em.kogane-bouten-goma')).textEmphasisStyle")
        assert "sesame" in style

    @pytest.mark.parametrize("horizontal", [False, True])
    def test_side_lines_on_the_correct_side(self, browser, tmp_path, horizontal):
        # Right-side lines are on the right in vertical text and below in
        # horizontal text; left-side lines on the left and above.
        book = "\n右線［＃「右線」に傍線］と平文\n左線［＃「左線」の左に二重傍線］と平文\n"
        open_page(browser, tmp_path, book, horizontal=horizontal)
        shot = decode_png(browser.get_screenshot_as_png())

        def edge(rect, side):
            if side in ("right", "left"):
                x = rect[side]
                return {"left": x - 3, "right": x + 4, "top": rect["top"] + 2, "bottom": rect["bottom"] - 2}
            y = rect["bottom" if side == "below" else "top"]
            return {"left": rect["left"] + 2, "right": rect["right"] - 2, "top": y - 3, "bottom": y + 4}

        right = element_rect(browser, "em.kogane-bouten-right")
        left = element_rect(browser, "em.kogane-bouten-left")
        plain = char_rect(browser, "と平文")
        near_side, far_side = ("below", "above") if horizontal else ("right", "left")
        assert dark_pixels(shot, edge(right, near_side)) >= 20
        assert dark_pixels(shot, edge(right, far_side)) == 0
        assert dark_pixels(shot, edge(left, far_side)) >= 20
        assert dark_pixels(shot, edge(left, near_side)) == 0
        assert dark_pixels(shot, edge(plain, near_side)) == 0

    @pytest.mark.parametrize("horizontal", [False, True])
    def test_warichu_is_two_half_size_lines_within_the_line(self, browser, tmp_path, horizontal):
        open_page(browser, tmp_path, "\n本文［＃割り注］割り注の中身です［＃割り注終わり］続き。\n", horizontal=horizontal)
        box = element_rect(browser, ".kogane-warichu")
        before, after = char_rect(browser, "本文", 1), char_rect(browser, "続き")
        end, start, cross_end, cross_start = (
            ("right", "left", "bottom", "top") if horizontal else ("bottom", "top", "right", "left"))
        assert near(box[end] - box[start], 4 * FONT_PX / 2)  # seven characters, four per line
        assert near(box[cross_end] - box[cross_start], FONT_PX)  # two half-size lines
        assert near(box[start], before[end]) and near(after[start], box[end])

    def test_ruby_boxes_beside_their_base(self, browser, tmp_path):
        open_page(browser, tmp_path)

        def centre(rect):
            return (rect["left"] + rect["right"]) / 2, (rect["top"] + rect["bottom"]) / 2

        base = char_rect(browser, "吾輩")  # the first character's box spans the line
        reading = element_rect(browser, "rt:not(.kogane-ruby-left)")
        assert reading["right"] - reading["left"] > 3 and reading["bottom"] - reading["top"] > 3
        assert centre(reading)[0] > centre(base)[0] + FONT_PX / 4  # on the right
        assert base["top"] - 1 <= reading["top"] < base["bottom"] + FONT_PX  # alongside, not after
        left_base = char_rect(browser, "左側")
        left_reading = element_rect(browser, "rt.kogane-ruby-left")
        assert centre(left_reading)[0] < centre(left_base)[0] - FONT_PX / 4  # on the left
        assert left_base["top"] - 1 <= left_reading["top"] < left_base["bottom"] + FONT_PX

    def test_nothing_overflows(self, browser, tmp_path):
        for horizontal in (False, True):
            open_page(browser, tmp_path, horizontal=horizontal)
            overflowing = browser.execute_script(
                """
                const vertical = getComputedStyle(document.documentElement).writingMode !== 'horizontal-tb';
                const limit = vertical ? document.documentElement.clientHeight : document.documentElement.clientWidth;
                const out = [];
                for (const e of document.querySelectorAll('main *, header *, section *')) {
                  const r = e.getBoundingClientRect();
                  if (r.width === 0 && r.height === 0) continue;
                  const [start, end] = vertical ? [r.top, r.bottom] : [r.left, r.right];
                  if (start < -1 || end > limit + 1) out.push(e.outerHTML.slice(0, 80));
                  if (e.scrollWidth > e.clientWidth + 1 && getComputedStyle(e).overflow !== 'visible') out.push(e.outerHTML.slice(0, 80));
                }
                const d = document.documentElement;
                if (vertical ? d.scrollHeight > d.clientHeight + 1 : d.scrollWidth > d.clientWidth + 1) out.push('page');
                return out;
                """
            )
            assert overflowing == [], horizontal

    def test_pictures_load_and_unresolved_gaiji_shows_its_description(self, browser, tmp_path):
        open_page(browser, tmp_path)
        assert browser.execute_script("return document.images[0].complete && document.images[0].naturalWidth") == 40
        rect = element_rect(browser, ".kogane-gaiji[data-description]")
        assert rect["bottom"] - rect["top"] > FONT_PX  # the description is laid out, not hidden
