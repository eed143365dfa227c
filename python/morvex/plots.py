"""The pictures of an evaluation, as PNG and SVG: per sequence the score over
the frames with a line per method, the pooled score of each method and
sequence as grouped bars, and per sequence the score against the rate of
each coder family."""

import math
import os

from .tables import write_whole


def _figure_files(figure, stem):
    import io

    for extension in ("png", "svg"):
        buffer = io.BytesIO()
        figure.savefig(buffer, format=extension, dpi=100, metadata={"Date": None} if extension == "svg" else {})
        write_whole(f"{stem}.{extension}", buffer.getvalue())


_STYLES = ("-", "--", ":")  # after the ten colours, methods differ by their line


def _finite(value):
    return value if value is not None and math.isfinite(value) else float("nan")


def _pyplot():
    import matplotlib

    matplotlib.use("Agg")
    matplotlib.rcParams["svg.hashsalt"] = "morvex"
    import matplotlib.pyplot as plt

    return plt


def line_id(sequence_index, method_index):
    """The SVG id of a method's line in a sequence's score plot, by which the report finds its points."""
    return f"frames-{sequence_index}-{method_index}"


def write_plots(outdir, pairs, rows, sequences, methods):
    from matplotlib.ticker import MaxNLocator

    plt = _pyplot()
    folder = os.path.join(outdir, "plots")
    os.makedirs(folder, exist_ok=True)
    written = []
    by_pair = {(p["sequence"], p["method"]): p for p in pairs}
    for i, sequence in enumerate(sequences):
        figure, axes = plt.subplots(figsize=(7, 3.5), layout="constrained")
        for j, method in enumerate(methods):
            frames = by_pair[sequence, method].get("frames", [])
            if frames:
                axes.plot([f["frame"] for f in frames], [_finite(f["score"]) for f in frames], marker=".",
                          label=method, gid=line_id(i, j), linestyle=_STYLES[j // 10 % len(_STYLES)])
            else:
                axes.plot([], [], label=f"{method} (failed)")
        axes.xaxis.set_major_locator(MaxNLocator(integer=True))
        axes.set(title=f"{sequence}: score per frame", xlabel="frame", ylabel="score (higher is closer)")
        axes.grid(alpha=0.3)
        axes.legend(loc="upper left", bbox_to_anchor=(1, 1))
        stem = os.path.join(folder, f"score_{sequence}")
        _figure_files(figure, stem)
        plt.close(figure)
        written.append(stem)

    figure, axes = plt.subplots(figsize=(max(5, 1.2 * len(sequences) * len(methods) ** 0.5 + 2), 3.5),
                                layout="constrained")
    width = 0.8 / len(methods)
    for i, row in enumerate(rows):
        xs = [j + (i - (len(methods) - 1) / 2) * width for j in range(len(sequences))]
        bars = axes.bar(xs, [_finite(row["scores"][s]) for s in sequences], width, label=row["method"])
        axes.bar_label(bars, fmt="%.1f", fontsize=7)
        for x, sequence in zip(xs, sequences):  # no bar to show: say why
            value = row["scores"][sequence]
            if value is None or not math.isfinite(value):
                axes.text(x, 0, " failed" if value is None else f" {value:g}", rotation=90, ha="center",
                          va="bottom", fontsize=8, color="0.4")
    axes.set_xticks(range(len(sequences)), sequences)
    axes.set_xlim(-0.5, len(sequences) - 0.5)
    axes.set(title="Pooled score per sequence", ylabel="score (higher is closer)")
    axes.legend(loc="upper left", bbox_to_anchor=(1, 1))
    stem = os.path.join(folder, "pooled")
    _figure_files(figure, stem)
    plt.close(figure)
    return written + [stem]


def write_rd_plots(outdir, document, sequences):
    """Per sequence, each family's pooled score against its rate (bits per
    frame, log axis), a line per family; the points left out are not drawn."""
    plt = _pyplot()
    folder = os.path.join(outdir, "plots")
    os.makedirs(folder, exist_ok=True)
    written = []
    for sequence in sequences:
        figure, axes = plt.subplots(figsize=(7, 3.5), layout="constrained")
        for family, entry in document["families"].items():
            points = entry["sequences"][sequence]["points"]
            label = family + (" (anchor)" if family == document["anchor"] else "")
            axes.plot([p["rate"] for p in points], [p["score"] for p in points], marker="o", label=label)
        axes.set_xscale("log")
        axes.set(title=f"{sequence}: score against rate", xlabel="rate (bits per frame)",
                 ylabel="score (higher is closer)")
        axes.grid(alpha=0.3, which="both")
        axes.legend()
        stem = os.path.join(folder, f"rd_{sequence}")
        _figure_files(figure, stem)
        plt.close(figure)
        written.append(stem)
    return written
