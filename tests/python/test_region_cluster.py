"""scenehost.region on real Dask processes: a scheduler and two workers on
127.0.0.1 (or the embedded local cluster) build a small generated region, and
the output is byte for byte what `scenehost RaiseRegion` writes in one
process, also after a worker is killed, after the driver is killed or
interrupted and run again, and after a bad tile failed the run."""
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

import scenehost
from conftest import SOURCE

pytest.importorskip("distributed", reason="Debian's python3-distributed is not installed "
                                          "(apt-get install python3-distributed); scenehost.region needs it")
pytest.importorskip("osgeo.gdal", reason="Debian's python3-gdal is not installed; the test region's generator needs it")

import scenehost.region as region  # noqa: E402

PACKAGE_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(scenehost.__file__)))
ENV = dict(os.environ, PYTHONPATH=PACKAGE_ROOT, PYTHONDONTWRITEBYTECODE="1")
SCENEHOST = region.find_scenehost()
MAP_SIZE, TILE = 512, 128  # 16 tiles of 128 pixels, halo 64
TILES = (MAP_SIZE // TILE) ** 2


def tree(folder):
    """{relative path: bytes} of every file below `folder`, hidden ones too."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            files[os.path.relpath(path, folder)] = Path(path).read_bytes()
    return files


def assert_same_tree(got, want):
    a, b = tree(got), tree(want)
    assert sorted(a) == sorted(b), f"files differ: only in {got}: {sorted(set(a) - set(b))}, " \
                                   f"only in {want}: {sorted(set(b) - set(a))}"
    differing = [name for name in a if a[name] != b[name]]
    assert not differing, f"these files differ from the one-process run: {differing}"


@pytest.fixture(scope="module")
def generated(tmp_path_factory):
    """A small generated region (inputs in inputs/) and what one
    `scenehost RaiseRegion` process writes for it (in reference/out)."""
    base = tmp_path_factory.mktemp("region")
    inputs = base / "inputs"
    subprocess.run([sys.executable, str(SOURCE / "scripts" / "make_region_example.py"), str(inputs),
                    "--size", str(MAP_SIZE), "--tile", str(TILE)], check=True, timeout=120)
    recipe = json.loads((inputs / "region.json").read_text())
    recipe["out"] = "out"
    (inputs / "region.json").write_text(json.dumps(recipe, indent=2) + "\n")
    reference = copy_region(inputs, base / "reference")
    done = subprocess.run([SCENEHOST, "--quiet", "RaiseRegion", str(reference)], capture_output=True, text=True,
                          timeout=600)
    assert done.returncode == 0, done.stderr
    return inputs, reference.parent / "out"


def copy_region(inputs, folder):
    """The region's inputs in a folder of their own; returns the recipe. The
    copies keep the files' times, so their tiles' digests are the reference's."""
    shutil.copytree(inputs, folder, copy_function=shutil.copy2)
    return folder / "region.json"


class Cluster:
    """A `dask scheduler` and `dask worker` processes on 127.0.0.1."""

    def __init__(self, folder, workers, worker_env=ENV):
        self.folder = folder
        self.procs, self.logs = [], []
        try:
            self.begin(workers, worker_env)
        except BaseException:
            self.stop()
            raise

    def begin(self, workers, worker_env):
        folder = self.folder
        scheduler_file = folder / "scheduler.json"
        self.scheduler = self.start("scheduler", "distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                                    "--port", "0", "--no-dashboard", "--scheduler-file", str(scheduler_file))
        deadline = time.monotonic() + 60
        self.address = None
        while self.address is None:
            assert self.scheduler.poll() is None, self.log("scheduler")
            assert time.monotonic() < deadline, "the scheduler did not start in 60 s"
            try:
                self.address = json.loads(scheduler_file.read_text())["address"]
            except (OSError, ValueError, KeyError):  # not written yet, or half written
                time.sleep(0.05)
        # No nanny: a killed worker stays dead, like a lost machine.
        self.workers = [self.start(f"worker{i}", "distributed.cli.dask_worker", self.address, "--nthreads", "1",
                                   "--no-nanny", "--no-dashboard", "--host", "127.0.0.1", "--name", f"w{i}",
                                   "--local-directory", str(folder / f"space{i}"), env=worker_env)
                        for i in range(workers)]
        from distributed import Client
        with Client(self.address, timeout="30s") as client:
            client.wait_for_workers(workers, timeout=60)

    def start(self, name, module, *args, env=ENV):
        log = open(self.folder / f"{name}.log", "w")
        self.logs.append(log)
        proc = subprocess.Popen([sys.executable, "-m", module, *args], env=env, stdout=log, stderr=subprocess.STDOUT,
                                cwd=self.folder, start_new_session=True)
        self.procs.append(proc)
        return proc

    def log(self, name):
        return (self.folder / f"{name}.log").read_text()

    def stop(self):
        for p in self.procs:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGKILL)
            p.wait()
        for log in self.logs:
            log.close()


@pytest.fixture
def cluster(tmp_path):
    folder = tmp_path / "cluster"
    folder.mkdir()
    c = Cluster(folder, 2)
    yield c
    c.stop()


def driver(recipe, *args):
    """`python3 -m scenehost.region RECIPE ARGS...`, started."""
    return subprocess.Popen([sys.executable, "-m", "scenehost.region", str(recipe), *args], env=ENV,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)


def summaries(recipe):
    folder = recipe.parent / "out" / "tiles" / "0"
    return [p for p in folder.glob("*.json")] if folder.is_dir() else []


def wait_for_tiles(recipe, proc, count, timeout=120):
    """Waits until `count` tile summaries are written; the run must still be going."""
    deadline = time.monotonic() + timeout
    while len(summaries(recipe)) < count:
        assert proc.poll() is None, f"the run ended before {count} tile(s) were written: {proc.communicate()}"
        assert time.monotonic() < deadline, "no tile was written in time"
        time.sleep(0.01)


def children(pid):
    """The processes `pid` started that are still running (Linux /proc)."""
    found = []
    for task in Path(f"/proc/{pid}/task").glob("*"):
        try:
            found += [int(c) for c in (task / "children").read_text().split()]
        except OSError:
            pass
    return found


def finish(proc, timeout=300):
    out, err = proc.communicate(timeout=timeout)
    return proc.returncode, out, err


def test_two_workers_write_what_one_process_writes(generated, cluster, tmp_path):
    inputs, reference = generated
    recipe = copy_region(inputs, tmp_path / "run")
    status, out, err = finish(driver(recipe, "--scheduler", cluster.address))
    assert status == 0, err
    summary = json.loads(out.splitlines()[-1])
    assert summary["tiles"] == TILES and summary["built"] == TILES and summary["current"] == 0
    assert summary["workers"] == 2 and summary["scheduler"] == cluster.address
    assert f"{TILES} of {TILES}" in err  # the progress lines (not a terminal)
    assert_same_tree(recipe.parent / "out", reference)

    # Both workers ran tiles: the work was spread.
    ran = [cluster.log(f"worker{i}") for i in range(2)]
    assert all(r for r in ran)

    # A second run finds every tile current and writes the same tileset; the
    # Python entry point returns the same summary.
    again = region.build(recipe, scheduler=cluster.address, progress=False)
    assert again["built"] == 0 and again["current"] == TILES
    assert_same_tree(recipe.parent / "out", reference)
    forced = region.build(recipe, scheduler=cluster.address, progress=False, force=True)
    assert forced["built"] == TILES
    assert_same_tree(recipe.parent / "out", reference)


def test_a_killed_worker_s_tiles_are_run_again(generated, cluster, tmp_path):
    inputs, reference = generated
    recipe = copy_region(inputs, tmp_path / "run")
    proc = driver(recipe, "--scheduler", cluster.address)
    wait_for_tiles(recipe, proc, 2)
    # Killed while it runs a tile job: the job is its child process.
    victim = cluster.workers[0]
    deadline = time.monotonic() + 60
    while not children(victim.pid):
        assert proc.poll() is None and time.monotonic() < deadline, "the worker ran no tile job to kill it in"
        time.sleep(0.002)
    os.kill(victim.pid, signal.SIGKILL)
    victim.wait()
    status, out, err = finish(proc)
    assert status == 0, err
    summary = json.loads(out.splitlines()[-1])
    assert summary["tiles"] == TILES
    assert_same_tree(recipe.parent / "out", reference)


def test_a_killed_driver_s_run_resumes(generated, cluster, tmp_path):
    inputs, reference = generated
    recipe = copy_region(inputs, tmp_path / "run")
    proc = driver(recipe, "--scheduler", cluster.address)
    wait_for_tiles(recipe, proc, 2)
    os.killpg(proc.pid, signal.SIGKILL)
    proc.wait()
    assert not (recipe.parent / "out" / "tileset.json").exists()
    status, out, err = finish(driver(recipe, "--scheduler", cluster.address))
    assert status == 0, err
    summary = json.loads(out.splitlines()[-1])
    assert summary["current"] >= 2 and summary["built"] + summary["current"] == TILES
    assert_same_tree(recipe.parent / "out", reference)


def test_ctrl_c_on_the_local_cluster_stops_and_a_second_run_resumes(generated, tmp_path):
    inputs, reference = generated
    recipe = copy_region(inputs, tmp_path / "run")
    proc = driver(recipe, "--workers", "2")
    wait_for_tiles(recipe, proc, 2)
    os.killpg(proc.pid, signal.SIGINT)  # as a terminal's Ctrl-C does: the driver, its workers and their jobs
    status, out, err = finish(proc, timeout=120)
    assert status == 130, err
    assert "run the same command again to resume" in err
    assert not (recipe.parent / "out" / "tileset.json").exists()
    summary = region.build(recipe, workers=2, progress=False)
    assert summary["current"] >= 2 and summary["built"] + summary["current"] == TILES
    assert_same_tree(recipe.parent / "out", reference)


def paint(path, rows, columns, rgb):
    """Fills rows x columns (from the top-left, half-open) of an RGB GeoTIFF."""
    from osgeo import gdal
    gdal.SetConfigOption("GDAL_PAM_ENABLED", "NO")  # no .aux.xml beside the map
    ds = gdal.Open(str(path), gdal.GA_Update)
    for band in range(3):
        b = ds.GetRasterBand(band + 1)
        a = b.ReadAsArray()
        a[rows[0]:rows[1], columns[0]:columns[1]] = rgb[band]
        b.WriteArray(a)
    ds.FlushCache()


def test_a_bad_tile_fails_the_run_once_naming_it(generated, cluster, tmp_path):
    inputs, reference = generated
    recipe = copy_region(inputs, tmp_path / "run")
    original = (recipe.parent / "district.tif").read_bytes()
    stat = os.stat(recipe.parent / "district.tif")
    # A shop lot 170 pixels wide in the top tile row, its centre in tile 0 0:
    # wider than tile 0 0's window (the tile and a 64-pixel halo), so tile 0 0
    # (and tile 1 0, which holds its other end) cannot measure it.
    paint(recipe.parent / "district.tif", (30, 90), (30, 220), (70, 70, 76))
    paint(recipe.parent / "district.tif", (40, 80), (40, 210), (230, 30, 30))
    proc = driver(recipe, "--scheduler", cluster.address)
    status, out, err = finish(proc)
    assert status == 1, err
    errors = [line for line in err.splitlines() if line.startswith("error: ")]
    assert len(errors) == 1, err
    assert errors[0].startswith(("error: tile 0 0: ", "error: tile 1 0: ")), errors[0]
    assert "halo" in errors[0] and "zone 'shops'" in errors[0]
    assert not (recipe.parent / "out" / "tileset.json").exists()
    # The failing tile ran once: Dask did not retry it, and neither did we.
    log = cluster.log("worker0") + cluster.log("worker1")
    assert "Compute Failed" not in log

    # Fixed, the region resumes: what finished stays, and the output is the
    # one-process run's.
    finished = len(summaries(recipe))
    (recipe.parent / "district.tif").write_bytes(original)
    os.utime(recipe.parent / "district.tif", ns=(stat.st_atime_ns, stat.st_mtime_ns))
    summary = region.build(recipe, scheduler=cluster.address, progress=False)
    assert summary["built"] + summary["current"] == TILES
    assert summary["current"] >= finished - 6  # the tiles whose windows saw the bar are built again
    assert_same_tree(recipe.parent / "out", reference)


def test_bad_arguments_and_recipes_fail_before_anything_is_written(tmp_path):
    with pytest.raises(region.RegionError, match="no region recipe file"):
        region.build(tmp_path / "missing.json")
    bad = tmp_path / "bad.json"
    bad.write_text('{"map": "nowhere.tif", "tile": 128, "out": "out", "zones": []}')
    with pytest.raises(region.RegionError, match="bad.json|nowhere"):
        region.build(bad)
    assert not (tmp_path / "out").exists()
    with pytest.raises(region.RegionError, match="workers"):
        region.build(bad, workers=0)
    with pytest.raises(region.RegionError, match="not an executable"):
        region.build(bad, scenehost=str(tmp_path / "bad.json"))
    done = subprocess.run([sys.executable, "-m", "scenehost.region", str(bad), "--workers", "0"], env=ENV,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 2 and "--workers" in done.stderr


def test_a_worker_without_the_package_fails_the_run_naming_a_tile(generated, tmp_path):
    # The workers import scenehost.region to run a task; one that cannot is
    # a deployment fault, reported once, not retried for ever.
    inputs, _ = generated
    recipe = copy_region(inputs, tmp_path / "run")
    folder = tmp_path / "cluster"
    folder.mkdir()
    bare = {k: v for k, v in ENV.items() if k != "PYTHONPATH"}
    c = Cluster(folder, 1, worker_env=bare)
    try:
        with pytest.raises(region.RegionError, match=r"^tile \d+ \d+: its task failed on the cluster: .*scenehost"):
            region.build(recipe, scheduler=c.address, progress=False)
    finally:
        c.stop()
    assert not (recipe.parent / "out" / "tileset.json").exists()


def test_a_killed_tile_job_leaves_no_partial_file(generated, tmp_path):
    """SIGKILL at a spread of moments while one process raises the region:
    what is on disk is always whole files (every .glb as long as its header
    says, no temporary files), and a second run finishes to the same bytes."""
    inputs, reference = generated
    recipe = copy_region(inputs, tmp_path / "inputs")
    out = recipe.parent / "out"
    for delay in (0.2, 0.45, 0.7, 0.95, 1.2):
        proc = subprocess.Popen([SCENEHOST, "--quiet", "RaiseRegion", str(recipe)], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        time.sleep(delay)
        proc.send_signal(signal.SIGKILL)
        proc.wait()
        for name, data in tree(out).items() if out.exists() else []:
            assert not name.split("/")[-1].startswith("."), f"a killed job left {name}"
            if name.endswith(".glb"):
                assert len(data) >= 12 and int.from_bytes(data[8:12], "little") == len(data), f"{name} is partial"
            if name.endswith(".json"):
                json.loads(data)
    done = subprocess.run([SCENEHOST, "--quiet", "RaiseRegion", str(recipe)], capture_output=True, text=True,
                          timeout=600)
    assert done.returncode == 0, done.stderr
    assert_same_tree(out, reference)
