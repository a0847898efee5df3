"""The command lines the README and docs/ show run as shown.

Every line of a sh block, and every indented line, that starts with
`scenehost` (or `build/bin/scenehost`, or `PYTHONPATH=build/python python3`)
is run from a fresh folder that sees the repository's examples/ and the
build tree as build/, the way a reader runs it from the top folder. A block
whose first line is `# NAME: ...` is written out as the file NAME first, so a
documented script runs too. Lines that need something the build does not
make (a plug-in built out of tree, a release tree, a script shown nowhere)
are left out, and so are the lines of blocks showing errors.
"""
import os
import re
import shlex
import subprocess
import sys

import pytest

import scenehost
from conftest import SOURCE

# The build tree: the first folder above the imported package with bin/scenehost.
BUILD = os.path.dirname(os.path.abspath(scenehost.__file__))
while not os.path.exists(os.path.join(BUILD, "bin", "scenehost")) and os.path.dirname(BUILD) != BUILD:
    BUILD = os.path.dirname(BUILD)
HOST = os.path.join(BUILD, "bin", "scenehost")
PAGES = [SOURCE / "README.md", *sorted((SOURCE / "docs").glob("*.md"))]

BLOCK = re.compile(r"```(\w*)\n(.*?)```", re.S)
INDENTED = re.compile(r"^    ((?:build/bin/)?scenehost .*)$", re.M)
START = re.compile(r"^(?:build/bin/)?scenehost |^PYTHONPATH=build/python python3 ")

# What a documented line prints first, where the page says so.
PRINTS = {
    "findSpots examples/images/ map 20 true 0.9 0.1 0.1 0.05 0.05 0.05 0 0 true":
        "0,27,27,49,49,104#1,142,31,14,49,113#2,176,31,15,49,111#3,398,14,14,15,113#",
}


# Lines that are no single finished command: a server that runs until
# stopped (`scenehost view`), a synopsis with [optional] parts, a line of a
# pipeline or one that needs shell variables.
NOT_A_RUN = re.compile(r"^(?:build/bin/)?scenehost view |\[|\||\$")


def documented():
    """(page, line, files) for every runnable line; files maps names to text."""
    found = []
    for page in PAGES:
        text = page.read_text()
        files = {}
        for lang, body in BLOCK.findall(text):
            first = body.splitlines()[0] if body.strip() else ""
            named = re.match(r"# (\S+\.txt):", first)
            if named:
                files[named.group(1)] = body
            if lang != "sh":
                continue
            for line in body.splitlines():
                line = line.strip()
                if START.match(line) and not line.endswith("\\") and not NOT_A_RUN.search(line):
                    found.append((page.name, line, files))
        for line in INDENTED.findall(text):
            if not NOT_A_RUN.search(line.strip()):
                found.append((page.name, line.strip(), files))
    return found


def words_of(line):
    """The line as argv, its comment dropped, and its PYTHONPATH set."""
    env = dict(os.environ, PYTHONPATH=os.path.join(BUILD, "python"))
    words = shlex.split(line, comments=True)
    if words[0].startswith("PYTHONPATH="):
        return [sys.executable, *words[2:]], env
    return [HOST, *words[1:]], env


def missing_input(words, folder):
    for option in ("--plugin", "--script"):
        if option in words:
            path = words[words.index(option) + 1]
            if not os.path.exists(os.path.join(folder, path)):
                return f"{option} {path} is not made by this build"
    return None


@pytest.mark.parametrize("page,line,files", documented(), ids=lambda v: v if isinstance(v, str) else "")
def test_documented_line_runs(tmp_path, page, line, files):
    os.symlink(SOURCE / "examples", tmp_path / "examples")
    os.symlink(BUILD, tmp_path / "build")
    for name, body in files.items():
        (tmp_path / name).write_text(body.replace("examples/", str(SOURCE / "examples") + "/"))
    words, env = words_of(line)
    skip = missing_input(words, tmp_path)
    if "RaiseRegion" in words:
        skip = "a region writes where its recipe says (the repository's out/); tests/city covers it"
    if skip:
        pytest.skip(skip)
    run = subprocess.run(words, cwd=tmp_path, env=env, capture_output=True, text=True, timeout=600)
    if run.returncode != 0 and "EGL" in run.stderr:
        pytest.skip("no EGL driver for --preview here")
    assert run.returncode == 0, f"{page}: {line}\n{run.stderr}"
    for shown, prints in PRINTS.items():
        if line.endswith(shown):
            assert run.stdout.startswith(prints), f"{page}: {line}\nprints {run.stdout[:200]}"


def test_enough_lines_are_checked():
    # A change to the pages' layout must not leave this test checking nothing.
    assert len(documented()) >= 15
