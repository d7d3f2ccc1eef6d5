#!/usr/bin/python3
"""The shop-floor page in a real browser: Debian's chromium, headless, driven
by selenium through chromedriver. A tkrecord on a tksim with three
controllers serves the page; the page must show the three, and follow each
new temperature the recorder has (read from /state.json) within 3 s.

    page_test.py TKSIM TKRECORD [SCREENSHOT]
"""

import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

WAIT_S = 30  # the machine may be loaded: generous for start-up
FOLLOW_S = 3  # what the page promises


def wait_for_line(stream, text):
    deadline = time.monotonic() + WAIT_S
    got = b""
    while time.monotonic() < deadline:
        line = stream.readline()
        if not line:
            break
        got += line
        if text in line:
            return line
    sys.exit("never said %r: %s" % (text, got.decode(errors="replace")))


def main():
    tksim, tkrecord = sys.argv[1], sys.argv[2]
    shot = sys.argv[3] if len(sys.argv) > 3 else None
    folder = tempfile.mkdtemp(prefix="tk-page-")
    link = os.path.join(folder, "tty")
    sim = subprocess.Popen([tksim, "--link", link, "--address", "9,10,11",
                            "--setpoint", "200,150,100", "--speed", "20",
                            "--log", os.path.join(folder, "sim.log")],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    recorder = None
    driver = None
    try:
        wait_for_line(sim.stdout, b"tksim ready on")
        with open(os.path.join(folder, "conf.ini"), "w") as conf:
            conf.write("[Ports]\n1=%s\n[TK840 TK960 PC control]\nComPortNum=1\n"
                       "interv_record=20\n[Controllers]\noven1=9\noven2=10\noven3=11\n"
                       "[Bus]\nAnswerTimeout=1000\n" % link)
        recorder = subprocess.Popen([tkrecord, "--dir", folder, "--no-seal",
                                     "--metrics", "127.0.0.1:0"],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        said = wait_for_line(recorder.stdout, b"/metrics\n").decode()
        base = said[said.index("http://"):said.rindex("/metrics")]

        def state():
            with urllib.request.urlopen(base + "/state.json", timeout=WAIT_S) as answer:
                return {c["controller"]: c for c in json.load(answer)["controllers"]}

        options = webdriver.ChromeOptions()
        for option in ("--headless", "--no-sandbox", "--disable-gpu",
                       "--disable-dev-shm-usage", "--window-size=1280,800"):
            options.add_argument(option)
        options.binary_location = "/usr/bin/chromium"
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        driver.get(base + "/")

        def shown(name):
            cards = driver.find_elements(By.CSS_SELECTOR, '.ctl[data-name="%s"]' % name)
            return cards[0].find_element(By.CSS_SELECTOR, ".measure").text if cards else None

        names = ["oven1", "oven2", "oven3"]
        WebDriverWait(driver, WAIT_S).until(
            lambda d: all((shown(n) or "----") != "----" for n in names))
        assert [c.get_attribute("data-name")
                for c in driver.find_elements(By.CSS_SELECTOR, ".ctl")] == names
        # Each new temperature the recorder has is on the page within 3 s.
        followed = 0
        last = None
        deadline = time.monotonic() + WAIT_S
        while followed < 3 and time.monotonic() < deadline:
            measure = state()["oven1"]["measure"]
            if measure is None or measure == last:
                WebDriverWait(driver, WAIT_S).until(lambda d: state()["oven1"]["measure"] != last)
                continue
            expected = "%.1f °C" % measure
            since = time.monotonic()
            WebDriverWait(driver, FOLLOW_S, poll_frequency=0.1).until(
                lambda d: shown("oven1") == expected or state()["oven1"]["measure"] != measure)
            if shown("oven1") == expected:
                followed += 1
                print("followed %s in %.2f s" % (expected, time.monotonic() - since))
            last = measure
        assert followed == 3, "the page followed %d changes" % followed
        setpoint = driver.find_element(By.CSS_SELECTOR, '.ctl[data-name="oven2"] .setpoint').text
        assert setpoint == "150.0 °C", setpoint
        curve = driver.find_element(By.CSS_SELECTOR, '.ctl[data-name="oven1"] .pv')
        assert curve.get_attribute("points").count(",") >= 2, "no curve drawn"
        if shot:
            driver.save_screenshot(shot)
        print("page ok")
    finally:
        if driver:
            driver.quit()
        for process in (recorder, sim):
            if process:
                process.send_signal(signal.SIGTERM)
                process.wait(WAIT_S)


if __name__ == "__main__":
    main()
