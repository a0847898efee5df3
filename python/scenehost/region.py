"""Build a region's tiles on a Dask cluster, or on this machine.

    python3 -m scenehost.region region.json [--scheduler ADDRESS] [--workers N] [--force]

    import scenehost.region
    summary = scenehost.region.build("region.json")

Each tile is one task: a `scenehost RaiseRegion RECIPE tile X Y` process,
the same job that GNU parallel or a Slurm array runs. When every tile is
done, one more task writes the coarser levels and tileset.json
(`RaiseRegion RECIPE tileset`). Without a scheduler address the run starts a
local cluster of one single-threaded worker process per core.

Why a process per tile and not the module's Host inside the worker: a tile
job that crashes or runs out of memory takes its own process down, not the
worker with its other tasks; the job's memory goes back to the system when
it ends; and the job is byte for byte the one the command line runs, so the
tiles do not depend on how they were scheduled. The price is scenehost's
start and the recipe's check in every job, about 70 ms against the second
and more that a 512-pixel tile takes (bench/bench_region_cluster).

Resuming is the tile job's own: a tile whose summary matches its inputs and
whose files are all there is not built again (unless force), so a second
run after an interrupted or failed one does only what is left. The paths in
the recipe (maps, output folder) must be the same on every worker: use a
shared file system. See docs/region.md, "On a cluster".
"""

import argparse
import ctypes
import json
import os
import shutil
import signal
import subprocess
import sys
import time
import urllib.request
import uuid

__all__ = ["RegionError", "build", "find_scenehost", "main", "plan", "run_tile", "run_tileset"]

#: Environment variable naming the scenehost command a worker runs.
SCENEHOST_ENV = "SCENEHOST_BIN"


class RegionError(RuntimeError):
    """A region could not be built: a bad recipe, a tile that failed (its
    error names it; `tile` holds (x, y)), or no scenehost command."""

    def __init__(self, message, tile=None):
        super().__init__(message)
        self.tile = tile


# ---- the scenehost command ----------------------------------------------------

def find_scenehost(explicit=None):
    """The scenehost command to run: `explicit`, else $SCENEHOST_BIN, else the
    one built or installed with this package, else `scenehost` on PATH."""
    for given, what in ((explicit, "the scenehost given"), (os.environ.get(SCENEHOST_ENV), "$" + SCENEHOST_ENV)):
        if given:
            if os.path.isfile(given) and os.access(given, os.X_OK):
                return os.path.abspath(given)
            raise RegionError(f"{what} ('{given}') is not an executable file")
    try:
        from . import _paths
    except ImportError:
        _paths = None
    if _paths is not None:
        here = getattr(_paths, "SCENEHOST", None)
        if here is None and getattr(_paths, "SCENEHOST_RELATIVE", None):
            here = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), _paths.SCENEHOST_RELATIVE))
        if here and os.path.isfile(here) and os.access(here, os.X_OK):
            return here
    found = shutil.which("scenehost")
    if found:
        return found
    raise RegionError("cannot find the scenehost command: give --scenehost PATH or set $" + SCENEHOST_ENV)


try:
    _prctl = ctypes.CDLL(None, use_errno=True).prctl
except (OSError, AttributeError):  # not Linux
    _prctl = None
_PR_SET_PDEATHSIG = 1


def _stop_with_parent():
    # Runs in the child before exec. When the worker that started the job dies
    # (a lost worker), the job gets SIGINT: scenehost's Ctrl-C, which stops the
    # tile cleanly instead of leaving it running unowned.
    if _prctl is not None:
        _prctl(_PR_SET_PDEATHSIG, int(signal.SIGINT), 0, 0, 0)


def _run_scenehost(binary, words):
    """Runs `scenehost --quiet RaiseRegion WORDS...`; returns (status, value,
    error text, seconds). Never raises for the job's own failure."""
    start = time.monotonic()
    try:
        proc = subprocess.run([binary, "--quiet", "RaiseRegion", *words], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, errors="replace", preexec_fn=_stop_with_parent)
    except OSError as e:
        return -1, None, f"cannot run '{binary}': {e.strerror}", time.monotonic() - start
    seconds = time.monotonic() - start
    value = None
    lines = [line for line in proc.stdout.splitlines() if line.strip()]
    if proc.returncode == 0 and lines:
        try:
            value = json.loads(lines[-1])
        except ValueError:
            value = lines[-1]
    errors = []
    for line in proc.stderr.splitlines():
        for prefix in ("error: ", "fatal: "):
            if line.startswith(prefix):
                line = line[len(prefix):]
                errors.append(line[len("RaiseRegion: "):] if line.startswith("RaiseRegion: ") else line)
    error = "; ".join(errors)
    if proc.returncode < 0:
        error = (error + "; " if error else "") + f"scenehost was killed by signal {-proc.returncode}"
    elif proc.returncode != 0 and not error:
        error = f"scenehost ended with status {proc.returncode}"
    return proc.returncode, value, error, seconds


def run_tile(recipe, x, y, force=False, scenehost=None):
    """One tile job, as a cluster task. Returns a dict: tile, built, seconds,
    and error (None when it succeeded). A bad input is a result, not an
    exception, so Dask never retries it: it fails the run once."""
    result = {"tile": [x, y], "built": False, "seconds": 0.0, "error": None, "status": 0}
    try:
        binary = find_scenehost(scenehost)
    except RegionError as e:
        result["error"], result["status"] = str(e), -1
        return result
    words = [recipe, "tile", str(x), str(y)] + (["force"] if force else [])
    status, value, error, seconds = _run_scenehost(binary, words)
    result["seconds"], result["status"] = seconds, status
    if status != 0:
        result["error"] = error
    elif isinstance(value, dict):
        result["built"] = bool(value.get("built", False))
    return result


def run_tileset(recipe, scenehost=None):
    """The final step, as a cluster task: the coarser levels and tileset.json."""
    result = {"tileset": None, "seconds": 0.0, "error": None, "status": 0}
    try:
        binary = find_scenehost(scenehost)
    except RegionError as e:
        result["error"], result["status"] = str(e), -1
        return result
    status, value, error, seconds = _run_scenehost(binary, [recipe, "tileset"])
    result["seconds"], result["status"] = seconds, status
    if status != 0:
        result["error"] = error
    elif isinstance(value, dict):
        result["tileset"] = value.get("tileset")
    return result


def plan(recipe, scenehost=None):
    """The region's grid, as `RaiseRegion RECIPE plan` returns it (a dict with
    out, width, height, tile, columns, rows and tiles). Checks the recipe and
    writes nothing; RegionError names what is wrong."""
    status, value, error, _ = _run_scenehost(find_scenehost(scenehost), [os.path.abspath(recipe), "plan"])
    if status != 0:
        raise RegionError(error or f"RaiseRegion plan of '{recipe}' failed")
    if not isinstance(value, dict) or not isinstance(value.get("tiles"), list):
        raise RegionError(f"RaiseRegion plan of '{recipe}' returned no tile list")
    return value


# ---- progress -----------------------------------------------------------------

def _clock(seconds):
    seconds = int(round(seconds))
    h, rest = divmod(seconds, 3600)
    return f"{h}:{rest // 60:02d}:{rest % 60:02d}" if h else f"{rest // 60}:{rest % 60:02d}"


class _Progress:
    """Tiles done of the total, with the time left: one line redrawn in place
    on a terminal, otherwise a line each further tenth."""

    def __init__(self, total, stream, enabled):
        self.total, self.stream, self.enabled = total, stream, enabled
        self.tty = enabled and hasattr(stream, "isatty") and stream.isatty()
        self.start = time.monotonic()
        self.tenth = 0

    def update(self, done):
        if not self.enabled or self.total == 0:
            return
        elapsed = time.monotonic() - self.start
        left = f"{_clock(elapsed / done * (self.total - done))} left" if done else "--:-- left"
        percent = 100 * done // self.total
        if self.tty:
            width = shutil.get_terminal_size((80, 24)).columns
            filled = 30 * done // self.total
            line = f"tiles [{'#' * filled}{'.' * (30 - filled)}] {done}/{self.total} {percent:3d}% {left}"
            self.stream.write("\r" + line[: max(width - 1, 10)] + "\x1b[K")
            self.stream.flush()
        elif done * 10 // self.total > self.tenth or done == self.total:
            self.tenth = done * 10 // self.total
            print(f"tiles: {done} of {self.total} ({percent}%), {_clock(elapsed)} so far, {left}",
                  file=self.stream, flush=True)

    def close(self):
        if self.tty:
            self.stream.write("\n")
            self.stream.flush()


def _say(stream, text):
    if stream is not None:
        print(text, file=stream, flush=True)


# ---- the driver ---------------------------------------------------------------

def _dashboard(client):
    """The dashboard's address, or None when the scheduler serves none: its
    web server runs without Bokeh too, but then its page only says that the
    dashboard needs Bokeh."""
    try:
        if "dashboard" not in client.scheduler_info().get("services", {}):
            return None
        link = client.dashboard_link
        with urllib.request.urlopen(link, timeout=2) as page:
            if page.status != 200 or b"needs bokeh" in page.read(65536).lower():
                return None
            return link
    except Exception:  # unreachable from here, no Bokeh, an older scheduler: no link
        return None


def _local_cluster(workers):
    from distributed import LocalCluster
    return LocalCluster(n_workers=workers, threads_per_worker=1, processes=True)


def _cores():
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def build(recipe_path, client=None, workers=None, force=False, progress=True, scenehost=None, scheduler=None,
          stream=None):
    """Builds the region of `recipe_path`: every tile as a task, then the tileset.

    client: a distributed.Client to run on; scheduler: an address to connect
    to instead ("tcp://host:8786"); with neither, a local cluster of
    `workers` single-threaded worker processes (default: one per core) runs
    for this call. force: rebuild tiles that are current. progress: show the
    tile count and time left on `stream` (default stderr). scenehost: the command the workers
    run (default: $SCENEHOST_BIN on the worker, else the one built or
    installed with the package).

    Returns a dict: recipe, out, tileset, tiles, built, current, seconds,
    tile_seconds (the jobs' own time, summed), timings (wall seconds: start,
    the recipe check and the cluster's start; tiles; tileset), workers,
    scheduler, dashboard.
    Raises RegionError naming the recipe or the first tile that failed; the
    tiles that finished stay, and a second run resumes. On Ctrl-C the
    pending tasks are cancelled before KeyboardInterrupt goes on.
    """
    start = time.monotonic()
    stream = (stream or sys.stderr) if progress else None
    recipe = os.path.abspath(os.fspath(recipe_path))
    if scenehost:
        scenehost = os.path.abspath(os.fspath(scenehost))  # the workers' folder is not ours
    if not os.path.isfile(recipe):
        raise RegionError(f"no region recipe file '{recipe_path}'")
    if workers is not None and (not isinstance(workers, int) or workers < 1):
        raise RegionError(f"workers must be a whole number from 1, got {workers!r}")
    # The recipe is checked here, before a cluster starts or a file is written.
    timings = {}
    try:
        grid = plan(recipe, scenehost)
    except RegionError as e:
        if "cannot find the scenehost command" not in str(e) or (client is None and scheduler is None):
            raise
        grid = None  # this machine has no scenehost; the cluster's workers do
    try:
        from distributed import Client, as_completed
    except ImportError:
        raise RegionError("scenehost.region needs Dask distributed (Debian: apt-get install python3-distributed)")

    cluster = None
    own_client = client is None
    try:
        if client is None:
            if scheduler:
                client = Client(scheduler, timeout="30s")
            else:
                cluster = _local_cluster(workers or _cores())
                client = Client(cluster)
        elif scheduler:
            raise RegionError("give either a client or a scheduler address, not both")
        if grid is None:
            grid = client.submit(plan, recipe, scenehost, pure=False).result()
        worker_count = len(client.scheduler_info().get("workers", {}))
        dashboard = _dashboard(client)
        tiles = [tuple(t) for t in grid["tiles"]]
        _say(stream,
             f"region {recipe}: {len(tiles)} tile(s) on {worker_count} worker(s) at {client.scheduler.address}"
             + (f"; dashboard {dashboard}" if dashboard else ""))

        timings["start"] = round(time.monotonic() - start, 3)
        run = uuid.uuid4().hex[:8]
        futures = [client.submit(run_tile, recipe, x, y, force, scenehost, key=f"tile-{x}_{y}-{run}", pure=False,
                                 retries=0)
                   for x, y in tiles]
        tile_of = {f.key: t for f, t in zip(futures, tiles)}
        tiles_start = time.monotonic()
        bar = _Progress(len(tiles), stream, stream is not None)
        bar.update(0)
        built = current = 0
        tile_seconds = 0.0
        try:
            for done, future in enumerate(as_completed(futures), 1):
                try:
                    r = future.result()
                except Exception as e:  # the task itself failed: its worker died too often, or it could not load
                    x, y = tile_of[future.key]
                    raise RegionError(f"tile {x} {y}: its task failed on the cluster: {type(e).__name__}: {e}",
                                      tile=(x, y)) from e
                tile_seconds += r["seconds"]
                if r["error"]:
                    client.cancel(futures)
                    x, y = r["tile"]
                    name = f"tile {x} {y}: "
                    message = r["error"] if r["error"].startswith(name) else name + r["error"]
                    raise RegionError(message, tile=(x, y))
                if r["built"]:
                    built += 1
                else:
                    current += 1
                bar.update(done)
        except BaseException:
            client.cancel(futures)
            raise
        finally:
            bar.close()

        timings["tiles"] = round(time.monotonic() - tiles_start, 3)
        tileset_start = time.monotonic()
        try:
            final = client.submit(run_tileset, recipe, scenehost, key=f"tileset-{run}", pure=False, retries=0).result()
        except Exception as e:
            raise RegionError(f"the tileset's task failed on the cluster: {type(e).__name__}: {e}") from e
        timings["tileset"] = round(time.monotonic() - tileset_start, 3)
        if final["error"]:
            raise RegionError(final["error"])
        summary = {
            "recipe": recipe,
            "out": grid.get("out"),
            "tileset": final["tileset"],
            "tiles": len(tiles),
            "built": built,
            "current": current,
            "seconds": round(time.monotonic() - start, 3),
            "tile_seconds": round(tile_seconds, 3),
            "timings": timings,
            "workers": worker_count,
            "scheduler": client.scheduler.address,
            "dashboard": dashboard,
        }
        _say(stream,
             f"region {recipe}: {built} tile(s) built, {current} current; wrote {final['tileset']}")
        return summary
    finally:
        if own_client and client is not None:
            client.close()
        if cluster is not None:
            cluster.close()


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m scenehost.region",
        description="Build a region's tiles on a Dask cluster (default: a local cluster, one worker per core), "
                    "then its tileset.json. A second run resumes: current tiles are not built again.")
    parser.add_argument("recipe", help="the region recipe (JSON); its paths must be the same on every worker")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler, e.g. tcp://host:8786")
    parser.add_argument("--workers", type=int, metavar="N", help="local cluster size (default: one per core)")
    parser.add_argument("--force", action="store_true", help="rebuild every tile, current or not")
    parser.add_argument("--scenehost", metavar="PATH",
                        help=f"the scenehost command the workers run (default: ${SCENEHOST_ENV}, "
                             "else the one installed with this package)")
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress, only errors and the summary")
    a = parser.parse_args(argv)
    if a.workers is not None and a.scheduler:
        parser.error("--workers sizes the local cluster; a scheduler's cluster has its own workers")
    if a.workers is not None and a.workers < 1:
        parser.error("--workers must be at least 1")
    try:
        summary = build(a.recipe, workers=a.workers, force=a.force, progress=not a.quiet, scenehost=a.scenehost,
                        scheduler=a.scheduler)
    except RegionError as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("error: interrupted; the finished tiles stay: run the same command again to resume", file=sys.stderr)
        return 130
    print(json.dumps(summary))
    return 0


if __name__ == "__main__":
    # Run through the package's own copy of this module, so the tasks are
    # pickled as scenehost.region.run_tile, which the workers import, and not
    # as __main__.run_tile, which they cannot.
    from scenehost.region import main as _main
    sys.exit(_main())
