"""Where frames are scored: a local pool of processes, one per core, or the
workers of an existing Dask distributed cluster. Both run score_frame, so
their results are the same to the bit."""

import concurrent.futures
import multiprocessing
import os

from .frames import InputError, Video

ROLES = ("left", "right", "depth_left_a", "depth_right_a", "depth_left_b", "depth_right_b")
FIELDS = ("score", "error", "counted_pixels", "disagreeing_pixels", "pixels", "differ_over_1", "differ_over_2",
          "abs_difference_sum")

_videos = {}  # a worker's open inputs, kept between the frames it scores


def _video(path, size, fmt):
    key = (path, size, fmt, os.stat(path).st_mtime_ns if os.path.exists(path) else None)
    if key not in _videos:
        if len(_videos) > 64:
            _videos.clear()
        _videos[key] = Video(path, size, fmt)
    return _videos[key]


def score_frame(task):
    """One frame of a pair: task is (paths of the six inputs, size, yuv
    format, camera values, frame). Returns a dict of plain numbers, or
    {"error": message} for input that cannot be scored."""
    from . import _native

    paths, size, fmt, camera, k = task
    try:
        images = [_video(path, size, fmt).frame(k) for path in paths]
        result = _native.score(*images, camera)
    except InputError as error:
        return {"error": f"frame {k}: {error}"}
    except (ValueError, TypeError) as error:
        message = str(error)
        for role, path in zip(ROLES, paths):
            if message.startswith(role + " ("):
                message = path + message[len(role):]
        return {"error": f"frame {k}: {message}"}
    frame = {"frame": k, "score": float(result.score)}
    for side in ("left", "right"):
        view = getattr(result, side)
        for field in FIELDS[1:]:
            frame[f"{field}_{side}"] = getattr(view, field)
        frame[f"error_{side}"] = float(frame[f"error_{side}"])
    return frame


class LocalEngine:
    """A pool of processes, one per core."""

    def __init__(self, workers=None):
        # Not forked from this process, whose other threads (a Dask client's,
        # a notebook's) may hold locks.
        self.pool = concurrent.futures.ProcessPoolExecutor(max_workers=workers or os.cpu_count(),
                                                           mp_context=multiprocessing.get_context("forkserver"))

    def submit(self, task):
        return self.pool.submit(score_frame, task)

    def as_completed(self, futures):
        return concurrent.futures.as_completed(futures)

    def close(self, cancel=False):
        self.pool.shutdown(wait=not cancel, cancel_futures=cancel)


class DaskEngine:
    """The workers of a running Dask distributed scheduler."""

    def __init__(self, address):
        import distributed

        self.distributed = distributed
        self.client = distributed.Client(address)

    def submit(self, task):
        return self.client.submit(score_frame, task, pure=False)

    def as_completed(self, futures):
        return self.distributed.as_completed(futures)

    def close(self, cancel=False):
        self.client.close()
