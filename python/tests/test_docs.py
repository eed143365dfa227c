"""Every example of README.md and docs/*.md runs as written and prints what
the page shows (doc_examples.py), and every relative link and anchor of the
pages leads somewhere."""

import pathlib
import re
import subprocess
import sys

import pytest

from conftest import MORVEX
from doc_examples import FENCE, PAGES, ROOT, environment_with, examples, run_examples

BUILD = pathlib.Path(MORVEX).resolve().parent
NO_EXAMPLES = {"speed.md"}  # its measurements take minutes, and their numbers are the machine's
SANITIZE = "-fsanitize=address,undefined,float-cast-overflow"  # the flags of a build with MORVEX_SANITIZE


@pytest.fixture(scope="session")
def tools(tmp_path_factory):
    """The environment of the examples: morvex-eval and python3 as this
    interpreter runs them, and the build installed into a prefix of its own
    for pkg-config and CMake (a sanitized build's library wants its flags)."""
    bin_directory = tmp_path_factory.mktemp("bin")
    scripts = {"morvex-eval": f'exec "{sys.executable}" -m morvex.eval "$@"', "python3": f'exec "{sys.executable}" "$@"'}
    variables = {}
    if "MORVEX_SANITIZE:BOOL=ON" in (BUILD / "CMakeCache.txt").read_text():
        scripts["g++"] = f'exec /usr/bin/g++ "$@" {SANITIZE}'
        variables = dict(CXXFLAGS=SANITIZE, LDFLAGS=SANITIZE)  # for CMake
    for name, line in scripts.items():
        (bin_directory / name).write_text(f"#!/bin/sh\n{line}\n")
        (bin_directory / name).chmod(0o755)
    prefix = tmp_path_factory.mktemp("prefix")
    subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], check=True, capture_output=True)
    return environment_with(bin_directory, PKG_CONFIG_PATH=str(next(prefix.rglob("morvex.pc")).parent),
                            CMAKE_PREFIX_PATH=str(prefix), **variables)


@pytest.mark.parametrize("page", PAGES, ids=lambda page: page.name)
def test_examples_run_and_print_what_the_page_shows(page, tools, tmp_path):
    assert bool(examples(page)) != (page.name in NO_EXAMPLES)
    (tmp_path / "build").symlink_to(BUILD)
    run_examples(page, tmp_path, tools)


def prose(page):
    return FENCE.sub("", page.read_text())


def anchors(page):
    """The anchors GitHub gives the page's headings."""
    slugs = [re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")
             for heading in re.findall(r"^#+ (.*)$", prose(page), re.M)]
    return [slug + (f"-{slugs[:n].count(slug)}" if slug in slugs[:n] else "") for n, slug in enumerate(slugs)]


@pytest.mark.parametrize("page", PAGES, ids=lambda page: page.name)
def test_links_lead_to_a_file_and_a_heading(page):
    for target in re.findall(r"\]\(([^)\s]+)\)", prose(page)):
        if re.match(r"[a-z]+:", target):
            continue
        path, _, anchor = target.partition("#")
        linked = (page.parent / path).resolve() if path else page
        assert linked.exists() and linked.is_relative_to(ROOT), f"{page.name}: {target}"
        assert not anchor or anchor in anchors(linked), f"{page.name}: {target}: no such heading"
