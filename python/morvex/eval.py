"""Evaluates whole datasets: every frame of every sequence for every method.

    morvex-eval DATASET.toml OUTDIR [--scheduler ADDRESS] [--only SEQUENCE] [--merge] [--resamples N]
                [--report-frames K] [--anchor FAMILY]

or, in a notebook, evaluate("DATASET.toml", "OUTDIR"), which returns the
tables as Python objects. See docs/datasets.md."""

import argparse
import hashlib
import json
import os
import sys
import urllib.parse

from . import dataset as datasets
from . import engines, rd, stats, tables
from .dataset import is_pattern, one_line

ROLES = engines.ROLES


class RunError(Exception):
    """Scoring stopped before every pair was done (a lost worker, pairs not yet scored for --merge)."""


class Evaluation:
    """What evaluate() returns:

    frames   one dict per frame of every scored pair, as the rows of frames.csv
    summary  one dict per method: method, scores (sequence -> pooled score, None when failed), mean, mean_rank
    pairs    one dict per sequence and method: status ("scored" or "failed"), error, pooled, frames, inputs
    failures the pairs that failed
    results  the document of results.json
    scored, reused  how many pairs this run scored, and how many it took from earlier runs
    """

    def __init__(self, pairs, summary, results, scored, reused):
        self.pairs, self.summary, self.results, self.scored, self.reused = pairs, summary, results, scored, reused
        self.failures = [p for p in pairs if p["status"] != "scored"]
        self.frames = [dict(sequence=p["sequence"], method=p["method"], **frame)
                       for p in pairs for frame in p.get("frames", [])]


def _files(path, seq, role):
    """The files an input of a sequence reads: a pattern's of the frames scored, or the one file."""
    from . import _native

    if not is_pattern(path):
        return [path] if os.path.exists(path) else []
    try:
        names = [_native.pattern_file(path, k, role) for k in range(seq.first, seq.first + seq.frames)]
    except _native.InputError:
        return []
    return [name for name in names if os.path.exists(name)]


def _stamp(path, seq, role):
    """Bytes and modification times of an input's files; None when it is missing."""
    stats = [os.stat(file) for file in _files(path, seq, role)]
    return [sum(s.st_size for s in stats), [s.st_mtime_ns for s in stats]] if stats else None


def _pair_paths(ds, sequence, method):
    seq = ds.sequences[sequence]
    set_b = ds.set_b(method, sequence)
    return [seq.inputs["left"], seq.inputs["right"], seq.inputs["depth_left"], seq.inputs["depth_right"],
            set_b["depth_left"], set_b["depth_right"]]


def _engine_pair(ds, sequence, method, key):
    """The pair's inputs as the engines open them."""
    seq = ds.sequences[sequence]
    return engines.Pair(key, _pair_paths(ds, sequence, method), seq.size, seq.yuv_format, seq.first, seq.frames)


def _pair_key(ds, sequence, method, version):
    seq = ds.sequences[sequence]
    paths = _pair_paths(ds, sequence, method)
    stamps = [_stamp(p, seq, role) for p, role in zip(paths, ROLES)] + [_stamp(seq.inputs["camera"], seq, "left")]
    text = json.dumps([version, seq.size, seq.yuv_format, seq.first, seq.frames, seq.camera, paths, stamps])
    return hashlib.sha256(text.encode()).hexdigest()


def _inputs(ds, sequence, method):
    folder = os.path.dirname(ds.path)
    seq = ds.sequences[sequence]
    paths = dict(zip(ROLES, _pair_paths(ds, sequence, method)), camera=seq.inputs["camera"])
    return {role: {"path": os.path.relpath(path, folder),
                   "bytes": (_stamp(path, seq, role if role != "camera" else "left") or [None])[0]}
            for role, path in paths.items()}


def _cache_path(outdir, sequence, method):
    quote = lambda name: urllib.parse.quote(name, safe="")
    return os.path.join(outdir, "cache", quote(sequence), quote(method) + ".json")


def _read_cache(path, key):
    try:
        with open(path) as file:
            record = json.load(file)
        return record if record.get("key") == key else None
    except (OSError, ValueError):
        return None


def _finish_pair(record, results):
    """A pair's record from its frames' results; of several failed frames, the first is named."""
    sequence_run = record.pop("sequence_run")
    frames = sorted(results, key=lambda f: f["frame"])
    failed = [f for f in frames if "error" in f]
    if failed:
        record.update(status="failed", error=failed[0]["error"])
        return record
    # Once for the pair, as the command line warns once for a run.
    deep = [f.pop("input_warning") for f in frames if "input_warning" in f]
    vanished = [f for f in frames if "warning" in f]
    warnings = deep[-1:]
    if vanished and sequence_run:
        more = f" (and {len(vanished) - 1} more)" if len(vanished) > 1 else ""
        warnings.append(f"frame {vanished[0]['frame']}{more}: {vanished[0]['warning']}")
    elif vanished:
        warnings.append(vanished[0]["warning"])
    for frame in vanished:
        del frame["warning"]
    if warnings:
        record["warnings"] = warnings
    for frame in frames:
        for side in ("left", "right"):
            frame.update(tables.differences(frame, side))
    record.update(status="scored", pooled=tables.pool(frames), frames=frames)
    return record


def _check_outdir(outdir):
    if os.path.exists(outdir) and not os.path.isdir(outdir):
        raise datasets.DatasetError(one_line(f"{outdir}: is not a directory; give a directory for the tables"))


def evaluate(dataset, outdir, scheduler=None, only=None, merge=False, workers=None, progress=False,
             on_pair=None, resamples=stats.RESAMPLES, report_frames=3, anchor=None):
    """Scores every frame of every sequence of DATASET for every method (only
    the sequences named in `only`, if given), keeping each pair's result in
    OUTDIR/cache and taking what is already there; then writes the tables,
    plots and report.html into OUTDIR (not with `only`) and returns an
    Evaluation. With `scheduler`, frames are scored on that Dask scheduler's
    workers; with `merge`, nothing is scored and every pair must be in the
    cache. on_pair(record) is called as each pair's result is kept.
    `resamples` of the frames give the intervals (0: none); the report shows
    the heat maps of each sequence's `report_frames` worst frames; `anchor`
    is the coder family the others' Bjøntegaard deltas are taken against.

    Raises DatasetError for a dataset that cannot be used, RunError when
    scoring stopped before the end."""
    from . import _native

    _check_outdir(outdir)
    ds = datasets.load(dataset) if not isinstance(dataset, datasets.Dataset) else dataset
    for name in only or []:
        if name not in ds.sequences:
            raise datasets.DatasetError(f"{ds.path}: --only {name}: no such sequence; the sequences are "
                                        + ", ".join(ds.sequences))
    families = [m.family for m in ds.methods.values() if m.family is not None]
    if anchor is not None and anchor not in families:
        raise datasets.DatasetError(f"{ds.path}: --anchor {anchor}: no method has that family; the families are "
                                    + (", ".join(dict.fromkeys(families)) or "none"))
    sequences = [s for s in ds.sequences if not only or s in only]
    methods = list(ds.methods)
    version = _native.__version__
    records, todo, reused = {}, [], 0
    for sequence in sequences:
        for method in methods:
            key = _pair_key(ds, sequence, method, version)
            cached = _read_cache(_cache_path(outdir, sequence, method), key)
            if cached:
                records[sequence, method] = cached
                reused += 1
            else:
                todo.append((sequence, method, key))
    if merge and todo:
        raise RunError("not scored yet (or their inputs changed): " +
                       ", ".join(f"{s}/{m}" for s, m, _ in todo) + "; run morvex-eval --only SEQUENCE for them")

    def keep(record):
        os.makedirs(os.path.dirname(_cache_path(outdir, record["sequence"], record["method"])), exist_ok=True)
        tables.write_whole(_cache_path(outdir, record["sequence"], record["method"]), json.dumps(record))
        records[record["sequence"], record["method"]] = record
        if on_pair:
            on_pair(record)

    pending, owner = {}, {}
    for sequence, method, key in todo:
        record = {"sequence": sequence, "method": method, "key": key, "morvex_version": version,
                  "inputs": _inputs(ds, sequence, method)}
        pair = _engine_pair(ds, sequence, method, key)
        try:  # what the command line checks before it scores a frame
            opened = engines.open_pair(pair)
        except _native.InputError as error:
            keep(dict(record, status="failed", error=str(error)))
            continue
        record["sequence_run"] = opened.is_sequence
        pending[sequence, method] = (record, [], pair)
    if pending:
        engine = engines.DaskEngine(scheduler) if scheduler else engines.LocalEngine(workers)
        bar = None
        try:
            futures = []
            for (sequence, method), (_, _, pair) in pending.items():
                seq = ds.sequences[sequence]
                for k in range(seq.first, seq.first + seq.frames):
                    future = engine.submit(pair, seq.camera, k)
                    owner[future] = (sequence, method)
                    futures.append(future)
            if progress:
                import tqdm

                bar = tqdm.tqdm(total=len(futures), unit="frame", file=sys.stderr)
            for future in engine.as_completed(futures):
                try:
                    result = future.result()
                except Exception as error:  # a lost worker: what is kept stays kept
                    raise RunError(f"scoring stopped: {type(error).__name__}: {error}; run again to resume") from None
                pair = owner.pop(future)
                record, results, _ = pending[pair]
                results.append(result)
                if bar:
                    bar.update()
                if len(results) == ds.sequences[pair[0]].frames:
                    keep(_finish_pair(record, results))
                    del pending[pair]
        except BaseException:
            engine.close(cancel=True)
            raise
        finally:
            if bar:
                bar.close()
        engine.close()

    pairs = [records[s, m] for s in sequences for m in methods]
    for pair in pairs:
        pair.pop("key", None)
    summary = tables.summary(pairs, sequences, methods)
    statistics = stats.confidence(pairs, sequences, methods, resamples)
    if resamples:
        for row in summary:
            row["intervals"] = {s: statistics["intervals"].get((s, row["method"])) for s in sequences}
            row["mean_interval"] = statistics["mean_intervals"].get(row["method"])
    rate_distortion = rd.rate_distortion(ds, pairs, sequences, anchor)
    results = {"morvex_version": version, "dataset": os.path.basename(ds.path),
               "sequences": {s: {"frames": ds.sequences[s].frames, "first": ds.sequences[s].first,
                                 "size": ds.sequences[s].size, "yuv_format": ds.sequences[s].yuv_format}
                             for s in sequences},
               "methods": {m: _method_entry(ds.methods[m]) for m in methods},
               "summary": summary, "pairs": pairs,
               "statistics": {key: statistics[key] for key in ("resamples", "seed", "level", "comparisons")}}
    if rate_distortion:
        results["rate_distortion"] = rate_distortion
    if not only:
        os.makedirs(outdir, exist_ok=True)
        tables.write_whole(os.path.join(outdir, "frames.csv"), tables.frames_csv(pairs))
        tables.write_whole(os.path.join(outdir, "summary.csv"), tables.summary_csv(summary, sequences))
        tables.write_whole(os.path.join(outdir, "summary.md"),
                           tables.summary_md(summary, sequences, pairs, results["statistics"], rate_distortion))
        tables.write_whole(os.path.join(outdir, "results.json"), tables.results_json(results))
        from .plots import write_plots, write_rd_plots
        from .report import start_heatmaps, write_report

        def open_pair(sequence, method):
            return engines.open_pair(_engine_pair(ds, sequence, method, _pair_key(ds, sequence, method, version)))

        # The heat maps' frames are scored in native code while the plots are drawn.
        heatmaps = start_heatmaps(ds, pairs, sequences, methods, report_frames, open_pair, workers)
        write_plots(outdir, pairs, summary, sequences, methods)
        if rate_distortion:
            write_rd_plots(outdir, rate_distortion, sequences)
        write_report(ds, outdir, results, pairs, statistics, rate_distortion, heatmaps())
    return Evaluation(pairs, summary, results, len(todo), reused)


def _method_entry(method):
    entry = {"templates": method.templates}
    if method.family is not None:
        entry.update(family=method.family, rate=method.rate, bitstream=method.bitstream)
    return entry


class _HelpFormat(argparse.RawDescriptionHelpFormatter):
    """"Usage:" as manual pages made from --help expect it."""

    def add_usage(self, usage, actions, groups, prefix=None):
        super().add_usage(usage, actions, groups, "Usage: ")


def _version():
    from . import _native

    return _native.__version__


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="morvex-eval", usage="%(prog)s [OPTIONS] DATASET.toml OUTDIR",
        formatter_class=_HelpFormat,
        description="Scores every frame of every sequence of a dataset for every method, reading every file as\n"
                    "morvex reads it; writes tables, plots and report.html into OUTDIR.",
        epilog="exit status:\n"
               "  0    every pair was scored\n"
               "  1    a pair failed (the tables show it) or scoring stopped\n"
               "  2    the dataset file or OUTDIR cannot be used (one line; nothing written)\n"
               "  130  interrupted; run again to resume\n"
               "\n"
               "example:\n"
               "  morvex-eval data/dataset.toml out")
    parser.add_argument("dataset", metavar="DATASET.toml", help="the dataset file: sequences and methods")
    parser.add_argument("outdir", metavar="OUTDIR", help="where the tables, plots, report and cache go")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="score on the workers of this Dask scheduler")
    parser.add_argument("--only", metavar="SEQUENCE", action="append",
                        help="score only this sequence (repeatable); keeps results in OUTDIR/cache, writes no tables")
    parser.add_argument("--merge", action="store_true",
                        help="score nothing: the tables from OUTDIR/cache, where every pair must be")
    parser.add_argument("--workers", type=int, metavar="N", help="local threads (default: one per core)")
    parser.add_argument("--quiet", action="store_true", help="no progress bar")
    parser.add_argument("--resamples", type=int, metavar="N", default=stats.RESAMPLES,
                        help=f"resamples of the frames for the 95%% intervals (default {stats.RESAMPLES}; 0: none)")
    parser.add_argument("--report-frames", type=int, metavar="K", default=3,
                        help="heat maps in report.html of each sequence's K worst frames (default 3; 0: none)")
    parser.add_argument("--anchor", metavar="FAMILY",
                        help="the coder family of the Bjøntegaard deltas' anchor (default: [report] anchor, "
                             "else the first family)")
    parser.add_argument("--version", action="version", version=f"morvex-eval {_version()}")
    args = parser.parse_args(argv)
    from . import _native

    _native._keep_large_allocations()
    if args.only and args.merge:
        parser.error("--only and --merge exclude each other")
    if args.resamples < 0 or args.report_frames < 0:
        parser.error("--resamples and --report-frames take a whole number, 0 or more")
    try:
        evaluation = evaluate(args.dataset, args.outdir, scheduler=args.scheduler, only=args.only,
                              merge=args.merge, workers=args.workers,
                              progress=not args.quiet and sys.stderr.isatty(), resamples=args.resamples,
                              report_frames=args.report_frames, anchor=args.anchor)
    except datasets.DatasetError as error:
        print(f"morvex-eval: {one_line(error)}", file=sys.stderr)
        return 2
    except RunError as error:
        print(f"morvex-eval: {one_line(error)}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("morvex-eval: interrupted; run again to resume", file=sys.stderr)
        return 130
    if not args.only:
        sys.stdout.write(tables.summary_md(evaluation.summary, list(evaluation.results["sequences"]),
                                           evaluation.pairs, evaluation.results["statistics"],
                                           evaluation.results.get("rate_distortion")))
    for pair in evaluation.pairs:
        for warning in pair.get("warnings", []):
            print(one_line(f"morvex-eval: {pair['sequence']}/{pair['method']}: warning: {warning}"), file=sys.stderr)
    for pair in evaluation.failures:
        print(one_line(f"morvex-eval: {pair['sequence']}/{pair['method']} failed: {pair['error']}"), file=sys.stderr)
    print(f"morvex-eval: {evaluation.scored} pairs scored, {evaluation.reused} taken from {args.outdir}/cache, "
          f"{len(evaluation.failures)} failed", file=sys.stderr)
    return 1 if evaluation.failures else 0


if __name__ == "__main__":
    sys.exit(main())
