#!/usr/bin/env python3
"""Times tessarin.detect on photographs at three sizes against an edge-map peer.

For each size, one grayscale uint8 image is made from scikit-image's bundled
photographs (a mosaic of photographs, each resized to a tile close to its own
resolution, so that the detail per pixel stays that of a real photograph).
On that same image the script times

  - tessarin.detect(gray) at its default scale, and
  - scikit-image's canny() followed by probabilistic_hough_line(), the peer,

repeating each call and reporting the median in milliseconds and in megapixels
per second, and the peer's median divided by tessarin's.

This is a benchmark, not a test. It needs the built module (``pip install .``
in the repository) and scikit-image (``pip install scikit-image``).

    python bench/bench_detect.py                 # all three sizes
    python bench/bench_detect.py --sizes 640x480 --repeat 21
    python bench/bench_detect.py --peer-only     # without the module

With ``--compare REV`` it times the importable module against the one built
from an earlier commit REV instead: REV is built once into
build/compare/<commit>/site (bench/build_tools.py; kept for later runs), each
build runs in its own worker process, the calls alternate between the two on
the same images, and the script prints the medians, their ratio, and whether
both builds returned the same bits:

    python bench/bench_detect.py --compare 71fd07d --sizes 1920x1080 4000x3000 --scales 0.8 1.0
    taskset -c 0 python bench/bench_detect.py --compare 71fd07d     # on one core

``--layouts`` times every function on a C-order array, a Fortran-order copy
and a reversed view of it, each against the C-order call.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import struct
import subprocess
import statistics
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

from build_tools import build_revision

SIZES = ((640, 480), (1920, 1080), (4000, 3000))
PHOTOS = ("coffee", "astronaut", "chelsea", "rocket", "camera")
TILE = (640, 480)  # about the resolution of the bundled photographs


def load_photos():
    from skimage import color, data

    photos = []
    for name in PHOTOS:
        img = getattr(data, name)()
        if img.ndim == 3:
            img = color.rgb2gray(img[..., :3])  # floats in [0, 1]
        else:
            img = img / 255.0
        photos.append(img)
    return photos


def mosaic(photos, width, height):
    """A uint8 image of height × width tiled with resized photographs."""
    from skimage.transform import resize

    cols = max(1, round(width / TILE[0]))
    rows = max(1, round(height / TILE[1]))
    xs = np.linspace(0, width, cols + 1).astype(int)
    ys = np.linspace(0, height, rows + 1).astype(int)
    out = np.empty((height, width), dtype=np.uint8)
    k = 0
    for r in range(rows):
        for c in range(cols):
            h, w = ys[r + 1] - ys[r], xs[c + 1] - xs[c]
            tile = resize(photos[k % len(photos)], (h, w), anti_aliasing=True)
            out[ys[r] : ys[r + 1], xs[c] : xs[c + 1]] = np.clip(np.rint(tile * 255.0), 0, 255)
            k += 1
    return out


def median_ms(fn, repeat):
    """Median wall time of fn() in ms over `repeat` calls, after one warm-up
    call, and the warm-up call's result."""
    result = fn()
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append((time.perf_counter() - t0) * 1e3)
    return statistics.median(times), result


def peer(gray):
    from skimage.feature import canny
    from skimage.transform import probabilistic_hough_line

    edges = canny(gray, sigma=1.0)
    return probabilistic_hough_line(edges, threshold=10, line_length=20, line_gap=3, rng=0)


def parse_size(text):
    w, _, h = text.lower().partition("x")
    return int(w), int(h)


REPO = Path(__file__).resolve().parent.parent


def digest(segments):
    """The bits of every field of every segment, in order, as a short hash."""
    h = hashlib.sha256()
    for s in segments:
        h.update(struct.pack("<7d", s.x1, s.y1, s.x2, s.y2, s.width, s.precision, s.log_nfa))
    return h.hexdigest()[:16]


def worker(module_dir, images_path):
    """Serves timing requests on stdin: "<image> <scale> <calls>" per line,
    answered with one JSON line (wall times in ms and the result's digest)."""
    if module_dir:
        sys.path.insert(0, module_dir)
    import tessarin

    images = np.load(images_path)
    print(json.dumps({"module": tessarin.__file__}), flush=True)
    for line in sys.stdin:
        name, scale, calls = line.split()
        gray, scale = images[name], float(scale)
        segs = tessarin.detect(gray, scale)
        times = []
        for _ in range(int(calls)):
            t0 = time.perf_counter()
            tessarin.detect(gray, scale)
            times.append((time.perf_counter() - t0) * 1e3)
        print(json.dumps({"times": times, "digest": digest(segs), "found": len(segs)}), flush=True)


class Worker:
    def __init__(self, module_dir, images_path):
        self.proc = subprocess.Popen(
            [sys.executable, __file__, "--worker", module_dir or "", images_path],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.module = json.loads(self.proc.stdout.readline())["module"]

    def run(self, name, scale, calls):
        self.proc.stdin.write(f"{name} {scale!r} {calls}\n")
        self.proc.stdin.flush()
        return json.loads(self.proc.stdout.readline())

    def close(self):
        self.proc.stdin.close()
        self.proc.wait()


def compare(args, photos):
    _, earlier = build_revision(REPO, args.compare)
    with tempfile.TemporaryDirectory() as tmp:
        images = {f"{w}x{h}": mosaic(photos, w, h) for w, h in args.sizes}
        images_path = os.path.join(tmp, "images.npz")
        np.savez(images_path, **images)
        base, cur = Worker(str(earlier), images_path), Worker(None, images_path)
        print(f"earlier: {base.module}\ncurrent: {cur.module}")
        print(f"python {sys.version.split()[0]}, numpy {np.__version__}, "
              f"{len(os.sched_getaffinity(0)) if hasattr(os, 'sched_getaffinity') else os.cpu_count()} processors usable")
        print(f"{'size':>10} {'scale':>5} {'earlier ms':>10} {'current ms':>10} {'speed-up':>8} {'found':>6} bits")
        same_everywhere = True
        try:
            for name in images:
                for scale in args.scales:
                    mp = images[name].size / 1e6
                    calls = args.repeat or (5 if mp < 1 else 3 if mp < 4 else 1)
                    times = {"base": [], "cur": []}
                    digests = set()
                    for r in range(args.rounds):
                        order = (("base", base), ("cur", cur)) if r % 2 == 0 else (("cur", cur), ("base", base))
                        for key, w in order:
                            res = w.run(name, scale, calls)
                            times[key] += res["times"]
                            digests.add((key, res["digest"], res["found"]))
                    same = len({d[1:] for d in digests}) == 1
                    same_everywhere &= same
                    mb, mc = statistics.median(times["base"]), statistics.median(times["cur"])
                    found = next(iter(digests))[2]
                    print(f"{name:>10} {scale:>5} {mb:>10.2f} {mc:>10.2f} {mb / mc:>7.3f}x {found:>6} "
                          f"{'same' if same else 'DIFFERENT'}", flush=True)
        finally:
            base.close()
            cur.close()
    if not same_everywhere:
        sys.exit("the two builds returned different segments")


def layouts(args):
    import tessarin

    rng = np.random.default_rng(1)
    photos = load_photos()
    print(f"{'function':>11} {'input':>9} {'C ms':>8} {'layout ms':>9} {'ratio':>6}")

    def row(fn_name, what, call_c, call_l, calls):
        tc, _ = median_ms(call_c, calls)
        tl, _ = median_ms(call_l, calls)
        print(f"{fn_name:>11} {what:>9} {tc:>8.2f} {tl:>9.2f} {tl / tc:>6.2f}", flush=True)

    def flipped(a, index):
        """The same logical array as a view with negative strides."""
        return np.ascontiguousarray(a[index])[index]

    for w, h in args.sizes:
        gray = mosaic(photos, w, h)
        calls = args.repeat or 5
        for what, v in (("Fortran", np.asfortranarray(gray)), ("reversed", flipped(gray, np.s_[::-1, ::-1]))):
            row("detect", what, lambda: tessarin.detect(gray), lambda v=v: tessarin.detect(v), calls)
        rgb = np.ascontiguousarray(np.stack([gray, gray[::-1], gray[:, ::-1]], axis=-1))
        inv = [1.0, 0.02, -3.0, 0.01, 1.0, 2.0, 1e-6, 2e-6, 1.0]
        for what, v in (("Fortran", np.asfortranarray(rgb)), ("reversed", flipped(rgb, np.s_[:, ::-1])),
                        ("BGR", flipped(rgb, np.s_[..., ::-1]))):
            row("warp_rgb", what, lambda: tessarin.warp_rgb(rgb, inv, 1.0, 0.0, 0.0),
                lambda v=v: tessarin.warp_rgb(v, inv, 1.0, 0.0, 0.0), calls)
        yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
        mx = np.ascontiguousarray(xx * 0.97 + rng.random((h, w), dtype=np.float32))
        my = np.ascontiguousarray(yy * 0.98 + 1.5)
        for what, src, ax, ay in (("Fortran", np.asfortranarray(rgb), np.asfortranarray(mx), np.asfortranarray(my)),
                                  ("reversed", flipped(rgb, np.s_[::-1]), flipped(mx, np.s_[::-1]),
                                   flipped(my, np.s_[::-1]))):
            row("remap_rgb", what, lambda: tessarin.remap_rgb(rgb, mx, my),
                lambda s=src, a=ax, b=ay: tessarin.remap_rgb(s, a, b), calls)
            g = np.asfortranarray(gray) if what == "Fortran" else flipped(gray, np.s_[::-1])
            row("remap_gray", what, lambda: tessarin.remap_gray(gray, mx, my),
                lambda s=g, a=ax, b=ay: tessarin.remap_gray(s, a, b), calls)


def main(argv=None):
    if argv is None and len(sys.argv) == 4 and sys.argv[1] == "--worker":
        return worker(sys.argv[2], sys.argv[3])
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sizes", nargs="+", type=parse_size, default=list(SIZES), metavar="WxH")
    ap.add_argument("--repeat", type=int, default=None, help="timed calls per size (default: by size)")
    ap.add_argument("--peer-only", action="store_true", help="time only the peer (no tessarin module needed)")
    ap.add_argument("--compare", metavar="REV", help="time against the module built from commit REV")
    ap.add_argument("--scales", nargs="+", type=float, default=[0.8], help="scales for --compare")
    ap.add_argument("--rounds", type=int, default=7, help="alternations per case for --compare")
    ap.add_argument("--layouts", action="store_true", help="time non-standard layouts against C order")
    args = ap.parse_args(argv)
    if args.layouts:
        return layouts(args)
    if args.compare:
        return compare(args, load_photos())

    detect = None
    if not args.peer_only:
        try:
            import tessarin
        except ImportError as e:
            sys.exit(f"cannot import tessarin ({e}); build it with `pip install .` or pass --peer-only")
        detect = tessarin.detect

    photos = load_photos()
    print(f"python {sys.version.split()[0]}, numpy {np.__version__}, {os.cpu_count()} processors")
    print(f"{'size':>10} {'what':>10} {'median ms':>10} {'MP/s':>8} {'found':>6}")
    for width, height in args.sizes:
        gray = mosaic(photos, width, height)
        mp = width * height / 1e6
        repeat = args.repeat or (11 if mp < 1 else 5 if mp < 4 else 3)
        rows = []
        if detect is not None:
            ms, segs = median_ms(lambda: detect(gray), repeat)
            rows.append(("tessarin", ms, len(segs)))
        ms, lines = median_ms(lambda: peer(gray), repeat)
        rows.append(("peer", ms, len(lines)))
        for what, ms, found in rows:
            print(f"{width:>5}x{height:<4} {what:>10} {ms:>10.2f} {mp / (ms / 1e3):>8.1f} {found:>6}")
        if detect is not None:
            print(f"{'':>10} {'ratio':>10} peer / tessarin = {rows[1][1] / rows[0][1]:.1f}x")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
