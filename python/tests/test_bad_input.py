"""Bad input raises ValueError or TypeError, in the command line's words
where it has them, and never takes the interpreter down."""

import numpy as np
import pytest

import morvex
from conftest import command_line_error, run_tool

CAMERA = [50.0, 500.0, 50.0, 500.0, 64.0, 31.5, 31.5, 0.0, 10.0]


def pair(height=48, width=64):
    rng = np.random.default_rng(7)
    view = rng.integers(0, 256, (height, width), np.uint8)
    depth = rng.integers(100, 160, (height, width), np.uint8)
    return [view, view.copy(), depth, depth.copy(), depth // 2, depth // 2]


def raised(call, *args):
    with pytest.raises((ValueError, TypeError)) as error:
        call(*args)
    return error.type, str(error.value)


def with_values(camera, **changes):
    values = list(camera)
    for index, value in changes.items():
        values[int(index[1:])] = value
    return values


@pytest.mark.parametrize("camera", [
    with_values(CAMERA, v0=0.0),                  # near depth of the left camera
    with_values(CAMERA, v3=-5.0),                 # far depth of the right camera
    with_values(CAMERA, v4=float("nan")),         # focal length
    with_values(CAMERA, v8=1e39),                 # beyond the float range: inf
    with_values(CAMERA, v7=3e38, v8=3e38),        # their sum is beyond it
    with_values(CAMERA, v4=1e6),                  # every pixel leaves the image
])
def test_camera_values_as_on_the_command_line(tmp_path, camera):
    message = command_line_error(tmp_path, pair(), camera)
    assert message.startswith("camera (camera file): ")
    assert raised(morvex.score, *pair(), camera) == (ValueError, message)
    if "no pixel" not in message:
        assert raised(morvex.Camera, *camera) == (ValueError, message)


@pytest.mark.parametrize("index, shape", [
    (5, (40, 64)),   # depth_right_b has fewer rows
    (1, (48, 60)),   # right is narrower
])
def test_sizes_that_differ_as_on_the_command_line(tmp_path, index, shape):
    images = pair()
    images[index] = images[index][: shape[0], : shape[1]]
    message = command_line_error(tmp_path, images, CAMERA)
    assert raised(morvex.score, *images, CAMERA) == (ValueError, message)


@pytest.mark.parametrize("height, width", [(48, 7), (7, 64), (0, 0)])
def test_images_under_8_pixels_as_on_the_command_line(tmp_path, height, width):
    images = pair(height, width)
    expected = f"left (left view): is {width}x{height}; images must be at least 8 pixels wide and high"
    if height > 0:
        assert command_line_error(tmp_path, images, CAMERA) == expected
    assert raised(morvex.score, *images, CAMERA) == (ValueError, expected)


def test_camera_files_as_on_the_command_line(tmp_path):
    short = tmp_path / "short.txt"
    short.write_text("50 500 50\n")
    for path in (tmp_path / "missing.txt", tmp_path, short):
        run = run_tool(*([tmp_path / "unread.png"] * 6), path)
        message = run.stderr.strip().removeprefix("morvex: ")
        assert raised(morvex.Camera.from_file, path) == (ValueError, message)
        assert raised(morvex.score, *pair(), str(path)) == (ValueError, message)


def test_arguments_the_command_line_cannot_be_given():
    images = pair()
    big_endian = images[0].astype(">f4")
    floats = [image.astype(np.float32) for image in images[:3]]
    cases = [
        (morvex.score, [images[0].tolist()] + images[1:] + [CAMERA],
         TypeError, "left (left view): is a list, not a numpy array"),
        (morvex.score, images[:2] + [None] + images[3:] + [CAMERA],
         TypeError, "depth_left_a (depth map of the left view, set A): is a NoneType, not a numpy array"),
        (morvex.score, images[:5] + [images[5].astype(np.float32), CAMERA],
         TypeError, "depth_right_b (depth map of the right view, set B): is a float32 array; "
                    "images must be uint8 (8-bit grey)"),
        (morvex.score, [np.stack([images[0]] * 3, axis=2)] + images[1:] + [CAMERA],
         ValueError, "left (left view): has shape (48, 64, 3); it must be 2-D: rows, columns, one value per pixel"),
        (morvex.score, [images[0], images[1].ravel()] + images[2:] + [CAMERA],
         ValueError, "right (right view): has shape (3072,); it must be 2-D: rows, columns, one value per pixel"),
        (morvex.score, images + [CAMERA[:8]],
         ValueError, "camera (camera file): needs nine numbers (near and far depth of each camera, focal length, "
                     "both principal points, both camera positions), but 8 were given"),
        (morvex.score, images + [CAMERA[:4] + ["320"] + CAMERA[5:]],
         TypeError, "camera: focal_length is a str, not a number"),
        (morvex.score, images + [None],
         TypeError, "camera: is a NoneType; give a morvex.Camera, the path of a camera file or the nine camera values"),
        (morvex.evaluate_view, [floats[0].astype(np.float64)] + floats[1:],
         TypeError, "view: is a float64 array; views and disparity maps must be float32"),
        (morvex.evaluate_view, [floats[0], big_endian, floats[2]],
         TypeError, "disp_a: is a >f4 array; views and disparity maps must be float32"),
        (morvex.evaluate_view, floats[:2] + [floats[2][:40]],
         ValueError, "disp_b: is 64x40 but the view is 64x48"),
        (morvex.evaluate_view, [f[:, :7] for f in floats],
         ValueError, "view: is 7x48; images must be at least 8 pixels wide and high"),
        (morvex.depth_to_disparity, [images[2], CAMERA, "left"],
         ValueError, "side: is 'left'; it must be 'L' (the left camera) or 'R' (the right camera)"),
        (morvex.depth_to_disparity, [images[2].astype(np.int8), CAMERA, "L"],
         TypeError, "depth: is a int8 array; images must be uint8 (8-bit grey)"),
    ]
    for call, args, error, message in cases:
        assert raised(call, *args) == (error, message)


def test_an_empty_depth_map_gives_an_empty_disparity_map():
    for shape in ((0, 5), (5, 0)):
        disparity = morvex.depth_to_disparity(np.zeros(shape, np.uint8), CAMERA, "R")
        assert disparity.shape == shape and disparity.dtype == np.float32
