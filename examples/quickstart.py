"""
Segments in a photograph
========================

Detect the line segments of a photograph and draw them over it::

    python examples/quickstart.py [image] [--out-dir out] [--scale 0.8] [--color-by length|log_nfa]

Without an image it uses the bundled photograph data/rocket.png. It prints a
short summary and writes an overlay PNG into the output folder (default out/,
made if missing): the photo in light gray, the segments on top, coloured from
blue (shortest, or least significant) to red.
"""

from __future__ import annotations

import argparse
import pathlib
import sys
import time
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt
from PIL import Image, ImageDraw

import tessarin

# The script's folder; the documentation's gallery runs the script without __file__.
HERE = pathlib.Path(sys.argv[0] if __name__ == "__main__" else __file__).resolve().parent
SAMPLE = HERE.parent / "data" / "rocket.png"


def colour(t: float) -> tuple[int, int, int]:
    """Blue at t = 0 through green to red at t = 1."""
    t = min(max(t, 0.0), 1.0) if t == t else 0.0  # NaN counts as the lowest
    return (int(255 * t), int(80 + 100 * (1 - abs(2 * t - 1))), int(255 * (1 - t)))


def draw_overlay(
    rgb: npt.NDArray[np.uint8], segments: Sequence[tessarin.Segment], color_by: str = "length"
) -> Image.Image:
    # A washed-out gray copy of the photo, so that coloured lines stand out on any scene.
    picture = Image.fromarray(rgb).convert("L").point(lambda v: 100 + v // 2).convert("RGB")
    draw = ImageDraw.Draw(picture)
    values = [s.length if color_by == "length" else s.log_nfa for s in segments]
    top = max(values, default=1.0) or 1.0
    for s, v in sorted(zip(segments, values), key=lambda sv: sv[1]):  # strongest drawn last
        draw.line([(s.x1, s.y1), (s.x2, s.y2)], fill=colour(v / top), width=max(2, round(s.width / 2)))
    return picture


def summary(segments: Sequence[tessarin.Segment]) -> str:
    """Counts by direction and the spread of lengths and significance."""
    if not segments:
        return "no segments"
    angles = np.array([s.angle for s in segments])
    lengths = np.array([s.length for s in segments])
    level = np.abs(angles) < 10
    upright = np.abs(angles) > 80
    return (
        f"{level.sum()} within 10 deg of horizontal, {upright.sum()} of vertical, "
        f"{len(segments) - level.sum() - upright.sum()} other; "
        f"length median {np.median(lengths):.1f} px, max {lengths.max():.1f} px; "
        f"log_nfa median {np.median([s.log_nfa for s in segments]):.1f}"
    )


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("image", nargs="?", default=str(SAMPLE))
    parser.add_argument("--out-dir", default="out", help="folder for the overlay (default out/)")
    parser.add_argument("--scale", type=float, default=0.8)
    parser.add_argument("--color-by", choices=("length", "log_nfa"), default="length")
    args = parser.parse_args(argv)

    rgb = np.asarray(Image.open(args.image).convert("RGB"))
    gray = np.asarray(Image.fromarray(rgb).convert("L"))
    start = time.perf_counter()
    segments = tessarin.detect(gray, scale=args.scale)
    elapsed = time.perf_counter() - start

    print(f"{args.image}: {gray.shape[1]}x{gray.shape[0]} pixels, {len(segments)} segments in {elapsed * 1000:.1f} ms")
    print(f"  {summary(segments)}")
    for s in segments[:5]:
        print(f"  {s!r}  length {s.length:.1f}, angle {s.angle:.1f} deg, log_nfa {s.log_nfa:.1f}")
    out = pathlib.Path(args.out_dir) / "quickstart_overlay.png"
    out.parent.mkdir(parents=True, exist_ok=True)
    draw_overlay(rgb, segments, args.color_by).save(out)
    print(f"overlay written to {out}")
    return 0


if __name__ == "__main__":
    # Exits only on failure: the documentation's gallery runs the script
    # inside its own build, which a successful exit would end.
    if status := main():
        sys.exit(status)
