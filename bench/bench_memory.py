"""Peak memory of each function per output pixel (per input pixel for detect).

    python bench/bench_memory.py                 # the table below, this build
    python bench/bench_memory.py --site DIR      # the build installed in DIR

Every case runs in a fresh process (Linux only): it makes its inputs, resets
the process's peak resident size (/proc/self/clear_refs), makes one call and
reads the peak again (VmHWM). The growth is what the call took at its
highest, its result included; the table gives it in bytes per output pixel
(input pixel for detect) and as a multiple of the result's own size.

The cases: a wide one-row output (2^24 and 2^27 pixels: memory that grows
with the width), a square one of the same size, and detect on square and
wide-and-short inputs.
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import tempfile
from pathlib import Path

CASES = {
    "warp_rgb 2^27 x 1": ("warp", 1 << 27, 1),
    "warp_rgb 2^24 x 1": ("warp", 1 << 24, 1),
    "warp_rgb 4096 x 4096": ("warp", 4096, 4096),
    "warp_rgb lanczos3 4096 x 4096": ("warp_l", 4096, 4096),
    "remap_rgb 2^24 x 1": ("remap_rgb", 1 << 24, 1),
    "remap_rgb 4096 x 4096": ("remap_rgb", 4096, 4096),
    "remap_gray 2^24 x 1": ("remap_gray", 1 << 24, 1),
    "remap_gray 4096 x 4096": ("remap_gray", 4096, 4096),
    "detect uint8 4096 x 4096": ("detect", 4096, 4096),
    "detect uint8 4096 x 4096 scale 1": ("detect1", 4096, 4096),
    "detect float64 4096 x 4096": ("detect_f", 4096, 4096),
    "detect uint8 2^22 x 4": ("detect", 1 << 22, 4),
}


def peak_kib():
    for line in open("/proc/self/status"):
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
    raise RuntimeError("no VmHWM")


def worker(kind, width, height):
    import numpy as np

    import tessarin

    inverse = [1.0, 0.0, 0.5, 0.0, 1.0, 0.25, 0.0, 0.0, 1.0]
    src = np.full((64, 64, 3), 100, np.uint8)
    if kind.startswith("remap"):
        mx = np.full((height, width), 3.5, np.float32)
        my = np.full((height, width), 2.25, np.float32)
    if kind.startswith("detect"):
        dtype = np.float64 if kind == "detect_f" else np.uint8
        gray = np.zeros((height, width), dtype)
        gray[:, width // 3:] = 200
        gray[height // 2:, :] += 20
    tessarin.detect(np.zeros((8, 8), np.uint8))  # the module's own one-time state, not the call's
    open("/proc/self/clear_refs", "w").write("5")
    before = peak_kib()
    if kind == "warp":
        out = tessarin.warp_rgb(src, inverse, 1.0, 0.0, 0.0, "bilinear", (width, height))
    elif kind == "warp_l":
        out = tessarin.warp_rgb(src, inverse, 1.0, 0.0, 0.0, "lanczos3", (width, height))
    elif kind == "remap_rgb":
        out = tessarin.remap_rgb(src, mx, my)
    elif kind == "remap_gray":
        out = tessarin.remap_gray(src[..., 0].copy(), mx, my)
    else:
        out = tessarin.detect(gray, 1.0 if kind == "detect1" else 0.8)
    grown = (peak_kib() - before) * 1024
    size = out.nbytes if hasattr(out, "nbytes") else 0
    print(json.dumps({"grown": grown, "result": size, "pixels": width * height}))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--site", help="import tessarin from this directory")
    parser.add_argument("--only", nargs="*", help="case names to run (substrings)")
    parser.add_argument("--worker", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        if args.site:
            sys.path.insert(0, args.site)
        kind, w, h = args.worker
        return worker(kind, int(w), int(h))
    print(f"{'case':<34} {'peak growth':>12} {'per pixel':>10} {'x result':>9}")
    for name, (kind, w, h) in CASES.items():
        if args.only and not any(o in name for o in args.only):
            continue
        cmd = [sys.executable, str(Path(__file__).resolve()), "--worker", kind, str(w), str(h)]
        if args.site:
            cmd += ["--site", str(Path(args.site).resolve())]
        done = subprocess.run(cmd, capture_output=True, text=True, cwd=tempfile.gettempdir())
        if done.returncode != 0:
            print(f"{name:<34} failed: {done.stderr.strip().splitlines()[-1:]}")
            continue
        r = json.loads(done.stdout.strip().splitlines()[-1])
        ratio = f"{r['grown'] / r['result']:9.2f}" if r["result"] else f"{'-':>9}"
        print(f"{name:<34} {r['grown'] / 2**20:9.1f} MiB {r['grown'] / r['pixels']:10.2f} {ratio}")


if __name__ == "__main__":
    main()
