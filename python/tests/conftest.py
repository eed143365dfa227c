"""The built tools and generated scenes as numpy arrays, for the module's tests."""

import os
import pathlib
import shutil
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


@pytest.fixture(scope="session")
def coded(tmp_path_factory):
    """A dataset of two sequences (64x48, 4 frames) and coder families: the
    anchor's four methods take more or fewer columns of the flawed set B,
    with rates from their bitstreams' sizes; `scaled` has the same depth maps
    at 1.1 times the rates; `broken` has no files for s2. On s2 the anchor's
    best method equals set A (score inf). Evaluated once, with its report."""
    from morvex.eval import evaluate

    folder = tmp_path_factory.mktemp("coded")
    luma = np.arange(64 * 48 * 3 // 2) < 64 * 48  # of a 4:2:0 frame
    for n in (1, 2):
        subprocess.run([SAMPLE, folder / f"s{n}", "--size", "64x48", "--frames", "4", "--seed", str(n)], check=True,
                       capture_output=True)
        for columns, size in ((64, 500), (32, 900), (16, 1600), (8, 3000)):
            out = folder / f"c{columns}" / f"s{n}"
            out.mkdir(parents=True)
            for side in ("left", "right"):
                a, b = (np.fromfile(folder / f"s{n}" / f"depth_{side}_{s}.yuv", np.uint8).reshape(-1, luma.size)
                        for s in "ab")
                np.where(luma & (np.arange(luma.size) % 64 < columns), b, a).tofile(out / f"depth_{side}.yuv")
            (out / "coded.bin").write_bytes(bytes(size))  # 4 frames: 2 bits per frame a byte
    (folder / "broken" / "s1").mkdir(parents=True)
    for side in ("left", "right"):
        shutil.copy(folder / "s1" / f"depth_{side}_b.yuv", folder / "broken" / "s1" / f"depth_{side}.yuv")
    text = ('[defaults]\nleft = "{sequence}/left.yuv"\nright = "{sequence}/right.yuv"\n'
            'depth_left = "{sequence}/depth_left_a.yuv"\ndepth_right = "{sequence}/depth_right_a.yuv"\n'
            'camera = "{sequence}/camera.txt"\nsize = "64x48"\n[sequences.s1]\n[sequences.s2]\n'
            '[report]\nanchor = "anchor"\n')
    maps = 'depth_left = "{0}/{{sequence}}/depth_left.yuv"\ndepth_right = "{0}/{{sequence}}/depth_right.yuv"\n'
    for columns in (64, 32, 16, 8):
        text += f"[methods.a{columns}]\n" + maps.format(f"c{columns}") + \
            f'family = "anchor"\nbitstream = "c{columns}/{{sequence}}/coded.bin"\n'
    for columns, rate in ((64, 1100), (32, 1980), (16, "{ s1 = 3520, s2 = 3520.0 }"), (8, 6600)):
        text += f"[methods.x{columns}]\n" + maps.format(f"c{columns}") + f'family = "scaled"\nrate = {rate}\n'
    text += "[methods.broken]\n" + maps.format("broken")
    (folder / "dataset.toml").write_text(text)
    outdir = folder / "out"
    evaluation = evaluate(folder / "dataset.toml", outdir, workers=2, resamples=300, report_frames=2)
    return types.SimpleNamespace(folder=folder, outdir=outdir, evaluation=evaluation)
