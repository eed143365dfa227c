"""Frames of the inputs the command line takes, as 2-D uint8 arrays: raw .yuv
and .y4m videos (their luma planes), printf-style patterns of numbered image
files, and single images, which stand for every frame."""

import os
import re

import numpy as np


class InputError(Exception):
    """An input that cannot be read; the message names the file."""


_TOKEN = re.compile(r"%%|%(0?\d*)d")


def chroma_bytes(fmt, width, height):
    half = (width + 1) // 2
    return {"400": 0, "420": 2 * half * ((height + 1) // 2), "422": 2 * half * height, "444": 2 * width * height,
            "411": 2 * ((width + 3) // 4) * height, "444alpha": 3 * width * height}[fmt]


def is_pattern(path):
    """One %d, %Nd or %0Nd conversion; %% is a literal %."""
    return sum(match.group(0) != "%%" for match in _TOKEN.finditer(str(path))) == 1


def pattern_path(pattern, k):
    return _TOKEN.sub(lambda m: "%" if m.group(0) == "%%" else ("%" + m.group(1) + "d") % k, str(pattern))


def read_image(path):
    """An image file as 8-bit grey: colour by Pillow's luma formula, deeper
    samples by their high 8 bits."""
    from PIL import Image

    if not os.path.isfile(path):
        raise InputError(f"{path}: no such file")
    try:
        with Image.open(path) as image:
            image.load()
            if image.mode in ("I;16", "I;16B", "I;16L", "I"):
                return (np.asarray(image, np.uint32) >> 8).astype(np.uint8)
            if image.mode != "L":
                image = image.convert("L")
            return np.array(image, np.uint8)
    except (OSError, SyntaxError, ValueError) as error:
        raise InputError(f"{path}: is not an image that can be decoded: {error}") from None


class Video:
    """Frames of one input; len() is None for a single image."""

    def __init__(self, path, size=None, yuv_format="420"):
        self.path = str(path)
        self.size = size  # (width, height) of raw .yuv files
        self.yuv_format = yuv_format
        self._planes = None
        self._offsets = None
        self._image = None
        if self.path.endswith(".yuv"):
            self._open_yuv()
        elif self.path.endswith(".y4m"):
            self._open_y4m()
        elif is_pattern(self.path):
            self.count = 0
            while os.path.isfile(pattern_path(self.path, self.count)):
                self.count += 1
            if self.count == 0:
                raise InputError(f"{self.path}: no frame file (the first would be {pattern_path(self.path, 0)})")
        else:
            if not os.path.isfile(self.path):
                raise InputError(f"{self.path}: no such file")
            self.count = None

    def _raw(self):
        if not os.path.isfile(self.path):
            raise InputError(f"{self.path}: no such file")
        return np.memmap(self.path, np.uint8, mode="r") if os.path.getsize(self.path) else np.zeros(0, np.uint8)

    def _open_yuv(self):
        if self.size is None:
            raise InputError(f"{self.path}: a raw .yuv video needs its size")
        width, height = self.size
        frame = width * height + chroma_bytes(self.yuv_format, width, height)
        data = self._raw()
        if len(data) % frame:
            raise InputError(f"{self.path}: is {len(data)} bytes, not a whole number of {width}x{height} "
                             f"{':'.join(self.yuv_format)} frames of {frame} bytes")
        self.count = len(data) // frame
        self._planes = data.reshape(-1, frame)[:, : width * height].reshape(-1, height, width)

    def _open_y4m(self):
        data = self._raw()
        end = bytes(data[:4096]).find(b"\n")
        header = bytes(data[:end]).split()
        if end < 0 or not header or header[0] != b"YUV4MPEG2":
            raise InputError(f"{self.path}: is not a Y4M file (no YUV4MPEG2 header line)")
        fields = {token[:1]: token[1:].decode("ascii", "replace") for token in header[1:]}
        width, height = int(fields.get(b"W", 0)), int(fields.get(b"H", 0))
        tag = fields.get(b"C", "420")
        fmt = {"420jpeg": "420", "420paldv": "420", "420mpeg2": "420", "mono": "400"}.get(tag, tag)
        if fmt not in ("420", "400", "422", "444", "411", "444alpha") or width <= 0 or height <= 0:
            raise InputError(f"{self.path}: has a Y4M header this reader does not take: {header!r}")
        frame = width * height + chroma_bytes(fmt, width, height)
        self.size, self._offsets, at = (width, height), [], end + 1
        while at < len(data):
            line_end = bytes(data[at : at + 1024]).find(b"\n")
            if line_end < 0 or not bytes(data[at : at + 5]) == b"FRAME" or at + line_end + 1 + frame > len(data):
                raise InputError(f"{self.path}: frame {len(self._offsets)} is truncated or lacks its FRAME line")
            self._offsets.append(at + line_end + 1)
            at += line_end + 1 + frame
        self._data = data
        self.count = len(self._offsets)

    def frame(self, k):
        if self.count is not None and k >= self.count:
            raise InputError(f"{self.path}: has no frame {k}; it holds {self.count}")
        if self._planes is not None:
            return self._planes[k]
        if self._offsets is not None:
            width, height = self.size
            start = self._offsets[k]
            return self._data[start : start + width * height].reshape(height, width)
        if self.count is not None:
            return read_image(pattern_path(self.path, k))
        if self._image is None:
            self._image = read_image(self.path)
        return self._image
