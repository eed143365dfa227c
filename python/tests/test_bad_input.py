"""Bad input raises morvex.InputError (a ValueError) in the command line's
words where the command line would refuse it, ValueError or TypeError for
arguments of the wrong kind, and never takes the interpreter down."""

import numpy as np
import pytest

import morvex
from conftest import run_tool, write_pair

CAMERA = [50.0, 500.0, 50.0, 500.0, 64.0, 31.5, 31.5, 0.0, 10.0]


def pair():
    rng = np.random.default_rng(7)
    view = rng.integers(0, 256, (48, 64), np.uint8)
    depth = rng.integers(100, 160, (48, 64), np.uint8)
    return [view, view.copy(), depth, depth.copy(), depth // 2, depth // 2]


def raised(call, *args):
    with pytest.raises((ValueError, TypeError)) as error:
        call(*args)
    return error.type, str(error.value)


def command_line_error(directory, images, camera_values):
    """The command line's message for these images and camera values, without
    "morvex: " and with each file named as the argument it stands for."""
    (directory / "camera").write_text(" ".join(repr(float(v)) for v in camera_values) + "\n")
    run = run_tool(*write_pair(directory, images), directory / "camera")
    assert run.returncode == 1 and run.stdout == "", run
    return run.stderr.strip().removeprefix("morvex: ").replace(f"{directory}/", "")


@pytest.mark.parametrize("changes, index, rows, columns", [
    ({4: float("nan")}, 0, 48, 64),        # focal length
    ({8: 1e39}, 0, 48, 64),                # beyond the float range: inf
    ({4: 0.3}, 0, 48, 64),                 # every depth value becomes disparity 0
    ({}, 5, 40, 64),                       # depth_right_b has fewer rows
])
def test_messages_as_on_the_command_line(tmp_path, changes, index, rows, columns):
    camera = [changes.get(k, value) for k, value in enumerate(CAMERA)]
    images = pair()
    images[index] = images[index][:rows, :columns]
    message = command_line_error(tmp_path, images, camera)
    assert raised(morvex.score, *images, camera) == (morvex.InputError, message)
    if changes and "view" not in message:
        assert message.startswith("camera (camera file): ")
        assert raised(morvex.Camera, *camera) == (morvex.InputError, message)


def test_colour_depth_maps_and_vanishing_differences_as_on_the_command_line(tmp_path):
    images = pair()
    grey = np.repeat(images[4][:, :, None], 4, axis=2)
    assert morvex.score(*images[:4], grey[:, :, :3], grey, CAMERA).score == morvex.score(*images, CAMERA).score
    images[4] = grey[:, :, :3].copy()
    images[4][5, 7, 1] += 1
    assert raised(morvex.score, *images, CAMERA) == (morvex.InputError, command_line_error(tmp_path, images, CAMERA))

    images = pair()
    nudged = images[2] ^ 1  # one depth level, where that keeps the whole-pixel disparity
    kept = morvex.depth_to_disparity(nudged, CAMERA, "L") == morvex.depth_to_disparity(images[2], CAMERA, "L")
    images[4:] = np.where(kept, nudged, images[2]), images[3]
    with pytest.warns(UserWarning, match=f"sets A and B differ in {kept.sum()} pixels of their depth maps, but"):
        assert morvex.score(*images, CAMERA).score == float("inf")


def test_camera_files_as_on_the_command_line(tmp_path):
    short = tmp_path / "short.txt"
    short.write_text("50 500 50\n")
    for path in (tmp_path / "missing.txt", tmp_path, short):
        message = run_tool(*([tmp_path / "unread.png"] * 6), path).stderr.strip().removeprefix("morvex: ")
        assert raised(morvex.Camera.from_file, path) == (morvex.InputError, message)
        assert raised(morvex.score, *pair(), str(path)) == (morvex.InputError, message)


def test_arguments_the_command_line_cannot_be_given():
    images = pair()
    floats = [image.astype(np.float32) for image in images[:3]]
    cases = [
        (morvex.score, images[:2] + [None] + images[3:] + [CAMERA],
         TypeError, "depth_left_a (depth map of the left view, set A): is a NoneType, not a numpy array"),
        (morvex.score, images[:5] + [images[5].astype(np.float32), CAMERA],
         TypeError, "depth_right_b (depth map of the right view, set B): is a float32 array; "
                    "images must be uint8 (8-bit grey)"),
        (morvex.score, [np.stack([images[0]] * 3, axis=2)] + images[1:] + [CAMERA],
         ValueError, "left (left view): has shape (48, 64, 3); it must be 2-D: rows, columns, one value per pixel"),
        (morvex.score, images + [CAMERA[:8]],
         morvex.InputError, "camera (camera file): needs nine numbers (near and far depth of each camera, focal length, "
                     "both principal points, both camera positions), but 8 were given"),
        (morvex.score, images + [CAMERA[:4] + ["320"] + CAMERA[5:]],
         TypeError, "camera: focal_length is a str, not a number"),
        (morvex.score, images + [None],
         TypeError, "camera: is a NoneType; give a morvex.Camera, the path of a camera file or the nine camera values"),
        (morvex.score, [np.zeros((0, 0), np.uint8)] + images[1:] + [CAMERA],
         morvex.InputError, "left (left view): is 0x0; images must be at least 8 pixels wide and high"),
        (morvex.evaluate_view, [floats[0], floats[1].astype(">f4"), floats[2]],
         TypeError, "disp_a: is a >f4 array; views and disparity maps must be float32"),
        (morvex.evaluate_view, floats[:2] + [floats[2][:40]],
         morvex.InputError, "disp_b: is 64x40 but the view is 64x48"),
        (morvex.depth_to_disparity, [images[2], CAMERA, "left"],
         ValueError, "side: is 'left'; it must be 'L' (the left camera) or 'R' (the right camera)"),
    ]
    for call, args, error, message in cases:
        assert raised(call, *args) == (error, message)
    # An empty depth map is not an error: its disparity map is empty too.
    for shape in ((0, 5), (5, 0)):
        disparity = morvex.depth_to_disparity(np.zeros(shape, np.uint8), CAMERA, "R")
        assert disparity.shape == shape and disparity.dtype == np.float32


@pytest.mark.parametrize("bad", [float("nan"), float("inf"), -float("inf"), np.finfo(np.float32).max, 2.0**31 + 256])
@pytest.mark.parametrize("index, name", [(0, "view"), (1, "disp_a"), (2, "disp_b")])
def test_values_that_are_not_finite_or_too_large_are_refused(bad, index, name):
    rng = np.random.default_rng(3)
    maps = [rng.integers(0, 256, (48, 64)).astype(np.float32), np.full((48, 64), -2, np.float32),
            rng.integers(-4, 0, (48, 64)).astype(np.float32)]
    maps[index][5:15, 7:27] = bad
    shown = {"nan": "nan", "inf": "inf", "-inf": "-inf"}.get(str(bad), f"{np.float32(bad):g}")
    assert raised(morvex.evaluate_view, *maps) == (
        morvex.InputError, f"{name}: pixel (row 5, column 7) is {shown}; values must be finite and at most 2147483648 "
                    "in magnitude")


def test_float_arrays_at_odd_addresses_give_the_aligned_results():
    rng = np.random.default_rng(4)
    maps = [rng.integers(0, 256, (48, 64)).astype(np.float32), np.full((48, 64), -2, np.float32),
            rng.integers(-4, 0, (48, 64)).astype(np.float32)]
    odd = [np.frombuffer(bytearray(array.nbytes + 1), np.float32, offset=1).reshape(array.shape) for array in maps]
    for shifted, array in zip(odd, maps):
        shifted[...] = array
    assert not any(shifted.flags.aligned for shifted in odd)
    fields = ("error", "counted_pixels", "disagreeing_pixels", "abs_difference_sum")
    expected, result = morvex.evaluate_view(*maps), morvex.evaluate_view(*odd)
    assert [getattr(result, f) for f in fields] == [getattr(expected, f) for f in fields]
    assert np.array_equal(morvex.disparity_to_depth(odd[2], CAMERA, "L"), morvex.disparity_to_depth(maps[2], CAMERA, "L"))
