"""How sure the pooled scores are: 95% intervals by resampling frames
(the bootstrap), and paired differences between methods.

Each resample draws a sequence's frames with replacement, as many as it has,
and pools them as a sequence run pools (tables.pool). Every method of a
sequence is resampled on the same draws, so differences are paired. The
interval runs from the (j+1)-th lowest to the (j+1)-th highest resampled
value, j = floor(0.025 N): order statistics rather than interpolated
percentiles, so that an inf (a resample of only perfect frames) stays an
honest bound instead of turning into nan."""

import math
import zlib

import numpy as np

RESAMPLES = 2000
SEED = 1
LEVEL = 0.95


def draws(sequence, frames, resamples, seed=SEED):
    """The frame positions of each resample, (resamples, frames). Seeded by
    the sequence's name, so that a sequence's draws do not change when
    methods or other sequences are added."""
    rng = np.random.default_rng([seed, zlib.crc32(sequence.encode())])
    return rng.integers(0, frames, size=(resamples, frames))


def resampled_scores(frames, indices):
    """The pooled score of each resample: per view the errors summed in order
    in double, divided, rounded to float32, then combined, as tables.pool."""
    from . import _native

    n = indices.shape[1]
    means = []
    for side in ("left", "right"):
        errors = np.array([f[f"error_{side}"] for f in frames], dtype=np.float64)
        # cumsum adds in order, as the command line does; sum would add pairwise.
        means.append((np.cumsum(errors[indices], axis=1)[:, -1] / n).astype(np.float32).tolist())
    return np.array([_native.combine_view_errors(left, right) for left, right in zip(*means)])


def interval(values):
    """The central 95% of resampled values, as order statistics."""
    ordered = np.sort(np.asarray(values, dtype=np.float64))
    cut = math.floor((1 - LEVEL) / 2 * len(ordered))
    return [float(ordered[cut]), float(ordered[len(ordered) - 1 - cut])]


def difference(first, second):
    """first - second, where two infs (both perfect) differ by nothing."""
    first, second = np.asarray(first, dtype=np.float64), np.asarray(second, dtype=np.float64)
    with np.errstate(invalid="ignore"):
        delta = first - second
    return np.where(np.isinf(first) & np.isinf(second) & (first == second), 0.0, delta)


def confidence(pairs, sequences, methods, resamples=RESAMPLES, seed=SEED):
    """Intervals for every scored pair and every method's mean over the
    sequences, and paired comparisons of every two methods, per sequence
    and on the mean. None where a pair failed (or resamples is 0)."""
    by_pair = {(p["sequence"], p["method"]): p for p in pairs}
    result = {"resamples": resamples, "seed": seed, "level": LEVEL, "intervals": {}, "mean_intervals": {},
              "comparisons": []}
    if not resamples:
        return result
    samples = {}
    for sequence in sequences:
        indices = None
        for method in methods:
            pair = by_pair[sequence, method]
            if pair["status"] != "scored":
                continue
            if indices is None:
                indices = draws(sequence, len(pair["frames"]), resamples, seed)
            samples[sequence, method] = resampled_scores(pair["frames"], indices)
            result["intervals"][sequence, method] = interval(samples[sequence, method])
    for method in methods:
        if all((s, method) in samples for s in sequences):
            samples[None, method] = sum(samples[s, method] for s in sequences) / len(sequences)
            result["mean_intervals"][method] = interval(samples[None, method])
    points = {(p["sequence"], p["method"]): p["pooled"]["score"] for p in pairs if p["status"] == "scored"}
    for i, first in enumerate(methods):
        for second in methods[i + 1:]:
            for sequence in [None, *sequences]:
                if (sequence, first) not in samples or (sequence, second) not in samples:
                    continue
                if sequence is None:
                    estimate = difference(sum(points[s, first] for s in sequences) / len(sequences),
                                          sum(points[s, second] for s in sequences) / len(sequences))
                else:
                    estimate = difference(points[sequence, first], points[sequence, second])
                deltas = difference(samples[sequence, first], samples[sequence, second])
                result["comparisons"].append({
                    "first": first, "second": second, "sequence": sequence, "difference": float(estimate),
                    "interval": interval(deltas), "first_higher": float(np.mean(deltas > 0))})
    return result


def interval_text(score, bounds):
    """A score and its interval as summary.md shows them, `51.94 [49.9, 52.7]`."""
    return " ".join(interval_texts(score, bounds))


def interval_texts(score, bounds):
    """The score's text and its interval's: the bounds to two significant
    digits of the interval's width, the score to one digit more."""
    if bounds is None:
        return (_plain(score),)
    low, high = bounds
    width = high - low
    if not math.isfinite(width):
        return _plain(score), f"[{_plain(low, 3)}, {_plain(high, 3)}]"
    decimals = max(0, 1 - math.floor(math.log10(width))) if width > 0 else 2
    return _fixed(score, decimals + 1), f"[{_fixed(low, decimals)}, {_fixed(high, decimals)}]"


def _fixed(value, decimals):
    return f"{value:.{decimals}f}" if math.isfinite(value) else _plain(value)


def _plain(value, digits=6):
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return f"{value:.{digits}g}"
