"""Mesh arrays against the saved .obj, world bounds, and view lifetimes."""
import gc

import numpy as np
import pytest

import scenehost


def read_obj(path):
    """Positions and polygons of a (single-object) .obj file."""
    positions, polygons = [], []
    for line in path.read_text().splitlines():
        words = line.split()
        if not words:
            continue
        if words[0] == "v":
            positions.append([float(w) for w in words[1:4]])
        elif words[0] == "f":
            polygons.append([int(w.split("/")[0]) - 1 for w in words[1:]])
    return np.array(positions, dtype=np.float64), polygons


def test_tower_arrays_agree_with_saved_obj(host, tmp_path):
    host.run("RaiseTower", "T", 5, 4, 3, "brick", "A", 1)
    tower = host.scene["T"]
    mesh = tower.mesh
    lo, hi = mesh.bounds()
    assert np.subtract(hi, lo) == pytest.approx((54, 71.5, 67.5))

    host.save(tmp_path / "t.obj")
    positions, polygons = read_obj(tmp_path / "t.obj")
    assert mesh.positions.shape == (len(positions), 3)
    assert mesh.positions.dtype == np.float32
    assert tower.rotation == (0.0, 0.0, 0.0)
    world = mesh.positions.astype(np.float64) + np.array(tower.position)
    np.testing.assert_allclose(world, positions, atol=1e-4)

    sizes = mesh.polygon_sizes
    assert sizes.tolist() == [len(p) for p in polygons]
    assert mesh.polygon_vertices.tolist() == [i for p in polygons for i in p]
    corners = int(sizes.sum())
    assert mesh.normals.shape == (corners, 3)
    assert mesh.uvs is None or mesh.uvs.shape == (corners, 2)
    assert mesh.materials.shape == sizes.shape
    assert int(mesh.materials.max()) < len(mesh.material_names)
    np.testing.assert_allclose(np.linalg.norm(mesh.normals, axis=1), 1.0, atol=1e-4)


def test_arrays_are_read_only_views(host, cube):
    mesh = cube.mesh
    positions = mesh.positions
    assert not positions.flags.writeable and not positions.flags.owndata
    with pytest.raises(ValueError):
        positions[0, 0] = 1.0
    assert np.shares_memory(positions, mesh.positions)  # no copy per read


def test_mesh_is_a_snapshot(host, cube):
    mesh = cube.mesh
    before = mesh.bounds()
    host.run("Translate", "cube", 10, 0, 0)
    assert mesh.bounds() == before
    lo, _ = cube.mesh.bounds()
    assert lo[0] == pytest.approx(before[0][0] + 10)


def test_views_outlive_clear_and_new_host(host, cube):
    positions = cube.mesh.positions
    normals = cube.mesh.normals
    expected = positions.copy(), normals.copy()
    host.scene.clear()
    scenehost.Host()  # resets the runtime, unloads and reloads plug-ins
    gc.collect()
    filler = [np.ones(len(expected[0]) * 3, dtype=np.float32) for _ in range(100)]
    np.testing.assert_array_equal(positions, expected[0])
    np.testing.assert_array_equal(normals, expected[1])
    del filler
