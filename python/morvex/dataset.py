"""The dataset file: sequences (views, set A, camera, raw video size, first
frame) and methods (a set B per sequence, from path templates), checked as a
whole before anything is scored. Inputs are opened by the command line's
readers, so they are refused where the command line refuses them."""

import dataclasses
import os
import string
import tomllib

SEQUENCE_KEYS = ("left", "right", "depth_left", "depth_right", "camera", "size", "yuv_format", "first")
METHOD_KEYS = ("depth_left", "depth_right", "family", "rate", "bitstream")
REPORT_KEYS = ("anchor",)
ROLES = {"left": "left", "right": "right", "depth_left": "depth_left_a", "depth_right": "depth_right_a"}


class DatasetError(Exception):
    """A dataset file that cannot be used; the message names the file and the entry."""


@dataclasses.dataclass
class Sequence:
    name: str
    inputs: dict          # left, right, depth_left, depth_right, camera: absolute paths
    size: tuple           # (width, height) of raw .yuv inputs, or None
    yuv_format: str
    first: int            # the first frame scored, as --first
    frames: int
    camera: list          # the nine camera values


@dataclasses.dataclass
class Method:
    name: str
    templates: dict       # depth_left, depth_right: templates relative to the dataset file
    family: str = None    # the coder whose rate point this method is
    rate: object = None   # bits per frame: a number, or sequence -> number
    bitstream: str = None  # template of the coded file whose size gives the rate


@dataclasses.dataclass
class Dataset:
    path: str
    sequences: dict       # name -> Sequence, in file order
    methods: dict         # name -> Method, in file order
    report: dict = dataclasses.field(default_factory=dict)  # the [report] table: anchor

    def set_b(self, method, sequence):
        """The paths of a method's depth maps for a sequence."""
        folder = os.path.dirname(self.path)
        return {key: os.path.join(folder, template.format(method=method, sequence=sequence))
                for key, template in self.methods[method].templates.items()}

    def bitstream(self, method, sequence):
        return os.path.join(os.path.dirname(self.path),
                            self.methods[method].bitstream.format(method=method, sequence=sequence))


def one_line(text):
    """Control characters shown as '?', as the command line shows them, so that a message stays one line."""
    return "".join("?" if ord(ch) < 32 or ord(ch) == 127 else ch for ch in str(text))


def is_pattern(path):
    """Whether a path is a printf-style pattern of numbered files (the command line's test: it holds a %)."""
    return "%" in str(path)


def _table(data, key, fail):
    value = data.get(key, {})
    if not isinstance(value, dict) or not value:
        fail(key, f"needs at least one entry, as [{key}.NAME] tables")
    for name, entry in value.items():
        if not isinstance(entry, dict):
            fail(f"{key}.{name}", "is not a table")
    return value


def _check_keys(entry, allowed, required, where, fail):
    for key, value in entry.items():
        if key not in allowed:
            fail(where, f"unknown key '{key}'; the keys are {', '.join(allowed)}")
        if key == "first":
            if not isinstance(value, int) or isinstance(value, bool) or value < 0:
                fail(f"{where}.{key}", f"is {value!r}; give the first frame as a whole number, 0 or more")
        elif key != "rate" and not isinstance(value, str):
            fail(f"{where}.{key}", f"is {value!r}; give a string")
    for key in required:
        if key not in entry:
            fail(where, f"lacks '{key}'")


def _check_template(template, fail, where):
    """A path template may hold {method} and {sequence}, as they are, and nothing else in braces."""
    try:
        fields = list(string.Formatter().parse(template))
    except ValueError as error:
        fail(where, f"'{template}' is not a template of {{method}} and {{sequence}}: {error}")
    for _, field, layout, conversion in fields:
        if field is not None and (field not in ("method", "sequence") or layout or conversion):
            fail(where, f"'{template}' is not a template of {{method}} and {{sequence}}: "
                        f"'{{{field}{'!' + conversion if conversion else ''}{':' + layout if layout else ''}}}' "
                        "is not one of them")


def _read(path, fail):
    try:
        with open(path, "rb") as file:
            return tomllib.load(file)
    except FileNotFoundError:
        fail("", "no such file")
    except IsADirectoryError:
        fail("", "is a directory, not a file")
    except OSError as error:
        fail("", f"cannot be read: {error.strerror}")
    except UnicodeDecodeError as error:
        fail("", f"is not valid TOML: it is not UTF-8 text (byte {error.start})")
    except RecursionError:
        fail("", "is not valid TOML: it nests too deeply")
    except tomllib.TOMLDecodeError as error:
        fail("", f"is not valid TOML: {error}")


def _size(text, fail, where):
    try:
        size = tuple(int(side) for side in text.lower().split("x"))
        if len(size) == 2 and min(size) > 0 and all(side.isdigit() for side in text.lower().split("x")):
            return size
    except ValueError:
        pass
    fail(where, f"is '{text}'; give WIDTHxHEIGHT, such as 640x480")


def load(path):
    """Reads and checks a dataset file. Raises DatasetError."""
    from . import _native

    path = os.path.abspath(path)
    shown = os.path.relpath(path) if not os.path.relpath(path).startswith("..") else path

    def fail(entry, problem):
        raise DatasetError(one_line(f"{shown}: {entry}: {problem}" if entry else f"{shown}: {problem}"))

    data = _read(path, fail)
    for key in data:
        if key not in ("defaults", "sequences", "methods", "report"):
            fail(key, "unknown key; a dataset file has [defaults], [sequences.NAME], [methods.NAME] and [report] "
                      "tables")
    folder = os.path.dirname(path)
    defaults = data.get("defaults", {})
    if not isinstance(defaults, dict):
        fail("defaults", "is not a table")
    _check_keys(defaults, SEQUENCE_KEYS, (), "defaults", fail)

    sequences = {}
    for name, entry in _table(data, "sequences", fail).items():
        where = f"sequences.{name}"
        _check_keys(entry, SEQUENCE_KEYS, (), where, fail)
        entry = {**{key: value.replace("{sequence}", name) if isinstance(value, str) else value
                    for key, value in defaults.items()}, **entry}
        _check_keys(entry, SEQUENCE_KEYS, SEQUENCE_KEYS[:5], where, fail)
        size = _size(entry["size"], fail, f"{where}.size") if "size" in entry else None
        fmt, first = entry.get("yuv_format", "420"), entry.get("first", 0)
        inputs = {key: os.path.join(folder, entry[key]) for key in SEQUENCE_KEYS[:5]}
        lengths = {}
        for key, role in ROLES.items():
            try:
                opened = _native.open_input(inputs[key], role, size, fmt, first)
            except _native.InputError as error:
                fail(f"{where}.{key}", str(error))
            lengths[key] = opened.frame_count - first if opened.is_video else None
        counts = {count for count in lengths.values() if count is not None}
        if len(counts) > 1:
            fail(where, "its inputs differ in length: " +
                 ", ".join(f"{key} {count} frames" for key, count in lengths.items() if count is not None))
        try:
            camera = _native.Camera.from_file(inputs["camera"])
        except ValueError as error:
            fail(f"{where}.camera", str(error))
        values = [getattr(camera, field) for field in (
            "near_depth_left", "far_depth_left", "near_depth_right", "far_depth_right", "focal_length",
            "principal_point_left", "principal_point_right", "position_left", "position_right")]
        sequences[name] = Sequence(name, inputs, size, fmt, first, counts.pop() if counts else 1, values)

    methods = {}
    for name, entry in _table(data, "methods", fail).items():
        where = f"methods.{name}"
        _check_keys(entry, METHOD_KEYS, METHOD_KEYS[:2], where, fail)
        rate = _rate_point(entry, sequences, where, fail)
        for key, template in entry.items():
            if key in ("family", "rate"):
                continue
            _check_template(template, fail, f"{where}.{key}")
            paths = [os.path.join(folder, template.format(method=name, sequence=s)) for s in sequences]
            if key == "bitstream":
                found = any(os.path.isfile(p) for p in paths)
            else:
                role = "depth_left_b" if key == "depth_left" else "depth_right_b"
                found = any(_exists(p, sequences[s], role) for p, s in zip(paths, sequences))
            if not found:
                fail(f"{where}.{key}", f"'{template}' matches no file (for sequence {next(iter(sequences))}: "
                     f"{os.path.relpath(paths[0])})")
        methods[name] = Method(name, {key: entry[key] for key in METHOD_KEYS[:2]}, entry.get("family"), rate,
                               entry.get("bitstream"))
    report = data.get("report", {})
    if not isinstance(report, dict):
        fail("report", "is not a table")
    _check_keys(report, REPORT_KEYS, (), "report", fail)
    families = [m.family for m in methods.values() if m.family is not None]
    if "anchor" in report and report["anchor"] not in families:
        fail("report.anchor", f"'{report['anchor']}' is no method's family; the families are "
                              f"{', '.join(dict.fromkeys(families)) or 'none'}")
    return Dataset(path, sequences, methods, report)


def _rate_point(entry, sequences, where, fail):
    """A method's rate: a number of bits per frame, or a table of them by
    sequence; checked with its family and bitstream."""
    if ("rate" in entry or "bitstream" in entry) and "family" not in entry:
        fail(where, "has a rate but no 'family'; name the coder whose rate point it is")
    if "family" in entry and ("rate" in entry) == ("bitstream" in entry):
        fail(where, "gives 'family' with one of 'rate' (bits per frame) or 'bitstream' (a file per sequence)")
    if entry.get("family") == "":
        fail(f"{where}.family", "is empty; name the coder")
    if "rate" not in entry:
        return None
    rate = entry["rate"]
    for sequence, value in (rate.items() if isinstance(rate, dict) else [(None, rate)]):
        shown = f"{where}.rate" + (f".{sequence}" if sequence is not None else "")
        if sequence is not None and sequence not in sequences:
            fail(shown, f"names no sequence; the sequences are {', '.join(sequences)}")
        if isinstance(value, bool) or not isinstance(value, (int, float)) or not 0 < value < float("inf"):
            fail(shown, f"is {value!r}; give bits per frame as a number above 0, or a table of them by sequence")
    return {s: float(v) for s, v in rate.items()} if isinstance(rate, dict) else float(rate)


def _exists(path, sequence, role):
    """Whether a path names a file, or a pattern the file of its first frame."""
    if not is_pattern(path):
        return os.path.isfile(path)
    from . import _native

    try:
        return os.path.isfile(_native.pattern_file(path, sequence.first, role))
    except _native.InputError:
        return True  # not a pattern the readers take: the pairs fail with their message
