"""The dataset file: sequences (views, set A, camera, raw video size) and
methods (a set B per sequence, from path templates), checked as a whole
before anything is scored."""

import dataclasses
import os
import tomllib

from .frames import InputError, Video, is_pattern, pattern_path

SEQUENCE_KEYS = ("left", "right", "depth_left", "depth_right", "camera", "size", "yuv_format")
METHOD_KEYS = ("depth_left", "depth_right")
YUV_FORMATS = ("420", "400", "422", "444")


class DatasetError(Exception):
    """A dataset file that cannot be used; the message names the file and the entry."""


@dataclasses.dataclass
class Sequence:
    name: str
    inputs: dict          # left, right, depth_left, depth_right, camera: absolute paths
    size: tuple           # (width, height) of raw .yuv inputs, or None
    yuv_format: str
    frames: int
    camera: list          # the nine camera values


@dataclasses.dataclass
class Method:
    name: str
    templates: dict       # depth_left, depth_right: templates relative to the dataset file


@dataclasses.dataclass
class Dataset:
    path: str
    sequences: dict       # name -> Sequence, in file order
    methods: dict         # name -> Method, in file order

    def set_b(self, method, sequence):
        """The paths of a method's depth maps for a sequence."""
        folder = os.path.dirname(self.path)
        return {key: os.path.join(folder, template.format(method=method, sequence=sequence))
                for key, template in self.methods[method].templates.items()}


def _exists(path):
    return os.path.isfile(pattern_path(path, 0) if is_pattern(path) else path)


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
        if not isinstance(value, str):
            fail(f"{where}.{key}", f"is {value!r}; give a string")
    for key in required:
        if key not in entry:
            fail(where, f"lacks '{key}'")


def load(path):
    """Reads and checks a dataset file. Raises DatasetError."""
    from . import _native

    path = os.path.abspath(path)
    shown = os.path.relpath(path) if not os.path.relpath(path).startswith("..") else path

    def fail(entry, problem):
        raise DatasetError(f"{shown}: {entry}: {problem}" if entry else f"{shown}: {problem}")

    try:
        with open(path, "rb") as file:
            data = tomllib.load(file)
    except FileNotFoundError:
        fail("", "no such file")
    except OSError as error:
        fail("", f"cannot be read: {error.strerror}")
    except tomllib.TOMLDecodeError as error:
        fail("", f"is not valid TOML: {error}")
    for key in data:
        if key not in ("defaults", "sequences", "methods"):
            fail(key, "unknown key; a dataset file has [defaults], [sequences.NAME] and [methods.NAME] tables")
    folder = os.path.dirname(path)
    defaults = data.get("defaults", {})
    if not isinstance(defaults, dict):
        fail("defaults", "is not a table")
    _check_keys(defaults, SEQUENCE_KEYS, (), "defaults", fail)

    sequences = {}
    for name, entry in _table(data, "sequences", fail).items():
        where = f"sequences.{name}"
        _check_keys(entry, SEQUENCE_KEYS, (), where, fail)
        entry = {**{key: value.replace("{sequence}", name) for key, value in defaults.items()}, **entry}
        _check_keys(entry, SEQUENCE_KEYS, SEQUENCE_KEYS[:5], where, fail)
        size = None
        if "size" in entry:
            try:
                size = tuple(int(side) for side in entry["size"].lower().split("x"))
                assert len(size) == 2 and min(size) > 0
            except (ValueError, AssertionError):
                fail(f"{where}.size", f"is '{entry['size']}'; give WIDTHxHEIGHT, such as 640x480")
        fmt = entry.get("yuv_format", "420")
        if fmt not in YUV_FORMATS:
            fail(f"{where}.yuv_format", f"is '{fmt}'; give one of {', '.join(YUV_FORMATS)}")
        inputs = {key: os.path.join(folder, entry[key]) for key in SEQUENCE_KEYS[:5]}
        lengths = {}
        for key in SEQUENCE_KEYS[:4]:
            try:
                lengths[key] = Video(inputs[key], size, fmt).count
            except InputError as error:
                fail(f"{where}.{key}", str(error))
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
        sequences[name] = Sequence(name, inputs, size, fmt, counts.pop() if counts else 1, values)

    methods = {}
    for name, entry in _table(data, "methods", fail).items():
        where = f"methods.{name}"
        _check_keys(entry, METHOD_KEYS, METHOD_KEYS, where, fail)
        for key, template in entry.items():
            try:
                paths = [os.path.join(folder, template.format(method=name, sequence=s)) for s in sequences]
            except (KeyError, IndexError, ValueError) as error:
                fail(f"{where}.{key}", f"'{template}' is not a template of {{method}} and {{sequence}}: {error!r}")
            if not any(_exists(p) for p in paths):
                fail(f"{where}.{key}", f"'{template}' matches no file (for sequence {next(iter(sequences))}: "
                     f"{os.path.relpath(paths[0])})")
        methods[name] = Method(name, dict(entry))
    return Dataset(path, sequences, methods)
