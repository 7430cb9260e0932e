"""The party's guest page in a real browser (headless Chromium, phone-sized),
used as guests use it: each gives a name once, searches, queues, takes an
entry back, votes to skip, and sees every change of the others without
reloading. A name written as markup shows as typed. sonabox-server runs on
the demo library with --party; the host's steps are the requests the
program sends, with the host key from the server's data folder.

Screenshots go to SONABOX_SCREENSHOTS when it names a folder.
Exits 77 (skipped) when Chromium, its driver or selenium is missing."""
import json
import os
import shutil
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402

MARKUP = "<img src=x onerror=alert(1)>"


def browser(home, name):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=412,915",
                     "--user-data-dir=" + os.path.join(home, "chromium-" + name)):
        options.add_argument(argument)
    options.add_experimental_option("mobileEmulation", {
        "deviceMetrics": {"width": 412, "height": 915, "pixelRatio": 2.0}})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class Guest:
    def __init__(self, home, address, name):
        self.driver = browser(home, name)
        self.driver.get(address)

    def element(self, id):
        from selenium.webdriver.common.by import By
        return self.driver.find_element(By.ID, id)

    def shown(self, id):
        return self.element(id).is_displayed()

    def wait(self, what, probe, timeout=journey.TIMEOUT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                found = probe()
            except Exception:
                found = None
            if found:
                return found
            time.sleep(0.05)
        self.shot("failed")
        journey.fail("timed out waiting for " + what)

    def join(self, name):
        self.wait("the name question", lambda: self.shown("join"))
        field = self.element("name")
        field.clear()
        field.send_keys(name)
        self.element("join-form").submit()
        self.wait("the party after joining", lambda: self.shown("party"))

    def search(self, words):
        from selenium.webdriver.common.by import By
        box = self.element("q")
        box.clear()
        box.send_keys(words)
        self.element("search-form").submit()
        return self.wait("results for " + words, lambda: [
            row for row in self.driver.find_elements(By.CSS_SELECTOR, "#results li")
            if words.lower() in row.text.lower()])

    def queue(self, words):
        """Queues the first result for these words; the title queued."""
        from selenium.webdriver.common.by import By
        row = self.search(words)[0]
        title = row.find_element(By.CSS_SELECTOR, ".title").text
        row.find_element(By.TAG_NAME, "button").click()
        return title

    def up_next(self):
        """Each waiting entry as (title, the queued-by line, whether it offers Remove)."""
        from selenium.webdriver.common.by import By
        rows = []
        for row in self.driver.find_elements(By.CSS_SELECTOR, "#next li"):
            lines = [line.text for line in row.find_elements(By.CSS_SELECTOR, ".small")]
            rows.append((row.find_element(By.CSS_SELECTOR, ".title").text,
                         next((line for line in lines if line.startswith("queued by ")), ""),
                         bool(row.find_elements(By.CSS_SELECTOR, "button.remove"))))
        return rows

    def message(self):
        return self.element("message").text if self.shown("message") else ""

    def shot(self, name):
        folder = os.environ.get("SONABOX_SCREENSHOTS")
        if folder:
            os.makedirs(folder, exist_ok=True)
            self.driver.save_screenshot(os.path.join(folder, "party-%s.png" % name))

    def close(self):
        self.driver.quit()


def host(service, home, action):
    with open(os.path.join(home, "server", "party-host.key")) as f:
        key = f.read().strip()
    request = urllib.request.Request("http://127.0.0.1:%d/party/host/%s" % (service.web, action),
                                     data=b"", headers={"X-Party-Host": key})
    return json.load(urllib.request.urlopen(request))


def main():
    for needed in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
        if not os.path.exists(needed):
            print("SKIP: %s is not installed" % needed)
            return journey.SKIP
    try:
        import selenium  # noqa: F401
    except ImportError:
        print("SKIP: python3-selenium is not installed")
        return journey.SKIP

    home = tempfile.mkdtemp(prefix="sonabox-party-page-")
    service = None
    guests = []
    try:
        service = journey.Service(home, ["--party"])
        address = "http://127.0.0.1:%d/party" % service.web

        ann = Guest(home, address, "ann")
        guests.append(ann)
        ann.shot("join")
        ann.join(MARKUP)
        # Shown as typed: as text, never as a picture that runs a script.
        ann.wait("the name as typed", lambda: ann.element("you").text == MARKUP)
        first = ann.queue("sine")
        ann.wait("the entry in Up next", lambda: ann.up_next() == [
            (first, "queued by " + MARKUP, True)])

        bob = Guest(home, address, "bob")
        guests.append(bob)
        bob.join("Bob")
        bob.wait("Ann's entry, not Bob's to remove", lambda: bob.up_next() == [
            (first, "queued by " + MARKUP, False)])
        # The same video again is refused with the reason.
        bob.queue("sine")
        bob.wait("the refusal", lambda: "already waiting" in bob.message())
        second = bob.queue("counting")
        third = bob.queue("zebra")
        # Ann sees Bob's entries come without reloading.
        ann.wait("Bob's entries on Ann's page", lambda: [row[0] for row in ann.up_next()] == [
            first, second, third])

        # Bob takes one back; Ann's page follows.
        from selenium.webdriver.common.by import By
        rows = bob.driver.find_elements(By.CSS_SELECTOR, "#next li")
        rows[2].find_element(By.CSS_SELECTOR, "button.remove").click()
        ann.wait("the entry taken back", lambda: [row[0] for row in ann.up_next()] == [
            first, second])

        # The host plays the first: Now playing, with who queued it and the
        # time left, on both pages at once.
        host(service, home, "next")
        for guest in (ann, bob):
            guest.wait("Now playing", lambda: first in guest.element("now").text and
                       ("queued by " + MARKUP) in guest.element("now").text and
                       " left" in guest.element("now").text)
        ann.shot("guest")

        # Two votes skip it (two guests seen: at least two votes needed).
        ann.element("skip").click()
        bob.wait("one vote of two", lambda: "1 of 2 votes" in bob.element("votes").text)
        bob.element("skip").click()
        ann.wait("the skip agreed", lambda: "Skipped by vote" in ann.element("votes").text)

        # The name is remembered: the page opened again asks nothing.
        ann.driver.get(address)
        ann.wait("the party without a question", lambda: ann.shown("party") and
                 ann.element("you").text == MARKUP)
        if ann.shown("join"):
            journey.fail("the name was asked again")
        # No script ran from the name.
        for guest in (ann, bob):
            try:
                alert = guest.driver.switch_to.alert.text
                journey.fail("a script ran from a name: alert " + alert)
            except Exception as e:
                if "a script ran" in str(e):
                    raise

        # The party ends: the pages say so.
        host(service, home, "end")
        bob.wait("the party over", lambda: bob.shown("off") and not bob.shown("party"))
        print("party page: joined, searched, queued, refused, removed, followed, skipped, ended")
        return 0
    finally:
        for guest in guests:
            guest.close()
        if service:
            service.close()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
