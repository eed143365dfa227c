"""Bjøntegaard deltas: the PCHIP integral by hand, the deltas of curves that
differ by a known factor or offset, and a dataset whose coder families
reach the tables, with what cannot be compared named and left out."""

import json
import re

import pytest

from morvex import rd
from morvex.dataset import DatasetError, load
from morvex.eval import evaluate


def test_pchip_integral_by_hand():
    # Slopes: 1.5 at the ends (three-point formula), 0 inside (the flat piece stays flat).
    x, y = [0.0, 1.0, 2.0, 3.0], [0.0, 1.0, 1.0, 2.0]
    assert list(rd.pchip_slopes(x, y)) == [1.5, 0.0, 0.0, 1.5]
    assert rd.pchip_integral(x, y, 0.0, 3.0) == pytest.approx(0.625 + 1 + 1.375, abs=1e-12)
    # From 0.5: the first piece's part is 0.625 - 0.1796875; to 2.5: the last's 0.5546875.
    assert rd.pchip_integral(x, y, 0.5, 2.5) == pytest.approx(0.4453125 + 1 + 0.5546875, abs=1e-12)


def test_pchip_keeps_a_monotone_curve_monotone():
    x, y = [0.0, 1.0, 1.2, 4.0, 5.0], [0.0, 0.1, 3.0, 3.1, 8.0]
    d = rd.pchip_slopes(x, y)
    assert all(slope >= 0 for slope in d)
    # Each piece's slope at its ends lies within three times its secant's: no overshoot.
    for k in range(len(x) - 1):
        secant = (y[k + 1] - y[k]) / (x[k + 1] - x[k])
        assert d[k] <= 3 * secant + 1e-12 and d[k + 1] <= 3 * secant + 1e-12


ANCHOR = [(1000.0, 40.1), (1800.0, 43.5), (3200.0, 52.0), (6000.0, 79.6)]


def test_rates_times_1_1_cost_ten_percent_and_a_score_offset_is_the_bd_score():
    scaled = [(1.1 * rate, score) for rate, score in ANCHOR]
    bd_rate, bd_score = rd.bjontegaard(ANCHOR, scaled)
    assert bd_rate == pytest.approx(10.0, abs=1e-9) and bd_score < 0
    assert rd.bjontegaard(scaled, ANCHOR)[0] == pytest.approx(100 / 1.1 - 100, abs=1e-9)
    bd_rate, bd_score = rd.bjontegaard(ANCHOR, [(rate, score + 1.5) for rate, score in ANCHOR])
    assert bd_score == pytest.approx(1.5, abs=1e-12) and bd_rate < 0


@pytest.mark.parametrize("points, message", [
    (ANCHOR[:3], "the anchor has 4 usable rate points, the family 3; 4 each are needed"),
    ([(1000.0, 40.1), (1800.0, 39.0), (3200.0, 52.0), (6000.0, 79.6)],
     "the score of the family does not rise with its rate: 40.1 at 1000 bits, 39 at 1800"),
    ([(r * 100, s) for r, s in ANCHOR], "their scores or rates do not overlap"),
])
def test_curves_that_cannot_be_compared_say_why(points, message):
    with pytest.raises(ValueError, match=message):
        rd.bjontegaard(ANCHOR, points)


def test_a_dataset_of_coder_families(coded):
    document = json.loads((coded.outdir / "results.json").read_text())
    families = document["rate_distortion"]["families"]
    assert set(families) == {"anchor", "scaled"} and all(f["anchor"] == "anchor" for f in families.values())
    s1 = families["scaled"]["sequences"]["s1"]
    assert s1["bd_rate_percent"] == pytest.approx(10.0, abs=1e-9) and s1["bd_score"] < 0
    assert [p["rate"] for p in families["anchor"]["sequences"]["s1"]["points"]] == [1000, 1800, 3200, 6000]
    # On s2 the best methods equal set A: their points are named and left out, too few remain.
    s2 = families["scaled"]["sequences"]["s2"]
    assert s2["bd_rate_percent"] is None and s2["left_out"] == "3 usable rate points; 4 are needed"
    left_out = document["rate_distortion"]["left_out"]
    assert "s2 / a8: scores inf" in left_out and "s2 / x8: scores inf" in left_out
    summary = (coded.outdir / "summary.md").read_text()
    assert "| scaled | +10.0% |" in summary and "| 1 of 2 |" in summary and "| inf [inf, inf] |" in summary
    assert "nan" not in summary + (coded.outdir / "summary.csv").read_text()
    assert "- s2 / family scaled: " in summary
    assert (coded.outdir / "plots" / "rd_s1.svg").stat().st_size > 1000


def test_anchor_option(coded, tmp_path):
    dataset = coded.folder / "dataset.toml"
    with pytest.raises(DatasetError, match=r"--anchor nope: no method has that family; the families are anchor, scaled"):
        evaluate(dataset, tmp_path / "out", anchor="nope")
    evaluation = evaluate(dataset, tmp_path / "out", anchor="scaled", resamples=0, report_frames=0)
    document = evaluation.results["rate_distortion"]
    assert document["anchor"] == "scaled"
    assert document["families"]["anchor"]["sequences"]["s1"]["bd_rate_percent"] == pytest.approx(100 / 1.1 - 100)
    assert "nan" not in (tmp_path / "out" / "summary.md").read_text()


@pytest.mark.parametrize("method, message", [
    ('rate = 5', "methods.m: has a rate but no 'family'; name the coder whose rate point it is"),
    ('family = "f"', "methods.m: gives 'family' with one of 'rate' (bits per frame) or 'bitstream'"),
    ('family = "f"\nrate = -5', "methods.m.rate: is -5; give bits per frame as a number above 0"),
    ('family = "f"\nrate = { s3 = 5 }', "methods.m.rate.s3: names no sequence; the sequences are s1, s2"),
    ('family = "f"\nbitstream = "none/{sequence}.bin"', "methods.m.bitstream: 'none/{sequence}.bin' matches no file"),
    ('family = "f"\nrate = 5\n[report]\nanchor = "g"', "report.anchor: 'g' is no method's family; the families are "
                                                        "anchor, scaled, f"),
    ('family = "f"\nrate = 5\n[report]\nbase = "f"', "report: unknown key 'base'; the keys are anchor"),
])
def test_bad_rate_keys_name_the_entry(coded, tmp_path, method, message):
    text = (coded.folder / "dataset.toml").read_text()
    dataset = coded.folder / "bad.toml"
    dataset.write_text(text.replace('[report]\nanchor = "anchor"\n', "") + "[methods.m]\n" +
                       'depth_left = "c8/{sequence}/depth_left.yuv"\ndepth_right = "c8/{sequence}/depth_right.yuv"\n' +
                       method + "\n" + ('[report]\nanchor = "anchor"\n' if "[report]" not in method else ""))
    with pytest.raises(DatasetError, match=re.escape(message)):
        load(dataset)
