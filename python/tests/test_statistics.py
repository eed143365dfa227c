"""The intervals of pooled scores and of paired differences: they cover the
true value at about the stated rate, one equals a hand computation, and
perfect frames (score inf) give bounds, not nan."""

import math

import numpy as np
import pytest

import morvex
from morvex import stats, tables


def frame(k, error_left, error_right):
    return {"frame": k, "score": morvex.combine_view_errors(error_left, error_right), "error_left": error_left,
            "error_right": error_right, **{f"{field}_{side}": 1 for field in ("pixels", "differ_over_1",
                                                                            "differ_over_2", "abs_difference_sum")
                                           for side in ("left", "right")}}


def pair(sequence, method, errors):
    frames = [frame(k, float(np.float32(left)), float(np.float32(right))) for k, (left, right) in enumerate(errors)]
    return {"sequence": sequence, "method": method, "status": "scored", "frames": frames,
            "pooled": tables.pool(frames)}


def test_intervals_cover_the_true_value_at_the_stated_rate():
    """Frames whose errors have a known mean, which gives the true pooled score.
    Method b's errors are method a's, scaled and a little perturbed: unpaired
    resampling would cover their difference nearly always, a wrong quantile
    too seldom. With 40 frames the intervals cover about 93% of the time."""
    rng = np.random.default_rng(5)
    mean = {"s1": math.exp(-6 + 0.4 ** 2 / 2), "s2": math.exp(-5 + 0.4 ** 2 / 2)}
    truth = {s: morvex.combine_view_errors(m, m) for s, m in mean.items()}
    truth_b = {s: morvex.combine_view_errors(0.8 * m, 0.8 * m) for s, m in mean.items()}
    covered = {"sequence": 0, "mean": 0, "difference": 0}
    runs = 300
    for _ in range(runs):
        pairs = []
        for sequence, mu in (("s1", -6), ("s2", -5)):
            errors = rng.lognormal(mu, 0.4, size=(40, 2))
            pairs.append(pair(sequence, "a", errors))
            pairs.append(pair(sequence, "b", 0.8 * errors * rng.uniform(0.97, 1.03, size=errors.shape)))
        result = stats.confidence(pairs, ["s1", "s2"], ["a", "b"], resamples=400)
        low, high = result["intervals"]["s1", "a"]
        covered["sequence"] += low <= truth["s1"] <= high
        low, high = result["mean_intervals"]["a"]
        covered["mean"] += low <= (truth["s1"] + truth["s2"]) / 2 <= high
        compared = next(c for c in result["comparisons"] if c["sequence"] == "s2")
        low, high = compared["interval"]
        covered["difference"] += low <= truth["s2"] - truth_b["s2"] <= high
    for name, count in covered.items():
        assert 0.88 <= count / runs <= 0.98, (name, count / runs)


def test_an_interval_and_a_comparison_by_hand():
    """Two frames, a and b: a resample is aa, ab, ba or bb, each at least a
    quarter of the time, so the 51st lowest and highest of 2000 resampled
    scores are the pooled scores of aa and bb: frame a's and frame b's."""
    x = pair("s", "x", [(0.004, 0.002), (0.001, 0.003)])
    y = pair("s", "y", [(0.002, 0.002), (0.002, 0.006)])
    result = stats.confidence([x, y], ["s"], ["x", "y"])
    assert result["resamples"] == 2000
    score = lambda errors: morvex.combine_view_errors(*errors)
    assert result["intervals"]["s", "x"] == sorted([score((0.004, 0.002)), score((0.001, 0.003))])
    # x is lower on frame a, higher on frame b and on the two pooled.
    atoms = [score((0.004, 0.002)) - score((0.002, 0.002)), score((0.001, 0.003)) - score((0.002, 0.006)),
             x["pooled"]["score"] - y["pooled"]["score"]]
    assert atoms[0] < 0 < atoms[1] and atoms[2] > 0
    (compared,) = [c for c in result["comparisons"] if c["sequence"] == "s"]
    assert compared["interval"] == [min(atoms), max(atoms)]
    assert compared["difference"] == atoms[2]
    assert compared["first_higher"] == pytest.approx(0.75, abs=0.04)


def test_perfect_frames_give_inf_bounds_and_no_nan():
    perfect = pair("s", "truth", [(0.0, 0.0)] * 6)
    mostly = pair("s", "mostly", [(0.0, 0.0)] * 5 + [(0.004, 0.002)])
    twin = pair("s", "twin", [(0.0, 0.0)] * 6)
    result = stats.confidence([perfect, mostly, twin], ["s"], ["truth", "mostly", "twin"], resamples=500)
    assert result["intervals"]["s", "truth"] == [math.inf, math.inf]
    low, high = result["intervals"]["s", "mostly"]  # a third of resamples draw only perfect frames
    assert math.isfinite(low) and high == math.inf
    by_pair = {(c["first"], c["second"]): c for c in result["comparisons"] if c["sequence"] == "s"}
    assert by_pair["truth", "twin"]["interval"] == [0.0, 0.0] and by_pair["truth", "twin"]["first_higher"] == 0
    assert by_pair["truth", "mostly"]["interval"][1] == math.inf


@pytest.mark.parametrize("score, bounds, text", [
    (51.3812, [49.93, 52.71], "51.38 [49.9, 52.7]"),
    (51.3812, [51.3502, 51.4123], "51.3812 [51.350, 51.412]"),
    (-6.99, [-8.02, -5.76], "-6.99 [-8.0, -5.8]"),
    (88.0, [87.0, math.inf], "88 [87, inf]"),
    (40.5, None, "40.5"),
])
def test_interval_text_rounds_to_the_intervals_width(score, bounds, text):
    assert stats.interval_text(score, bounds) == text
