"""Throughput of warp_rgb, remap_rgb and remap_gray on a 1920x1080 photograph,
side by side with the peers and, with --compare, with an earlier build.

    python bench/bench_resample.py --setup             # install the peers (see below)
    python bench/bench_resample.py [--rounds 5] [--repeats 3] [--photo coffee]
    python bench/bench_resample.py --compare 71fd07d   # this build against that commit
    python bench/bench_resample.py --compare 71fd07d --bitcheck 40

Every function runs with both filters and both element types on the same
input. The peers run the same mild perspective on the same 8-bit input:
Pillow's Image.transform (PERSPECTIVE, bilinear and bicubic, one thread) and
pyvips's mapim (bilinear, libvips's default number of threads) on RGB and on
one band. A peer that is not installed is skipped.

Every build and the peers run in separate processes, interleaved round by
round, so that a busy machine slows all of them alike; each process times
every call `repeats` times after one warm-up call. The figures are medians
over all rounds of the wall time of one call.

--compare REV builds commit REV once into build/compare/<commit>/site
(bench/build_tools.py), then times it beside the module this
interpreter imports, prints the ratios and says whether the two builds gave
identical outputs. --bitcheck N also runs N random homographies and pairs of
maps (seeded) through every function, filter, element type and channel count
in both builds, once with every processor and once pinned to one (one pool
worker), and compares the outputs bit for bit.

--setup installs Pillow and pyvips into this interpreter with pip when they are
missing, and Debian's libvips42 (which pyvips from PyPI loads) with apt-get
when it is missing and the script runs as root.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import build_tools
from build_tools import build_revision

WIDTH, HEIGHT = 1920, 1080
MPX = WIDTH * HEIGHT / 1e6
ROOT = Path(__file__).resolve().parent.parent

# A mild perspective: output pixel (x, y) -> source position, in the
# convention where integer positions are pixel centres.
INVERSE = np.array(
    [
        [0.97, 0.035, 22.0],
        [-0.025, 1.01, 14.0],
        [1.2e-5, -1.6e-5, 1.0],
    ]
)

OURS = [(fn, dtype, filt) for dtype in ("uint8", "uint16") for filt in ("bilinear", "lanczos3")
        for fn in ("warp_rgb", "remap_rgb", "remap_gray")]
PEERS = ["Pillow PERSPECTIVE bilinear", "Pillow PERSPECTIVE bicubic", "pyvips mapim bilinear rgb",
         "pyvips mapim bilinear gray"]


# --- setup ------------------------------------------------------------------------------------------

def setup():
    missing = []
    for module, package in (("PIL", "pillow"), ("pyvips", "pyvips"), ("skimage", "scikit-image")):
        try:
            __import__(module)
        except ImportError:
            missing.append(package)
        except OSError:
            pass  # pyvips is there, libvips is not
    if missing:
        subprocess.check_call([sys.executable, "-m", "pip", "install", *missing])
    has_vips = subprocess.run(["dpkg", "-s", "libvips42"], capture_output=True).returncode == 0
    if not has_vips:
        if hasattr(os, "geteuid") and os.geteuid() == 0 and shutil.which("apt-get"):
            env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
            subprocess.check_call(["apt-get", "install", "-y", "--no-install-recommends", "libvips42"], env=env)
        else:
            print("libvips42 is missing; install it with: sudo apt-get install libvips42")


# --- inputs -----------------------------------------------------------------------------------------

def photograph(name):
    import skimage.data
    import skimage.transform

    img = getattr(skimage.data, name)()[..., :3]
    big = skimage.transform.resize(img, (HEIGHT, WIDTH), order=3, anti_aliasing=False)
    return np.clip(np.round(big * 255.0), 0, 255).astype(np.uint8)


def source_positions(inverse=INVERSE, width=WIDTH, height=HEIGHT):
    ys, xs = np.mgrid[0:height, 0:width].astype(np.float64)
    h = inverse.ravel()
    w = h[6] * xs + (h[7] * ys + h[8])
    with np.errstate(divide="ignore", invalid="ignore"):
        sx = (h[0] * xs + (h[1] * ys + h[2])) / w
        sy = (h[3] * xs + (h[4] * ys + h[5])) / w
    return sx.astype(np.float32), sy.astype(np.float32)


def inputs(path):
    d = np.load(path)
    rgb8 = d["rgb8"]
    gray8 = np.ascontiguousarray(rgb8[..., 1])
    return {"rgb8": rgb8, "rgb16": rgb8.astype(np.uint16) * 257, "gray8": gray8,
            "gray16": gray8.astype(np.uint16) * 257, "sx": d["sx"], "sy": d["sy"]}


def digest(a):
    return hashlib.sha256(np.ascontiguousarray(a).tobytes()).hexdigest()[:16]


# --- what a worker process runs ---------------------------------------------------------------------

def our_calls(tessarin, data):
    inverse = INVERSE.ravel().tolist()
    calls = {}
    for fn, dtype, filt in OURS:
        bits = "8" if dtype == "uint8" else "16"
        rgb, gray, sx, sy = data["rgb" + bits], data["gray" + bits], data["sx"], data["sy"]
        if fn == "warp_rgb":
            call = lambda rgb=rgb, f=filt: tessarin.warp_rgb(rgb, inverse, 1.0, 0.0, 0.0, f)
        elif fn == "remap_rgb":
            call = lambda rgb=rgb, f=filt: tessarin.remap_rgb(rgb, sx, sy, f)
        else:
            call = lambda gray=gray, f=filt: tessarin.remap_gray(gray, sx, sy, f)
        calls[f"{fn} {dtype} {filt}"] = call
    return calls


def pillow_call(rgb, method):
    from PIL import Image

    # Pillow samples at pixel corners + 0.5: conjugate the matrix by the half-pixel shift.
    shift = np.array([[1, 0, 0.5], [0, 1, 0.5], [0, 0, 1.0]])
    unshift = np.array([[1, 0, -0.5], [0, 1, -0.5], [0, 0, 1.0]])
    m = shift @ INVERSE @ unshift
    coeffs = tuple((m / m[2, 2]).ravel()[:8])
    image = Image.fromarray(rgb)
    resample = getattr(Image.Resampling, method.upper())
    return lambda: np.asarray(image.transform((WIDTH, HEIGHT), Image.Transform.PERSPECTIVE, coeffs, resample))


def vips_call(src, sx, sy):
    import pyvips

    pyvips.cache_set_max(0)  # every call computes
    bands = 1 if src.ndim == 2 else src.shape[2]
    image = pyvips.Image.new_from_memory(np.ascontiguousarray(src).data, src.shape[1], src.shape[0], bands, "uchar")
    index_array = np.ascontiguousarray(np.stack([sx, sy], axis=-1))
    index = pyvips.Image.new_from_memory(index_array.data, WIDTH, HEIGHT, 2, "float")
    interpolate = pyvips.Interpolate.new("bilinear")

    def run():
        data = image.mapim(index, interpolate=interpolate).write_to_memory()
        return np.frombuffer(data, np.uint8)

    return run


def peer_calls(data):
    factories = {
        "Pillow PERSPECTIVE bilinear": lambda: pillow_call(data["rgb8"], "bilinear"),
        "Pillow PERSPECTIVE bicubic": lambda: pillow_call(data["rgb8"], "bicubic"),
        "pyvips mapim bilinear rgb": lambda: vips_call(data["rgb8"], data["sx"], data["sy"]),
        "pyvips mapim bilinear gray": lambda: vips_call(data["gray8"], data["sx"], data["sy"]),
    }
    calls, skipped = {}, {}
    for name, make in factories.items():
        try:
            calls[name] = make()
        except (ImportError, OSError) as e:  # OSError: pyvips without libvips
            skipped[name] = str(e).splitlines()[0]
    return calls, skipped


WARM_UP = 4


def time_calls(calls, repeats):
    times, digests = {}, {}
    for name, call in calls.items():
        # Warm-up: a fresh worker's first calls also grow the C heap to the
        # size of the call's buffers (page faults that a running program pays
        # once); every call, ours and the peers', is timed in that steady state.
        digests[name] = digest(call())
        for _ in range(WARM_UP - 1):
            call()
        ts = []
        for _ in range(repeats):
            t0 = time.perf_counter()
            call()
            ts.append(time.perf_counter() - t0)
        times[name] = ts
    return times, digests


def random_cases(n, seed):
    """n random homographies around the identity, with their maps, sized so
    that positions fall inside, across and outside the source."""
    rng = np.random.default_rng(seed)
    cases = []
    for i in range(n):
        w, h = int(rng.integers(1, 400)), int(rng.integers(1, 300))
        ow, oh = int(rng.integers(1, 420)), int(rng.integers(1, 320))
        m = np.eye(3) + rng.normal(0, [[0.2, 0.2, 20], [0.2, 0.2, 20], [3e-4, 3e-4, 0.05]])
        if i % 7 == 3:
            m[2] = [0, 0, 0]  # w = 0 everywhere
        scale = float(rng.choice([1.0, 0.5, 1.7, rng.uniform(0.3, 3)]))
        sx, sy = source_positions(m, ow, oh)
        if i % 5 == 1:  # unusable entries among the maps
            sx.ravel()[rng.integers(0, sx.size, 20)] = np.nan
            sy.ravel()[rng.integers(0, sy.size, 20)] = np.inf
        cases.append((w, h, ow, oh, m, scale, float(rng.uniform(-5, 5)), float(rng.uniform(-5, 5)), sx, sy,
                      int(rng.integers(0, 2**31))))
    return cases


def bitcheck(tessarin, n, seed):
    digests = {}
    for k, (w, h, ow, oh, m, scale, ox, oy, sx, sy, s) in enumerate(random_cases(n, seed)):
        rng = np.random.default_rng(s)
        for dtype in (np.uint8, np.uint16):
            top = np.iinfo(dtype).max
            rgb = rng.integers(0, top + 1, (h, w, 3), dtype=dtype)
            gray = np.ascontiguousarray(rgb[..., 0])
            for filt in ("bilinear", "lanczos3"):
                tag = f"{k} {dtype.__name__} {filt}"
                digests["warp " + tag] = digest(tessarin.warp_rgb(rgb, m.ravel().tolist(), scale, ox, oy, filt,
                                                                  (ow, oh)))
                digests["remap_rgb " + tag] = digest(tessarin.remap_rgb(rgb, sx, sy, filt))
                digests["remap_gray " + tag] = digest(tessarin.remap_gray(gray, sx, sy, filt))
    return digests


def worker(args):
    if args.site:
        sys.path.insert(0, args.site)
    import tessarin

    out = {"module": tessarin.__file__}
    if args.bitcheck:
        out["bits"] = bitcheck(tessarin, args.bitcheck, args.seed)
    else:
        data = inputs(args.worker)
        calls = our_calls(tessarin, data)
        if args.with_peers:
            peers, out["skipped"] = peer_calls(data)
            calls.update(peers)
        out["times"], out["digests"] = time_calls(calls, args.repeats)
    print(json.dumps(out))


# --- the parent: builds, rounds, tables -------------------------------------------------------------

def run_worker(site, extra, pin=False):
    return build_tools.run_worker(Path(__file__).resolve(), extra, site, pin)


def med(ts):
    return statistics.median(ts) * 1e3


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--setup", action="store_true", help="install the peers and exit")
    parser.add_argument("--compare", metavar="REV", help="also time the build of this commit")
    parser.add_argument("--bitcheck", type=int, default=0, metavar="N",
                        help="with --compare: compare outputs over N random homographies and maps")
    parser.add_argument("--seed", type=int, default=12)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--photo", default="coffee", choices=["coffee", "astronaut", "rocket", "chelsea"])
    parser.add_argument("--worker", help=argparse.SUPPRESS)
    parser.add_argument("--site", help=argparse.SUPPRESS)
    parser.add_argument("--with-peers", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--bits-worker", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.setup:
        return setup()
    if args.worker or args.bits_worker:
        return worker(args)

    builds = {"this": None}
    if args.compare:
        commit, site = build_revision(ROOT, args.compare)
        builds[commit[:12]] = site

    if args.bitcheck:
        if not args.compare:
            sys.exit("--bitcheck needs --compare REV")
        for pin in (False, True):
            bits = {name: run_worker(site, ["--bits-worker", "--bitcheck", str(args.bitcheck), "--seed",
                                            str(args.seed)], pin)["bits"]
                    for name, site in builds.items()}
            a, b = bits.values()
            differ = sorted(k for k in a if a[k] != b.get(k))
            label = "one processor" if pin else "every processor"
            print(f"bitcheck, {args.bitcheck} random homographies and maps x 12 outputs, {label}: "
                  + ("identical" if not differ else f"{len(differ)} of {len(a)} differ: {differ[:5]}"))
        return

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "input.npz")
        sx, sy = source_positions()
        np.savez(path, rgb8=photograph(args.photo), sx=sx, sy=sy)
        times = {name: {} for name in builds}
        digests, modules, skipped = {}, {}, {}
        for r in range(args.rounds):
            order = list(builds) if r % 2 == 0 else list(reversed(builds))
            for name in order:
                extra = ["--worker", path, "--repeats", str(args.repeats)]
                if name == "this":
                    extra.append("--with-peers")
                out = run_worker(builds[name], extra)
                modules[name], digests[name] = out["module"], out["digests"]
                skipped.update(out.get("skipped", {}))
                for k, ts in out["times"].items():
                    times[name].setdefault(k, []).extend(ts)
            print(f"round {r + 1} of {args.rounds} done", file=sys.stderr, flush=True)

    this = times["this"]
    print(f"{args.photo} photograph resized to {WIDTH}x{HEIGHT}, {os.cpu_count()} processors, "
          f"median wall ms of {args.rounds} rounds x {args.repeats} calls, builds and peers interleaved")
    for name, module in modules.items():
        print(f"  {name:12} {module}")
    for name, why in skipped.items():
        print(f"  skipped {name}: {why}")
    others = [n for n in builds if n != "this"]
    head = f"{'call':34} {'this ms':>8} {'Mpx/s':>7}" + "".join(f" {n + ' ms':>16} {'ratio':>6}" for n in others)
    print("\n" + head)
    for k in list(this):
        line = f"{k:34} {med(this[k]):8.2f} {MPX / med(this[k]) * 1e3:7.1f}"
        for n in others:
            if k in times[n]:
                same = "" if digests[n].get(k) == digests["this"].get(k) else " (outputs differ!)"
                line += f" {med(times[n][k]):16.2f} {med(times[n][k]) / med(this[k]):6.2f}{same}"
        print(line)

    print("\ntargets (ratio = other / this, higher is better)")

    def target(label, num, den, goal, per_byte=1.0):
        if num is None or den is None:
            print(f"  {label:58} n/a")
            return
        ratio = med(num) / med(den) * per_byte
        print(f"  {label:58} {ratio:6.2f}  (target {goal}: {'met' if ratio >= goal else 'NOT met'})")

    g = this.get
    target("warp_rgb bilinear uint8 vs Pillow PERSPECTIVE bilinear", g("Pillow PERSPECTIVE bilinear"),
           g("warp_rgb uint8 bilinear"), 10)
    target("warp_rgb bilinear uint8 vs pyvips mapim bilinear", g("pyvips mapim bilinear rgb"),
           g("warp_rgb uint8 bilinear"), 4)
    target("warp_rgb lanczos3 uint8 vs Pillow PERSPECTIVE bicubic", g("Pillow PERSPECTIVE bicubic"),
           g("warp_rgb uint8 lanczos3"), 5)
    target("remap_rgb bilinear uint8 vs pyvips mapim bilinear", g("pyvips mapim bilinear rgb"),
           g("remap_rgb uint8 bilinear"), 4)
    for n in others:
        for fn in ("remap_rgb", "remap_gray"):
            for dtype in ("uint8", "uint16"):
                k = f"{fn} {dtype} bilinear"
                target(f"{k} vs build {n}", times[n].get(k), g(k), 1.3)
    # Per byte: uint16 outputs have twice the bytes, so uint16 time / 2 against uint8 time.
    for fn in ("warp_rgb", "remap_rgb", "remap_gray"):
        for filt in ("bilinear", "lanczos3"):
            a, b = g(f"{fn} uint8 {filt}"), g(f"{fn} uint16 {filt}")
            ratio = med(b) / med(a) / 2
            print(f"  {fn + ' ' + filt + ' uint16 / uint8 time per byte':58} {ratio:6.2f}  "
                  f"(target at most 1.5: {'met' if ratio <= 1.5 else 'NOT met'}; per pixel {2 * ratio:.2f})")


if __name__ == "__main__":
    main()
