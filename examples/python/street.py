"""A street of ten towers, each a storey taller than the last, alternating
brick and glass. Saves out/street.glb under the current folder, as the demo
writes into out/ (or the path given), prints each tower's height and where
the file went.

    PYTHONPATH=build/python python3 examples/python/street.py [out/street.glb]
"""
import os
import sys

import scenehost

TOWERS = 10
SPACING = 80.0  # scene units between tower centres; a 3 x 3 tower is 54 wide


def main(out_path=os.path.join("out", "street.glb")):
    host = scenehost.Host()
    for i in range(TOWERS):
        name = f"Tower{i + 1:02d}"
        style = "brick" if i % 2 == 0 else "glass"
        host.run("RaiseTower", name, i + 1, 3, 3, style, "A", 1)
        tower = host.scene[name]
        # RaiseTower centres the tower on the origin: lift it onto the street.
        (_, ymin, _), _ = tower.mesh.bounds()
        tower.position = (i * SPACING, -ymin, 0.0)
    folder = os.path.dirname(out_path)
    if folder:
        os.makedirs(folder, exist_ok=True)
    host.save(out_path)
    for tower in host.scene.objects:
        (_, ymin, _), (_, ymax, _) = tower.mesh.bounds()
        print(f"{tower.name}: {ymax - ymin:g} high")
    print(f"saved {os.path.abspath(out_path)}")


if __name__ == "__main__":
    main(*sys.argv[1:2])
