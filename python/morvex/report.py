"""OUTDIR/report.html: one page that opens from disk, offline, with the
summary and its intervals, the paired comparisons, the rate curves, the
per-frame scores, the disparity errors and the heat maps of each sequence's
worst frames side by side.

The page is HTML with the plots' SVG, its own style and a little plain
JavaScript; the heat maps are PNG files in OUTDIR/heatmaps. Its
Content-Security-Policy allows images from its own folder, inline style (the
SVG's style attributes) and only the one script whose hash it names: nothing
is fetched from anywhere else."""

import base64
import concurrent.futures
import datetime
import hashlib
import html
import json
import math
import os
import re
import struct
import urllib.parse
import zlib

import numpy as np

from . import tables
from .plots import line_id
from .stats import interval_texts

HEATMAP_FOLDER = "heatmaps"


def worst_frames(pairs, sequence, count):
    """The `count` frames of a sequence on which the lowest score of any method falls, lowest first."""
    lowest = {}
    for pair in pairs:
        if pair["sequence"] == sequence and pair["status"] == "scored":
            for frame in pair["frames"]:
                lowest[frame["frame"]] = min(lowest.get(frame["frame"], math.inf), frame["score"])
    return sorted(lowest, key=lambda k: (lowest[k], k))[:count]


def png(image):
    """A grey (2-D) or RGB (rows, columns, 3) uint8 image as PNG bytes."""
    image = np.ascontiguousarray(image, dtype=np.uint8)
    height, width = image.shape[:2]
    rows = np.hstack([np.zeros((height, 1), np.uint8), image.reshape(height, -1)])

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 2 if image.ndim == 3 else 0, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows.tobytes(), 1)) +
            chunk(b"IEND", b""))


def start_heatmaps(ds, pairs, sequences, methods, count, open_pair, workers=None):
    """The second pass, on threads: the worst frames of every sequence scored
    again with their maps kept, each method's heat maps on the fixed scale
    and the plain views, as PNG. Returns a function that waits for them and
    returns, per sequence, a list of (frame, {(view, method or None): PNG})."""
    import morvex

    by_pair = {(p["sequence"], p["method"]): p for p in pairs}

    def frame_images(sequence, k):
        seq = ds.sequences[sequence]
        scored = [m for m in methods if by_pair[sequence, m]["status"] == "scored"]
        images = {}
        try:  # files changed since they were scored: no pictures rather than no report
            views = open_pair(sequence, scored[0]).read(k)[:2]
        except morvex.InputError:
            return images
        for view, image in zip(("left", "right"), views):
            images[view, None] = png(image)
        for method in scored:
            try:
                result = open_pair(sequence, method).score(k, seq.camera, maps=True)
            except morvex.InputError:
                continue
            for view, image in zip(("left", "right"), views):
                images[view, method] = png(morvex.error_heatmap(image, getattr(result, view).maps))
        return images

    pool = concurrent.futures.ThreadPoolExecutor(max_workers=workers or os.cpu_count())
    jobs = {sequence: [(k, pool.submit(frame_images, sequence, k)) for k in worst_frames(pairs, sequence, count)]
            for sequence in sequences}

    def finish():
        try:
            return {sequence: [(k, job.result()) for k, job in frames] for sequence, frames in jobs.items()}
        finally:
            pool.shutdown(cancel_futures=True)

    return finish


def heatmap_name(sequence_index, frame, view, method_index):
    return f"s{sequence_index}_f{frame}_{view}" + (f"_m{method_index}" if method_index is not None else "") + ".png"


def write_heatmaps(outdir, images, sequences, methods):
    """Writes the images; removes those of earlier runs that this one did not make."""
    folder = os.path.join(outdir, HEATMAP_FOLDER)
    os.makedirs(folder, exist_ok=True)
    written = set()
    for i, sequence in enumerate(sequences):
        for k, frame_images in images.get(sequence, []):
            for (view, method), data in frame_images.items():
                name = heatmap_name(i, k, view, methods.index(method) if method is not None else None)
                tables.write_whole(os.path.join(folder, name), data)
                written.add(name)
    for name in os.listdir(folder):
        if name.endswith(".png") and name not in written:
            os.remove(os.path.join(folder, name))


STYLE = """
body { font: 14px/1.45 system-ui, sans-serif; margin: 0 auto; max-width: 1200px; padding: 0 16px 40px; color: #222; }
h1 { font-size: 22px; margin: 18px 0 4px; } h2 { font-size: 18px; margin-top: 32px; border-bottom: 1px solid #ddd; }
h3 { font-size: 15px; margin: 20px 0 6px; } h4 { font-size: 14px; margin: 14px 0 4px; font-weight: 600; }
nav a { margin-right: 14px; } .meta { color: #555; margin: 0; } .note { color: #555; max-width: 80ch; }
table { border-collapse: collapse; margin: 8px 0; } th, td { padding: 3px 9px; border-bottom: 1px solid #e4e4e4; }
th { text-align: left; background: #f4f4f4; } td.n, th.n { text-align: right; font-variant-numeric: tabular-nums; }
table.sortable th { cursor: pointer; user-select: none; } table.sortable th:hover { background: #e6eefc; }
th[data-sorted="desc"]::after { content: " \\25BC"; } th[data-sorted="asc"]::after { content: " \\25B2"; }
td.best { font-weight: 700; background: #e7f5e7; } td.higher { background: #e7f5e7; } td.lower { background: #fbe9e9; }
.wide { overflow-x: auto; } table.matrix td { border-left: 1px solid #eee; white-space: nowrap; }
.ci { color: #666; font-size: 12px; }
td.failed { color: #b00; } ul.failures li { color: #b00; font-family: monospace; font-size: 12px; }
figure { margin: 8px 0; } figure.curve svg { max-width: 100%; height: auto; }
g[id^="frames-"] use { cursor: crosshair; } g[id^="frames-"] use:hover { stroke-width: 6px; }
img.plot { max-width: 100%; }
table.tiles td, table.tiles th { vertical-align: top; border: 0; padding: 2px 4px; font-weight: 400; }
table.tiles thead th { background: none; font-size: 12px; white-space: nowrap; }
table.tiles img { image-rendering: pixelated; border: 1px solid #ccc; cursor: zoom-in; display: block; }
#tip { position: fixed; pointer-events: none; background: #222; color: #fff; padding: 3px 7px; border-radius: 3px;
       font-size: 12px; display: none; z-index: 2; }
#overlay { position: fixed; inset: 0; background: rgba(0, 0, 0, .8); display: none; z-index: 3; overflow: auto;
           cursor: zoom-out; text-align: center; }
#overlay img { margin: 20px auto; image-rendering: pixelated; min-width: min(640px, 90vw); }
#overlay p { color: #fff; }
"""

SCRIPT = """
(function () {
  function key(cell) {
    var value = cell.getAttribute("data-v");
    return value === null || value === "" ? null : (isNaN(Number(value)) ? value : Number(value));
  }
  document.querySelectorAll("table.sortable").forEach(function (table) {
    var headers = table.querySelectorAll("thead th");
    headers.forEach(function (th, column) {
      th.addEventListener("click", function () {
        var order = th.getAttribute("data-sorted") === th.getAttribute("data-first") ?
          (th.getAttribute("data-first") === "desc" ? "asc" : "desc") : th.getAttribute("data-first");
        headers.forEach(function (other) { other.removeAttribute("data-sorted"); });
        th.setAttribute("data-sorted", order);
        var body = table.tBodies[0];
        var rows = Array.prototype.slice.call(body.rows);
        rows.sort(function (a, b) {
          var x = key(a.cells[column]), y = key(b.cells[column]);
          if (x === null || y === null) { return (x === null) - (y === null); }
          var c = x < y ? -1 : x > y ? 1 : 0;
          return order === "asc" ? c : -c;
        });
        rows.forEach(function (row) { body.appendChild(row); });
      });
    });
  });
  document.querySelectorAll("figure.curve").forEach(function (figure) {
    var series = JSON.parse(figure.getAttribute("data-series"));
    Object.keys(series).forEach(function (id) {
      var group = figure.querySelector("g[id='" + id + "']");
      if (!group) { return; }
      var s = series[id];
      group.querySelectorAll("use").forEach(function (mark, i) {
        if (i < s.points.length) {
          mark.setAttribute("data-tip", s.method + ": frame " + s.points[i][0] + ", score " + s.points[i][1]);
        }
      });
    });
  });
  var tip = document.getElementById("tip");
  document.addEventListener("mousemove", function (event) {
    var target = event.target.closest ? event.target.closest("[data-tip]") : null;
    if (!target) { tip.style.display = "none"; return; }
    tip.textContent = target.getAttribute("data-tip");
    tip.style.left = (event.clientX + 12) + "px";
    tip.style.top = (event.clientY + 12) + "px";
    tip.style.display = "block";
  });
  var overlay = document.getElementById("overlay");
  document.querySelectorAll("a.zoom").forEach(function (link) {
    link.addEventListener("click", function (event) {
      event.preventDefault();
      var image = overlay.querySelector("img") || overlay.appendChild(document.createElement("img"));
      image.src = link.getAttribute("href");
      image.alt = link.getAttribute("title");
      overlay.querySelector("p").textContent = link.getAttribute("title");
      overlay.style.display = "block";
    });
  });
  overlay.addEventListener("click", function () { overlay.style.display = "none"; });
  document.addEventListener("keydown", function (event) {
    if (event.key === "Escape") { overlay.style.display = "none"; }
  });
})();
"""


def _e(text):
    return html.escape(str(text), quote=True)


def _score(value):
    return tables.format_float(value) if value is not None else ""


def _data(value):
    """A cell's sort key: numbers as JavaScript reads them, nothing for a missing value."""
    if value is None or (isinstance(value, float) and math.isnan(value)):
        return ""
    return "Infinity" if value == math.inf else repr(value)


def _with_interval(score, bounds):
    """A score and, smaller, its interval, rounded as summary.md rounds them."""
    if bounds is None:
        return _score(score)
    text, interval = interval_texts(score, bounds)
    return f'{text} <span class="ci">{interval}</span>'


def _summary(rows, sequences, pairs):
    failed = {(p["sequence"], p["method"]): p["error"] for p in pairs if p["status"] != "scored"}
    columns = [(s, lambda row, s=s: row["scores"][s], lambda row, s=s: row.get("intervals", {}).get(s))
               for s in sequences] + [("mean", lambda row: row["mean"], lambda row: row.get("mean_interval"))]
    best = []
    for _, value, _ in columns:
        values = [value(row) for row in rows if value(row) is not None]
        best.append(max(values) if values else None)
    lowest_rank = min(row["mean_rank"] for row in rows)
    head = ('<tr><th data-first="asc">method</th>' + "".join(
        f'<th class="n" data-first="desc">{_e(name)}</th>' for name, _, _ in columns) +
        '<th class="n" data-first="asc">mean rank</th></tr>')
    body = []
    for row in rows:
        cells = [f'<td data-v="{_e(row["method"])}">{_e(row["method"])}</td>']
        for column, (name, value, bounds) in enumerate(columns):
            score = value(row)
            if score is None:
                is_mean = column == len(sequences)
                message = "a sequence failed" if is_mean else failed[name, row["method"]]
                cells.append(f'<td class="n failed" data-v="" title="{_e(message)}">{"-" if is_mean else "failed"}'
                             "</td>")
                continue
            mark = ' best" title="best of this column' if score == best[column] else ""
            cells.append(f'<td class="n{mark}" data-v="{_data(score)}">{_with_interval(score, bounds(row))}'
                         "</td>")
        mark = ' best" title="best of this column' if row["mean_rank"] == lowest_rank else ""
        cells.append(f'<td class="n{mark}" data-v="{row["mean_rank"]!r}">{row["mean_rank"]:g}</td>')
        body.append("<tr>" + "".join(cells) + "</tr>")
    pieces = [f'<table class="sortable" id="summary-table"><thead>{head}</thead><tbody>{"".join(body)}</tbody></table>']
    if failed:
        pieces.append("<p>Failed pairs:</p><ul class=\"failures\">" + "".join(
            f"<li>{_e(s)} / {_e(m)}: {_e(error)}</li>" for (s, m), error in failed.items()) + "</ul>")
    return "".join(pieces)


def _matrix(comparisons, methods, sequence):
    """The differences of one sequence (None: the mean) as a table: row minus column, each pair once."""
    cells = {(c["first"], c["second"]): c for c in comparisons if c["sequence"] == sequence}
    present = [m for m in methods if any(m in pair for pair in cells)]
    if not cells:
        return "<p>No two methods were scored there.</p>"
    head = "<tr><th>row − column</th>" + "".join(f'<th class="n">{_e(m)}</th>' for m in present[1:]) + "</tr>"
    rows = []
    for i, first in enumerate(present[:-1]):
        tds = []
        for second in present[1:]:
            c = cells.get((first, second))
            if c is None:
                tds.append("<td></td>")
                continue
            low, high = c["interval"]
            kind = " higher" if low > 0 else " lower" if high < 0 else ""
            text, interval = interval_texts(c["difference"], c["interval"])
            tds.append(f'<td class="n{kind}">{text}<br><span class="ci">{interval} · '
                       f'{100 * c["first_higher"]:.0f}%</span></td>')
        rows.append(f"<tr><th>{_e(first)}</th>{''.join(tds)}</tr>")
    return f'<div class="wide"><table class="matrix"><thead>{head}</thead><tbody>{"".join(rows)}</tbody></table></div>'


def _comparisons(statistics, methods, sequences):
    pieces = ["<h3>Mean over the sequences</h3>", _matrix(statistics["comparisons"], methods, None),
             "<details><summary>Per sequence</summary>"]
    for sequence in sequences:
        pieces += [f"<h3>{_e(sequence)}</h3>", _matrix(statistics["comparisons"], methods, sequence)]
    return "".join(pieces) + "</details>"


def _rate_distortion(document, sequences):
    anchor = document["anchor"]
    head = "<tr><th>family</th>" + "".join(f'<th class="n">{_e(s)}</th>' for s in sequences) + \
        '<th class="n">mean</th></tr>'
    rows = []
    for family, entry in document["families"].items():
        if family == anchor:
            continue
        cells = []
        for sequence in sequences:
            cell = entry["sequences"][sequence]
            if cell["bd_rate_percent"] is None:
                cells.append(f'<td class="n failed" title="{_e(cell.get("left_out", ""))}">-</td>')
            else:
                cells.append(f'<td class="n">{cell["bd_rate_percent"]:+.1f}% / {cell["bd_score"]:+.3g}</td>')
        mean = entry["mean_bd_rate_percent"]
        cells.append(f'<td class="n">{mean:+.1f}% / {entry["mean_bd_score"]:+.3g} '
                     f'<span class="ci">({entry["sequences_compared"]} of {len(sequences)})</span></td>'
                     if mean is not None else '<td class="n">-</td>')
        rows.append(f"<tr><td>{_e(family)}</td>{''.join(cells)}</tr>")
    pieces = [f"<p>BD-rate / BD-score of each family against {_e(anchor)}: the rate the family needs for the same "
             "score, in percent of the anchor's (negative: fewer bits), and the score it gains at the same rate; "
             "piecewise cubic Hermite (PCHIP) interpolation over the overlapping range.</p>",
             f"<table><thead>{head}</thead><tbody>{''.join(rows)}</tbody></table>"]
    if document["left_out"]:
        pieces.append('<p>Left out:</p><ul class="failures">' +
                     "".join(f"<li>{_e(why)}</li>" for why in document["left_out"]) + "</ul>")
    pieces += [f'<img class="plot" src="{_e(urllib.parse.quote(f"plots/rd_{s}.svg"))}" alt="{_e(s)}: score against rate">'
              for s in sequences]
    return "".join(pieces)


def _svg(path):
    """A plot's SVG, ready to sit inside the page: no XML prologue, no metadata."""
    with open(path) as file:
        text = file.read()
    text = text[text.index("<svg"):]
    return re.sub(r"<metadata>.*?</metadata>", "", text, flags=re.S)


def _curves(outdir, pairs, sequences, methods):
    by_pair = {(p["sequence"], p["method"]): p for p in pairs}
    pieces = []
    for i, sequence in enumerate(sequences):
        series = {}
        for j, method in enumerate(methods):
            frames = by_pair[sequence, method].get("frames", [])
            series[line_id(i, j)] = {"method": method, "points": [
                [f["frame"], float("%.6g" % f["score"])] for f in frames if math.isfinite(f["score"])]}
        pieces.append(f'<figure class="curve" data-series="{_e(json.dumps(series))}">'
                     f'{_svg(os.path.join(outdir, "plots", f"score_{sequence}.svg"))}</figure>')
    return "".join(pieces) + ('<p class="note">A perfect frame (score inf) has no point. Hover over a point for its '
                             "frame and score.</p>")


def _disparity(pairs):
    rows = []
    for pair in pairs:
        if pair["status"] != "scored":
            continue
        pooled = pair["pooled"]
        cells = "".join(f'<td class="n" data-v="{pooled[f"{name}_{side}"]!r}">{scale * pooled[f"{name}_{side}"]:.3g}'
                        "</td>" for name, scale in (("share_over_1", 100), ("share_over_2", 100),
                                                    ("mean_abs_difference", 1)) for side in ("left", "right"))
        rows.append(f'<tr><td data-v="{_e(pair["sequence"])}">{_e(pair["sequence"])}</td>'
                    f'<td data-v="{_e(pair["method"])}">{_e(pair["method"])}</td>{cells}</tr>')
    head = ('<tr><th data-first="asc">sequence</th><th data-first="asc">method</th>' + "".join(
        f'<th class="n" data-first="asc">{title} {side}</th>' for title in ("over 1 px, %", "over 2 px, %",
                                                                             "mean |difference|, px")
        for side in ("left", "right")) + "</tr>")
    return (f'<table class="sortable"><thead>{head}</thead><tbody>{"".join(rows)}</tbody></table>'
            '<p class="note">Over the pixels of all frames: the share whose disparities of sets A and B differ by '
            "more than 1 and 2 pixels, and their mean absolute difference.</p>")


THUMBNAIL = 160  # a view's width in the page, in CSS pixels


def _png_width(data):
    return struct.unpack(">I", data[16:20])[0]


def _heatmaps(images, pairs, sequences, methods):
    by_pair = {(p["sequence"], p["method"]): p for p in pairs}
    pieces = []
    for i, sequence in enumerate(sequences):
        frames = images.get(sequence, [])
        pieces.append(f"<h3>{_e(sequence)}</h3>")
        if not frames:
            pieces.append("<p>No frame was scored.</p>")
        for k, frame_images in frames:
            if not frame_images:
                pieces.append(f"<h4>frame {k}: its files could not be read again</h4>")
                continue
            scores = {m: next(f["score"] for f in by_pair[sequence, m]["frames"] if f["frame"] == k)
                      for m in methods if by_pair[sequence, m]["status"] == "scored"}
            worst = min(scores, key=scores.get)
            pieces.append(f"<h4>frame {k}: lowest score {_score(scores[worst])} ({_e(worst)})</h4>")
            head = "<tr><th></th><th>view</th>" + "".join(
                f"<th>{_e(m)}: {_score(scores[m]) if m in scores else 'failed'}</th>" for m in methods) + "</tr>"
            rows = []
            for view in ("left", "right"):
                tiles = []
                for method in [None, *methods]:
                    if (view, method) not in frame_images:
                        tiles.append("<td></td>")
                        continue
                    name = heatmap_name(i, k, view, methods.index(method) if method is not None else None)
                    title = f"{sequence}, frame {k}, {view} view" + (f", {method}" if method else "")
                    # One scale for the view and its heat maps, whose colour bar may make them wider.
                    width = round(_png_width(frame_images[view, method]) * THUMBNAIL /
                                  _png_width(frame_images[view, None]))
                    tiles.append(f'<td><a class="zoom" href="{HEATMAP_FOLDER}/{name}" title="{_e(title)}">'
                                 f'<img src="{HEATMAP_FOLDER}/{name}" width="{width}" alt="{_e(title)}"></a></td>')
                rows.append(f"<tr><th>{view}</th>{''.join(tiles)}</tr>")
            pieces.append(f'<div class="wide"><table class="tiles"><thead>{head}</thead><tbody>{"".join(rows)}'
                         "</tbody></table></div>")
    return ('<p class="note">Each method\'s weighted error in colour over the view in grey, all on the one fixed '
            "scale of the colour bar; click an image for its full size.</p>" + "".join(pieces))


def _inputs(ds, results, pairs):
    folder = os.path.dirname(ds.path)
    pieces = [f"<p>Dataset file: <code>{_e(ds.path)}</code></p>",
             "<table><thead><tr><th>sequence</th><th>frames</th><th>size</th><th>inputs</th></tr></thead><tbody>"]
    for name, seq in ds.sequences.items():
        if name not in results["sequences"]:
            continue
        inputs = ", ".join(f"{role}: <code>{_e(os.path.relpath(path, folder))}</code>"
                           for role, path in seq.inputs.items())
        size = f"{seq.size[0]}x{seq.size[1]}, yuv {seq.yuv_format}" if seq.size else "from the files"
        pieces.append(f"<tr><td>{_e(name)}</td><td>{seq.first}–{seq.first + seq.frames - 1}</td><td>{_e(size)}</td>"
                     f"<td>{inputs}</td></tr>")
    coded = any(method.family is not None for method in ds.methods.values())
    pieces.append("</tbody></table><table><thead><tr><th>method</th><th>set B</th>" +
                 "<th>family</th><th>rate</th>" * coded + "</tr></thead><tbody>")
    for name, method in ds.methods.items():
        templates = ", ".join(f"<code>{_e(t)}</code>" for t in method.templates.values())
        rate = (f"bitstream <code>{_e(method.bitstream)}</code>" if method.bitstream else
                _e(json.dumps(method.rate)) if method.rate is not None else "")
        pieces.append(f"<tr><td>{_e(name)}</td><td>{templates}</td>" +
                     f"<td>{_e(method.family or '')}</td><td>{rate}</td>" * coded + "</tr>")
    pieces.append("</tbody></table><details><summary>Each pair's files and their sizes</summary><ul>")
    for pair in pairs:
        files = ", ".join(f"{role}: <code>{_e(entry['path'])}</code> ({entry['bytes']} bytes)"
                          for role, entry in pair["inputs"].items())
        pieces.append(f"<li>{_e(pair['sequence'])} / {_e(pair['method'])}: {files}</li>")
    pieces.append("</ul></details>")
    return "".join(pieces)


def page(ds, outdir, results, pairs, images, statistics, rate_distortion, date=None):
    """The report's HTML."""
    sequences, methods = list(results["sequences"]), list(results["methods"])
    date = date or datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")
    script_hash = base64.b64encode(hashlib.sha256(SCRIPT.encode()).digest()).decode()
    policy = (f"default-src 'none'; img-src 'self' file: data:; style-src 'unsafe-inline'; "
              f"script-src 'sha256-{script_hash}'; base-uri 'none'; form-action 'none'")
    name = os.path.basename(ds.path)
    resamples = statistics["resamples"]
    sections = [("summary", "Pooled scores",
                 ('<p class="note">Each cell: the pooled score of the sequence\'s frames'
                  + (f" and its 95% interval from {resamples} resamples of the frames" if resamples else "")
                  + ". Higher is closer; bold is the best of its column. Click a column's title to sort.</p>")
                 + _summary(results["summary"], sequences, pairs)
                 + '<img class="plot" src="plots/pooled.svg" alt="Pooled score per sequence">')]
    if resamples:
        sections.append(("comparisons", "Paired comparisons",
                         '<p class="note">Both methods resampled on the same frames: the row\'s pooled score minus '
                         "the column's, its 95% interval, and the share of resamples in which the row's was higher. "
                         "Green: the row is higher in at least 97.5% of the resamples (the interval lies above 0); "
                         "red: lower.</p>" + _comparisons(statistics, methods, sequences)))
    if rate_distortion:
        sections.append(("rate", "Rate and score", _rate_distortion(rate_distortion, sequences)))
    if any(images.values()):
        sections.append(("heatmaps", "Heat maps of the worst frames", _heatmaps(images, pairs, sequences, methods)))
    sections += [("frames", "Score per frame", _curves(outdir, pairs, sequences, methods)),
                 ("disparity", "Disparity errors", _disparity(pairs)),
                 ("inputs", "Inputs", _inputs(ds, results, pairs))]
    nav = "".join(f'<a href="#{key}">{_e(title)}</a>' for key, title, _ in sections)
    body = "".join(f'<section id="{key}"><h2>{_e(title)}</h2>{content}</section>' for key, title, content in sections)
    return (f'<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">'
            f'<meta http-equiv="Content-Security-Policy" content="{policy}">'
            f'<meta name="viewport" content="width=device-width, initial-scale=1">'
            f"<title>morvex report: {_e(name)}</title><style>{STYLE}</style></head><body>"
            f"<h1>morvex report: {_e(name)}</h1>"
            f'<p class="meta">morvex {_e(results["morvex_version"])} · {_e(date)} · {len(sequences)} sequences, '
            f"{len(methods)} methods · <code>{_e(ds.path)}</code></p><nav>{nav}</nav>{body}"
            '<div id="tip"></div><div id="overlay"><p></p></div>'
            f"<script>{SCRIPT}</script></body></html>\n")


def write_report(ds, outdir, results, pairs, statistics, rate_distortion, images):
    """Writes the heat maps (from start_heatmaps) and OUTDIR/report.html."""
    sequences, methods = list(results["sequences"]), list(results["methods"])
    write_heatmaps(outdir, images, sequences, methods)
    path = os.path.join(outdir, "report.html")
    tables.write_whole(path, page(ds, outdir, results, pairs, images, statistics, rate_distortion))
    return path
