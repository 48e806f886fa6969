"""Detect the line segments of a photograph and draw them over it.

    python examples/quickstart.py [image] [--out overlay.png] [--scale 0.8]

Without an image it uses the bundled photograph data/rocket.png. It prints a
short summary and writes an overlay PNG with the segments coloured by length.
"""

import argparse
import pathlib
import time

import numpy as np
from PIL import Image, ImageDraw

import tessarin

HERE = pathlib.Path(__file__).resolve().parent
SAMPLE = HERE.parent / "data" / "rocket.png"


def colour(t):
    """Blue for the shortest segments to red for the longest (t in 0..1)."""
    return (int(255 * t), int(80 + 100 * (1 - abs(2 * t - 1))), int(255 * (1 - t)))


def draw_overlay(rgb, segments):
    base = Image.fromarray(rgb).convert("L").convert("RGB")
    draw = ImageDraw.Draw(base)
    if segments:
        longest = segments[0].length
        for s in reversed(segments):  # longest drawn last, on top
            t = s.length / longest if longest > 0 else 1.0
            draw.line([(s.x1, s.y1), (s.x2, s.y2)], fill=colour(t), width=max(1, round(s.width / 2)))
    return base


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("image", nargs="?", default=str(SAMPLE))
    parser.add_argument("--out", default="quickstart_overlay.png")
    parser.add_argument("--scale", type=float, default=0.8)
    args = parser.parse_args()

    rgb = np.asarray(Image.open(args.image).convert("RGB"))
    gray = np.asarray(Image.fromarray(rgb).convert("L"))
    start = time.perf_counter()
    segments = tessarin.detect(gray, scale=args.scale)
    elapsed = time.perf_counter() - start

    print(f"{args.image}: {gray.shape[1]}x{gray.shape[0]} pixels, {len(segments)} segments in {elapsed * 1000:.1f} ms")
    for s in segments[:5]:
        print(f"  {s!r}  length {s.length:.1f}, angle {s.angle:.1f} deg, log_nfa {s.log_nfa:.1f}")
    draw_overlay(rgb, segments).save(args.out)
    print(f"overlay written to {args.out}")


if __name__ == "__main__":
    main()
