"""OUTDIR/report.html: its heat maps are those of each sequence's worst
frames, written as PNG the readers read back; and, in headless Chromium,
the page fetches nothing from anywhere, sorts, shows every image and names
the frame of a curve's point."""

import importlib.util
import json
import os
import pathlib
import re
import shutil
import tempfile
import time

import numpy as np
import pytest

import morvex
from morvex import report
from morvex.eval import evaluate

CHROMIUM, DRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--no-first-run", "--window-size=1280,1000"]


def test_worst_frames_are_where_the_lowest_score_of_any_method_falls():
    def pair(method, scores, status="scored"):
        return {"sequence": "s", "method": method, "status": status,
                "frames": [{"frame": k + 10, "score": s} for k, s in enumerate(scores)]}

    pairs = [pair("a", [50, 40, 60, 45]), pair("b", [30, 70, float("inf"), 44]), pair("c", [1, 1, 1, 1], "failed")]
    assert report.worst_frames(pairs, "s", 3) == [10, 11, 13]
    assert report.worst_frames(pairs, "s", 0) == [] and report.worst_frames(pairs, "t", 3) == []


def test_png_reads_back_as_written(tmp_path):
    grey = np.random.default_rng(1).integers(0, 256, size=(7, 13), dtype=np.uint8)
    for image in (grey, np.stack([grey] * 3, axis=2)):  # equal channels read back exactly
        (tmp_path / "image.png").write_bytes(report.png(image))
        assert np.array_equal(morvex.read_image(tmp_path / "image.png", "depth_left_a"), grey)


def test_heat_maps_of_the_worst_frames(coded, tmp_path):
    page = (coded.outdir / "report.html").read_text()
    shown = re.findall(r'src="heatmaps/(s\d+_f\d+_\w+?)(?:_m\d+)?\.png"', page)
    for i, sequence in enumerate(("s1", "s2")):
        worst = report.worst_frames(coded.evaluation.pairs, sequence, 2)
        assert sorted({name for name in shown if name.startswith(f"s{i}_")}) == sorted(
            f"s{i}_f{k}_{view}" for k in worst for view in ("left", "right"))
    files = sorted(p.name for p in (coded.outdir / "heatmaps").iterdir())
    # s1: 9 methods and the view; s2: broken failed. Two frames, two views.
    assert len(files) == 2 * 2 * (10 + 9) and sorted(re.findall(r'src="heatmaps/([^"]+)"', page)) == files
    # A second run takes the cache and makes fewer: the others' files go.
    out = tmp_path / "out"
    shutil.copytree(coded.outdir, out)
    evaluation = evaluate(coded.folder / "dataset.toml", out, report_frames=1, resamples=0)
    assert evaluation.scored == 0 and len(list((out / "heatmaps").iterdir())) == len(files) // 2
    assert "Paired comparisons" not in (out / "report.html").read_text()


def browser_missing():
    if not os.environ.get("MORVEX_EVAL_TESTS"):
        return "scripts/test runs it with the installed package, beside the dataset tests"
    if not (os.path.exists(CHROMIUM) and os.path.exists(DRIVER)):
        return f"needs {CHROMIUM} and {DRIVER}: Debian's chromium and chromium-driver (scripts/setup installs them)"
    if importlib.util.find_spec("selenium") is None:
        return "needs Selenium: Debian's python3-selenium (scripts/setup installs it)"
    return None


@pytest.mark.skipif(browser_missing() is not None, reason=str(browser_missing()))
def test_report_in_headless_chromium(coded):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By

    started = time.monotonic()
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    profile = tempfile.mkdtemp()
    for flag in FLAGS + [f"--user-data-dir={profile}"]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    try:
        page = (coded.outdir / "report.html").as_uri()
        driver.get(page)

        console = [entry for entry in driver.get_log("browser") if entry["level"] in ("SEVERE", "WARNING")]
        assert console == []
        events = [json.loads(entry["message"])["message"] for entry in driver.get_log("performance")]
        sent = [e["params"] for e in events if e["method"] == "Network.requestWillBeSent"]
        sent = sent[[r["request"]["url"] for r in sent].index(page):]  # before it, the browser's own start page
        assert all(r["request"]["url"].startswith("file://") for r in sent), [r["request"]["url"] for r in sent]
        ours = {r["requestId"] for r in sent}
        assert [e["params"] for e in events if e["method"] == "Network.loadingFailed"
                and e["params"]["requestId"] in ours] == []

        images = driver.execute_script("return Array.from(document.images).map("
                                       "i => [i.getAttribute('src'), i.complete && i.naturalWidth > 0])")
        assert len(images) == 1 + 2 + len(list((coded.outdir / "heatmaps").iterdir()))  # pooled, rate per sequence
        assert [src for src, loaded in images if not loaded] == []

        methods = list(coded.evaluation.results["methods"])
        names = lambda: [row.find_element(By.TAG_NAME, "td").text
                         for row in driver.find_elements(By.CSS_SELECTOR, "#summary-table tbody tr")]
        assert names() == methods
        scores = {row["method"]: row["scores"] for row in coded.evaluation.summary}
        header = lambda text: driver.find_element(By.XPATH, f"//table[@id='summary-table']//th[text()='{text}']")
        on_s1 = lambda: [scores[m]["s1"] for m in names()]
        header("s1").click()
        assert on_s1() == sorted(on_s1(), reverse=True) and names() != methods
        header("s1").click()
        assert on_s1() == sorted(on_s1())
        header("s2").click()  # highest first; the failed pair last
        assert names()[-1] == "broken" and names()[0] in ("a8", "x8")
        failures = driver.find_element(By.CSS_SELECTOR, "#summary ul.failures").text
        assert "s2 / broken: " in failures and "no such file" in failures

        # The last method's line is drawn on top (a64 and broken share their maps on s1).
        for index, frame in ((0, 0), (-1, 3)):
            point = driver.find_elements(By.CSS_SELECTOR, f"g[id='frames-0-{len(methods) - 1}'] use")[index]
            ActionChains(driver).move_to_element(point).perform()
            tip = driver.find_element(By.ID, "tip")
            assert tip.is_displayed() and tip.text.startswith(f"broken: frame {frame}, score "), tip.text

        # The page's policy refuses a request that its own script makes.
        refused = driver.execute_async_script(
            "const done = arguments[0];"
            "document.addEventListener('securitypolicyviolation', e => done(e.effectiveDirective));"
            "fetch('http://127.0.0.1:9/').catch(() => {});")
        assert refused == "connect-src"
        driver.save_screenshot(str(coded.outdir / "report.png"))
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)
    assert pathlib.Path(coded.outdir / "report.png").stat().st_size > 10000
    assert time.monotonic() - started < 30
