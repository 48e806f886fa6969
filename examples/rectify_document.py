"""
Flatten a photographed page
===========================

Find a photographed page and flatten it::

    python examples/rectify_document.py [photo] [--out-dir out] [--overlay]

The page outline comes from the detected line segments: collinear segments
are merged into lines, and of the strongest lines the four that best enclose
a large, convex, well-supported quadrilateral are kept.  Their intersections
are the page corners; the homography from the flat page to those corners is
handed to ``tessarin.warp_rgb`` with the Lanczos-3 filter.

The flat page is written to ``page.png`` in the output folder (default
``out/``, made if missing), with ``--overlay`` also the photo with the outline
found (``page_found.png``).  Without a photo it renders one first (a text page
in perspective on a wooden table, with uneven lighting) and writes it there
as ``page_input.png``.
"""

from __future__ import annotations

import argparse
import math
import pathlib
import sys
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt
from PIL import Image, ImageDraw, ImageFilter, ImageFont, ImageOps

import tessarin

FloatArray = npt.NDArray[np.float64]
RGB = npt.NDArray[np.uint8]

# A4 paper: height over width.
A4 = math.sqrt(2.0)


# ---------------------------------------------------------------- geometry


def homography(src: FloatArray, dst: FloatArray) -> FloatArray:
    """The 3 x 3 matrix H (H[2, 2] = 1) that maps the four points src onto dst."""
    rows = []
    rhs = []
    for (x, y), (u, v) in zip(src, dst):
        rows.append([x, y, 1.0, 0.0, 0.0, 0.0, -u * x, -u * y])
        rows.append([0.0, 0.0, 0.0, x, y, 1.0, -v * x, -v * y])
        rhs += [u, v]
    h = np.linalg.solve(np.array(rows), np.array(rhs))
    return np.append(h, 1.0).reshape(3, 3)


def plane_corners(width: int, height: int) -> FloatArray:
    """Outer corners of a width x height image in the resamplers' convention
    (pixel centres at integers), clockwise from the top left."""
    return np.array([[-0.5, -0.5], [width - 0.5, -0.5], [width - 0.5, height - 0.5], [-0.5, height - 0.5]])


def order_corners(points: FloatArray) -> FloatArray:
    """Four points ordered clockwise on screen, starting at the top left."""
    centre = points.mean(axis=0)
    angles = np.arctan2(points[:, 1] - centre[1], points[:, 0] - centre[0])
    ring = points[np.argsort(angles)]  # y grows downward: increasing angle is clockwise
    start = int(np.argmin(ring.sum(axis=1)))
    return np.roll(ring, -start, axis=0)


class Line:
    """A line through merged collinear segments, fitted to their end points
    weighted by length: unit direction d, unit normal n, offset c (n . p = c)."""

    def __init__(self, segments: list[tessarin.Segment]) -> None:
        self.segments = segments
        pts = np.array([[(s.x1, s.y1), (s.x2, s.y2)] for s in segments]).reshape(-1, 2)
        weights = np.repeat([s.length for s in segments], 2)
        centre = (pts * weights[:, None]).sum(axis=0) / weights.sum()
        spread = ((pts - centre) * weights[:, None]).T @ (pts - centre)
        _, vectors = np.linalg.eigh(spread)
        self.d = vectors[:, 1]
        self.n = np.array([-self.d[1], self.d[0]])
        self.c = float(self.n @ centre)
        self.support = float(weights.sum() / 2)

    def distance(self, x: float, y: float) -> float:
        return abs(float(self.n[0] * x + self.n[1] * y) - self.c)

    def accepts(self, s: tessarin.Segment, tolerance: float) -> bool:
        along = abs(self.d[0] * (s.x2 - s.x1) + self.d[1] * (s.y2 - s.y1)) / max(s.length, 1e-9)
        return along > math.cos(math.radians(3.0)) and max(
            self.distance(s.x1, s.y1), self.distance(s.x2, s.y2)
        ) < tolerance

    def horizontal(self) -> bool:
        return bool(abs(self.d[0]) >= abs(self.d[1]))


def intersect(a: Line, b: Line) -> FloatArray | None:
    m = np.array([a.n, b.n])
    if abs(np.linalg.det(m)) < 1e-6:
        return None
    return np.linalg.solve(m, np.array([a.c, b.c]))


def merge_lines(segments: Sequence[tessarin.Segment], tolerance: float) -> list[Line]:
    """Greedy merge, longest segments first (detect's order)."""
    groups: list[list[tessarin.Segment]] = []
    lines: list[Line] = []
    for s in segments:
        for i, line in enumerate(lines):
            if line.accepts(s, tolerance):
                groups[i].append(s)
                lines[i] = Line(groups[i])
                break
        else:
            groups.append([s])
            lines.append(Line([s]))
    return lines


def coverage(p: FloatArray, q: FloatArray, ends: FloatArray, tolerance: float) -> float:
    """Fraction of the side p-q that detected segments lie along; ends is
    an (n, 2, 2) array of segment end points."""
    side = q - p
    length = float(np.hypot(*side))
    if length < 1.0:
        return 0.0
    d = side / length
    n = np.array([-d[1], d[0]])
    rel = ends - p
    across = np.abs(rel @ n).max(axis=1)
    along = rel @ d
    extent = np.hypot(*(ends[:, 1] - ends[:, 0]).T)
    parallel = np.abs(along[:, 1] - along[:, 0]) > math.cos(math.radians(5.0)) * extent
    near = along[(across < tolerance) & parallel]
    lo = np.clip(near.min(axis=1), 0.0, length)
    hi = np.clip(near.max(axis=1), 0.0, length)
    covered, reach = 0.0, 0.0
    for a, b in sorted(zip(lo.tolist(), hi.tolist())):
        a = max(a, reach)
        if b > a:
            covered += b - a
            reach = b
    return covered / length


def find_page(segments: Sequence[tessarin.Segment], width: int, height: int) -> FloatArray | None:
    """The page corners (detector coordinates, clockwise from the top left),
    or None when no convincing quadrilateral is found."""
    diagonal = math.hypot(width, height)
    tolerance = max(2.0, 0.004 * diagonal)
    long_enough = [s for s in segments if s.length > 0.03 * diagonal]
    ends = np.array([[(s.x1, s.y1), (s.x2, s.y2)] for s in segments if s.length > 0.01 * diagonal])
    if len(ends) == 0:
        return None
    lines = sorted(merge_lines(long_enough, tolerance), key=lambda line: -line.support)[:16]
    across = [line for line in lines if line.horizontal()][:7]
    down = [line for line in lines if not line.horizontal()][:7]
    best, best_score = None, 0.0
    for i, top in enumerate(across):
        for bottom in across[i + 1 :]:
            for j, left in enumerate(down):
                for right in down[j + 1 :]:
                    corners = [intersect(a, b) for a, b in ((top, left), (top, right), (bottom, right), (bottom, left))]
                    if any(c is None for c in corners):
                        continue
                    quad = order_corners(np.array(corners))
                    if not _plausible(quad, width, height):
                        continue
                    sides = [coverage(quad[k], quad[(k + 1) % 4], ends, tolerance) for k in range(4)]
                    if min(sides) < 0.25:
                        continue
                    area = _area(quad) / (width * height)
                    score = sum(sides) / 4 + 0.5 * area
                    if score > best_score:
                        best, best_score = quad, score
    return best


def _area(quad: FloatArray) -> float:
    x, y = quad[:, 0], quad[:, 1]
    return 0.5 * abs(float(x @ np.roll(y, -1) - y @ np.roll(x, -1)))


def _plausible(quad: FloatArray, width: int, height: int) -> bool:
    """Convex, inside the photo (with a margin), not tiny."""
    margin = 0.05 * max(width, height)
    if quad[:, 0].min() < -margin or quad[:, 0].max() > width + margin:
        return False
    if quad[:, 1].min() < -margin or quad[:, 1].max() > height + margin:
        return False
    edges = np.roll(quad, -1, axis=0) - quad
    turns = edges[:, 0] * np.roll(edges, -1, axis=0)[:, 1] - edges[:, 1] * np.roll(edges, -1, axis=0)[:, 0]
    return bool(np.all(turns > 0)) and _area(quad) > 0.05 * width * height


def page_aspect(corners: FloatArray, width: int, height: int, focal: float) -> float:
    """Height over width of the real rectangle seen as the quadrilateral
    corners through a pinhole camera of focal length focal (pixels) whose
    principal point is the photo's centre.

    The two vanishing directions of the sides, taken back through the camera
    into its metric frame, compare the sides' real lengths.  (The corners
    alone also fix the focal length, but far too loosely for mild
    perspective: one pixel of corner error moves it by a quarter.)"""
    tl, tr, br, bl = (np.append(c, 1.0) for c in corners)
    k2 = np.cross(tl, br) @ bl / (np.cross(tr, br) @ bl)
    k3 = np.cross(tl, br) @ tr / (np.cross(bl, br) @ tr)
    back = np.linalg.inv(np.array([[focal, 0.0, width / 2], [0.0, focal, height / 2], [0.0, 0.0, 1.0]]))
    top = back @ (k2 * tr - tl)
    left = back @ (k3 * bl - tl)
    return float(math.sqrt((left @ left) / (top @ top)))


def focal_length(photo: Image.Image | None, width: int, height: int) -> float:
    """Focal length in pixels: from the photo's 35 mm-equivalent focal
    length when it records one, else a phone's usual 26 mm equivalent."""
    mm = 26.0
    if photo is not None:
        recorded = photo.getexif().get_ifd(0x8769).get(0xA405)  # FocalLengthIn35mmFilm
        if isinstance(recorded, (int, float)) and recorded > 0:
            mm = float(recorded)
    return mm / math.hypot(36.0, 24.0) * math.hypot(width, height)


def page_size(corners: FloatArray, aspect: float) -> tuple[int, int]:
    """Output (width, height): the page's longer horizontal side in the
    photo gives the width, the aspect ratio (height / width) the height."""
    sides = np.hypot(*(np.roll(corners, -1, axis=0) - corners).T)
    w = max(sides[0], sides[2])
    return max(1, round(w)), max(1, round(w * aspect))


def rectify(rgb: RGB, corners: FloatArray, size: tuple[int, int]) -> RGB:
    """Warp the quadrilateral corners (detector coordinates) of rgb to a
    flat page of size (width, height)."""
    # Output pixel (x, y) is the plane point (x, y) (scale 1, no offset);
    # the detector puts pixel centres at +0.5, the warp at integers.
    to_photo = homography(plane_corners(*size), corners - 0.5)
    return tessarin.warp_rgb(rgb, to_photo.ravel(), 1.0, 0.0, 0.0, filter="lanczos3", out_size=size)


def detection_scale(width: int, height: int) -> float:
    """Detect on about a megapixel at most: page edges are long and clear,
    and big photos are faster and less noisy shrunk."""
    return min(0.8, 1200.0 / max(width, height))


# ------------------------------------------------------- a synthetic photo

WORDS = (
    "the of and a to in is that for it as was with be by on not he this are or his from at which but have an "
    "they you were her all she there would their we him been has when who will more no if out so said what up "
    "its about into than them can only other new some could time these two may then do first any my now such "
    "like our over man me even most made after also did many before must through back years where much your way"
).split()


def render_page(width: int, seed: int) -> RGB:
    """A page of justified-looking text with a heading and a figure."""
    height = round(width * A4)
    rng = np.random.default_rng(seed)
    page = Image.new("RGB", (width, height), (246, 244, 238))
    draw = ImageDraw.Draw(page)
    size = max(6, width // 42)
    body = ImageFont.load_default(size)
    title = ImageFont.load_default(round(size * 1.9))
    margin = width // 9
    draw.text((margin, margin * 0.8), "Field notes on straight lines", fill=(20, 20, 30), font=title)
    y = margin * 0.8 + size * 3.2
    figure_top = height * 0.48
    figure_bottom = figure_top + height * 0.2
    while y < height - margin:
        if figure_top <= y + size * 1.55 and y < figure_bottom:
            _figure(draw, rng, margin, int(figure_top), width - margin, int(figure_bottom))
            y = figure_bottom + size * 1.5
            continue
        line = " ".join(rng.choice(WORDS, 14))
        while line and draw.textlength(line, font=body) > width - 2 * margin:
            line = line.rsplit(" ", 1)[0]
        draw.text((margin, y), line, fill=(35, 35, 40), font=body)
        y += size * 1.55
        if rng.random() < 0.12:
            y += size * 0.8  # paragraph break
    return np.asarray(page)


def _figure(draw: ImageDraw.ImageDraw, rng: np.random.Generator, x0: int, y0: int, x1: int, y1: int) -> None:
    draw.rectangle((x0, y0, x1, y1), fill=(232, 236, 244), outline=(90, 100, 130))
    xs = np.linspace(x0 + 8, x1 - 8, 60)
    walk = np.cumsum(rng.normal(0, 1, xs.size))
    ys = y1 - 8 - (walk - walk.min()) / max(np.ptp(walk), 1e-9) * (y1 - y0 - 16)
    draw.line(list(zip(xs.tolist(), ys.tolist())), fill=(200, 60, 40), width=2)


def _smooth_noise(rng: np.random.Generator, height: int, width: int, cell: int) -> FloatArray:
    coarse = rng.random((height // cell + 2, width // cell + 2))
    img = Image.fromarray((coarse * 255).astype(np.uint8)).resize(
        (width + 2 * cell, height + 2 * cell), Image.Resampling.BICUBIC
    )
    return np.asarray(img, np.float64)[cell : cell + height, cell : cell + width] / 255.0


def table_texture(height: int, width: int, rng: np.random.Generator) -> FloatArray:
    """Wood-like grain: warped stripes in brown tones."""
    y, x = np.mgrid[0:height, 0:width].astype(np.float64)
    warp = _smooth_noise(rng, height, width, 48) * 30 + _smooth_noise(rng, height, width, 12) * 4
    grain = 0.5 + 0.5 * np.sin((y * 0.9 + 0.08 * x + warp) * 0.35)
    tone = 0.75 + 0.25 * grain**3 + 0.1 * _smooth_noise(rng, height, width, 6)
    brown = np.array([150.0, 100.0, 62.0])
    texture: FloatArray = tone[..., None] * brown
    return texture


def _coverage_mask(quad: FloatArray, width: int, height: int) -> FloatArray:
    """Antialiased inside-ness of a clockwise quadrilateral: the distance of
    each pixel centre from the nearest side, clipped to a one-pixel ramp."""
    y, x = np.mgrid[0:height, 0:width] + 0.5
    inside = np.full((height, width), np.inf)
    for p, q in zip(quad, np.roll(quad, -1, axis=0)):
        d = (q - p) / np.hypot(*(q - p))
        inside = np.minimum(inside, (x - p[0]) * -d[1] + (y - p[1]) * d[0])
    return np.clip(inside + 0.5, 0.0, 1.0)


def camera_view(width: int, height: int, rng: np.random.Generator) -> FloatArray:
    """Where an A4 sheet lying on a table appears in a photo taken at an
    angle: its corners through a pinhole camera (focal length about the
    photo's width), clockwise from the top left, in detector coordinates."""
    sheet = np.array([[-0.5, -A4 / 2, 0], [0.5, -A4 / 2, 0], [0.5, A4 / 2, 0], [-0.5, A4 / 2, 0]])
    tilt, turn = math.radians(rng.uniform(22, 32)), math.radians(rng.uniform(-6, 6))
    c, s = math.cos(turn), math.sin(turn)
    sheet = sheet @ np.array([[c, -s, 0], [s, c, 0], [0, 0, 1]]).T
    c, s = math.cos(tilt), math.sin(tilt)
    sheet = sheet @ np.array([[1, 0, 0], [0, c, -s], [0, s, c]]).T + [rng.uniform(-0.05, 0.05), 0.02, 1.9]
    focal = focal_length(None, width, height)
    return np.array([focal * p[:2] / p[2] for p in sheet]) * [1, 1] + [width / 2, height / 2]


def make_photo(width: int = 960, height: int = 720, seed: int = 3) -> tuple[RGB, FloatArray]:
    """A photographed page: returns the RGB photo and the true page corners
    in detector coordinates (clockwise from the top left)."""
    rng = np.random.default_rng(seed)
    quad = camera_view(width, height, rng)
    page = render_page(max(120, round(0.75 * width * 0.6)), seed)
    ph, pw = page.shape[:2]
    to_page = homography(quad - 0.5, plane_corners(pw, ph))
    flat = tessarin.warp_rgb(page, to_page.ravel(), 1.0, 0.0, 0.0, filter="lanczos3", out_size=(width, height))
    mask = _coverage_mask(quad, width, height)[..., None]
    shadow = Image.fromarray((mask[..., 0] * 255).astype(np.uint8)).filter(ImageFilter.GaussianBlur(width / 80))
    shade = 1.0 - 0.45 * np.roll(np.asarray(shadow, np.float64) / 255.0, (height // 90, width // 120), axis=(0, 1))
    scene = table_texture(height, width, rng) * shade[..., None]
    scene = scene * (1 - mask) + flat * mask
    y, x = np.mgrid[0:height, 0:width] / max(width, height)
    light = 1.1 - 0.35 * x - 0.15 * y - 0.25 * ((x - 0.45) ** 2 + (y - 0.35) ** 2)
    scene = scene * light[..., None] + rng.normal(0.0, 2.5, scene.shape)
    return np.clip(scene, 0, 255).round().astype(np.uint8), quad


# ------------------------------------------------------------------- main


def draw_outline(rgb: RGB, corners: FloatArray) -> Image.Image:
    picture = Image.fromarray(rgb)
    draw = ImageDraw.Draw(picture)
    points = [tuple(p) for p in corners.tolist()]
    draw.line(points + points[:1], fill=(255, 40, 200), width=max(2, rgb.shape[1] // 240))
    return picture


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("photo", nargs="?", help="a photo of a page (default: render one)")
    parser.add_argument("--out-dir", default="out", help="folder for the results (default out/)")
    parser.add_argument("--overlay", action="store_true", help="also write the photo with the outline found")
    parser.add_argument("--a4", action="store_true", help="force the A4 aspect ratio (default: from the perspective)")
    parser.add_argument("--size", default="960x720", help="size of the rendered photo, WxH")
    args = parser.parse_args(argv)

    folder = pathlib.Path(args.out_dir)
    folder.mkdir(parents=True, exist_ok=True)
    out = folder / "page.png"
    photo = None
    if args.photo:
        photo = Image.open(args.photo)
        rgb = np.asarray((ImageOps.exif_transpose(photo) or photo).convert("RGB"))
    else:
        w, h = (int(v) for v in args.size.lower().split("x"))
        rgb, _ = make_photo(w, h)
        generated = folder / "page_input.png"
        Image.fromarray(rgb).save(generated)
        print(f"rendered a photographed page: {generated}")
    height, width = rgb.shape[:2]
    gray = np.asarray(Image.fromarray(rgb).convert("L"))
    segments = tessarin.detect(gray, scale=detection_scale(width, height))
    corners = find_page(segments, width, height)
    if corners is None:
        print(f"no page outline found among {len(segments)} segments", file=sys.stderr)
        return 1
    aspect = A4 if args.a4 else page_aspect(corners, width, height, focal_length(photo, width, height))
    size = page_size(corners, aspect)
    Image.fromarray(rectify(rgb, corners, size)).save(out)
    print("page corners:", ", ".join(f"({x:.1f}, {y:.1f})" for x, y in corners))
    print(f"flat page {size[0]}x{size[1]}: {out}")
    if args.overlay:
        draw_outline(rgb, corners).save(folder / "page_found.png")
        print(f"outline: {folder / 'page_found.png'}")
    return 0


if __name__ == "__main__":
    # Exits only on failure: the documentation's gallery runs the script
    # inside its own build, which a successful exit would end.
    if status := main():
        sys.exit(status)
