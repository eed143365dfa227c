"""The examples of README.md and docs/*.md, found on the page and run as a
reader runs them, by the rules of docs/development.md, "Examples in the pages"."""

import os
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
FENCE = re.compile(r"^```([^\n]*)\n(.*?)^```$", re.M | re.S)
TIMES = [(re.compile(r"Time: [0-9.]+\(sec\)"), "Time: T(sec)"),
         (re.compile(r'"computational_time": [0-9.e+-]+'), '"computational_time": T')]


class Example:
    def __init__(self, where, language, code):
        self.where, self.language, self.code, self.output = where, language, code, None

    def __repr__(self):
        return f"{self.where} ({self.language})"


def examples(page):
    """The page's examples in order, each with the output shown after it or None."""
    text = page.read_text()
    found, previous = [], None
    for match in FENCE.finditer(text):
        language, code = match.group(1).strip(), match.group(2)
        where = f"{page.relative_to(ROOT)}:{text.count(chr(10), 0, match.start()) + 1}"
        if language in ("sh", "python", "cpp"):
            previous = Example(where, language, code)
            found.append(previous)
        elif language in ("text", "json"):
            assert previous and previous.language != "cpp" and previous.output is None, \
                f"{where}: output that no sh or python block just before it prints"
            previous.output = code
        else:
            raise AssertionError(f"{where}: a ```{language} block; indent a block that is not an example")
    return found


def normalised(text):
    for pattern, replacement in TIMES:
        text = pattern.sub(replacement, text)
    return text.rstrip("\n")


def run_examples(page, directory, environment):
    """Runs the page's examples in `directory` and checks what they print."""
    for example in examples(page):
        if example.language == "cpp":
            (directory / "app.cpp").write_text(example.code)
            continue
        command = ["bash", "-euo", "pipefail", "-c"] if example.language == "sh" else [sys.executable, "-c"]
        run = subprocess.run(command + [example.code], cwd=directory, env=environment, capture_output=True,
                             text=True)
        assert run.returncode == 0, f"{example} failed ({run.returncode}):\n{run.stderr}"
        if example.output is not None:
            assert normalised(run.stdout) == normalised(example.output), f"{example} printed:\n{run.stdout}"


def environment_with(bin_directory, **variables):
    """This process's environment with bin_directory first on PATH."""
    return dict(os.environ, PATH=f"{bin_directory}:{os.environ['PATH']}", **variables)
