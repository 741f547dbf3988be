"""Opens a fleet overview page from a file in headless Chromium (Debian's
chromium, chromium-driver and python3-selenium) and reads it as a person
would: the counts, the rows in their order, the filter, the charts, and
what the browser fetched and logged."""
import base64
import json
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys


class Page:
    def __init__(self, path, width=1280, height=1600, scripts=True):
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         "--window-size=%d,%d" % (width, height)):
            options.add_argument(argument)
        if not scripts:
            options.add_argument("--blink-settings=scriptEnabled=false")
        options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        started = time.monotonic()
        self.driver.get("file://" + path)
        self.load_seconds = time.monotonic() - started

    def close(self):
        self.driver.quit()

    def count(self, name):
        return int(self.driver.find_element(By.CSS_SELECTOR, "#count-%s b" % name).text)

    def column(self, index, visible_only=True):
        """The texts of column `index` of the host table, in the page's order."""
        return self.driver.execute_script("""
            var index = arguments[0], visibleOnly = arguments[1];
            return Array.from(document.querySelectorAll("#hosts tbody tr"))
                .filter(function (row) { return !visibleOnly || !row.hidden; })
                .map(function (row) {
                    var cell = row.cells[index];
                    return cell.hasAttribute("data-sort") ? cell.getAttribute("data-sort") : cell.textContent;
                });""", index, visible_only)

    def sort_by(self, index):
        """Clicks the header of column `index`; returns the seconds it took."""
        started = time.monotonic()
        self.driver.find_elements(By.CSS_SELECTOR, "#hosts thead th button")[index].click()
        self.driver.execute_script("return document.body.offsetHeight")  # the sorted rows laid out
        return time.monotonic() - started

    def filter(self, text):
        box = self.driver.find_element(By.ID, "filter")
        # Typed as a person would, so that the page hears every change.
        box.send_keys(Keys.CONTROL, "a")
        box.send_keys(Keys.DELETE)
        if text:
            box.send_keys(text)

    def row_count(self):
        return len(self.driver.find_elements(By.CSS_SELECTOR, "#hosts tbody tr"))

    def links(self):
        return [link.get_attribute("href") for link in self.driver.find_elements(By.CSS_SELECTOR, "#hosts a")]

    def pdf(self):
        """The page printed, as PDF bytes."""
        return base64.b64decode(self.driver.print_page())

    def chart_bars(self):
        return {figure.get_attribute("id"): len(figure.find_elements(By.TAG_NAME, "rect"))
                for figure in self.driver.find_elements(By.CSS_SELECTOR, "figure.chart")}

    def requests(self):
        """Every URL the page asked for, its own file included."""
        urls = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                urls.append(message["params"]["request"]["url"])
        return urls

    def errors(self):
        return [entry for entry in self.driver.get_log("browser") if entry["level"] in ("SEVERE", "WARNING")]

    def screenshot(self, path):
        height = self.driver.execute_script("return document.documentElement.scrollHeight")
        self.driver.set_window_size(1280, min(max(height, 600), 4000))
        self.driver.save_screenshot(path)
