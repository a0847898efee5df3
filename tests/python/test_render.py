"""host.render: offscreen PNG previews through RenderPreview."""
import os

import pytest

import scenehost

PNG_MAGIC = b"\x89PNG\r\n\x1a\n"


@pytest.fixture(autouse=True)
def no_display(monkeypatch):
    """Previews need no display server."""
    monkeypatch.delenv("DISPLAY", raising=False)
    monkeypatch.delenv("WAYLAND_DISPLAY", raising=False)


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == PNG_MAGIC
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


def test_render_writes_png_of_default_and_given_size(host, cube, tmp_path):
    host.render(tmp_path / "a.png")
    assert png_size(tmp_path / "a.png") == (800, 600)
    host.render(str(tmp_path / "b.png"), width=64, height=32, view="top")
    assert png_size(tmp_path / "b.png") == (64, 32)


def test_render_is_repeatable(host, cube, tmp_path):
    host.render(tmp_path / "a.png", 120, 90, "front")
    host.render(tmp_path / "b.png", 120, 90, "front")
    assert (tmp_path / "a.png").read_bytes() == (tmp_path / "b.png").read_bytes()


@pytest.mark.parametrize("kwargs, named", [
    (dict(width=0), "width 0"),
    (dict(height=9000), "height 9000"),
    (dict(view="sideways"), "'sideways'"),
])
def test_render_refuses_bad_settings(host, cube, tmp_path, kwargs, named):
    with pytest.raises(scenehost.CommandError, match=named):
        host.render(tmp_path / "x.png", **kwargs)
    assert not os.path.exists(tmp_path / "x.png")


def test_render_of_empty_scene_is_an_error(host, tmp_path):
    with pytest.raises(scenehost.CommandError, match="no polygons to show"):
        host.render(tmp_path / "x.png")
    assert list(tmp_path.iterdir()) == []
