"""Script the scenehost runtime from Python.

    import scenehost
    host = scenehost.Host()
    host.run("RaiseTower", "Tower", 5, 4, 3, "brick", "A", 1)
    print(host.scene["Tower"].mesh.bounds())

scenehost.region builds a region's tiles on a Dask cluster (or on this
machine): python3 -m scenehost.region region.json. See docs/python.md and
docs/region.md.
"""

from . import _scenehost
from ._scenehost import (  # noqa: F401  (the package's public names)
    Command,
    CommandError,
    Host,
    Image,
    JournalEntry,
    LogLine,
    Mesh,
    Object,
    Scene,
    UnknownCommandError,
)

# The compiled classes name the package, as they did before the package had
# a Python part (repr, help and pickled exceptions all use __module__).
for _t in (Host, Image, Mesh, Object, Scene):
    try:
        _t.__module__ = __name__
    except (AttributeError, TypeError):
        pass
del _t

__all__ = ["Command", "CommandError", "Host", "Image", "JournalEntry", "LogLine", "Mesh", "Object",
           "Scene", "UnknownCommandError"]


def __getattr__(name):
    # scenehost.region loads on first use: it is pure Python and needs Dask
    # only when a region is built.
    if name == "region":
        import importlib
        return importlib.import_module(".region", __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
