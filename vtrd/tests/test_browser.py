"""The panel in headless Chromium (Selenium) against a running vtrd."""

import os
import pathlib
import shutil
import tempfile
import time

import pytest

webdriver = pytest.importorskip("selenium.webdriver", reason="python3-selenium is not installed")
from selenium.common.exceptions import TimeoutException  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
CHROMEDRIVER = shutil.which("chromedriver")
if not CHROMIUM or not CHROMEDRIVER:
    pytest.skip("chromium and chromium-driver are not installed", allow_module_level=True)

SHOTS = os.environ.get("VTRD_SCREENSHOTS")  # a directory: the docs' pictures are taken there


@pytest.fixture(scope="module")
def browser():
    profile = tempfile.mkdtemp(prefix="vtrd-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", f"--user-data-dir={profile}",
                 "--window-size=1280,900"):
        options.add_argument(flag)
    service = webdriver.ChromeService(executable_path=CHROMEDRIVER) \
        if hasattr(webdriver, "ChromeService") else \
        __import__("selenium.webdriver.chrome.service", fromlist=["Service"]).Service(CHROMEDRIVER)
    driver = webdriver.Chrome(service=service, options=options)
    yield driver
    driver.quit()
    shutil.rmtree(profile, ignore_errors=True)


def wait(driver, condition, timeout=20, what="the page"):
    try:
        return WebDriverWait(driver, timeout, poll_frequency=0.1).until(lambda d: condition())
    except TimeoutException:
        raise AssertionError(f"{what} never showed it") from None


class Panel:
    def __init__(self, driver, rig):
        self.d = driver
        self.rig = rig

    def load(self, query="", name="", token=""):
        self.d.get(self.rig.url + "/" + query)
        self.d.execute_script("localStorage.clear(); sessionStorage.clear();")
        self.d.get(self.rig.url + "/" + query)
        self.identity(name, token)
        wait(self.d, lambda: self.d.find_elements(By.CSS_SELECTOR, ".card"), what="a card")

    def identity(self, name, token):
        for field, value in (("name", name), ("token", token)):
            el = self.d.find_element(By.ID, field)
            el.clear()
            el.send_keys(value)
        self.d.find_element(By.CSS_SELECTOR, "#identity button").click()

    def card(self, deck):
        return self.d.find_element(By.ID, f"deck-{deck}")

    def text(self, deck, selector):
        return self.card(deck).find_element(By.CSS_SELECTOR, selector).text

    def click(self, deck, selector):
        self.card(deck).find_element(By.CSS_SELECTOR, selector).click()

    def keys_enabled(self, deck):
        return not self.card(deck).find_element(By.CSS_SELECTOR, "fieldset.keys").get_property(
            "disabled")

    def take(self, deck):
        self.click(deck, ".take")
        wait(self.d, lambda: "You are in control" in self.text(deck, ".lease"),
             what=f"{deck}'s lease")
        wait(self.d, lambda: self.keys_enabled(deck), what=f"{deck}'s keys")

    def release(self, deck):
        self.click(deck, ".release")
        wait(self.d, lambda: "Nobody" in self.text(deck, ".lease"), what=f"{deck} released")


@pytest.fixture
def panel(browser, rig):
    return Panel(browser, rig)


def test_play_advances_the_counter_and_cue_arrives(panel, rig):
    panel.load(name="anna", token=rig.token)
    panel.take("deck1")
    panel.click("deck1", "[data-cmd='play notify']")
    wait(panel.d, lambda: panel.text("deck1", ".mode") == "PLAYING", what="play")
    first = panel.text("deck1", ".timecode")
    wait(panel.d, lambda: panel.text("deck1", ".timecode") > first, what="the counter advancing")
    assert "successful: play deck1 notify" in panel.text("deck1", ".last-notify")
    panel.d.execute_script(  # a drag of the shuttle to -5
        "const s = arguments[0]; s.value = -5; s.dispatchEvent(new Event('input'));",
        panel.card("deck1").find_element(By.CSS_SELECTOR, ".shuttle-slider"))
    wait(panel.d, lambda: "successful: shuttle deck1 factor -5 notify"
         in panel.text("deck1", ".last-notify"), what="the shuttle")
    panel.click("deck1", "[data-cmd='step notify']")
    wait(panel.d, lambda: "successful: step deck1 notify" in panel.text("deck1", ".last-notify"),
         what="the jog")

    cue = panel.card("deck1").find_element(By.CSS_SELECTOR, ".cue-input")
    cue.send_keys("00:00:30:45")  # no frame 45 at 30 frames a second
    assert panel.text("deck1", ".cue-check") == "frames go to 29"
    assert not panel.card("deck1").find_element(By.CSS_SELECTOR, ".cue-go").is_enabled()
    cue.clear()
    cue.send_keys("00:00:30:00")
    panel.click("deck1", ".cue-go")
    wait(panel.d, lambda: panel.text("deck1", ".timecode") == "00:00:30:00", what="the cue")
    wait(panel.d, lambda: "successful: cue deck1 to 00:00:30:00 notify"
         in panel.text("deck1", ".last-notify"), what="the cue's notification")
    panel.release("deck1")


def test_record_between_marks_asks_first(panel, rig):
    panel.load(name="anna", token=rig.token)
    panel.take("deck3")
    panel.click("deck3", ".mark-in")  # 00:00:00:00, the deck at rest
    marks = panel.card("deck3")
    marks.find_element(By.CSS_SELECTOR, ".out-point").send_keys("00:00:01:00")
    panel.click("deck3", ".record")
    dialog = marks.find_element(By.CSS_SELECTOR, "dialog.confirm")
    assert dialog.is_displayed()
    assert "from 00:00:00:00 to 00:00:01:00" in dialog.text
    marks.find_element(By.CSS_SELECTOR, ".confirm-cancel").click()
    time.sleep(0.5)
    assert rig.get("/api/decks/deck3")["owed"] is None  # cancelled: nothing sent
    panel.click("deck3", ".record")
    marks.find_element(By.CSS_SELECTOR, ".confirm-record").click()
    wait(panel.d, lambda: "record deck3 from 00:00:00:00 to 00:00:01:00 notify"
         in panel.text("deck3", ".last-notify"), timeout=30, what="the recording's notification")
    panel.release("deck3")


@pytest.mark.parametrize("token, holder, reason", [
    ("", None, "Watching: enter the control token to take control"),
    ("right", "bert#desk", "Watching: bert#desk is in control"),
    ("right", None, "Watching: take control to use the keys"),
])
def test_a_viewer_cannot_control(panel, rig, token, holder, reason):
    from test_api import post
    if holder:
        assert post(rig, "/api/decks/deck2/lease", client=holder)[0] == 200
    try:
        panel.load(name="carl", token=rig.token if token == "right" else "")
        wait(panel.d, lambda: panel.text("deck2", ".reason") == reason, what=reason)
        assert not panel.keys_enabled("deck2")
        for button in panel.card("deck2").find_elements(By.CSS_SELECTOR, "[data-cmd]"):
            assert not button.is_enabled()
        assert panel.card("deck2").find_element(By.CSS_SELECTOR, ".take").is_enabled() == \
            (token == "right" and holder is None)
    finally:
        if holder:
            post(rig, "/api/decks/deck2/lease", method="DELETE", client=holder)


def test_a_wrong_token_is_refused(panel, rig):
    panel.load(name="mallory", token="not-the-token")
    panel.click("deck1", ".take")
    wait(panel.d, lambda: panel.d.find_element(By.ID, "identity-status").text
         == "The token was refused", what="the refusal")
    assert "a valid control token is needed" in panel.text("deck1", ".answer")
    assert not panel.keys_enabled("deck1")
    assert rig.get("/api/decks/deck1")["lease"] is None


def test_a_deck_that_vanishes_shows_offline_and_comes_back(panel, rig):
    panel.load(name="anna", token=rig.token)
    wait(panel.d, lambda: panel.text("vtr4", ".badge") == "online", what="vtr4 online")
    rig.sim.vanish()
    wait(panel.d, lambda: panel.text("vtr4", ".badge") == "offline", what="vtr4 offline")
    assert panel.text("vtr4", ".reason").startswith("Offline: ")
    assert not panel.keys_enabled("vtr4")
    assert panel.text("deck1", ".badge") == "online"
    rig.sim.start()
    wait(panel.d, lambda: panel.text("vtr4", ".badge") == "online", what="vtr4 back")
    panel.take("vtr4")
    panel.release("vtr4")


def test_a_tablet_shows_the_cards_without_sideways_scrolling(panel, rig):
    panel.d.set_window_size(768, 1024)
    try:
        panel.load(name="anna", token=rig.token)
        width = panel.d.execute_script("return document.documentElement.scrollWidth")
        inner = panel.d.execute_script("return window.innerWidth")
        assert width <= inner
        boxes = [c.rect for c in panel.d.find_elements(By.CSS_SELECTOR, ".card")]
        assert len({round(b["x"]) for b in boxes}) == 2  # two columns of cards
        for b in panel.d.find_elements(By.CSS_SELECTOR, ".transport button"):
            assert b.rect["height"] >= 44  # a finger's width
    finally:
        panel.d.set_window_size(1280, 900)


@pytest.mark.skipif(not SHOTS, reason="VTRD_SCREENSHOTS names no directory for the pictures")
def test_pictures_for_the_docs(panel, rig):
    shots = pathlib.Path(SHOTS)
    panel.load(name="anna", token=rig.token)
    panel.take("deck1")
    panel.click("deck1", "[data-cmd='play notify']")
    panel.take("deck2")
    cue = panel.card("deck2").find_element(By.CSS_SELECTOR, ".cue-input")
    cue.send_keys("00:01:00:00")
    panel.click("deck2", ".cue-go")
    panel.d.set_window_size(1600, 1000)
    time.sleep(3)
    panel.d.save_screenshot(str(shots / "vtrd-grid.png"))
    panel.release("deck2")
    panel.d.get(rig.url + "/?deck=deck1")  # leaving the page gave control up
    panel.d.set_window_size(800, 940)
    panel.take("deck1")
    time.sleep(1)
    panel.d.save_screenshot(str(shots / "vtrd-deck.png"))
    panel.d.set_window_size(1280, 900)
    panel.click("deck1", "[data-cmd='stop notify']")
    panel.release("deck1")
