"""morvex-eval on the example dataset of docs/datasets.md, with the package
installed (scripts/test installs it into a fresh virtual environment and runs
this file there): the example as written, Dask against the local pool, resume
and failing pairs."""

import json
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

from conftest import SAMPLE
from doc_examples import ROOT, environment_with, run_examples

pytestmark = pytest.mark.skipif(not os.environ.get("MORVEX_EVAL_TESTS"),
                                reason="scripts/test runs these against the installed package")
TABLES = ("frames.csv", "summary.csv", "summary.md", "results.json")


def eval_tool(*args, cwd):
    return subprocess.run([sys.executable, "-m", "morvex.eval", "--quiet", *map(str, args)], cwd=cwd,
                          capture_output=True, text=True)


@pytest.fixture(scope="module")
def example(tmp_path_factory):
    """The examples of docs/datasets.md run as written, printing what it
    shows, in a directory of its own with the installed morvex-eval."""
    directory = tmp_path_factory.mktemp("example")
    (directory / "build").symlink_to(pathlib.Path(SAMPLE).resolve().parent)
    run_examples(ROOT / "docs" / "datasets.md", directory, environment_with(pathlib.Path(sys.executable).parent))
    return directory


def test_example_and_its_numbers_are_the_command_lines(example):
    import morvex

    assert sys.prefix != sys.base_prefix and morvex.__file__.startswith(sys.prefix)  # installed in a venv
    out = example / "out"
    assert len((out / "frames.csv").read_text().splitlines()) == 1 + 3 * 2 * 12
    assert all((out / "plots" / f"{name}.{ext}").stat().st_size > 1000
               for name in ("pooled", "score_street1", "score_street2", "score_street3") for ext in ("png", "svg"))
    results = json.loads((out / "results.json").read_text())
    pair = next(p for p in results["pairs"] if (p["sequence"], p["method"]) == ("street2", "sample"))
    data = example / "data" / "street2"
    tool = subprocess.run([os.environ["MORVEX_BINARY"], "--json", "--size", "160x120",
                           *[data / f"{n}.yuv" for n in ("left", "right", "depth_left_a", "depth_right_a",
                                                          "depth_left_b", "depth_right_b")], data / "camera.txt"],
                          capture_output=True, text=True, check=True)
    expected = json.loads(tool.stdout)
    assert [f["score_text"] for f in expected["frames"]] == ["%g" % f["score"] for f in pair["frames"]]
    for key, value in expected["pooled"].items():  # 9 digits: the same float32, doubles to 1e-8
        assert pair["pooled"][key] == (value if isinstance(value, (str, int)) else pytest.approx(value, rel=1e-8)), key


def test_dask_cluster_gives_the_local_tables(example, tmp_path):
    import distributed

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        run = eval_tool(example / "data" / "dataset.toml", tmp_path, "--scheduler", cluster.scheduler_address,
                        cwd=example)
    assert run.returncode == 0 and run.stderr.endswith("6 pairs scored, 0 taken from " + f"{tmp_path}/cache, 0 failed\n")
    assert "never retrieved" not in run.stderr and "Traceback" not in run.stderr, run.stderr
    for name in TABLES:
        assert (tmp_path / name).read_bytes() == (example / "out" / name).read_bytes(), name


def test_resume_after_interruption_and_a_new_method(example, tmp_path):
    from morvex.eval import RunError, evaluate

    dataset = example / "data" / "dataset.toml"

    def interrupt(record):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        evaluate(dataset, tmp_path, workers=2, on_pair=interrupt)
    assert not (tmp_path / "summary.csv").exists()
    with pytest.raises(RunError, match="not scored yet"):
        evaluate(dataset, tmp_path, merge=True)
    part = evaluate(dataset, tmp_path, workers=2, only=["street3"])  # as one Slurm array task would
    assert not (tmp_path / "summary.csv").exists() and part.scored + part.reused == 2
    evaluation = evaluate(dataset, tmp_path, workers=2)
    assert part.scored + evaluation.scored == 5 and evaluate(dataset, tmp_path, merge=True).scored == 0
    for name in TABLES:
        assert (tmp_path / name).read_bytes() == (example / "out" / name).read_bytes(), name

    more = example / "data" / "more.toml"
    more.write_text(dataset.read_text() + '[methods.truth]\ndepth_left = "{sequence}/depth_left_a.yuv"\n'
                    'depth_right = "{sequence}/depth_right_a.yuv"\n')
    evaluation = evaluate(more, tmp_path, workers=2)
    assert (evaluation.scored, evaluation.reused) == (3, 6)
    truth = evaluation.summary[2]
    assert (truth["method"], truth["scores"]["street1"], truth["mean_rank"]) == ("truth", float("inf"), 1)


def test_failing_pairs_are_recorded_and_the_rest_scored(example, tmp_path):
    data = example / "data"
    broken = data / "results" / "broken"
    for n in (1, 2):
        (broken / f"street{n}").mkdir(parents=True, exist_ok=True)
        for side in ("left", "right"):
            shutil.copy(data / f"street{n}" / f"depth_{side}_b.yuv", broken / f"street{n}" / f"depth_{side}.yuv")
    os.truncate(broken / "street2" / "depth_right.yuv", 160 * 120 * 3 // 2 * 5 + 7)  # street3 has no files at all
    (data / "broken.toml").write_text((data / "dataset.toml").read_text() +
                                      '[methods.broken]\ndepth_left = "results/{method}/{sequence}/depth_left.yuv"\n'
                                      'depth_right = "results/{method}/{sequence}/depth_right.yuv"\n')
    run = eval_tool(data / "broken.toml", tmp_path, cwd=example)
    assert run.returncode == 1, run.stderr
    rows = [row.split(",") for row in (tmp_path / "summary.csv").read_text().splitlines()]
    before = [row.split(",") for row in (example / "out" / "summary.csv").read_text().splitlines()]
    assert [row[:4] for row in rows[:3]] == [row[:4] for row in before]
    # street1's set B is the sample's: a tie for ranks 2 and 3; a failed pair ranks last.
    assert rows[3][:6] == ["broken", rows[1][1], "failed", "failed", "", "%g" % ((2.5 + 3 + 3) / 3)]
    assert rows[3][6:8] == rows[1][6:8] and rows[3][8:] == [""] * 6  # no interval where a pair failed
    assert f"street2/broken failed: {broken}/street2/depth_right.yuv (depth map of the right view, set B): is " \
           "144007 bytes, not a whole number of 160x120 4:2:0 frames of 28800 bytes" in run.stderr
    assert "- street3 / broken: " in (tmp_path / "summary.md").read_text()

