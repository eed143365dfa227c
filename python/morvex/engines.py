"""Where frames are scored: threads of this process, one per core, or the
workers of an existing Dask distributed cluster. Both run score_frame, which
reads and scores a frame in native code without holding the interpreter, so
their results are the same to the bit, and the same as the command line's."""

import concurrent.futures
import logging
import os
import threading

ROLES = ("left", "right", "depth_left_a", "depth_right_a", "depth_left_b", "depth_right_b")
FIELDS = ("score", "error", "counted_pixels", "disagreeing_pixels", "pixels", "differ_over_1", "differ_over_2",
          "abs_difference_sum")

_pairs = {}  # a process's open pairs, kept between the frames it scores
_opening = threading.Lock()


class Pair:
    """What identifies a pair's inputs: `key` changes with their files, and
    the six paths are opened with size, yuv format, first frame and count."""

    def __init__(self, key, paths, size, yuv_format, first, frames):
        self.key, self.paths, self.size, self.yuv_format, self.first, self.frames = (
            key, tuple(paths), size, yuv_format, first, frames)


def open_pair(pair):
    """The pair's inputs, opened once per process; raises morvex.InputError."""
    from . import _native

    with _opening:
        opened = _pairs.get(pair.key)
        if opened is None:
            if len(_pairs) >= 64:
                _pairs.clear()
            opened = _native.PairInputs(list(pair.paths), pair.size, pair.yuv_format, pair.first, pair.frames)
            _pairs[pair.key] = opened
        return opened


def score_frame(pair, camera, k):
    """Frame k of a pair. Returns a dict of plain numbers, or {"frame": k,
    "error": message} with the command line's message for that frame."""
    from . import _native

    try:
        inputs = open_pair(pair)
    except _native.InputError as error:  # as the command line fails before its first frame
        return {"frame": k, "error": str(error)}
    try:
        result = inputs.score(k, camera)
    except _native.InputError as error:
        return {"frame": k, "error": f"frame {k}: {error}" if inputs.is_sequence else str(error)}
    frame = {"frame": k, "score": float(result.score)}
    for side in ("left", "right"):
        view = getattr(result, side)
        for field in FIELDS[1:]:
            frame[f"{field}_{side}"] = getattr(view, field)
        frame[f"error_{side}"] = float(frame[f"error_{side}"])
    if inputs.warning:
        frame["input_warning"] = inputs.warning
    if result.warning:
        frame["warning"] = result.warning
    return frame


class LocalEngine:
    """Threads of this process, one per core: the native code reads and
    scores without the interpreter held, and the open inputs are shared."""

    def __init__(self, workers=None):
        self.pool = concurrent.futures.ThreadPoolExecutor(max_workers=workers or os.cpu_count())

    def submit(self, pair, camera, k):
        return self.pool.submit(score_frame, pair, camera, k)

    def as_completed(self, futures):
        return concurrent.futures.as_completed(futures)

    def close(self, cancel=False):
        self.pool.shutdown(wait=True, cancel_futures=cancel)


class DaskEngine:
    """The workers of a running Dask distributed scheduler."""

    def __init__(self, address):
        import distributed

        self.distributed = distributed
        self.client = distributed.Client(address)

    def submit(self, pair, camera, k):
        return self.client.submit(score_frame, pair, camera, k, pure=False)

    def as_completed(self, futures):
        return self.distributed.as_completed(futures)

    def close(self, cancel=False):
        # A connection attempt of the client's that times out while it
        # closes leaves a future nobody awaits any more; asyncio would report
        # it when it is collected, after the run is done.
        logging.getLogger("asyncio").addFilter(_unawaited_timeouts)
        self.client.close()


def _unawaited_timeouts(record):
    """False for asyncio's report of a timed-out future that nobody awaited."""
    exception = record.exc_info[1] if record.exc_info else None
    return not (record.getMessage().startswith("Future exception was never retrieved") and
                isinstance(exception, TimeoutError))
