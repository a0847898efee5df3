"""Image clips: pixels against Pillow, orientation, 16 bits, lifetime."""
import numpy as np
import pytest
from PIL import Image

from conftest import IMAGES


def pillow_bottom_up(path):
    return np.asarray(Image.open(path))[::-1]


@pytest.mark.parametrize("name", ["map.bmp", "map.png", "map_elevation.bmp"])
def test_pixels_agree_with_pillow(host, name):
    host.run("CreateImageClip", str(IMAGES / name), "clip")
    (clip,) = host.images
    assert clip.path.endswith(name) and clip.name == "clip"
    pixels = clip.pixels()
    expected = pillow_bottom_up(IMAGES / name)
    if expected.ndim == 2:
        expected = expected[:, :, None]
    assert pixels.shape == (clip.height, clip.width, clip.channels) == expected.shape
    assert pixels.dtype == np.uint8
    np.testing.assert_array_equal(pixels, expected)
    assert not pixels.flags.writeable


def test_sixteen_bit_grey_and_orientation(host, tmp_path):
    values = np.arange(12, dtype=np.uint16).reshape(3, 4) * 5000  # top row first
    path = tmp_path / "grey16.png"
    Image.fromarray(values, mode="I;16").save(path)
    host.run("CreateImageClip", str(path))
    pixels = host.images[0].pixels()
    assert pixels.dtype == np.uint16 and pixels.shape == (3, 4, 1)
    assert pixels[0, 0, 0] == values[2, 0]  # row 0 is the bottom row
    np.testing.assert_array_equal(pixels[:, :, 0], values[::-1])


def test_pixels_outlive_the_clip(host):
    host.run("CreateImageClip", str(IMAGES / "map.png"), "m")
    pixels = host.images[0].pixels()
    expected = pixels.copy()
    host.run("DeleteImageClip", "m")
    assert host.images == []
    host.scene.clear()
    np.testing.assert_array_equal(pixels, expected)
