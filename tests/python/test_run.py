"""host.run: values both ways, failures, unknown commands, bad arguments."""
import threading

import numpy as np
import pytest

import scenehost
from conftest import CUBE


def last_command(host):
    return [e for e in host.journal if e.kind == "command"][-1]


def test_arguments_keep_their_kinds(host):
    # Translate fails on the missing object, but the journal holds the
    # arguments as the command received them.
    with pytest.raises(scenehost.CommandError):
        host.run("Translate", "nothing", 1, 2.5, True, None, "text", np.int64(7), np.float32(0.5))
    entry = last_command(host)
    assert entry.args == ("nothing", 1, 2.5, True, None, "text", 7, 0.5)
    assert [type(a) for a in entry.args] == [str, int, float, bool, type(None), str, int, float]


def test_return_values(host, cube):
    name = host.run("Duplicate", "cube")
    assert name == "cube1" and "cube1" in host.scene
    assert host.run("Translate", name, 1, 2, 3) is None
    assert host.scene[name].position == (1.0, 2.0, 3.0)
    clip = host.run("CreateImageClip", str(CUBE.parent.parent / "images" / "map.bmp"), "m")
    assert clip == "m"


def test_failed_command_raises_its_error_line_and_changes_nothing(host, cube):
    before = [o.name for o in host.scene.objects]
    with pytest.raises(scenehost.CommandError) as caught:
        host.run("DeleteObj", "cube,nothing")
    error = caught.value
    assert error.command == "DeleteObj"
    assert error.status == 3
    errors = [line.text for line in host.log if line.severity == 2]
    assert str(error) == errors[-1] and "nothing" in str(error)
    assert [o.name for o in host.scene.objects] == before
    assert last_command(host).status == 3


def test_unknown_command(host, cube):
    journal = len(host.journal)
    with pytest.raises(scenehost.UnknownCommandError) as caught:
        host.run("NoSuchCommand", 1)
    assert isinstance(caught.value, scenehost.CommandError)
    assert caught.value.command == "NoSuchCommand" and caught.value.status == 3
    assert "NoSuchCommand" in str(caught.value)
    assert len(host.journal) == journal and len(host.scene) == 1


@pytest.mark.parametrize("bad, position", [([1, 2], 2), ({}, 1), (b"x", 3), (1 + 2j, 2)])
def test_wrong_argument_types_name_the_position(host, cube, bad, position):
    args = ["cube", 1, 2]
    args[position - 1] = bad
    journal = len(host.journal)
    with pytest.raises(TypeError, match=f"argument {position} of Translate"):
        host.run("Translate", *args)
    assert len(host.journal) == journal  # nothing ran
    assert host.scene["cube"].position == (0.0, 0.0, 0.0)


def test_int_beyond_host_range(host, cube):
    with pytest.raises(OverflowError, match="argument 2 of Translate"):
        host.run("Translate", "cube", 2**31, 0, 0)
    host.run("Translate", "cube", 2**31 - 1, 0, 0)  # the largest host int passes


def test_commands_mapping(host):
    commands = host.commands
    assert commands["Duplicate"].owner == "host"
    assert commands["Duplicate"].arguments == ("object",)
    tower = commands["RaiseTower"]
    assert tower.owner != "host"
    assert tower.arguments[:4] == ("buildingname", "floors", "unitswidth", "unitslength")
    assert "findSpots" in commands


def test_threads_take_turns(host, cube):
    errors = []

    def worker():
        try:
            for _ in range(50):
                host.run("Duplicate", "cube")
                _ = host.scene.objects
        except Exception as e:  # pragma: no cover - reported below
            errors.append(e)

    threads = [threading.Thread(target=worker) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert len(host.scene) == 1 + 200
