"""Throughput of warp_rgb, remap_rgb and remap_gray on a 1920x1080 photograph.

    python bench/bench_resample.py [--repeats 7] [--photo coffee|astronaut|rocket]

Every function runs with both filters and both element types; the peers run the
same perspective transform on the same 8-bit input with bilinear interpolation:
Pillow's Image.transform (PERSPECTIVE), scipy.ndimage.map_coordinates (order 1,
one call per channel), skimage.transform.warp (order 1) and pyvips's mapim (2
threads). A peer that is not installed is skipped. The figures are the median
of the repeats after one warm-up call, in megapixels of output per second.
"""

import argparse
import os
import statistics
import time

os.environ.setdefault("VIPS_CONCURRENCY", "2")  # read when libvips starts

import numpy as np

import tessarin

WIDTH, HEIGHT = 1920, 1080
MPX = WIDTH * HEIGHT / 1e6

# A mild perspective: output pixel centre (x, y) -> source position, in the
# convention where integer positions are pixel centres.
INVERSE = np.array(
    [
        [0.97, 0.035, 22.0],
        [-0.025, 1.01, 14.0],
        [1.2e-5, -1.6e-5, 1.0],
    ]
)


def photograph(name):
    import skimage.data
    import skimage.transform

    img = getattr(skimage.data, name)()[..., :3]
    big = skimage.transform.resize(img, (HEIGHT, WIDTH), order=3, anti_aliasing=False)
    return np.clip(np.round(big * 255.0), 0, 255).astype(np.uint8)


def source_positions():
    ys, xs = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float64)
    h = INVERSE.ravel()
    w = h[6] * xs + (h[7] * ys + h[8])
    sx = (h[0] * xs + (h[1] * ys + h[2])) / w
    sy = (h[3] * xs + (h[4] * ys + h[5])) / w
    return sx.astype(np.float32), sy.astype(np.float32)


def timed(fn, repeats):
    """Median wall time and median CPU time of the whole process (all its threads)."""
    result = fn()  # warm-up; also the result shown for agreement
    wall, cpu = [], []
    for _ in range(repeats):
        c0, t0 = time.process_time(), time.perf_counter()
        fn()
        wall.append(time.perf_counter() - t0)
        cpu.append(time.process_time() - c0)
    return statistics.median(wall), statistics.median(cpu), result


# --- peers -----------------------------------------------------------------------------------------

def pillow_peer(rgb):
    from PIL import Image

    # Pillow samples at pixel corners + 0.5: conjugate the matrix by the half-pixel shift.
    shift = np.array([[1, 0, 0.5], [0, 1, 0.5], [0, 0, 1.0]])
    unshift = np.array([[1, 0, -0.5], [0, 1, -0.5], [0, 0, 1.0]])
    m = shift @ INVERSE @ unshift
    m = m / m[2, 2]
    coeffs = tuple(m.ravel()[:8])
    image = Image.fromarray(rgb)
    bilinear = Image.Resampling.BILINEAR

    def run():
        return np.asarray(image.transform((WIDTH, HEIGHT), Image.Transform.PERSPECTIVE, coeffs, bilinear))

    return run


def scipy_peer(src, sx, sy):
    from scipy import ndimage

    coords = np.stack([sy, sx])

    def run():
        if src.ndim == 2:
            return ndimage.map_coordinates(src, coords, order=1, mode="constant", cval=0, output=src.dtype)
        out = np.empty((HEIGHT, WIDTH, 3), src.dtype)
        for c in range(3):
            ndimage.map_coordinates(src[..., c], coords, order=1, mode="constant", cval=0, output=out[..., c])
        return out

    return run


def skimage_peer(rgb):
    import skimage.transform

    transform = skimage.transform.ProjectiveTransform(matrix=INVERSE)

    def run():
        out = skimage.transform.warp(rgb, transform, output_shape=(HEIGHT, WIDTH), order=1, mode="constant",
                                     cval=0, preserve_range=True)
        return np.round(out).astype(np.uint8)

    return run


def vips_peer(src, sx, sy):
    import pyvips

    pyvips.cache_set_max(0)  # every call computes
    bands = 1 if src.ndim == 2 else src.shape[2]
    image = pyvips.Image.new_from_memory(np.ascontiguousarray(src).data, src.shape[1], src.shape[0], bands,
                                         "uchar")
    index_array = np.ascontiguousarray(np.stack([sx, sy], axis=-1))
    index = pyvips.Image.new_from_memory(index_array.data, WIDTH, HEIGHT, 2, "float")
    interpolate = pyvips.Interpolate.new("bilinear")

    def run():
        out = image.mapim(index, interpolate=interpolate)
        data = out.write_to_memory()
        return np.frombuffer(data, np.uint8).reshape(src.shape[:2] if bands == 1 else (HEIGHT, WIDTH, bands))

    return run


def peers(rgb, gray, sx, sy):
    """(label, kind, factory) for every peer; factories import lazily."""
    return [
        ("Pillow transform PERSPECTIVE", "rgb", lambda: pillow_peer(rgb)),
        ("scipy map_coordinates order=1", "rgb", lambda: scipy_peer(rgb, sx, sy)),
        ("skimage warp order=1", "rgb", lambda: skimage_peer(rgb)),
        ("pyvips mapim bilinear (2 thr)", "rgb", lambda: vips_peer(rgb, sx, sy)),
        ("scipy map_coordinates order=1", "gray", lambda: scipy_peer(gray, sx, sy)),
        ("pyvips mapim bilinear (2 thr)", "gray", lambda: vips_peer(gray, sx, sy)),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--photo", default="coffee", choices=["coffee", "astronaut", "rocket", "chelsea"])
    args = parser.parse_args()

    rgb8 = photograph(args.photo)
    rgb16 = rgb8.astype(np.uint16) * 257
    gray8 = np.ascontiguousarray(rgb8[..., 1])
    gray16 = gray8.astype(np.uint16) * 257
    sx, sy = source_positions()
    inverse = INVERSE.ravel().tolist()
    print(f"{args.photo} photograph resized to {WIDTH}x{HEIGHT}, {os.cpu_count()} hardware threads, "
          f"median of {args.repeats}")

    rows = []  # (label, kind, dtype, filter, seconds, result)
    for dtype, rgb, gray in [("uint8", rgb8, gray8), ("uint16", rgb16, gray16)]:
        for filter in ["bilinear", "lanczos3"]:
            calls = [
                ("tessarin warp_rgb", "rgb", lambda: tessarin.warp_rgb(rgb, inverse, 1.0, 0.0, 0.0, filter)),
                ("tessarin remap_rgb", "rgb", lambda: tessarin.remap_rgb(rgb, sx, sy, filter)),
                ("tessarin remap_gray", "gray", lambda: tessarin.remap_gray(gray, sx, sy, filter)),
            ]
            for label, kind, fn in calls:
                seconds, cpu, result = timed(fn, args.repeats)
                rows.append((label, kind, dtype, filter, seconds, cpu, result))

    ours = {(r[0], r[2], r[3]): r for r in rows}
    reference = {"rgb": ours[("tessarin remap_rgb", "uint8", "bilinear")][6],
                 "gray": ours[("tessarin remap_gray", "uint8", "bilinear")][6]}
    for label, kind, factory in peers(rgb8, gray8, sx, sy):
        try:
            fn = factory()
        except ImportError as e:
            print(f"skipped {label}: {e}")
            continue
        seconds, cpu, result = timed(fn, max(3, args.repeats // 2))
        rows.append((label, kind, "uint8", "bilinear", seconds, cpu, result))

    print()
    print(f"{'function':32} {'image':5} {'dtype':7} {'filter':9} {'wall ms':>8} {'Mpx/s':>7} {'cpu ms':>8} "
          f"{'Mpx/cpu-s':>9}  {'mean |diff|':>11}")
    for label, kind, dtype, filter, seconds, cpu, result in rows:
        diff = ""
        if dtype == "uint8" and filter == "bilinear":
            d = np.abs(result.astype(np.int32) - reference[kind].astype(np.int32))
            diff = f"{d.mean():11.3f}"
        print(f"{label:32} {kind:5} {dtype:7} {filter:9} {seconds * 1e3:8.1f} {MPX / seconds:7.1f} {cpu * 1e3:8.1f} "
              f"{MPX / cpu:9.1f}  {diff}")

    print()
    print("ratios, peer / tessarin at uint8 bilinear (above 1: tessarin is faster), wall time and CPU time")
    for label, kind, dtype, filter, seconds, cpu, _ in rows:
        if label.startswith("tessarin"):
            continue
        for mine in (["tessarin warp_rgb", "tessarin remap_rgb"] if kind == "rgb" else ["tessarin remap_gray"]):
            theirs = ours[(mine, "uint8", "bilinear")]
            print(f"  {label:32} {kind:5} vs {mine:20} wall {seconds / theirs[4]:6.2f}   cpu {cpu / theirs[5]:6.2f}")

    print()
    print("tessarin: CPU time of each choice relative to uint8 bilinear of the same function")
    for label in ["tessarin warp_rgb", "tessarin remap_rgb", "tessarin remap_gray"]:
        base = ours[(label, "uint8", "bilinear")][5]
        parts = [f"{d}/{f} {ours[(label, d, f)][5] / base:5.2f}" for d in ["uint8", "uint16"]
                 for f in ["bilinear", "lanczos3"]]
        print(f"  {label:22} " + "  ".join(parts))


if __name__ == "__main__":
    main()
