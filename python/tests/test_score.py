"""morvex.score() gives the command line's numbers for the same images, to
the bit, on arrays of any memory layout and on many threads at once;
evaluate_view and depth_to_disparity give its views; the disparity errors
beside the score in worked numbers."""

import concurrent.futures
import json
import random

import numpy as np
import pytest

import morvex
from conftest import outcome, run_tool, write_pair


@pytest.mark.parametrize("size, frame, identical, camera", [  # the camera as a path, as values and as a morvex.Camera
    ((96, 64), 0, False, lambda scene: str(scene.camera_path)),
    ((130, 74), 1, False, lambda scene: np.array(scene.camera_values)),
    ((96, 64), 1, True, lambda scene: morvex.Camera(*scene.camera_values))])
def test_scene_frames_score_as_on_the_command_line(make_scene, tmp_path, size, frame, identical, camera):
    scene = make_scene(*size)
    images = scene.frames(frame)
    if identical:
        images[4:] = images[2:4]
    run = run_tool("--json", *write_pair(tmp_path, images), scene.camera_path)
    assert run.returncode == 0, run.stderr
    expected = json.loads(run.stdout)
    result = morvex.score(*images, camera(scene))
    assert result.score_text == expected["score_text"]
    assert result.score == (float("inf") if identical else np.float32(expected["score"]))
    shares = ("share_over_1", "share_over_2", "mean_abs_difference")
    for view, fields in ((result.left, expected["left"]), (result.right, expected["right"])):
        assert (view.error, view.counted_pixels, view.disagreeing_pixels) == \
            (np.float32(fields["error"]), fields["counted_pixels"], fields["disagreeing_pixels"])
        assert [fields[key] for key in shares] == [float("%.9g" % getattr(view, key)) for key in shares]
    assert (result.left.disagreeing_pixels == 0) == identical
    # Rows with gaps between them are used in place, a negative row step is copied: the same result.
    padded = [np.pad(image, ((0, 0), (5, 8)))[:, 5:-8] for image in images]
    upside_down = [np.ascontiguousarray(image[::-1])[::-1] for image in images]
    for laid_out in (padded, upside_down):
        assert outcome(morvex.score(*laid_out, scene.camera_path)) == outcome(result)


def test_threads_give_the_results_of_one_thread(make_scene):
    calls = []  # score and conversion calls on frames of three sizes, with the scene's camera and another one
    for size in ((96, 64), (130, 74), (64, 48)):
        scene = make_scene(*size)
        values = scene.camera_values[:4] + [scene.camera_values[4] * 1.5, scene.camera_values[5] + 2,
                                            scene.camera_values[6] - 1] + scene.camera_values[7:]
        for camera in (morvex.Camera.from_file(scene.camera_path), values):
            for k in range(2):
                calls.append((morvex.score, (*scene.frames(k), camera)))
                calls.append((morvex.depth_to_disparity, (scene.frames(k)[4], camera, "R")))

    def call_outcome(i):
        result = calls[i][0](*calls[i][1])
        return result.tobytes() if isinstance(result, np.ndarray) else outcome(result)

    expected = [call_outcome(i) for i in range(len(calls))]
    order = list(range(len(calls))) * 3
    random.Random(5).shuffle(order)
    with concurrent.futures.ThreadPoolExecutor(max_workers=6) as pool:
        for i, result in zip(order, pool.map(call_outcome, order)):
            assert result == expected[i], calls[i]
    assert expected[0] != expected[4]  # the second camera does change the results


def test_views_of_converted_depth_maps_are_the_views_of_the_score(make_scene):
    scene = make_scene(130, 74)
    left, right, depth_left_a, depth_right_a, depth_left_b, depth_right_b = scene.frames(1)
    camera = morvex.Camera.from_file(scene.camera_path)
    # Back: the nearest whole disparity, then the nearest unrounded one (-10.5: -11 from 65's -10.54).
    assert morvex.disparity_to_depth(np.array([[-3, -32.4, -10.5, np.nan]], np.float32),
                                     (50, 500, 50, 500, 320, 319.5, 319.5, 0, 10), "L").tolist() == [[0, 255, 65, 0]]
    steps = np.linspace(-30, 30, 130 * 74, dtype=np.float32).reshape(74, 130)
    for side, depth in (("L", depth_left_b), ("R", depth_right_b)):
        disparity = morvex.depth_to_disparity(depth, camera, side)
        assert np.array_equal(morvex.depth_to_disparity(morvex.disparity_to_depth(disparity, camera, side),
                                                        camera, side), disparity)
        every = morvex.depth_to_disparity(np.arange(256, dtype=np.uint8).reshape(1, 256), camera, side)
        nearest = np.abs(every.reshape(1, 1, 256) - steps[:, :, None]).min(axis=2)
        back = morvex.depth_to_disparity(morvex.disparity_to_depth(steps, camera, side), camera, side)
        assert np.array_equal(np.abs(back - steps), nearest)
    pair = morvex.score(left, right, depth_left_a, depth_right_a, depth_left_b, depth_right_b, camera)
    for side, view, depth_a, depth_b, expected in (("L", left, depth_left_a, depth_left_b, pair.left),
                                                    ("R", right, depth_right_a, depth_right_b, pair.right)):
        result = morvex.evaluate_view(view.astype(np.float32), morvex.depth_to_disparity(depth_a, camera, side),
                                      morvex.depth_to_disparity(depth_b, camera, side), maps=side == "L")
        fields = ("error", "counted_pixels", "disagreeing_pixels", "pixels", "differ_over_1", "differ_over_2",
                  "abs_difference_sum")
        assert [getattr(result, f) for f in fields] == [getattr(expected, f) for f in fields]
        assert expected.differ_over_2 > 0 and expected.abs_difference_sum > expected.differ_over_1
        assert result.maps is None if side == "R" else \
            all(array.shape == (74, 130) and array.dtype == np.float32 for array in result.maps.values())


def test_disparity_errors_in_worked_numbers():
    disp_a = np.full((8, 8), 2, np.float32)
    disp_b = disp_a.copy()
    disp_b.flat[:17] += [1] * 10 + [-2] * 5 + [3] * 2  # 1 is not over 1; -2 is over 1, not over 2
    view = morvex.evaluate_view(np.arange(64, dtype=np.float32).reshape(8, 8) * 3, disp_a, disp_b)
    assert (view.pixels, view.differ_over_1, view.differ_over_2, view.mean_abs_difference) == (64, 7, 2, 26 / 64)
    assert (view.share_over_1, view.share_over_2) == (7 / 64, 2 / 64)

