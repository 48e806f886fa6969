"""Many threads and processes at once: every call gives the result it gives
alone, forked children keep a working module, and a fresh interpreter whose
threads all make their first call at the same moment sets itself up once."""
import multiprocessing
import os
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import tessarin
from conftest import SANITIZED, rectangle_image, skip_under_emulation

# The address sanitizer of GCC 12 takes no lock of its allocator across a
# fork: a child forked while other threads allocate can wait forever on a lock
# that a thread which no longer exists held. Such children are tested without
# the sanitizer.
SANITIZER_FORK = pytest.mark.skipif(SANITIZED, reason="the sanitizer's allocator is not fork-safe beside running threads")
# A user-mode emulator forks its own state too, and a child forked while other
# threads run can abort or deadlock inside the emulator before it runs a line.
EMULATOR_FORK = skip_under_emulation("a child forked beside running threads can abort or deadlock in the emulator")

THREADS = 16
ROUNDS = 5


def _inputs(seed=0):
    rng = np.random.default_rng(seed)
    gray = np.roll(rectangle_image(96, 128), 9 * seed, axis=1)
    rgb8 = rng.integers(0, 256, (40, 52, 3), dtype=np.uint8)
    rgb16 = rng.integers(0, 65536, (33, 29, 3), dtype=np.uint16)
    mask = rng.integers(0, 256, (37, 41), dtype=np.uint8)
    map_x = rng.uniform(-2, 44, (31, 27)).astype(np.float32)
    map_y = rng.uniform(-2, 40, (31, 27)).astype(np.float32)
    inverse = list(np.array([0.9, 0.08, 1.5, -0.04, 1.1, -2.0, 0.0007, -0.0011, 1.0]) + rng.normal(0, 0.01, 9))
    tasks = {
        "detect u8": lambda: tessarin.detect(gray),
        "detect f32 T": lambda: tessarin.detect(gray.T.astype(np.float32), 1.0),
        "detect u16 flipped": lambda: tessarin.detect(gray.astype(np.uint16)[::-1] * 257, 0.5),
        "warp bilinear": lambda: tessarin.warp_rgb(rgb8, inverse, 1.2, -1.0, 0.5, out_size=(45, 38)),
        "warp lanczos u16": lambda: tessarin.warp_rgb(rgb16[:, ::-1], inverse, 0.8, 2.0, 1.0, "lanczos3"),
        "remap rgb": lambda: tessarin.remap_rgb(rgb16, map_x, map_y, "lanczos3"),
        "remap gray T": lambda: tessarin.remap_gray(mask, map_x.T, map_y.T),
    }
    return {f"{name} #{seed}": call for name, call in tasks.items()}


VARIANTS = 3


def _comparable(result):
    if isinstance(result, list):
        return [(s.x1, s.y1, s.x2, s.y2, s.width, s.precision, s.log_nfa) for s in result]
    return (result.dtype.str, result.shape, result.tobytes())


def _reference(tasks):
    return {name: _comparable(call()) for name, call in tasks.items()}


@pytest.fixture(scope="module")
def tasks():
    """Every function on a few random inputs each."""
    return {name: call for seed in range(VARIANTS) for name, call in _inputs(seed).items()}


@pytest.fixture(scope="module")
def expected(tasks):
    ref = _reference(tasks)
    assert all(ref[f"detect u8 #{seed}"] for seed in range(VARIANTS)), "the stress images must have segments"
    return ref


def _hammer(tasks, expected, seed, failures, barrier=None):
    order = list(tasks)
    rng = np.random.default_rng(seed)
    if barrier is not None:
        barrier.wait()
    for _ in range(ROUNDS):
        rng.shuffle(order)
        for name in order:
            try:
                if _comparable(tasks[name]()) != expected[name]:
                    failures.append(f"{name}: differs in thread {seed}")
            except Exception as exc:  # reported, not swallowed
                failures.append(f"{name}: {exc!r}")


def test_sixteen_threads_agree_with_one(tasks, expected):
    failures = []
    barrier = threading.Barrier(THREADS)
    threads = [threading.Thread(target=_hammer, args=(tasks, expected, i, failures, barrier)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


def _wait(pid, seconds=120):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.02)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    pytest.fail("the forked child hung")


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@pytest.mark.thread_unsafe(reason="forks; the threads it runs beside are its own")
@SANITIZER_FORK
@EMULATOR_FORK
def test_fork_while_other_threads_use_the_pool(tasks, expected):
    """Threads keep the pool busy while the process forks; the child, which has
    none of those threads, must still get every result right."""
    failures = []
    stop = threading.Event()

    def busy(i):
        while not stop.is_set():
            _hammer(tasks, expected, i, failures)

    threads = [threading.Thread(target=busy, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    try:
        for _ in range(4):
            time.sleep(0.05)
            pid = os.fork()
            if pid == 0:
                code = 1
                try:
                    code = 0 if _reference(tasks) == expected else 2
                finally:
                    os._exit(code)
            assert _wait(pid) == 0
    finally:
        stop.set()
        for t in threads:
            t.join()
    assert failures == []


def _pool_task(name):
    seed = int(name.rsplit("#", 1)[1])
    return name, _comparable(_inputs(seed)[name]())


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
@pytest.mark.thread_unsafe(reason="a process pool made by fork")
@SANITIZER_FORK
@EMULATOR_FORK
def test_multiprocessing_pool_with_fork(tasks, expected):
    _reference(tasks)  # the parent's pool is up and warm before the fork
    with multiprocessing.get_context("fork").Pool(2) as workers:
        got = dict(workers.map(_pool_task, list(tasks), chunksize=1))
    assert got == expected


FIRST_CALLS = textwrap.dedent(
    """
    import sys, threading
    barrier = threading.Barrier(8)
    results, errors = [None] * 8, []

    def first(i):
        try:
            barrier.wait()
            import tessarin
            import numpy as np
            img = np.zeros((40, 50, 3), np.uint8)
            img[10:30, 15:35] = 200
            calls = [
                lambda: tessarin.warp_rgb(img, [1, 0, 0, 0, 1, 0, 0, 0, 1], 1.0, 0.0, 0.0),
                lambda: tessarin.remap_gray(img[..., 0], *np.meshgrid(np.arange(50, dtype=np.float32),
                                                                      np.arange(40, dtype=np.float32))),
                lambda: tessarin.detect(img[..., 0], 1.0),
            ]
            r = calls[i % 3]()
            results[i] = len(r) if isinstance(r, list) else r.tobytes()
        except BaseException as exc:
            errors.append(repr(exc))

    threads = [threading.Thread(target=first, args=(i,)) for i in range(8)]
    for t in threads: t.start()
    for t in threads: t.join()
    assert not errors, errors
    for i in range(3, 8):
        assert results[i] == results[i % 3], i
    assert results[2] > 0
    print("ok")
    """
)


@EMULATOR_FORK  # the interpreter is started by a process whose pool threads run
@pytest.mark.parametrize("attempt", range(3))
def test_first_calls_race_in_a_fresh_interpreter(attempt):
    proc = subprocess.run([sys.executable, "-c", FIRST_CALLS], capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == "ok"
