"""A pair's frames pooled as a sequence run pools them, the table of methods
against sequences, and the files written from them, each whole or not at all."""

import csv
import io
import json
import math
import os

import numpy as np

DIFFERENCES = ("share_over_1", "share_over_2", "mean_abs_difference")
FRAME_COLUMNS = ("sequence", "method", "frame", "score", "error_left", "error_right") + tuple(
    f"{name}_{side}" for name in DIFFERENCES for side in ("left", "right"))


def number_text(value):
    """9 significant digits, enough to read back the same float; inf and nan as such."""
    return "%.9g" % value if value is not None else ""


def differences(frame_or_sums, side):
    pixels = frame_or_sums[f"pixels_{side}"]
    return {f"share_over_1_{side}": frame_or_sums[f"differ_over_1_{side}"] / pixels,
            f"share_over_2_{side}": frame_or_sums[f"differ_over_2_{side}"] / pixels,
            f"mean_abs_difference_{side}": frame_or_sums[f"abs_difference_sum_{side}"] / pixels}


def pool(frames):
    """The pooled result of a pair's frames, as morvex --json's "pooled"."""
    from . import _native

    n = len(frames)
    error_left = float(np.float32(_sum(f["error_left"] for f in frames) / n))
    error_right = float(np.float32(_sum(f["error_right"] for f in frames) / n))
    score = float(_native.combine_view_errors(error_left, error_right))
    finite = [f["score"] for f in frames if math.isfinite(f["score"])]
    worst = min(frames, key=lambda f: (f["score"], f["frame"]))
    pooled = {"score": score, "score_text": format_float(score), "error_left": error_left,
              "error_right": error_right,
              "mean_frame_score": _sum(finite) / len(finite) if finite else None,
              "min_frame_score": min(finite) if finite else None, "max_frame_score": max(finite) if finite else None,
              "worst_frame": worst["frame"]}
    for side in ("left", "right"):
        sums = {f"{field}_{side}": sum(f[f"{field}_{side}"] for f in frames)
                for field in ("pixels", "differ_over_1", "differ_over_2", "abs_difference_sum")}
        pooled.update(differences(sums, side))
    return pooled


def _sum(values):
    """In order, in double, as the command line adds."""
    total = 0.0
    for value in values:
        total += value
    return total


def format_float(value):
    """As the "MORVEX Score:" line prints a float: six significant digits."""
    if math.isnan(value):
        return "nan"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return "%g" % value


def ranks(scores):
    """Rank 1 for the highest score, ties share their mean rank, a failed pair (None) ranks last."""
    keyed = {name: (-s if s is not None and not math.isnan(s) else math.inf) for name, s in scores.items()}
    ordered = sorted(keyed.values())
    return {name: (ordered.index(key) + 1 + len(ordered) - ordered[::-1].index(key)) / 2
            for name, key in keyed.items()}


def summary(pairs, sequences, methods):
    """Rows of methods: the pooled score per sequence (None for a failed
    pair), the mean over sequences (None when one failed) and the mean rank."""
    pooled = {(p["sequence"], p["method"]): (p["pooled"]["score"] if p["status"] == "scored" else None)
              for p in pairs}
    rank_sums = {method: 0.0 for method in methods}
    for sequence in sequences:
        for method, rank in ranks({m: pooled[sequence, m] for m in methods}).items():
            rank_sums[method] += rank
    rows = []
    for method in methods:
        scores = [pooled[s, method] for s in sequences]
        rows.append({"method": method, "scores": dict(zip(sequences, scores)),
                     "mean": None if None in scores else _sum(scores) / len(scores),
                     "mean_rank": rank_sums[method] / len(sequences)})
    return rows


def write_whole(path, data):
    """Writes beside the file, then renames: readers see the old file or the new one."""
    temporary = os.path.join(os.path.dirname(path), f".{os.path.basename(path)}.{os.getpid()}.tmp")
    with open(temporary, "wb") as file:
        file.write(data.encode() if isinstance(data, str) else data)
    os.replace(temporary, path)


def frames_csv(pairs):
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(FRAME_COLUMNS)
    for pair in pairs:
        for frame in pair.get("frames", []):
            writer.writerow([pair["sequence"], pair["method"], frame["frame"]] +
                            [number_text(frame[column]) for column in FRAME_COLUMNS[3:]])
    return out.getvalue()


def summary_csv(rows, sequences):
    """With intervals, their bounds follow as SEQUENCE_low, SEQUENCE_high, ..., mean_low, mean_high."""
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    bounds = "intervals" in rows[0]
    writer.writerow(["method", *sequences, "mean", "mean_rank"] +
                    [f"{name}_{end}" for name in [*sequences, "mean"] for end in ("low", "high")] * bounds)
    for row in rows:
        writer.writerow([row["method"]] + [number_text(row["scores"][s]) if row["scores"][s] is not None else "failed"
                                           for s in sequences] +
                        [number_text(row["mean"]) if row["mean"] is not None else "", "%g" % row["mean_rank"]] +
                        [number_text(value) for interval in ([*(row["intervals"][s] for s in sequences),
                                                              row["mean_interval"]] if bounds else [])
                         for value in (interval or [None, None])])
    return out.getvalue()


def summary_md(rows, sequences, pairs, statistics=None, rate_distortion=None):
    """The table of methods against sequences, with each score's interval
    when there are resamples; the failures; the paired differences on the
    mean; the Bjøntegaard deltas when there are coder families."""
    from .rd import bd_md
    from .stats import interval_text

    bounds = "intervals" in rows[0]

    def cell(value, interval, missing):
        if value is None:
            return missing
        return interval_text(value, interval) if bounds else format_float(value)

    lines = ["| method | " + " | ".join(sequences) + " | mean | mean rank |",
             "|---|" + "---:|" * (len(sequences) + 2)]
    for row in rows:
        lines.append(f"| {row['method']} | " + " | ".join(cell(row["scores"][s], row.get("intervals", {}).get(s),
                                                                "failed") for s in sequences) +
                     f" | {cell(row['mean'], row.get('mean_interval'), '-')} | {row['mean_rank']:g} |")
    failed = [p for p in pairs if p["status"] != "scored"]
    if failed:
        lines += ["", "Failed:", ""] + [f"- {p['sequence']} / {p['method']}: {p['error']}" for p in failed]
    if statistics and statistics["resamples"]:
        lines += ["", f"95% intervals from {statistics['resamples']} resamples of each sequence's frames."]
        compared = [c for c in statistics["comparisons"] if c["sequence"] is None]
        if compared:
            lines += ["", "Paired differences of the mean over the sequences, on the same resamples:", "",
                      "| first | second | first - second | first higher in |", "|---|---|---:|---:|"]
            lines += [f"| {c['first']} | {c['second']} | {interval_text(c['difference'], c['interval'])} | "
                      f"{100 * c['first_higher']:.1f}% |" for c in compared]
    if rate_distortion:
        lines += bd_md(rate_distortion, sequences)
    return "\n".join(lines) + "\n"


def results_json(document):
    def clean(value):  # JSON has no infinity or NaN
        if isinstance(value, float) and not math.isfinite(value):
            return None
        if isinstance(value, dict):
            return {k: clean(v) for k, v in value.items()}
        if isinstance(value, list):
            return [clean(v) for v in value]
        return value

    return json.dumps(clean(document), indent=1) + "\n"
