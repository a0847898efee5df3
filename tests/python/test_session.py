"""Hosts, plug-in paths, the log (logging, callbacks, Ctrl-C) and the journal."""
import _thread
import logging
import os
import subprocess
import sys
import threading

import pytest

import scenehost
from conftest import CUBE, IMAGES, SOURCE


def test_missing_plugin_folder_and_home(tmp_path):
    missing = tmp_path / "no-plugins"
    with pytest.raises(FileNotFoundError) as caught:
        scenehost.Host(plugins=[missing])
    assert str(missing) in str(caught.value) and caught.value.filename == str(missing)
    with pytest.raises(FileNotFoundError, match="home"):
        scenehost.Host(home=tmp_path / "no-home")
    with pytest.raises(TypeError):
        scenehost.Host(plugins=[1])


def test_plugins_and_home_given(tmp_path):
    host = scenehost.Host(home=SOURCE / "home", plugins=[])
    assert "RaiseTower" not in host.commands and "Duplicate" in host.commands
    with pytest.raises(scenehost.UnknownCommandError):
        host.run("RaiseTower", "T", 1, 1, 1, "brick", "A", 1)


def test_a_new_host_starts_afresh_and_retires_the_old(host):
    host.run("ObjImport", str(CUBE))
    host.on_log = print
    second = scenehost.Host()
    assert second.on_log is None
    assert second.scene.objects == []
    assert [e for e in second.journal if e.kind == "command"] == []
    with pytest.raises(RuntimeError, match="newer Host"):
        host.run("Duplicate", "cube")
    with pytest.raises(RuntimeError):
        host.scene.objects


def test_severities_reach_logging(host, caplog):
    caplog.set_level(logging.DEBUG, logger="scenehost")
    with pytest.raises(scenehost.CommandError):
        host.run("Duplicate", "nothing")
    host.run("RaiseTower", "T", 1, 1, 1, "brick", "A", 1)
    records = [(r.levelno, r.getMessage()) for r in caplog.records if r.name == "scenehost"]
    assert (logging.ERROR, [l.text for l in host.log if l.severity == 2][-1]) in records
    levels = {line.severity: line.level for line in host.log}
    expected = {1: logging.CRITICAL, 2: logging.ERROR, 4: logging.WARNING, 8: logging.DEBUG,
                16: logging.DEBUG, 32: logging.INFO}
    for severity, level in levels.items():
        assert expected[severity] == level
    assert 2 in levels and any(s in levels for s in (8, 16, 32))


def test_callback_sees_lines_as_they_happen(host):
    seen = []

    def callback(line):
        seen.append((line.text, line.severity))

    host.on_log = callback
    with pytest.raises(scenehost.CommandError) as caught:
        host.run("Duplicate", "nothing")
    assert seen and seen[-1][0] == str(caught.value) and seen[-1][1] == 2
    host.on_log = None
    host.run("NewScene")
    count = len(seen)
    with pytest.raises(scenehost.CommandError):
        host.run("Duplicate", "nothing")
    assert len(seen) == count
    with pytest.raises(TypeError):
        host.on_log = 5


def test_callback_errors_do_not_break_commands(host, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: reported.append(u.exc_type))

    def broken(line):
        raise ValueError("callback fault")

    def reenter(line):
        host.scene.objects  # the host is busy: RuntimeError, reported, not a deadlock

    for callback in (broken, reenter):
        host.on_log = callback
        with pytest.raises(scenehost.CommandError, match="nothing"):
            host.run("Duplicate", "nothing")
    host.on_log = None
    assert reported == [ValueError, RuntimeError]


def test_ctrl_c_stops_between_commands(host):
    host.run("ObjImport", str(CUBE))

    def interrupt(line):
        raise KeyboardInterrupt  # as Ctrl-C would arrive while a command logs

    host.on_log = interrupt
    with pytest.raises(KeyboardInterrupt):
        host.run("RaiseTower", "T", 2, 2, 2, "glass", "A", 1)
    host.on_log = None
    # The command ran to its end: the tower is whole, nothing half-built.
    assert [o.name for o in host.scene.objects] == ["cube", "T"]
    assert host.scene["T"].mesh.positions.shape[0] > 0
    host.run("Duplicate", "cube")  # and the host carries on


def test_journal_records(host):
    host.run("ObjImport", str(CUBE))
    host.scene["cube"].position = (0, 1, 0)
    with pytest.raises(scenehost.CommandError):
        host.run("Duplicate", "nothing")
    kinds = [(e.kind, e.name) for e in host.journal if e.kind != "log"]
    assert kinds == [("command", "ObjImport"), ("set", "posx"), ("set", "posy"), ("set", "posz"),
                     ("command", "Duplicate")]
    journal = host.journal
    commands = [e for e in journal if e.kind == "command"]
    assert commands[0].status == 0 and commands[0].args == (str(CUBE),)
    assert commands[-1].status == 3
    logs = [e for e in journal if e.kind == "log"]
    assert logs[-1].severity == 2 and logs[-1].object is None


def test_ctrl_c_in_a_loop_leaves_only_whole_commands(host):
    host.run("ObjImport", str(CUBE))
    timer = threading.Timer(0.3, _thread.interrupt_main)  # SIGINT, as Ctrl-C sends it
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            for _ in range(10**7):
                host.run("Duplicate", "cube")
    finally:
        timer.cancel()
    runs = [e for e in host.journal if e.kind == "command" and e.name == "Duplicate"]
    assert runs and all(e.status == 0 for e in runs)
    assert len(host.scene) == 1 + len(runs)


def test_a_python_without_numpy_is_told_which_python_to_use(tmp_path):
    # A numpy that cannot be imported, first on the path, stands for an
    # interpreter that has none.
    (tmp_path / "numpy").mkdir()
    (tmp_path / "numpy" / "__init__.py").write_text(
        "raise ModuleNotFoundError(\"No module named 'numpy'\", name='numpy')\n")
    script = (
        "import scenehost\n"
        "h = scenehost.Host()\n"
        f"h.run('ObjImport', {str(CUBE)!r})\n"
        "print(h.scene['cube'].mesh.bounds()[1])\n"
        "for what in ('positions', 'pixels'):\n"
        "    try:\n"
        "        if what == 'positions':\n"
        "            h.scene['cube'].mesh.positions\n"
        "        else:\n"
        f"            h.run('CreateImageClip', {str(IMAGES / 'map.bmp')!r})\n"
        "            h.images[0].pixels()\n"
        "    except ModuleNotFoundError as e:\n"
        "        print(what, e)\n")
    # The package this test imported (the folder above it).
    module_dir = os.path.dirname(os.path.dirname(os.path.abspath(scenehost.__file__)))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(tmp_path), module_dir]))
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True,
                         timeout=120)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    assert lines[0] == "(5.0, 10.0, 5.0)", "what needs no NumPy still works"
    for line, what in zip(lines[1:], ("positions", "pixels")):
        assert line.startswith(what + " scenehost gives meshes and images as NumPy arrays"), line
        assert f"this Python ({sys.executable}) cannot import numpy" in line
        assert "The module was built for " in line and "needs NumPy there" in line
    assert len(lines) == 3
