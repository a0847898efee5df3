"""host.scene and objects: lookup, order, transforms through parameter writes."""
import math

import numpy as np

import pytest

import scenehost


def test_lookup_order_and_clear(host, cube):
    host.run("Duplicate", "cube")
    host.run("SetValue", "cube1.Name", "copy")
    assert [o.name for o in host.scene.objects] == ["cube", "copy"]
    assert [o.name for o in host.scene] == ["cube", "copy"]
    assert "copy" in host.scene and "cube1" not in host.scene and 3 not in host.scene
    with pytest.raises(KeyError):
        host.scene["cube1"]
    assert host.scene["copy"] == host.scene.objects[1] != host.scene["cube"]
    assert host.scene["copy"] != "copy"
    host.scene.clear()
    assert host.scene.objects == [] and len(host.scene) == 0


def test_object_follows_renames_and_deletion(host, cube):
    obj = host.scene["cube"]
    host.run("SetValue", "cube.Name", "box")
    assert obj.name == "box"
    host.run("DeleteObj", "box")
    with pytest.raises(LookupError, match="box"):
        obj.position
    assert "deleted" in repr(obj)


def test_position_and_rotation_are_journalled_parameter_writes(host, cube):
    lo0, _ = cube.mesh.bounds()
    cube.position = (1, 2.5, -3)
    lo1, _ = cube.mesh.bounds()  # world space: moved with the object
    assert np.subtract(lo1, lo0) == pytest.approx((1, 2.5, -3))
    cube.rotation = [0, 90, 0]
    assert cube.position == (1.0, 2.5, -3.0)
    assert cube.rotation == (0.0, 90.0, 0.0)
    writes = [(e.object, e.name, e.value) for e in host.journal if e.kind == "set"]
    assert writes == [("cube", "posx", 1.0), ("cube", "posy", 2.5), ("cube", "posz", -3.0),
                      ("cube", "rotx", 0.0), ("cube", "roty", 90.0), ("cube", "rotz", 0.0)]


def test_refused_position_changes_nothing(host, cube):
    cube.position = (1, 2, 3)
    with pytest.raises(ValueError, match="posy"):
        cube.position = (5, math.nan, 7)
    assert cube.position == (1.0, 2.0, 3.0)
    with pytest.raises(ValueError, match="finite"):
        cube.rotation = (0, 0, math.inf)
    assert cube.rotation == (0.0, 0.0, 0.0)


@pytest.mark.parametrize("bad", [(1, 2), (1, 2, 3, 4), "abc", (1, "2", 3), None, (True, 0, 0)])
def test_position_needs_three_numbers(host, cube, bad):
    journal = len(host.journal)
    with pytest.raises(TypeError, match="position"):
        cube.position = bad
    assert len(host.journal) == journal


def test_non_mesh_and_empty_scene(host):
    assert host.scene.objects == []
    assert "cube" not in host.scene
