"""
Remove lens distortion
======================

Remove radial lens distortion from a photo, and carry a mask along::

    python examples/undistort.py [photo] [--k1 -0.12] [--k2 0] [--mask mask.png] [--out-dir out]

A lens with barrel (k1 < 0) or pincushion (k1 > 0) distortion moves every
point along the ray from the image centre: with r the distance from the
centre in units of the half diagonal, a point of the undistorted view at
radius r appears at radius r * (1 + k1 r^2 + k2 r^4).  That formula gives,
for every pixel of the undistorted output, the position to sample in the
photo: two NumPy coordinate maps, which ``tessarin.remap_rgb`` applies.
``tessarin.remap_gray`` takes the same maps to undistort a mask.  Into the
output folder (default ``out/``, made if missing) go ``undistorted.png``,
``undistorted_mask.png`` (the output pixels that the photo covers) and, with
``--mask``, ``undistorted_usermask.png``.

Without a photo it renders a tiled wall seen through a barrel-distorting
lens (``undistorted_input.png``) and reports how the straight lines found in it
grow once the distortion is removed.
"""

from __future__ import annotations

import argparse
import math
import pathlib
import sys
from collections.abc import Sequence
from typing import Literal

import numpy as np
import numpy.typing as npt
from PIL import Image, ImageDraw

import tessarin

Maps = tuple[npt.NDArray[np.float32], npt.NDArray[np.float32]]


def undistort_maps(width: int, height: int, k1: float, k2: float = 0.0, zoom: float = 1.0) -> Maps:
    """For every pixel of the undistorted width x height output, where to
    sample the distorted photo (the resamplers' convention: integer
    positions are pixel centres).  zoom < 1 shows more of the periphery
    that barrel distortion squeezed in; the centre keeps its scale at 1."""
    cx, cy = (width - 1) / 2, (height - 1) / 2
    unit = math.hypot(width, height) / 2
    y, x = np.mgrid[0:height, 0:width].astype(np.float64)
    dx, dy = (x - cx) / (unit * zoom), (y - cy) / (unit * zoom)
    r2 = dx * dx + dy * dy
    gain = 1.0 + k1 * r2 + k2 * r2 * r2
    return (cx + dx * gain * unit).astype(np.float32), (cy + dy * gain * unit).astype(np.float32)


def distort_maps(width: int, height: int, k1: float, k2: float = 0.0, margin: float = 0.0) -> Maps:
    """The opposite direction, for making a distorted view of an image:
    for every pixel of the distorted output, where to sample the ideal view.
    The ideal view may be larger than the output by `margin` (a fraction of
    the output size on every side), since barrel distortion pulls in content
    from beyond the frame.  Solved per pixel by Newton's method."""
    cx, cy = (width - 1) / 2, (height - 1) / 2
    unit = math.hypot(width, height) / 2
    y, x = np.mgrid[0:height, 0:width].astype(np.float64)
    dx, dy = (x - cx) / unit, (y - cy) / unit
    rd = np.hypot(dx, dy)
    ru = rd.copy()
    for _ in range(30):
        f = ru * (1 + k1 * ru**2 + k2 * ru**4) - rd
        ru -= f / (1 + 3 * k1 * ru**2 + 5 * k2 * ru**4)
    ratio = np.divide(ru, rd, out=np.ones_like(rd), where=rd > 0)
    return (
        (cx + dx * ratio * unit + margin * width).astype(np.float32),
        (cy + dy * ratio * unit + margin * height).astype(np.float32),
    )


def tiled_wall(width: int, height: int, seed: int = 1) -> npt.NDArray[np.uint8]:
    """Square tiles with grout lines and a framed doorway, in even light."""
    rng = np.random.default_rng(seed)
    wall = Image.new("RGB", (width, height), (70, 70, 76))
    draw = ImageDraw.Draw(wall)
    tile = max(8, width // 14)
    for row in range(height // tile + 1):
        for col in range(width // tile + 1):
            shade = 200 + int(rng.integers(-14, 15))
            x0, y0 = col * tile + 2, row * tile + 2
            draw.rectangle((x0, y0, x0 + tile - 5, y0 + tile - 5), fill=(shade, shade - 8, shade - 20))
    door = (int(width * 0.36), int(height * 0.28), int(width * 0.62), height)
    draw.rectangle(door, fill=(96, 58, 38), outline=(40, 24, 16), width=max(2, tile // 6))
    return np.asarray(wall)


def distorted_photo(width: int, height: int, k1: float) -> npt.NDArray[np.uint8]:
    """A tiled wall seen through a lens with radial distortion k1."""
    margin = 0.15
    wall = tiled_wall(round(width * (1 + 2 * margin)), round(height * (1 + 2 * margin)))
    map_x, map_y = distort_maps(width, height, k1, margin=margin)
    return tessarin.remap_rgb(wall, map_x, map_y, filter="lanczos3")


def straight_length(rgb: npt.NDArray[np.uint8], covered: npt.NDArray[np.uint8] | None = None) -> float:
    """Total length of the segments longer than a tenth of the image width
    (within the covered part, when a coverage mask is given): distortion
    bends long lines, so they break into shorter pieces."""
    gray = np.asarray(Image.fromarray(rgb).convert("L"))
    total = 0.0
    for s in tessarin.detect(gray):
        ends = [(min(int(y), rgb.shape[0] - 1), min(int(x), rgb.shape[1] - 1)) for x, y in ((s.x1, s.y1), (s.x2, s.y2))]
        if s.length > rgb.shape[1] / 10 and (covered is None or all(covered[e] == 255 for e in ends)):
            total += s.length
    return total


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("photo", nargs="?", help="a photo to undistort (default: render one)")
    parser.add_argument("--k1", type=float, default=-0.12, help="radial coefficient of r^2 (barrel < 0 < pincushion)")
    parser.add_argument("--k2", type=float, default=0.0, help="radial coefficient of r^4")
    parser.add_argument("--zoom", type=float, default=1.0, help="below 1 keeps more of the photo's edges")
    parser.add_argument("--mask", help="a single-channel mask of the photo to undistort along with it")
    parser.add_argument("--filter", choices=("bilinear", "lanczos3"), default="lanczos3")
    parser.add_argument("--out-dir", default="out", help="folder for the results (default out/)")
    parser.add_argument("--size", default="960x720", help="size of the rendered photo, WxH")
    args = parser.parse_args(argv)

    out = pathlib.Path(args.out_dir) / "undistorted.png"
    out.parent.mkdir(parents=True, exist_ok=True)
    if args.photo:
        rgb = np.asarray(Image.open(args.photo).convert("RGB"))
    else:
        w, h = (int(v) for v in args.size.lower().split("x"))
        rgb = distorted_photo(w, h, args.k1)
        Image.fromarray(rgb).save(out.with_name(out.stem + "_input.png"))
    height, width = rgb.shape[:2]

    map_x, map_y = undistort_maps(width, height, args.k1, args.k2, args.zoom)
    filt: Literal["bilinear", "lanczos3"] = "lanczos3" if args.filter == "lanczos3" else "bilinear"
    flat = tessarin.remap_rgb(rgb, map_x, map_y, filter=filt)
    Image.fromarray(flat).save(out)

    # Which output pixels the photo covers: a full mask through the same maps.
    covered = tessarin.remap_gray(np.full((height, width), 255, np.uint8), map_x, map_y)
    Image.fromarray(covered).save(out.with_name(out.stem + "_mask.png"))
    print(f"undistorted {width}x{height} (k1={args.k1}, k2={args.k2}): {out}")
    print(f"the photo covers {np.count_nonzero(covered) / covered.size:.1%} of the output")

    if args.mask:
        mask = np.asarray(Image.open(args.mask))
        if mask.ndim != 2 or mask.shape != (height, width) or mask.dtype not in (np.uint8, np.uint16):
            print("the mask must be a single-channel 8- or 16-bit image of the photo's size", file=sys.stderr)
            return 1
        moved = tessarin.remap_gray(mask, map_x, map_y)  # bilinear: threshold binary masks at half
        Image.fromarray(moved).save(out.with_name(out.stem + "_usermask.png"))
        print(f"mask: {out.with_name(out.stem + '_usermask.png')}")

    if not args.photo:
        before, after = straight_length(rgb), straight_length(flat, covered)
        print(f"segments longer than {width // 10} px: {before:.0f} px in all before, {after:.0f} px after")
    return 0


if __name__ == "__main__":
    # Exits only on failure: the documentation's gallery runs the script
    # inside its own build, which a successful exit would end.
    if status := main():
        sys.exit(status)
