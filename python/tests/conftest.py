"""The built tools and generated scenes as numpy arrays, for the module's tests."""

import os
import pathlib
import subprocess
import types

import numpy as np
import pytest

BUILD = pathlib.Path(__file__).resolve().parents[2] / "build"
MORVEX = os.environ.get("MORVEX_BINARY", str(BUILD / "morvex"))
SAMPLE = os.environ.get("MORVEX_SAMPLE", str(BUILD / "morvex-sample"))

# The six images in the order of the command line and of morvex.score().
NAMES = ["left", "right", "depth_left_a", "depth_right_a", "depth_left_b", "depth_right_b"]


def run_tool(*args, cwd=None):
    return subprocess.run([MORVEX, *map(str, args)], capture_output=True, text=True, cwd=cwd)


def write_pair(directory, images):
    """The six images as PGM files named as the arguments of morvex.score()."""
    paths = [pathlib.Path(directory) / name for name in NAMES]
    for path, image in zip(paths, images):
        kind = b"P6" if image.ndim == 3 else b"P5"  # colour as RGB
        path.write_bytes(kind + b"\n%d %d\n255\n" % image.shape[1::-1] + np.ascontiguousarray(image).tobytes())
    return paths


def outcome(result):  # everything a morvex.Result holds
    return (result.score, result.score_text, result.left.error, result.right.error, result.left.counted_pixels,
            result.right.counted_pixels, result.left.disagreeing_pixels, result.right.disagreeing_pixels)


@pytest.fixture(scope="session")
def make_scene(tmp_path_factory):
    """Two frames of a moving scene from morvex-sample: frames(k) is frame k's six luma planes."""
    made = {}

    def make(width, height):
        if (width, height) not in made:
            directory = tmp_path_factory.mktemp(f"scene{width}x{height}")
            subprocess.run([SAMPLE, directory, "--size", f"{width}x{height}", "--frames", "2"],
                           check=True, capture_output=True)
            frame = width * height + 2 * ((width + 1) // 2) * ((height + 1) // 2)
            videos = [np.fromfile(directory / f"{name}.yuv", np.uint8).reshape(-1, frame)[:, : width * height]
                      .reshape(-1, height, width) for name in NAMES]
            camera_path = directory / "camera.txt"
            made[width, height] = types.SimpleNamespace(
                camera_path=camera_path, camera_values=[float(v) for v in camera_path.read_text().split()[:9]],
                frames=lambda k, videos=videos: [video[k] for video in videos])
        return made[width, height]

    return make
