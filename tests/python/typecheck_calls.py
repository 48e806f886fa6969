"""Typical calls: run by the tests, and checked with mypy --strict against the installed stub.

The lines marked `type: ignore[...]` in misuses() are calls the stub must reject: mypy's
unused-ignore warning fails the check if one of them is accepted.
"""

import numpy as np
import numpy.typing as npt

import tessarin

gray8 = np.zeros((48, 64), np.uint8)
segments: list[tessarin.Segment] = tessarin.detect(gray8)
segments = tessarin.detect(gray8.astype(np.float32) / 255.0 * 255.0, scale=1)
segments = tessarin.detect(np.zeros((48, 64), np.uint16), 0.5)
segments = tessarin.detect(np.zeros((48, 64)), scale=np.float32(0.5))
for s in segments:
    ends: tuple[float, float, float, float] = (s.x1, s.y1, s.x2, s.y2)
    stats: tuple[float, float, float, float, float] = (s.width, s.precision, s.log_nfa, s.angle, s.length)

rgb = np.zeros((48, 64, 3), np.uint8)
h = np.eye(3)
flat8: npt.NDArray[np.uint8] = tessarin.warp_rgb(rgb, h.ravel(), 1.0, 0.0, 0.0)
flat8 = tessarin.warp_rgb(rgb, [1, 0, 0, 0, 1, 0, 0, 0, 1], 2, -0.5, -0.5, "lanczos3", (32, 24))
flat8 = tessarin.warp_rgb(rgb, tuple(h.ravel().tolist()), 1.0, 0.0, 0.0, filter="bilinear", out_size=None)
flat16: npt.NDArray[np.uint16] = tessarin.warp_rgb(rgb.astype(np.uint16) * np.uint16(257), h.ravel(), 1.0, 0.0, 0.0)

map_x = np.zeros((24, 32), np.float32)
map_y = np.zeros((24, 32), np.float32)
moved8: npt.NDArray[np.uint8] = tessarin.remap_rgb(rgb, map_x, map_y, filter="lanczos3")
mask8: npt.NDArray[np.uint8] = tessarin.remap_gray(gray8, map_x, map_y)
mask16: npt.NDArray[np.uint16] = tessarin.remap_gray(gray8.astype(np.uint16), map_x, map_y, "bilinear")


def misuses() -> None:
    """Never called: calls that the stub must reject."""
    tessarin.detect(np.zeros((48, 64), np.int32))  # type: ignore[arg-type]
    tessarin.detect(gray8, scale="0.5")  # type: ignore[arg-type]
    tessarin.warp_rgb(rgb, h.ravel(), 1.0, 0.0, 0.0, filter="cubic")  # type: ignore[arg-type]
    tessarin.warp_rgb(rgb, h.ravel(), 1.0, 0.0, 0.0, out_size=[32, 24])  # type: ignore[arg-type]
    tessarin.warp_rgb(rgb.astype(np.float32), h.ravel(), 1.0, 0.0, 0.0)  # type: ignore[type-var]
    wrong: npt.NDArray[np.uint16] = tessarin.remap_gray(gray8, map_x, map_y)  # type: ignore[arg-type]
    segments[0].x1 = 0.0  # type: ignore[misc]
