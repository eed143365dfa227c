"""morvex-eval reads every file through the command line's readers: on colour
PNG views, 16-bit depth maps, an EXIF-rotated view and colour-mapped set B,
its frames and refusals are the command line's, frame by frame."""

import json
import struct
import subprocess
import zlib

import numpy as np
import pytest

import morvex
from conftest import MORVEX, NAMES


def write_png(path, image, orientation=None):
    """An 8- or 16-bit grey or RGB PNG, upright unless an EXIF orientation is given."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    height, width = image.shape[:2]
    colour = 2 if image.ndim == 3 else 0
    rows = image.astype(">u2").tobytes() if image.dtype == np.uint16 else image.tobytes()
    stride = len(rows) // height
    raw = b"".join(b"\0" + rows[r * stride:(r + 1) * stride] for r in range(height))
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, image.itemsize * 8, colour,
                                                                0, 0, 0))
    if orientation:
        data += chunk(b"eXIf", b"MM\0*\0\0\0\x08\0\x01" + struct.pack(">HHIHH", 0x0112, 3, 1, orientation, 0) +
                      b"\0\0\0\0")
    path.write_bytes(data + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def tinted(grey):
    """A colour view whose grey the readers compute: red, green and blue differ."""
    return np.stack([grey, (grey * 0.8).astype(np.uint8), 255 - grey], axis=2)


def colour_mapped(depth):
    return np.stack([depth, 255 - depth, depth // 2], axis=2)


@pytest.fixture(scope="module")
def dataset(make_scene, tmp_path_factory):
    scene = make_scene(64, 48)
    folder = tmp_path_factory.mktemp("eval_as_tool")
    for k in range(2):
        left, right, depth_left_a, depth_right_a, depth_left_b, depth_right_b = scene.frames(k)
        write_png(folder / f"left_{k}.png", tinted(left))
        write_png(folder / f"right_{k}.png", np.rot90(right, 1).copy(), orientation=6)
        write_png(folder / f"depth_left_a_{k}.png", depth_left_a.astype(np.uint16) * 257)
        write_png(folder / f"depth_right_a_{k}.png", depth_right_a.astype(np.uint16) * 257 + 100)
        write_png(folder / f"good_left_{k}.png", depth_left_b)
        write_png(folder / f"good_right_{k}.png", np.stack([depth_right_b] * 3, axis=2))
        write_png(folder / f"jet_left_{k}.png", depth_left_b if k == 0 else colour_mapped(depth_left_b))
        write_png(folder / f"jet_right_{k}.png", depth_right_b if k == 0 else colour_mapped(depth_right_b))
    (folder / "camera.txt").write_text(scene.camera_path.read_text())
    sequence = '''
[sequences.{name}]
left = "left_{frame}.png"
right = "right_{frame}.png"
depth_left = "depth_left_a_{frame}.png"
depth_right = "depth_right_a_{frame}.png"
camera = "camera.txt"
'''
    methods = ''.join(f'''
[methods.{method}]
depth_left = "{method}_left_{{frame}}.png"
depth_right = "{method}_right_{{frame}}.png"
''' for method in ("good", "jet"))
    # Videos from patterns of PNG files, from frame 0 and from frame 1; and a
    # pair of single images.
    (folder / "clips.toml").write_text((sequence.format(name="clip", frame="%d") +
                                        sequence.format(name="late", frame="%d") + "first = 1\n" +
                                        methods.format(frame="%d")))
    (folder / "still.toml").write_text(sequence.format(name="still", frame="1") + methods.format(frame="1"))
    return folder


def tool(folder, sequence, method, evaluation):
    """The command line on a pair's files, as morvex-eval describes them."""
    record = next(p for p in evaluation.pairs if (p["sequence"], p["method"]) == (sequence, method))
    files = [folder / record["inputs"][role]["path"] for role in
             ("left", "right", "depth_left_a", "depth_right_a", "depth_left_b", "depth_right_b", "camera")]
    options = []
    if sequence != "still":
        seq = evaluation.results["sequences"][sequence]
        options = ["--first", str(seq["first"]), "--frames", str(seq["frames"]), "--threads", "1"]
    run = subprocess.run([MORVEX, "--json", *options, *files], capture_output=True, text=True)
    return record, run


def test_frames_and_refusals_are_the_command_lines(dataset, tmp_path):
    from morvex.eval import evaluate

    outcomes = {}
    for name, sequences in (("clips", ("clip", "late")), ("still", ("still",))):
        evaluation = evaluate(dataset / f"{name}.toml", tmp_path / name, workers=2)
        for sequence in sequences:
            for method in ("good", "jet"):
                record, run = tool(dataset, sequence, method, evaluation)
                outcomes[sequence, method] = record["status"]
                if run.returncode:
                    assert record["status"] == "failed"
                    assert "morvex: " + record["error"] == run.stderr.strip().splitlines()[-1], (sequence, method)
                    continue
                assert record["status"] == "scored", record.get("error")
                document = json.loads(run.stdout)
                frames = document.get("frames", [document])
                assert ["%.9g" % f["score"] for f in record["frames"]] == ["%.9g" % f["score"] for f in frames]
                assert "more than 8 bits per sample" in record["warning"] and "more than 8 bits" in run.stderr
        if name == "clips":
            clip = next(p for p in evaluation.pairs if (p["sequence"], p["method"]) == ("clip", "jet"))
            assert clip["error"].startswith("frame 1: ") and "red, green and blue differ" in clip["error"]
    assert outcomes == {("clip", "good"): "scored", ("clip", "jet"): "failed", ("late", "good"): "scored",
                        ("late", "jet"): "failed", ("still", "good"): "scored", ("still", "jet"): "failed"}


def test_reading_a_file_gives_the_command_lines_grey(dataset):
    left = morvex.read_image(dataset / "left_0.png")
    assert left.dtype == np.uint8 and left.shape == (48, 64)
    right = morvex.read_image(dataset / "right_0.png")
    assert right.shape == (48, 64)  # turned upright
    with pytest.warns(UserWarning, match="more than 8 bits per sample"):
        morvex.read_image(dataset / "depth_left_a_0.png", "depth_left_a")
    with pytest.raises(morvex.InputError) as error:
        morvex.read_image(dataset / "jet_right_1.png", "depth_right_b")
    assert (error.value.input, error.value.path) == ("depth_right_b", str(dataset / "jet_right_1.png"))
    assert str(error.value).startswith(f"{dataset}/jet_right_1.png (depth map of the right view, set B): is a "
                                       "colour image whose red, green and blue differ")
    frames = morvex.open_input(dataset / "left_%d.png", first=1)
    assert (frames.is_video, frames.frame_count, frames.size) == (True, 2, (64, 48))
    assert np.array_equal(frames.frame(1), morvex.read_image(dataset / "left_1.png"))
