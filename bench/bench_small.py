"""Small calls on both cores against the same calls pinned to one, and large
calls side by side with an earlier build.

    python bench/bench_small.py                      # small calls, this build
    python bench/bench_small.py --compare 82c600e    # also that commit, and large calls against it
    python bench/bench_small.py --rounds 9 --sizes 16 32 64 128
    python bench/bench_small.py --compare 82c600e --large-only --rounds 12

Small calls: warp_rgb, remap_rgb, remap_gray (bilinear, uint8) and detect
(uint8, default scale) on square inputs of each size. Every round runs each
build twice, once as the machine schedules it and once pinned to one core
with `taskset -c 0` (so its pool has one processor to run on), in separate
processes, alternating which goes first. Each process times every call as
the best per-call time of several batches. The table gives the best over the
rounds (the median in brackets) and the ratio of the two best times: at most
1.0-1.1 when a small call costs no more on two cores than on one.

Large calls (--compare): the four functions on a 1920x1080 input (both
filters for the resamplers), this build and the earlier one, each in its own
process, interleaved round by round; the table gives medians and the ratio
(this build / the earlier one), and whether the outputs are identical.

--compare REV builds commit REV once into build/compare/<commit> (the
benchmarks' one helper for earlier builds, bench/build_tools.py).
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import statistics
import sys
import time
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parent.parent
INVERSE = [0.97, 0.035, 2.0, -0.025, 1.01, 1.0, 0.0001, 0.0002, 1.0]


# --- the worker: one build, one process ----------------------------------------------------------

def scene(size, seed=3):
    """A gray image with a few bright rectangles on a noisy ramp, and its RGB version."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:size, 0:size]
    gray = (x * 0.3 + y * 0.2 + rng.normal(0, 4, (size, size))).clip(0, 255)
    for k in range(3):
        a, b = sorted(rng.integers(0, size, 2))
        c, d = sorted(rng.integers(0, size, 2))
        gray[a:b + 1, c:d + 1] += 60 + 30 * k
    gray = gray.clip(0, 255).astype(np.uint8)
    rgb = np.stack([gray, 255 - gray, gray // 2], axis=-1)
    return gray, rgb


def maps(width, height):
    y, x = np.mgrid[0:height, 0:width].astype(np.float32)
    return x * 0.97 + y * 0.03 + 1.5, y * 1.02 - x * 0.02 + 0.7


def small_calls(tessarin, sizes):
    calls = {}
    for s in sizes:
        gray, rgb = scene(s)
        mx, my = maps(s, s)
        calls[f"warp_rgb {s}"] = lambda rgb=rgb: tessarin.warp_rgb(rgb, INVERSE, 1.0, 0.0, 0.0)
        calls[f"remap_rgb {s}"] = lambda rgb=rgb, mx=mx, my=my: tessarin.remap_rgb(rgb, mx, my)
        calls[f"remap_gray {s}"] = lambda gray=gray, mx=mx, my=my: tessarin.remap_gray(gray, mx, my)
        calls[f"detect {s}"] = lambda gray=gray: tessarin.detect(gray)
    return calls


def large_calls(tessarin):
    gray, rgb = scene(1080)
    gray = np.ascontiguousarray(np.tile(gray, (1, 2))[:, :1920])
    rgb = np.ascontiguousarray(np.tile(rgb, (1, 2, 1))[:, :1920])
    mx, my = maps(1920, 1080)
    calls = {"detect 1920x1080": lambda: tessarin.detect(gray)}
    for f in ("bilinear", "lanczos3"):
        calls[f"warp_rgb 1920x1080 {f}"] = lambda f=f: tessarin.warp_rgb(rgb, INVERSE, 1.0, 0.0, 0.0, f)
        calls[f"remap_rgb 1920x1080 {f}"] = lambda f=f: tessarin.remap_rgb(rgb, mx, my, f)
        calls[f"remap_gray 1920x1080 {f}"] = lambda f=f: tessarin.remap_gray(gray, mx, my, f)
    return calls


def digest(result):
    h = hashlib.sha256()
    if isinstance(result, list):
        for s in result:
            h.update(np.array([s.x1, s.y1, s.x2, s.y2, s.width, s.precision, s.log_nfa]).tobytes())
    else:
        h.update(result.tobytes())
    return h.hexdigest()[:16]


def per_call(fn, budget):
    """Best per-call time over batches sized to take about `budget` seconds each."""
    fn()
    start = time.perf_counter()
    fn()
    once = max(time.perf_counter() - start, 1e-7)
    batch = max(1, int(budget / once))
    best = float("inf")
    for _ in range(15):
        start = time.perf_counter()
        for _ in range(batch):
            fn()
        best = min(best, (time.perf_counter() - start) / batch)
    return best


def worker(args):
    if args.site:
        sys.path.insert(0, args.site)
    import tessarin

    if args.worker == "small":
        calls, budget = small_calls(tessarin, args.sizes), 0.002
    else:
        calls, budget = large_calls(tessarin), 0.0
    times = {name: per_call(fn, budget) for name, fn in calls.items()}
    digests = {name: digest(fn()) for name, fn in calls.items()}
    print(json.dumps({"module": tessarin.__file__, "times": times, "digests": digests}))


# --- the parent ----------------------------------------------------------------------------------

def run_worker(kind, site, sizes, pin):
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    from build_tools import run_worker as run

    return run(Path(__file__).resolve(), ["--worker", kind, "--sizes", *map(str, sizes)], site, pin)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--compare", metavar="REV", help="also time the build of this commit, and large calls")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--sizes", type=int, nargs="+", default=[16, 32, 64])
    parser.add_argument("--large-only", action="store_true", help="with --compare: only the large calls")
    parser.add_argument("--worker", choices=["small", "large"], help=argparse.SUPPRESS)
    parser.add_argument("--site", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        return worker(args)

    builds = {"this": None}
    if args.compare:
        sys.path.insert(0, str(Path(__file__).resolve().parent))
        from build_tools import build_revision

        commit, site = build_revision(Path(__file__).resolve().parent.parent, args.compare)
        builds[commit[:9]] = site
    print(f"{os.cpu_count()} processors; {args.rounds} rounds; sizes {args.sizes}", flush=True)

    # Small calls: every build on both cores and pinned to one, alternating.
    small = {(b, pin): [] for b in builds for pin in (False, True)}
    for r in range(0 if args.large_only and args.compare else args.rounds):
        order = [(b, pin) for b in builds for pin in (False, True)]
        if r % 2:
            order.reverse()
        for b, pin in order:
            small[(b, pin)].append(run_worker("small", builds[b], args.sizes, pin)["times"])
    names = list(small[("this", False)][0]) if small[("this", False)] else []
    for b in builds if names else []:
        print(f"\nsmall calls, build {b}: best (median) in us over rounds; 2-core / 1-core of the best")
        print(f"{'call':<18} {'2 cores':>16} {'1 core':>16} {'ratio':>6}")
        ratios = []
        for n in names:
            two = [t[n] * 1e6 for t in small[(b, False)]]
            one = [t[n] * 1e6 for t in small[(b, True)]]
            ratio = min(two) / min(one)
            ratios.append(ratio)
            print(f"{n:<18} {min(two):7.1f} ({statistics.median(two):6.1f}) "
                  f"{min(one):7.1f} ({statistics.median(one):6.1f}) {ratio:6.2f}")
        print(f"largest ratio {max(ratios):.2f}")

    if not args.compare:
        return
    # Large calls: both builds on both cores, interleaved.
    large = {b: [] for b in builds}
    digests = {}
    for r in range(max(3, args.rounds // 2)):
        order = list(builds) if r % 2 == 0 else list(reversed(builds))
        for b in order:
            out = run_worker("large", builds[b], args.sizes, False)
            large[b].append(out["times"])
            digests[b] = out["digests"]
    this, other = list(builds)
    print(f"\nlarge calls: median ms over rounds, this build / {other}")
    print(f"{'call':<32} {'this':>9} {other:>9} {'ratio':>6}  same output")
    for n in large[this][0]:
        a = statistics.median(t[n] for t in large[this]) * 1e3
        b = statistics.median(t[n] for t in large[other]) * 1e3
        same = "yes" if digests[this][n] == digests[other][n] else "NO"
        print(f"{n:<32} {a:9.2f} {b:9.2f} {a / b:6.3f}  {same}")


if __name__ == "__main__":
    main()
