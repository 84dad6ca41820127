"""The stylesheet pages inline: the shipped rules without comments and layout whitespace."""

import re
import shutil

import pytest

from kogane.book import Book
from kogane.pages import minify_css, page_stylesheet, render_page, stylesheet
from test_page import RICH


class TestMinify:
    def test_comments_and_layout_whitespace_go(self):
        css = "/* head */\nhtml {\n  line-height: 1.8;\n  margin: 0 auto;\n}\np + p ,\ndiv > span {\n  color: #555;\n}\n"
        assert minify_css(css) == "html{line-height:1.8;margin:0 auto}p + p,div > span{color:#555}"

    def test_meaningful_spaces_stay(self):
        # calc() needs the spaces around its operators; a space before ':'
        # is a descendant combinator; a comment between two words still separates them.
        assert minify_css("a { width: calc(1em + var(--x, 0) * 2px); }") == "a{width:calc(1em + var(--x,0) * 2px)}"
        assert minify_css("p :first-child { x: y }") == "p :first-child{x:y}"
        assert minify_css("a{margin:1em/**/2em}") == "a{margin:1em 2em}"

    def test_strings_kept_whole(self):
        css = 'q::before { content: "  ;}  /* no */ "; } r { font-family: "Yu  Mincho", serif; content: \'a\\\' ;}\' }'
        assert minify_css(css) == 'q::before{content:"  ;}  /* no */ "}r{font-family:"Yu  Mincho",serif;content:\'a\\\' ;}\'}'


def rules(css: str) -> list[tuple[str, list[tuple[str, str]]]]:
    """(selector, [(property, value)]) of each rule in order, spacing normalised."""
    css = re.sub(r"/\*.*?\*/", " ", css, flags=re.S)
    found = []
    for selector, body in re.findall(r"([^{}]+)\{([^{}]*)\}", css):
        decls = []
        for decl in filter(None, (d.strip() for d in body.split(";"))):
            name, value = decl.split(":", 1)
            decls.append((name.strip(), re.sub(r"\s*,\s*", ",", " ".join(value.split()))))
        found.append((re.sub(r"\s*,\s*", ",", " ".join(selector.split())), decls))
    return found


class TestPageStylesheet:
    def test_keeps_every_rule_and_declaration(self):
        source, minified = rules(stylesheet()), rules(page_stylesheet())
        assert len(source) > 80
        assert minified == source
        assert "/*" not in page_stylesheet() and "\n" not in page_stylesheet()
        assert len(page_stylesheet().encode()) < 0.8 * len(stylesheet().encode())

    def test_page_inlines_the_minified_rules_once(self):
        page = render_page(Book.from_text(RICH))
        assert f"<style>{page_stylesheet()}</style>\n</head>" in page
        assert page.count("<style>") == 1 and "/*" not in page


CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"

# Every computed property of every element, in document order.
COMPUTED = """
return Array.from(document.querySelectorAll('*'), el => {
  const cs = getComputedStyle(el), out = {};
  for (const name of cs) out[name] = cs.getPropertyValue(name);
  for (const pseudo of ['::before', '::after']) {
    const ps = getComputedStyle(el, pseudo);
    out[pseudo] = ps.content + '|' + ps.fontSize + '|' + ps.display;
  }
  return [el.tagName, el.className, out];
});
"""


@pytest.mark.skipif(CHROMIUM is None or not shutil.which(CHROMEDRIVER),
                    reason="chromium and chromium-driver are not installed")
@pytest.mark.parametrize("horizontal", [False, True])
def test_browser_computes_the_same_styles(tmp_path, horizontal):
    webdriver = pytest.importorskip("selenium.webdriver")
    from selenium.webdriver.chrome.service import Service

    page = render_page(Book.from_text(RICH), horizontal=horizontal, notes=True)
    readable = page.replace(f"<style>{page_stylesheet()}</style>", f"<style>\n{stylesheet()}</style>")
    assert readable != page
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=1200,800"):
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)
    try:
        styles = []
        for name, html in (("minified.html", page), ("readable.html", readable)):
            (tmp_path / name).write_text(html, encoding="utf-8")
            driver.get((tmp_path / name).as_uri())
            styles.append(driver.execute_script(COMPUTED))
    finally:
        driver.quit()
    assert len(styles[0]) > 50
    assert styles[0] == styles[1]
