"""morvex-eval reads every file through the command line's readers: on colour
PNG views, 16-bit depth maps, EXIF-rotated images, colour-mapped set B and
damaged files, its frames and refusals are the command line's, frame by frame;
a pair it cannot score fails alone."""

import json
import struct
import subprocess
import zlib

import numpy as np
import pytest

import morvex
from conftest import MORVEX, NAMES


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_bytes(image, orientation=None, extra=b"", idat=None):
    """An 8- or 16-bit grey or RGB PNG, upright unless an EXIF orientation is
    given; `extra` chunks before the pixels, `idat` instead of them."""
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
    return data + extra + chunk(b"IDAT", zlib.compress(raw) if idat is None else idat) + chunk(b"IEND", b"")


def write_png(path, image, orientation=None):
    path.write_bytes(png_bytes(image, orientation))


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
    sequence = ('[sequences.{name}]\nleft = "left_{frame}.png"\nright = "right_{frame}.png"\ncamera = "camera.txt"\n'
                'depth_left = "depth_left_a_{frame}.png"\ndepth_right = "depth_right_a_{frame}.png"\n')
    methods = "".join(f'[methods.{m}]\ndepth_left = "{m}_left_{{frame}}.png"\ndepth_right = "{m}_right_{{frame}}.png"\n'
                      for m in ("good", "jet"))
    # Videos from patterns of PNG files, from frame 0 and from frame 1; and a pair of single images.
    (folder / "clips.toml").write_text(sequence.format(name="clip", frame="%d") + sequence.format(
        name="late", frame="%d") + "first = 1\n" + methods.format(frame="%d"))
    (folder / "still.toml").write_text(sequence.format(name="still", frame="1") + methods.format(frame="1"))
    return folder


def as_command_line(folder, sequence, method, evaluation):
    """Runs the command line on a pair's files, as morvex-eval describes them,
    and checks that both give the same message or the same frame scores."""
    record = next(p for p in evaluation.pairs if (p["sequence"], p["method"]) == (sequence, method))
    files = [folder / record["inputs"][role]["path"] for role in
             ("left", "right", "depth_left_a", "depth_right_a", "depth_left_b", "depth_right_b", "camera")]
    options = []
    if any(str(f).endswith((".yuv", ".y4m")) or "%" in str(f) for f in files[:6]):
        seq = evaluation.results["sequences"][sequence]
        options = ["--first", str(seq["first"]), "--frames", str(seq["frames"]), "--threads", "1",
                   "--yuv-format", seq["yuv_format"]] + (["--size", "%dx%d" % tuple(seq["size"])] if seq["size"] else [])
    run = subprocess.run([MORVEX, "--json", *options, *files], capture_output=True, text=True)
    if run.returncode:
        assert "morvex: " + record.get("error", "") == run.stderr.strip().splitlines()[-1], (sequence, method)
    else:
        frames = json.loads(run.stdout).get("frames", [json.loads(run.stdout)])
        assert ["%.9g" % f["score"] for f in record.get("frames", [])] == ["%.9g" % f["score"] for f in frames], \
            (sequence, method)
    return record, run


def test_frames_and_refusals_are_the_command_lines(dataset, tmp_path):
    from morvex.eval import evaluate

    for name, sequences in (("clips", ("clip", "late")), ("still", ("still",))):
        evaluation = evaluate(dataset / f"{name}.toml", tmp_path / name, workers=2)
        for sequence in sequences:
            for method in ("good", "jet"):
                record, run = as_command_line(dataset, sequence, method, evaluation)
                assert (run.returncode, record["status"]) == ((1, "failed") if method == "jet" else (0, "scored"))
                if method == "good":
                    assert [w for w in record["warnings"] if "more than 8 bits per sample" in w]
                    assert "more than 8 bits" in run.stderr
        if name == "clips":
            clip = next(p for p in evaluation.pairs if (p["sequence"], p["method"]) == ("clip", "jet"))
            assert clip["error"].startswith("frame 1: ") and "red, green and blue differ" in clip["error"]


def test_reading_a_file_gives_the_command_lines_grey(dataset):
    assert morvex.read_image(dataset / "right_0.png").shape == (48, 64)  # turned upright
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


def y4m(header, frames, frame_line=b"FRAME"):
    return header + b"\n" + b"".join(frame_line + b"\n" + plane.tobytes() + bytes(plane.size // 2)
                                     for plane in frames)


def damaged_set_b(depth):
    """Files that the readers refuse, or read in their own way, by name."""
    zlib_data = bytearray(zlib.compress(np.insert(depth, 0, 0, axis=1).tobytes()))
    zlib_data[-1] ^= 1  # its Adler-32 checksum
    return {
        "empty.yuv": b"",
        "framex.y4m": y4m(b"YUV4MPEG2 W64 H48 C420", [depth], b"FRAMEX"),
        "w_plus.y4m": y4m(b"YUV4MPEG2 W+64 H48 C420", [depth]),
        "checksum.png": png_bytes(depth, idat=bytes(zlib_data)),
        "bad_ztxt.png": png_bytes(depth, extra=chunk(b"zTXt", b"Comment\0\x07" + zlib.compress(b"text"))),
        "huge.png": b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 20000, 20000, 8, 0, 0, 0, 0)) +
        png_bytes(depth)[33:],
        "upside_down.png": png_bytes(depth, orientation=3),
        "image.gif": b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00"
                     b"\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;",
    }


def test_damaged_set_b_fails_or_scores_as_on_the_command_line(make_scene, tmp_path):
    """Each file is one method's set B; every other method is still scored."""
    from morvex.eval import evaluate

    images = make_scene(64, 48).frames(0)
    for name, image in zip(NAMES, images):
        write_png(tmp_path / f"{name}.png", image)
    (tmp_path / "camera.txt").write_text(make_scene(64, 48).camera_path.read_text())
    files = damaged_set_b(images[4])
    text = '[sequences.s]\nleft = "left.png"\nright = "right.png"\ndepth_left = "depth_left_a.png"\n' \
           'depth_right = "depth_right_a.png"\ncamera = "camera.txt"\nsize = "64x48"\n'
    for index, (name, data) in enumerate(sorted(files.items())):
        (tmp_path / name).write_bytes(data)
        text += f'[methods.m{index}]\ndepth_left = "{name}"\ndepth_right = "depth_right_b.png"\n'
    (tmp_path / "dataset.toml").write_text(text)
    evaluation = evaluate(tmp_path / "dataset.toml", tmp_path / "out", workers=2)
    scored = [name for index, name in enumerate(sorted(files))
              if as_command_line(tmp_path, "s", f"m{index}", evaluation)[0]["status"] == "scored"]
    assert scored == ["bad_ztxt.png", "upside_down.png"]


BASE = (b'[sequences.s]\nleft = "l.png"\nright = "r.png"\ndepth_left = "a.png"\ndepth_right = "b.png"\n'
        b'camera = "c.txt"\n[methods.m]\ndepth_left = "c.png"\ndepth_right = "d.png"\n')


@pytest.mark.parametrize("content, message", [
    (b"[sequences.s]\nleft = \"\xff\"\n", "dataset.toml: is not valid TOML: it is not UTF-8 text"),
    (b"x = " + b"[" * 5000, "dataset.toml: is not valid TOML: it nests too deeply"),
    (b"[sequences.a\n", "dataset.toml: is not valid TOML: "),
    (BASE.replace(b"left", b"lefft", 1), "dataset.toml: sequences.s: unknown key 'lefft'; the keys are left, right,"),
    (BASE.replace(b'"c.png"', b'"{sequence:>99999999999999}"'),
     "dataset.toml: methods.m.depth_left: '{sequence:>99999999999999}' is not a template of {method} and {sequence}"),
    (BASE.replace(b'"c.png"', b'"nowhere/{sequence}.png"'),
     "dataset.toml: methods.m.depth_left: 'nowhere/{sequence}.png' matches no file (for sequence s: nowhere/s.png)"),
    (BASE.replace(b'"l.png"', b'"l_%99999999999d.png"'),
     "dataset.toml: sequences.s.left: {}/l_%99999999999d.png (left view): is a frame file pattern whose conversion"),
    (BASE.replace(b'"l.png"', b'"0.y4m"'),
     "dataset.toml: sequences.s.left: {}/0.y4m (left view): has a YUV4MPEG2 header but no frames"),
    (BASE.replace(b'"l.png"', b'"new\\nline.png"'), "dataset.toml: sequences.s.left: {}/new?line.png (left view): no "),
    (BASE.replace(b'"l.png"\nright = "r.png"', b'"1.y4m"\nright = "2.y4m"'),
     "dataset.toml: sequences.s: its inputs differ in length: left 1 frames, right 2 frames\n"),
])
def test_broken_dataset_files_end_in_one_line(make_scene, tmp_path, capsys, content, message):
    """Read as a whole before anything is scored: one line, exit status 2, nothing written."""
    import contextlib

    from morvex.eval import main

    scene = make_scene(64, 48)
    for name, image in zip("lrabcd", scene.frames(0)):
        write_png(tmp_path / f"{name}.png", image)
    for count in range(3):
        (tmp_path / f"{count}.y4m").write_bytes(y4m(b"YUV4MPEG2 W64 H48", scene.frames(0)[:1] * count))
    (tmp_path / "c.txt").write_text(scene.camera_path.read_text())
    (tmp_path / "dataset.toml").write_bytes(content)
    with contextlib.chdir(tmp_path):
        status = main(["--quiet", "dataset.toml", "out"])
    out, err = capsys.readouterr()
    assert (status, err.count("\n"), out) == (2, 1, ""), err
    assert err.startswith("morvex-eval: " + message.replace("{}", str(tmp_path))), err
    assert not (tmp_path / "out").exists()


def test_an_outdir_that_is_a_file_is_refused_before_scoring(tmp_path):
    from morvex.eval import main

    (tmp_path / "out").write_text("")
    (tmp_path / "dataset.toml").write_text("")
    assert main(["--quiet", str(tmp_path / "dataset.toml"), str(tmp_path / "out")]) == 2
