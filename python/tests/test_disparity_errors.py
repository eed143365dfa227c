"""The disparity errors beside the score: worked numbers, and the same counts
from 8-bit depth maps (morvex.score, the tool's --json) as from float
disparities (evaluate_view)."""

import json

import numpy as np
import pytest

import morvex
from conftest import run_tool, write_pair


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


def test_depth_maps_give_the_counts_of_their_disparities(make_scene, tmp_path):
    scene = make_scene(96, 64)
    images = scene.frames(1)
    result = morvex.score(*images, scene.camera_path)
    tool = json.loads(run_tool("--json", *write_pair(tmp_path, images), scene.camera_path).stdout)
    for side, view, depth_a, depth_b in (("left", images[0], images[2], images[4]),
                                         ("right", images[1], images[3], images[5])):
        disparities = [morvex.depth_to_disparity(d, scene.camera_path, side[0].upper()) for d in (depth_a, depth_b)]
        expected = morvex.evaluate_view(view.astype(np.float32), *disparities)
        got = getattr(result, side)
        fields = ("pixels", "differ_over_1", "differ_over_2", "abs_difference_sum", "error")
        assert [getattr(got, f) for f in fields] == [getattr(expected, f) for f in fields]
        assert got.differ_over_2 > 0 and got.abs_difference_sum > got.differ_over_1
        assert [tool[side][key] for key in ("share_over_1", "share_over_2", "mean_abs_difference")] == \
            [float("%.9g" % getattr(got, key)) for key in ("share_over_1", "share_over_2", "mean_abs_difference")]
