"""Regenerates docs/sample-page.png from docs/sample-book.txt.

Needs Chromium, chromium-driver and Selenium (see tools/run_tests.sh):
    PYTHONPATH=build/dev/pkg python3 docs/make_sample_page.py
"""

import pathlib
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

import kogane

here = pathlib.Path(__file__).resolve().parent
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"  # Debian's browser; nothing is downloaded
for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=900,560",
            "--force-device-scale-factor=1", "--hide-scrollbars"):
    options.add_argument(arg)
driver = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=options)
try:
    with tempfile.TemporaryDirectory() as tmp:
        page = pathlib.Path(tmp) / "sample.html"
        page.write_text(kogane.page(here / "sample-book.txt"), encoding="utf-8")
        driver.get(page.as_uri())
        driver.save_screenshot(str(here / "sample-page.png"))
finally:
    driver.quit()
