"""Finds the red building lots on the bundled town map and prints the five
largest, with their centre and terrain height. findSpots also leaves
blobs.bmp (the lots outlined) in the current folder.

    PYTHONPATH=build/python python3 examples/python/lots.py
"""
from pathlib import Path
from typing import List, NamedTuple

import scenehost

IMAGES = Path(__file__).resolve().parent.parent / "images"


class Lot(NamedTuple):
    index: int
    x: int  # centre, pixels from the left
    y: int  # centre, pixels from the bottom
    width: int  # largest minus smallest column
    height: int  # largest minus smallest row
    elevation: int  # 0..255

    @property
    def area(self) -> int:
        """Pixels of the lot's bounding box."""
        return (self.width + 1) * (self.height + 1)


def parse_lots(text: str) -> List[Lot]:
    """findSpots' result: 'index,x,y,width,height,elevation#' per blob."""
    return [Lot(*map(int, entry.split(","))) for entry in text.split("#") if entry]


def main():
    host = scenehost.Host()
    # Red lots (about 0.9, 0.12, 0.12) of more than 20 pixels, with heights.
    result = host.run("findSpots", f"{IMAGES}/", "map", 20, True,
                      0.9, 0.1, 0.1, 0.05, 0.05, 0.05, 0.0, 0.0, True)
    lots = parse_lots(result)
    print(f"{len(lots)} lots")
    for lot in sorted(lots, key=lambda l: (-l.area, l.index))[:5]:
        print(f"lot {lot.index}: {lot.width + 1} x {lot.height + 1} px at ({lot.x}, {lot.y}), "
              f"elevation {lot.elevation}")


if __name__ == "__main__":
    main()
