import os
from pathlib import Path

import pytest

import scenehost

SOURCE = Path(os.environ.get("SCENEHOST_SOURCE_DIR", Path(__file__).resolve().parents[2]))
CUBE = SOURCE / "examples" / "models" / "cube.obj"
IMAGES = SOURCE / "examples" / "images"


@pytest.fixture
def host():
    """A fresh session with the built plug-ins."""
    return scenehost.Host()


@pytest.fixture
def cube(host):
    host.run("ObjImport", str(CUBE))
    return host.scene["cube"]
