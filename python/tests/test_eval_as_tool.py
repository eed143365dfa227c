"""morvex-eval reads every file through the command line's readers: on colour
PNG views, 16-bit depth maps, EXIF-rotated images, colour-mapped set B and
damaged files of every kind, its frames and refusals are the command line's,
frame by frame; a pair it cannot score fails alone."""

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
    if any(str(f).endswith((".yuv", ".y4m")) or "%" in str(f) for f in files[:6]):
        seq = evaluation.results["sequences"][sequence]
        options = ["--first", str(seq["first"]), "--frames", str(seq["frames"]), "--threads", "1",
                   "--yuv-format", seq["yuv_format"]] + (["--size", "%dx%d" % tuple(seq["size"])] if seq["size"] else [])
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
                assert [w for w in record["warnings"] if "more than 8 bits per sample" in w] and "more than 8 bits" in run.stderr
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


def y4m(header, frames, frame_line=b"FRAME"):
    return header + b"\n" + b"".join(frame_line + b"\n" + plane.tobytes() + bytes(plane.size // 2)
                                     for plane in frames)


def damaged_set_b(depth):
    """Files that the readers refuse, or read in their own way, by name."""
    grey = png_bytes(depth)
    zlib_data = bytearray(zlib.compress(np.insert(depth, 0, 0, axis=1).tobytes()))
    zlib_data[-1] ^= 1  # its Adler-32 checksum
    palette = bytearray(png_bytes(depth))
    palette[25] = 3  # a palette image, without PLTE
    palette[29:33] = struct.pack(">I", zlib.crc32(bytes(palette[12:29])))
    header = b"YUV4MPEG2 W64 H48 C420"
    return {
        "no_frames.y4m": y4m(header, []),
        "empty.yuv": b"",
        "w_plus.y4m": y4m(b"YUV4MPEG2 W+64 H48 C420", [depth]),
        "h_underscore.y4m": y4m(b"YUV4MPEG2 W64 H4_8 C420", [depth]),
        "tab.y4m": y4m(b"YUV4MPEG2\tW64 H48 C420", [depth]),
        "framex.y4m": y4m(header, [depth], b"FRAMEX"),
        "w_float.y4m": y4m(b"YUV4MPEG2 W64.0 H48 C420", [depth]),
        "huge.png": grey[:16] + struct.pack(">II", 20000, 20000) + grey[24:29] +
        struct.pack(">I", zlib.crc32(grey[12:16] + struct.pack(">II", 20000, 20000) + grey[24:29])) + grey[33:],
        "upside_down.png": png_bytes(depth, orientation=3),
        "quarter_turn.png": png_bytes(np.rot90(depth).copy(), orientation=6),
        "checksum.png": png_bytes(depth, idat=bytes(zlib_data)),
        "no_palette.png": bytes(palette),
        "bad_ztxt.png": png_bytes(depth, extra=chunk(b"zTXt", b"Comment\0\x07" + zlib.compress(b"text"))),
        "image.gif": b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00"
                     b"\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;",
    }


def test_damaged_set_b_fails_or_scores_as_on_the_command_line(make_scene, tmp_path):
    """Each file is one method's set B; every other method is still scored."""
    from morvex.eval import evaluate

    left, right, depth_left_a, depth_right_a, depth_left_b, depth_right_b = make_scene(64, 48).frames(0)
    for name, image in zip(NAMES, (left, right, depth_left_a, depth_right_a, depth_left_b, depth_right_b)):
        write_png(tmp_path / f"{name}.png", image)
    (tmp_path / "camera.txt").write_text(make_scene(64, 48).camera_path.read_text())
    files = damaged_set_b(depth_left_b)
    text = '[sequences.s]\nleft = "left.png"\nright = "right.png"\ndepth_left = "depth_left_a.png"\n' \
           'depth_right = "depth_right_a.png"\ncamera = "camera.txt"\nsize = "64x48"\n'
    for index, (name, data) in enumerate(sorted(files.items())):
        (tmp_path / name).write_bytes(data)
        text += f'[methods.m{index}]\ndepth_left = "{name}"\ndepth_right = "depth_right_b.png"\n'
    text += '[methods.sound]\ndepth_left = "depth_left_b.png"\ndepth_right = "depth_right_b.png"\n'
    (tmp_path / "dataset.toml").write_text(text)
    evaluation = evaluate(tmp_path / "dataset.toml", tmp_path / "out", workers=2)
    assert (tmp_path / "out" / "summary.csv").exists()
    statuses = {}
    for index, name in enumerate(sorted(files)):
        record, run = tool(tmp_path, "s", f"m{index}", evaluation)
        statuses[name] = record["status"]
        if run.returncode:
            assert "morvex: " + record.get("error", "") == run.stderr.strip().splitlines()[-1], name
        else:
            frames = json.loads(run.stdout).get("frames", [json.loads(run.stdout)])
            assert ["%.9g" % f["score"] for f in record["frames"]] == ["%.9g" % f["score"] for f in frames], name
    assert [name for name, status in statuses.items() if status == "scored"] == [
        "bad_ztxt.png", "quarter_turn.png", "upside_down.png"]
    assert next(p for p in evaluation.pairs if p["method"] == "sound")["status"] == "scored"


@pytest.mark.parametrize("content, message", [
    (b"[sequences.s]\nleft = \"\xff\"\n", "dataset.toml: is not valid TOML: it is not UTF-8 text"),
    (b"x = " + b"[" * 5000, "dataset.toml: is not valid TOML: "),
    (b'[methods.m]\ndepth_left = "{sequence:>99999999999999}"',
     "dataset.toml: methods.m.depth_left: '{sequence:>99999999999999}' is not a template of {method} and {sequence}"),
    (b'[methods.m]\ndepth_left = "{sequence.real}"', "dataset.toml: methods.m.depth_left: '{sequence.real}' is not a"),
    (b'[sequences.s]\nleft = "l_%99999999999d.png"',
     "dataset.toml: sequences.s.left: {}/l_%99999999999d.png (left view): is a frame file pattern whose conversion"),
    (b'[sequences.s]\nleft = "float.y4m"',
     "dataset.toml: sequences.s.left: {}/float.y4m (left view): has a bad YUV4MPEG2 header: 'W96.0' is not a"),
    (b'[sequences.s]\nleft = "none.y4m"', "dataset.toml: sequences.s.left: {}/none.y4m (left view): has a YUV4MPEG2 "
                                          "header but no frames"),
    (b'[sequences.s]\nleft = "new\\nline.png"', "dataset.toml: sequences.s.left: {}/new?line.png (left view): no such"),
])
def test_broken_dataset_files_end_in_one_line(make_scene, tmp_path, content, message):
    """Read as a whole before anything is scored: one line, exit status 2, nothing written."""
    import contextlib
    import io

    from morvex.eval import main

    scene = make_scene(64, 48)
    for name, image in zip("lrab", scene.frames(0)):
        write_png(tmp_path / f"{name}.png", image)
    (tmp_path / "c.txt").write_text(scene.camera_path.read_text())
    (tmp_path / "float.y4m").write_bytes(y4m(b"YUV4MPEG2 W96.0 H48", [np.zeros((48, 96), np.uint8)]))
    (tmp_path / "none.y4m").write_bytes(b"YUV4MPEG2 W96 H48\n")
    lines = [b"[sequences.s]", b'left = "l.png"', b'right = "r.png"', b'depth_left = "a.png"', b'depth_right = "b.png"',
             b'camera = "c.txt"', b"[methods.m]", b'depth_left = "a.png"', b'depth_right = "b.png"']
    if content.startswith(b"[") and b"\n" in content:  # a key of the table changed
        table, line = content.split(b"\n", 1)
        at = lines.index(table) + 1 + [l.split(b" = ")[0] for l in lines[lines.index(table) + 1:]].index(
            line.split(b" = ")[0])
        lines[at] = line
        content = b"\n".join(lines) + b"\n"
    (tmp_path / "dataset.toml").write_bytes(content)
    err = io.StringIO()
    with contextlib.redirect_stderr(err), contextlib.chdir(tmp_path):
        status = main(["--quiet", "dataset.toml", "out"])
    assert (status, err.getvalue().count("\n")) == (2, 1), err.getvalue()
    assert err.getvalue().startswith("morvex-eval: " + message.replace("{}", str(tmp_path))), err.getvalue()
    assert not (tmp_path / "out").exists()


def test_an_outdir_that_is_a_file_is_refused_before_scoring(tmp_path):
    from morvex.eval import main

    (tmp_path / "out").write_text("")
    (tmp_path / "dataset.toml").write_text("")
    assert main(["--quiet", str(tmp_path / "dataset.toml"), str(tmp_path / "out")]) == 2
