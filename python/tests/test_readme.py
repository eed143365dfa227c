"""The README's Python examples run as written, and the sequence example
prints the command line's frame lines."""

import math
import os
import pathlib
import re
import subprocess
import sys

import morvex
from conftest import NAMES, SAMPLE, run_tool


def test_readme_examples_run_as_written(tmp_path):
    text = (pathlib.Path(__file__).resolve().parents[2] / "README.md").read_text()
    section = text[text.index("\n## Python\n") :].split("\n## ", 2)[1]
    examples = re.findall(r"```python\n(.*?)```", section, re.S)
    assert len(examples) == 3
    sample = re.search(r"build/morvex-sample (seq --frames \d+ --size (\d+x\d+))", section)
    subprocess.run([SAMPLE, *sample.group(1).split()], cwd=tmp_path, check=True, capture_output=True)
    subprocess.run([SAMPLE, "sample"], cwd=tmp_path, check=True, capture_output=True)

    # The examples import the module under test, wherever this interpreter found it.
    environment = dict(os.environ, PYTHONPATH=str(pathlib.Path(morvex.__file__).parents[1]))
    outputs = [subprocess.run([sys.executable, "-c", code], cwd=tmp_path, env=environment, capture_output=True,
                              text=True) for code in examples]
    assert [run.returncode for run in outputs] == [0, 0, 0], [run.stderr for run in outputs]
    printed = section[section.rindex("prints\n\n") + 8 :].split("\n\n")[0]
    assert outputs[2].stdout == "".join(line[4:] + "\n" for line in printed.splitlines())

    score, error, disagreeing = outputs[0].stdout.split()
    assert math.isfinite(float(score)) and 0 < float(error) < 1 and int(disagreeing) > 0
    run = run_tool("--size", sample.group(2), *[f"seq/{name}.yuv" for name in NAMES], "seq/camera.txt", cwd=tmp_path)
    frame_lines = [line for line in run.stdout.splitlines() if line.startswith("Frame ")]
    assert len(frame_lines) == 10 and outputs[1].stdout.splitlines() == frame_lines
