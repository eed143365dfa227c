"""Rate against score: the curves of coder families and their Bjøntegaard
deltas against an anchor family.

A family's methods are its rate points. On each sequence with at least four
usable points, BD-rate is the mean difference of the log-rates over the
overlapping score range, as a percentage of the anchor's rate, and BD-score
the mean difference of the scores over the overlapping log-rate range. Both
integrate piecewise cubic Hermite interpolants (PCHIP), as today's common
test conditions do."""

import math
import os

import numpy as np

MIN_POINTS = 4


def pchip_slopes(x, y):
    """The slopes of the monotone piecewise cubic Hermite interpolant
    (Fritsch and Carlson, with the three-point ends that scipy's
    PchipInterpolator uses): written here, as one small function instead of
    a large dependency."""
    h, delta = np.diff(x), np.diff(y) / np.diff(x)
    d = np.zeros(len(x))
    for k in range(1, len(x) - 1):
        if delta[k - 1] * delta[k] > 0:
            w1, w2 = 2 * h[k] + h[k - 1], h[k] + 2 * h[k - 1]
            d[k] = (w1 + w2) / (w1 / delta[k - 1] + w2 / delta[k])
    for end, h0, h1, d0, d1 in ((0, h[0], h[1], delta[0], delta[1]), (-1, h[-1], h[-2], delta[-1], delta[-2])):
        slope = ((2 * h0 + h1) * d0 - h0 * d1) / (h0 + h1)
        if np.sign(slope) != np.sign(d0):
            slope = 0.0
        elif np.sign(d0) != np.sign(d1) and abs(slope) > abs(3 * d0):
            slope = 3 * d0
        d[end] = slope
    return d


def pchip_integral(x, y, low, high):
    """The integral of the PCHIP interpolant of (x, y), x increasing, from
    low to high (both within x), from each piece's Hermite form."""
    d = pchip_slopes(x, y)

    def antiderivative(k, t):  # of piece k, from its start to t in [0, 1] of it
        h = x[k + 1] - x[k]
        return h * (y[k] * (t ** 4 / 2 - t ** 3 + t) + h * d[k] * (t ** 4 / 4 - 2 * t ** 3 / 3 + t ** 2 / 2) +
                    y[k + 1] * (t ** 3 - t ** 4 / 2) + h * d[k + 1] * (t ** 4 / 4 - t ** 3 / 3))

    total = 0.0
    for k in range(len(x) - 1):
        start, end = max(low, x[k]), min(high, x[k + 1])
        if start < end:
            h = x[k + 1] - x[k]
            total += antiderivative(k, (end - x[k]) / h) - antiderivative(k, (start - x[k]) / h)
    return total


def _mean_difference(anchor, test):
    """The mean of test - anchor over the overlap of their x ranges; each (x, y) sorted by x."""
    low, high = max(anchor[0][0], test[0][0]), min(anchor[0][-1], test[0][-1])
    if not low < high:
        return None
    return (pchip_integral(*test, low, high) - pchip_integral(*anchor, low, high)) / (high - low)


def _rising(points, name):
    """(log-rates, scores) of points sorted by rate; raises ValueError unless
    the score rises with the rate, without which neither is a function of
    the other and the deltas mean nothing."""
    ordered = sorted(points)
    for (rate0, score0), (rate1, score1) in zip(ordered, ordered[1:]):
        if not (rate0 < rate1 and score0 < score1):
            raise ValueError(f"the score of {name} does not rise with its rate: {score0:g} at {rate0:g} bits, "
                             f"{score1:g} at {rate1:g}")
    return np.log10([p[0] for p in ordered]), np.array([p[1] for p in ordered])


def bjontegaard(anchor, test):
    """(BD-rate in percent, BD-score) of test against anchor, each a list of
    (rate, score) points; raises ValueError naming why they cannot be compared."""
    if len(anchor) < MIN_POINTS or len(test) < MIN_POINTS:
        raise ValueError(f"the anchor has {len(anchor)} usable rate points, the family {len(test)}; "
                         f"{MIN_POINTS} each are needed")
    anchor_rates, anchor_scores = _rising(anchor, "the anchor")
    test_rates, test_scores = _rising(test, "the family")
    log_rate = _mean_difference((anchor_scores, anchor_rates), (test_scores, test_rates))
    score = _mean_difference((anchor_rates, anchor_scores), (test_rates, test_scores))
    if log_rate is None or score is None:
        raise ValueError("their scores or rates do not overlap")
    return (10 ** log_rate - 1) * 100, score


def method_rate(ds, method, sequence):
    """A method's bits per frame on a sequence, and None with why not when it has none."""
    entry, seq = ds.methods[method], ds.sequences[sequence]
    if entry.bitstream is not None:
        path = ds.bitstream(method, sequence)
        if not os.path.isfile(path):
            return None, f"no bitstream {os.path.relpath(path, os.path.dirname(ds.path))}"
        return os.path.getsize(path) * 8 / seq.frames, None
    if isinstance(entry.rate, dict):
        return (entry.rate[sequence], None) if sequence in entry.rate else (None, "no rate for this sequence")
    return entry.rate, None


def rate_distortion(ds, pairs, sequences, anchor=None):
    """Per family its points on every sequence and its deltas against the
    anchor (the given family, else the [report] table's, else the first);
    None when the dataset has no families. Points and families that cannot
    be used are listed in "left_out" with the reason."""
    families = {}
    for name, method in ds.methods.items():
        if method.family is not None:
            families.setdefault(method.family, []).append(name)
    if not families:
        return None
    anchor = anchor or ds.report.get("anchor") or next(iter(families))
    by_pair = {(p["sequence"], p["method"]): p for p in pairs}
    left_out = []
    points = {}
    for family, methods in families.items():
        for sequence in sequences:
            usable = []
            for method in methods:
                rate, why = method_rate(ds, method, sequence)
                pair = by_pair[sequence, method]
                score = pair["pooled"]["score"] if pair["status"] == "scored" else None
                if why is None and score is None:
                    why = "failed"
                elif why is None and not math.isfinite(score):
                    why = f"scores {score:g}"
                if why:
                    left_out.append(f"{sequence} / {method}: {why}")
                else:
                    usable.append((rate, score, method))
            points[family, sequence] = sorted(usable)
    document = {"anchor": anchor, "families": {}, "left_out": left_out}
    for family, methods in families.items():
        entry = {"anchor": anchor, "methods": methods, "sequences": {}}
        for sequence in sequences:
            usable = points[family, sequence]
            cell = {"points": [{"method": m, "rate": r, "score": s} for r, s, m in usable],
                    "bd_rate_percent": None, "bd_score": None}
            try:
                if len(usable) < MIN_POINTS:
                    raise ValueError(f"{len(usable)} usable rate points; {MIN_POINTS} are needed")
                if family == anchor:
                    _rising([p[:2] for p in usable], "the anchor")
                    cell["bd_rate_percent"], cell["bd_score"] = 0.0, 0.0
                else:
                    cell["bd_rate_percent"], cell["bd_score"] = bjontegaard(
                        [p[:2] for p in points[anchor, sequence]], [p[:2] for p in usable])
            except ValueError as error:
                cell["left_out"] = str(error)
                left_out.append(f"{sequence} / family {family}: {error}")
            entry["sequences"][sequence] = cell
        done = [c for c in entry["sequences"].values() if c["bd_rate_percent"] is not None]
        entry["mean_bd_rate_percent"] = sum(c["bd_rate_percent"] for c in done) / len(done) if done else None
        entry["mean_bd_score"] = sum(c["bd_score"] for c in done) / len(done) if done else None
        entry["sequences_compared"] = len(done)
        document["families"][family] = entry
    return document


def bd_md(document, sequences):
    """The deltas' means over the sequences, and what was left out, as summary.md's lines."""
    lines = ["", f"Bjøntegaard deltas against {document['anchor']} (PCHIP; mean over the sequences compared):", "",
             "| family | BD-rate | BD-score | sequences |", "|---|---:|---:|---:|"]
    for family, entry in document["families"].items():
        if family == document["anchor"]:
            continue
        rate, score = entry["mean_bd_rate_percent"], entry["mean_bd_score"]
        lines.append(f"| {family} | {'%+.1f%%' % rate if rate is not None else '-'} | "
                     f"{'%+.3g' % score if score is not None else '-'} | "
                     f"{entry['sequences_compared']} of {len(sequences)} |")
    if document["left_out"]:
        lines += ["", "Left out of the rate points or deltas:", ""] + [f"- {why}" for why in document["left_out"]]
    return lines
