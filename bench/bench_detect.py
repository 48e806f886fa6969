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
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import time

import numpy as np

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


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sizes", nargs="+", type=parse_size, default=list(SIZES), metavar="WxH")
    ap.add_argument("--repeat", type=int, default=None, help="timed calls per size (default: by size)")
    ap.add_argument("--peer-only", action="store_true", help="time only the peer (no tessarin module needed)")
    args = ap.parse_args(argv)

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
