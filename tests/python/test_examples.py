"""The examples run as the README shows, from a fresh interpreter."""
import os
import subprocess
import sys

import scenehost
from conftest import SOURCE


def run_example(name, cwd, *args):
    # The package this test imported (the folder above it), whatever the PYTHONPATH was relative to.
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.abspath(scenehost.__file__))))
    return subprocess.run([sys.executable, str(SOURCE / "examples" / "python" / name), *args],
                          cwd=cwd, env=env, capture_output=True, text=True, timeout=600, check=True)


def test_street(tmp_path):
    out = run_example("street.py", tmp_path).stdout.splitlines()
    heights = [float(line.split(": ")[1].split()[0]) for line in out if line.startswith("Tower")]
    assert len(heights) == 10
    assert heights == sorted(heights) and len(set(heights)) == 10
    glb = tmp_path / "out" / "street.glb"
    assert glb.read_bytes()[:4] == b"glTF"
    assert out[-1] == f"saved {glb}", "it says where the file went"
    assert not (tmp_path / "street.glb").exists()
    # A path given is used as it is.
    run_example("street.py", tmp_path, "mine.glb")
    assert (tmp_path / "mine.glb").read_bytes()[:4] == b"glTF"


def test_lots(tmp_path):
    out = run_example("lots.py", tmp_path).stdout.splitlines()
    assert out[0] == "61 lots"
    assert len(out) == 6 and all(line.startswith("lot ") for line in out[1:])
    assert (tmp_path / "blobs.bmp").exists()
