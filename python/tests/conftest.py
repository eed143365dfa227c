"""Helpers of the module's tests: the built tools, generated scenes as numpy
arrays, and the command line's result for the same arrays written as files."""

import json
import os
import pathlib
import subprocess

import numpy as np
import pytest

BUILD = pathlib.Path(__file__).resolve().parents[2] / "build"
MORVEX = os.environ.get("MORVEX_BINARY", str(BUILD / "morvex"))
SAMPLE = os.environ.get("MORVEX_SAMPLE", str(BUILD / "morvex-sample"))

# The six images in the order of the command line and of morvex.score().
NAMES = ["left", "right", "depth_left_a", "depth_right_a", "depth_left_b", "depth_right_b"]


def run_tool(*args, cwd=None):
    return subprocess.run([MORVEX, *map(str, args)], capture_output=True, text=True, cwd=cwd)


def yuv_frames(path, width, height):
    """The luma planes of a raw 4:2:0 file as a (frames, height, width) array."""
    frame = width * height + 2 * ((width + 1) // 2) * ((height + 1) // 2)
    data = np.fromfile(path, np.uint8).reshape(-1, frame)
    return data[:, : width * height].reshape(-1, height, width)


def write_pgm(path, image):
    height, width = image.shape
    pathlib.Path(path).write_bytes(b"P5\n%d %d\n255\n" % (width, height) + np.ascontiguousarray(image).tobytes())


def write_camera(path, values):
    pathlib.Path(path).write_text(" ".join(repr(float(v)) for v in values) + "\n")


def write_pair(directory, images):
    """The six images as PGM files named as the arguments of morvex.score()."""
    paths = [pathlib.Path(directory) / name for name in NAMES]
    for path, image in zip(paths, images):
        write_pgm(path, image)
    return paths


def command_line_error(directory, images, camera_values):
    """The command line's message for these images and camera values, without
    "morvex: " and with each file named as the argument it stands for."""
    write_camera(pathlib.Path(directory) / "camera", camera_values)
    run = run_tool(*write_pair(directory, images), pathlib.Path(directory) / "camera")
    assert run.returncode == 1 and run.stdout == "", run
    return run.stderr.strip().removeprefix("morvex: ").replace(f"{directory}/", "")


def command_line_json(directory, images, camera_path):
    run = run_tool("--json", *write_pair(directory, images), camera_path)
    assert run.returncode == 0, run.stderr
    return json.loads(run.stdout)


class SceneFrames:
    """A moving scene from morvex-sample: frame k is frames(k), six arrays."""

    def __init__(self, directory, width, height):
        self.directory = directory
        self.camera_path = directory / "camera.txt"
        self.camera_values = [float(v) for v in self.camera_path.read_text().split()[:9]]
        self.videos = [yuv_frames(directory / f"{name}.yuv", width, height) for name in NAMES]

    def frames(self, k):
        return [video[k] for video in self.videos]


@pytest.fixture(scope="session")
def make_scene(tmp_path_factory):
    made = {}

    def make(width, height, frames=2):
        if (width, height, frames) not in made:
            directory = tmp_path_factory.mktemp(f"scene{width}x{height}")
            subprocess.run([SAMPLE, directory, "--size", f"{width}x{height}", "--frames", str(frames)],
                           check=True, capture_output=True)
            made[width, height, frames] = SceneFrames(directory, width, height)
        return made[width, height, frames]

    return make
