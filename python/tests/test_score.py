"""morvex.score() gives the command line's numbers for the same images."""

import numpy as np
import pytest

import morvex
from conftest import command_line_json


def assert_same_result(result, expected):
    assert result.score_text == expected["score_text"]
    if expected["score"] is None:
        assert not np.isfinite(result.score)
    else:
        assert np.float32(expected["score"]) == result.score
    for view, fields in ((result.left, expected["left"]), (result.right, expected["right"])):
        assert np.float32(fields["error"]) == view.error
        assert view.counted_pixels == fields["counted_pixels"]
        assert view.disagreeing_pixels == fields["disagreeing_pixels"]


@pytest.mark.parametrize("size", [(96, 64), (130, 74)])
def test_scene_frames_score_as_on_the_command_line(make_scene, tmp_path, size):
    scene = make_scene(*size)
    for k in range(2):
        images = scene.frames(k)
        result = morvex.score(*images, scene.camera_path)
        assert_same_result(result, command_line_json(tmp_path, images, scene.camera_path))
        assert np.isfinite(result.score) and result.left.disagreeing_pixels > 0


def test_identical_sets_score_inf(make_scene, tmp_path):
    left, right, depth_left, depth_right, _, _ = make_scene(96, 64).frames(0)
    images = [left, right, depth_left, depth_right, depth_left, depth_right]
    result = morvex.score(*images, make_scene(96, 64).camera_path)
    assert result.score == float("inf") and result.score_text == "inf"
    assert result.left.error == 0.0 and result.right.disagreeing_pixels == 0
    assert_same_result(result, command_line_json(tmp_path, images, make_scene(96, 64).camera_path))


def test_every_form_of_the_camera_gives_the_same_result(make_scene):
    scene = make_scene(96, 64)
    images = scene.frames(1)
    values = scene.camera_values
    results = [
        morvex.score(*images, camera)
        for camera in (str(scene.camera_path), scene.camera_path, morvex.Camera.from_file(scene.camera_path),
                       values, tuple(values), np.array(values), morvex.Camera(*values))
    ]
    for result in results[1:]:
        assert repr(result) == repr(results[0])
        assert (result.score, result.left.error, result.right.error) == \
            (results[0].score, results[0].left.error, results[0].right.error)


def layouts(image):
    """The same pixels in other memory layouts: rows with padding between them
    (shared as they are), and layouts a cv::Mat cannot share (copied)."""
    padded = np.zeros((image.shape[0], image.shape[1] + 13), image.dtype)
    padded[:, 5 : 5 + image.shape[1]] = image
    upside_down = np.ascontiguousarray(image[::-1])
    read_only = image.copy()
    read_only.setflags(write=False)
    every_other = np.repeat(image, 2, axis=1)
    return {
        "padded rows": padded[:, 5 : 5 + image.shape[1]],
        "negative row step": upside_down[::-1],
        "column order": np.asfortranarray(image),
        "every other column": every_other[:, ::2],
        "read-only": read_only,
    }


def test_memory_layout_does_not_change_the_result(make_scene):
    scene = make_scene(96, 64)
    images = scene.frames(0)
    expected = morvex.score(*images, scene.camera_path)
    for name in layouts(images[0]):
        laid_out = [layouts(image)[name] for image in images]
        assert all(np.array_equal(a, b) for a, b in zip(laid_out, images))
        result = morvex.score(*laid_out, scene.camera_path)
        assert (result.score, result.left.error, result.right.error, result.left.counted_pixels) == \
            (expected.score, expected.left.error, expected.right.error, expected.left.counted_pixels), name
