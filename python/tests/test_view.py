"""evaluate_view and depth_to_disparity: worked numbers, and the same views
as score() computes."""

import numpy as np
import pytest

import morvex


def worked_example(disparity_step):
    """The search's worked row at columns 8..15 of an 8x64 frame: pixel 11
    has disparity 2 in set A and 0 in set B. A disparity step of both sets
    right of it (columns 16 on) puts pixel 11 on a disparity edge."""
    view = np.zeros((8, 64), np.float32)
    disp_a = np.zeros((8, 64), np.float32)
    disp_b = np.zeros((8, 64), np.float32)
    view[:, 8:16] = [10, 20, 30, 40, 50, 60, 70, 80]
    disp_a[:, 8:16] = [0, 0, 0, 2, 0, 0, 0, 0]
    disp_b[:, 8:16] = [0, 0, 0, 0, 1, 1, 0, 0]
    if disparity_step:
        disp_a[:, 16:] = disp_b[:, 16:] = 40
    return view, disp_a, disp_b


@pytest.mark.parametrize("disparity_step, self_value, invading_value", [
    (False, 60.0, 20.0),         # one sample each
    (True, 51.5536, 26.6667),    # two more correction steps at an edge
])
def test_worked_example(disparity_step, self_value, invading_value):
    result = morvex.evaluate_view(*worked_example(disparity_step), maps=True)
    maps = result.maps
    # An error is ((view - synthesised) / 255)^2; the view is 40 at pixel 11.
    for row in range(8):
        assert 40 + 255 * np.sqrt(maps["matSelfSim"][row, 11]) == pytest.approx(self_value, abs=1e-4)
        assert 40 - 255 * np.sqrt(maps["matInvadSim"][row, 11]) == pytest.approx(invading_value, abs=1e-4)
        assert maps["matValidSelf"][row, 11] == maps["matValidInvad"][row, 11] == 1.0
    # Pixels with equal disparities keep their value and count, with error 0.
    assert (maps["matSelfSim"][:, :11] == 0).all() and (maps["matValidSelf"][:, :11] == 1).all()
    assert result.disagreeing_pixels == 3 * 8  # columns 11, 12 and 13 of each row


def test_maps_are_the_pooled_ones(make_scene):
    left, _, depth_a, _, depth_b, _ = make_scene(96, 64).frames(0)
    camera = morvex.Camera.from_file(make_scene(96, 64).camera_path)
    result = morvex.evaluate_view(left.astype(np.float32), morvex.depth_to_disparity(depth_a, camera, "L"),
                                  morvex.depth_to_disparity(depth_b, camera, "L"), maps=True)
    m = {name: array.astype(np.float64) for name, array in result.maps.items()}
    assert all(array.shape == (64, 96) and array.dtype == np.float32 for array in result.maps.values())
    counted_self, counted_invading = m["matValidSelf"] == 1, m["matValidInvad"] == 1
    assert result.counted_pixels == counted_self.sum() + counted_invading.sum()
    weighted = (m["matSelfSim"] * m["matSelfWeight"])[counted_self].sum() + \
        (m["matInvadSim"] * m["matInvadWeight"])[counted_invading].sum()
    weights = m["matSelfWeight"][counted_self].sum() + m["matInvadWeight"][counted_invading].sum()
    assert weighted / weights == pytest.approx(result.error, rel=1e-6)


def test_views_of_converted_depth_maps_are_the_views_of_the_score(make_scene):
    scene = make_scene(130, 74)
    left, right, depth_left_a, depth_right_a, depth_left_b, depth_right_b = scene.frames(1)
    camera = morvex.Camera.from_file(scene.camera_path)
    pair = morvex.score(left, right, depth_left_a, depth_right_a, depth_left_b, depth_right_b, camera)
    for side, view, depth_a, depth_b, expected in (("L", left, depth_left_a, depth_left_b, pair.left),
                                                    ("R", right, depth_right_a, depth_right_b, pair.right)):
        result = morvex.evaluate_view(view.astype(np.float32), morvex.depth_to_disparity(depth_a, camera, side),
                                      morvex.depth_to_disparity(depth_b, camera, side))
        assert result.maps is None
        assert (result.error, result.counted_pixels, result.disagreeing_pixels) == \
            (expected.error, expected.counted_pixels, expected.disagreeing_pixels)


def test_a_view_with_nothing_to_compare_has_error_nan():
    view, disp_a, _ = worked_example(False)
    result = morvex.evaluate_view(view, disp_a + 1000, disp_a - 1000)
    assert np.isnan(result.error) and result.counted_pixels == 0


@pytest.mark.parametrize("camera, left, right", [
    # gain = focal length x baseline (-5 and 5); 255 stands for the near depth.
    ((50, 500, 50, 500, 320, 319.5, 319.5, 0, 10), {255: -32, 0: -3}, {255: 32, 0: 3}),
    # Near = far: every value gives gain / far, +-3.5 and +-2.5: halves to even.
    ((1, 1, 1, 1, 1, 0, 0, 0, 7), {0: -4, 255: -4}, {0: 4, 255: 4}),
    ((1, 1, 1, 1, 1, 0, 0, 0, 5), {0: -2, 255: -2}, {0: 2, 255: 2}),
    # Equal positions: only the shift to the middle principal point is left.
    ((50, 500, 50, 500, 320, 100, 104, 3, 3), {0: 2, 255: 2}, {0: -2, 255: -2}),
])
def test_depth_to_disparity_values(camera, left, right):
    depth = np.array([[0, 255], [255, 0]], np.uint8)
    for side, expected in (("L", left), ("R", right)):
        disparity = morvex.depth_to_disparity(depth, camera, side)
        assert disparity.dtype == np.float32 and disparity.shape == (2, 2)
        assert disparity.tolist() == [[expected[0], expected[255]], [expected[255], expected[0]]]
