"""The disparity errors beside the score, in worked numbers. test_score.py
checks that morvex.score, the tool's --json and evaluate_view on converted
depth maps give the same counts."""

import numpy as np
import pytest

import morvex


@pytest.mark.parametrize("differences, over_1, over_2, mean", [
    ({1: 10, -2: 5, 3: 2}, 7, 2, 26 / 64),  # 1 is not over 1; -2 is over 1, not over 2
    ({-7: 64}, 64, 64, 7.0),
    ({}, 0, 0, 0.0),
])
def test_worked_numbers(differences, over_1, over_2, mean):
    disp_a = np.full((8, 8), 2, np.float32)
    disp_b = disp_a.copy()
    at = 0
    for difference, count in differences.items():
        disp_b.flat[at : at + count] += difference
        at += count
    view = morvex.evaluate_view(np.arange(64, dtype=np.float32).reshape(8, 8) * 3, disp_a, disp_b)
    assert (view.pixels, view.differ_over_1, view.differ_over_2, view.mean_abs_difference) == (64, over_1, over_2, mean)
    assert (view.share_over_1, view.share_over_2) == (over_1 / 64, over_2 / 64)

