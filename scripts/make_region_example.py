#!/usr/bin/python3
"""Writes the bundled region to examples/region/ (or the folder given):

district.tif            2048 x 2048 town map, 8-bit RGB GeoTIFF (tiled,
                        deflate): building lots in three zone colours and
                        parks on a street grid
district_elevation.tif  the matching terrain in metres, a Float32 GeoTIFF
region.json             the region recipe: 512-pixel tiles, a 64-pixel halo

Both maps are georeferenced in UTM zone 33N (EPSG:32633) at 2 m a pixel, the
north-west corner at easting 388000, northing 5824000 (a district of
Berlin). A fixed pseudo-random sequence makes every run write the same
pictures. Needs Debian's python3-numpy and python3-gdal.

    /usr/bin/python3 scripts/make_region_example.py [FOLDER] [--size N]
"""

import argparse
import json
import os

import numpy as np
from osgeo import gdal, osr

STREET = (70, 70, 76)
PAVEMENT = (150, 150, 150)
ZONES = [(230, 30, 30), (235, 200, 60), (60, 100, 210)]
PARK = (50, 150, 60)
BLOCK = 64
STREET_WIDTH = 10
GAP = 2
PIXEL_METRES = 2.0
WEST, NORTH = 388000.0, 5824000.0


class Lcg:
    """A 32-bit linear congruential generator: the same numbers everywhere."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self, n):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return (self.state >> 8) % n


def town_strip(size, rng, by):
    """Rows by .. by + BLOCK of the map, the blocks drawn in row-major order."""
    height = min(BLOCK, size - by)
    rgb = np.empty((height, size, 3), np.uint8)
    rgb[:, :] = STREET
    for bx in range(0, size, BLOCK):
        x0, y0 = bx + STREET_WIDTH // 2, STREET_WIDTH // 2
        x1, y1 = min(bx + BLOCK - STREET_WIDTH // 2, size), min(BLOCK - STREET_WIDTH // 2, height)
        if x1 <= x0 + 4 or y1 <= y0 + 4:
            continue
        rgb[y0:y1, x0:x1] = PAVEMENT
        cols, rows = 1 + rng.next(3), 1 + rng.next(3)
        w, h = x1 - x0 - GAP, y1 - y0 - GAP
        for j in range(rows):
            for i in range(cols):
                lx0, lx1 = x0 + GAP + i * w // cols, x0 + (i + 1) * w // cols
                ly0, ly1 = y0 + GAP + j * h // rows, y0 + (j + 1) * h // rows
                pick = rng.next(10)
                colour = PARK if pick == 9 else ZONES[pick % 3]
                rgb[ly0:ly1, lx0:lx1] = colour
    return rgb


def terrain_strip(size, by, height):
    """Gentle hills, 34 to 86 metres above the sea, in whole decimetres (the
    file then compresses well)."""
    y, x = np.mgrid[by:by + height, 0:size].astype(np.float64) / size
    z = 60 + 14 * np.sin(2 * np.pi * (1.3 * x + 0.2)) * np.cos(2 * np.pi * (0.9 * y - 0.1))
    z += 8 * np.sin(2 * np.pi * (3.1 * x + 2.3 * y))
    return (np.round(z * 10) / 10).astype(np.float32)


def create(path, size, bands, kind):
    options = ["TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "COMPRESS=DEFLATE", "BIGTIFF=IF_SAFER"]
    options.append("PHOTOMETRIC=RGB" if kind == gdal.GDT_Byte else "PREDICTOR=3")
    ds = gdal.GetDriverByName("GTiff").Create(path, size, size, bands, kind, options)
    ds.SetGeoTransform((WEST, PIXEL_METRES, 0, NORTH, 0, -PIXEL_METRES))
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(32633)
    ds.SetProjection(srs.ExportToWkt())
    return ds


def write_maps(folder, size, seed):
    """Strip by strip, so a map of any size needs little memory."""
    rng = Lcg(seed)
    map_path, dem_path = os.path.join(folder, "district.tif"), os.path.join(folder, "district_elevation.tif")
    rgb = create(map_path + ".tmp", size, 3, gdal.GDT_Byte)
    dem = create(dem_path + ".tmp", size, 1, gdal.GDT_Float32)
    for by in range(0, size, BLOCK):
        strip = town_strip(size, rng, by)
        for b in range(3):
            rgb.GetRasterBand(b + 1).WriteArray(strip[:, :, b], 0, by)
        dem.GetRasterBand(1).WriteArray(terrain_strip(size, by, strip.shape[0]), 0, by)
    rgb = dem = None
    os.replace(map_path + ".tmp", map_path)
    os.replace(dem_path + ".tmp", dem_path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("folder", nargs="?", default=os.path.join(os.path.dirname(__file__), "..", "examples", "region"))
    parser.add_argument("--size", type=int, default=2048, help="map side in pixels (default 2048)")
    parser.add_argument("--tile", type=int, default=512, help="tile side in pixels for the recipe (default 512)")
    parser.add_argument("--seed", type=int, default=2026)
    a = parser.parse_args()
    gdal.SetConfigOption("GDAL_PAM_ENABLED", "NO")
    os.makedirs(a.folder, exist_ok=True)
    write_maps(a.folder, a.size, a.seed)
    recipe = {
        "images": ".",
        "map": "district.tif",
        "elevation": True,
        "elevation_units": "metres",
        "scale": PIXEL_METRES,
        "height": 1,
        "seed": 1912,
        "tile": a.tile,
        "halo": 64,
        "out": "../../out/region",
        "zones": [
            {"name": "shops", "rgb": [230, 30, 30], "range": [12, 12, 12], "min_pixels": 20,
             "style": "brick", "floors": [3, 8]},
            {"name": "offices", "rgb": [60, 100, 210], "range": [12, 12, 12], "min_pixels": 20,
             "style": "glass", "floors": [6, 12], "entrance": "C"},
            {"name": "houses", "rgb": [235, 200, 60], "range": [12, 12, 12], "min_pixels": 20,
             "style": "brick", "floors": [2, 4], "entrance": "B"},
        ],
    }
    with open(os.path.join(a.folder, "region.json"), "w") as f:
        json.dump(recipe, f, indent=2)
        f.write("\n")


if __name__ == "__main__":
    main()
