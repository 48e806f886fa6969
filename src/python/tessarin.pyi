"""Line-segment detection and image resampling for NumPy arrays.

Two coordinate conventions meet in this module; both put x along a row
(the column index) and y down the image (the row index), so ``img[y, x]``
is the pixel in column x, row y:

* ``detect`` reports continuous image coordinates whose origin is the
  top-left *corner* of the image: pixel ``gray[y, x]`` covers the square
  [x, x + 1] x [y, y + 1] and its centre is (x + 0.5, y + 0.5).
* ``warp_rgb``, ``remap_rgb`` and ``remap_gray`` take source positions whose
  integer values are pixel *centres*: position (x, y) is the centre of
  ``src[y, x]``, and the image covers [-0.5, width - 0.5] x
  [-0.5, height - 0.5].  Positions outside that window give 0 (black).

To sample the image at a point found by ``detect``, subtract 0.5 from both
coordinates.

Every function releases the interpreter while it works, may be called from
any number of threads at once, and gives bit-identical results whatever the
number of threads.
"""

from collections.abc import Sequence
from typing import Any, Literal, SupportsFloat, SupportsIndex, TypeVar, final

import numpy as np
import numpy.typing as npt

__all__ = ["Segment", "detect", "warp_rgb", "remap_rgb", "remap_gray"]

_Filter = Literal["bilinear", "lanczos3"]
_Float = SupportsFloat | SupportsIndex
# Resamplers return the element type they are given.
_Pixel = TypeVar("_Pixel", np.uint8, np.uint16)
_Gray = (
    npt.NDArray[np.uint8]
    | npt.NDArray[np.uint16]
    | npt.NDArray[np.float32]
    | npt.NDArray[np.float64]
)

@final
class Segment:
    """One detected line segment, in input-image coordinates.

    Coordinates are in pixels of the image given to ``detect`` (whatever
    ``scale`` was used), with the origin at the top-left corner of the
    image, x to the right and y downward: the centre of pixel ``gray[y, x]``
    is (x + 0.5, y + 0.5).  Instances are immutable and are made only by
    ``detect``; they compare by identity.
    """

    @property
    def x1(self) -> float:
        """x of the first end point, in pixels (column direction)."""
    @property
    def y1(self) -> float:
        """y of the first end point, in pixels (row direction, downward)."""
    @property
    def x2(self) -> float:
        """x of the second end point, in pixels."""
    @property
    def y2(self) -> float:
        """y of the second end point, in pixels."""
    @property
    def width(self) -> float:
        """Width of the segment's supporting rectangle, in pixels.

        Roughly the width of the edge's transition zone: a few pixels for a
        sharp edge, more for a blurred one.
        """
    @property
    def precision(self) -> float:
        """Angular precision of the fit, as a probability.

        The fraction of all directions (p x 180 degrees) within which a
        pixel's gradient counted as aligned with the segment: 0.125
        (22.5 degrees) unless the fit was tightened, never below
        0.125 / 1024.
        """
    @property
    def log_nfa(self) -> float:
        """Significance: -log10 of the number of false alarms (NFA).

        The NFA is the number of segments at least this well aligned that
        one would expect to find by chance in an image of pure noise of the
        same size.  Every returned segment has ``log_nfa > 0`` (NFA below
        one); larger is more certain: 10 means one chance in 10**10.
        """
    @property
    def angle(self) -> float:
        """Direction in degrees, -90 to 90, 0 = horizontal.

        In the half-open range (-90, 90]; positive angles descend to the
        right (y grows downward), a vertical segment gives 90.0.  The order
        of the end points does not matter.
        """
    @property
    def length(self) -> float:
        """Length in pixels: ``hypot(x2 - x1, y2 - y1)``."""

def detect(gray: _Gray, scale: _Float = ...) -> list[Segment]:
    """Find the validated line segments of a grayscale image.

    Parameters
    ----------
    gray:
        A ``(height, width)`` array of ``uint8``, ``uint16``, ``float32`` or
        ``float64`` samples, in any memory layout (non-contiguous views are
        copied, contiguous arrays are read in place).  The detector's
        gradient threshold is absolute and assumes the 0 to 255 range of
        ``uint8``: ``uint16`` samples are divided by 257 first, float samples
        are used as they are, so scale float images in [0, 1] by 255.
    scale:
        Resolution at which to detect, default 0.8.  Below 1 the image is
        smoothed and shrunk by this factor first (which suppresses noise and
        aliasing and makes detection faster), and the results are mapped
        back to ``gray``'s pixel coordinates.  1 or more means the full
        resolution.  A scale that shrinks the image below 3 x 3 pixels
        (including 0 and negative scales) finds nothing.

    Returns
    -------
    list[Segment]
        Every segment whose ``log_nfa`` is positive, longest first, in the
        coordinates of ``gray`` (pixel ``gray[y, x]`` is centred on
        (x + 0.5, y + 0.5)).  An image smaller than 3 x 3 or without
        gradients gives an empty list.
    """

def warp_rgb(
    src: npt.NDArray[_Pixel],
    inverse: Sequence[_Float] | npt.NDArray[np.floating[Any]],
    scale: _Float,
    off_x: _Float,
    off_y: _Float,
    filter: _Filter = "bilinear",
    out_size: tuple[int, int] | None = None,
) -> npt.NDArray[_Pixel]:
    """Perspective-warp an RGB image through an inverse homography.

    Output pixel (x, y) shows the point X = x / scale + off_x,
    Y = y / scale + off_y of an output plane.  ``inverse`` maps that plane
    point to the source: (u, v, w) = inverse @ (X, Y, 1), and the pixel is
    sampled at source position (u / w, v / w), where integer positions are
    source pixel centres.  Positions outside the source, and points with
    w == 0, give black.

    Parameters
    ----------
    src:
        A ``(height, width, 3)`` RGB array of ``uint8`` or ``uint16``, any
        layout.
    inverse:
        The 3 x 3 matrix from output plane to source, as nine numbers in
        row-major order (a list, tuple or flat array: pass
        ``matrix.ravel()`` for a 3 x 3 array).  It is used as given: neither
        inverted nor normalised.
    scale:
        Output pixels per unit of the output plane (1.0 when the plane is
        measured in output pixels).
    off_x, off_y:
        The plane point shown by output pixel (0, 0).
    filter:
        ``"bilinear"`` (2 x 2 taps) or ``"lanczos3"`` (6 x 6 taps, sharper;
        overshoot is clamped to the element range).
    out_size:
        ``(width, height)`` of the result, width first; ``None`` for the
        source's own size.

    Returns
    -------
    A new ``(height, width, 3)`` array of the source's element type.
    """

def remap_rgb(
    src: npt.NDArray[_Pixel],
    map_x: npt.NDArray[np.float32],
    map_y: npt.NDArray[np.float32],
    filter: _Filter = "bilinear",
) -> npt.NDArray[_Pixel]:
    """Resample an RGB image through a coordinate map: output pixel (x, y)
    takes its value from source position (map_x[y, x], map_y[y, x]).

    Parameters
    ----------
    src:
        A ``(height, width, 3)`` RGB array of ``uint8`` or ``uint16``.
    map_x, map_y:
        Two ``float32`` arrays of the same ``(out_height, out_width)``
        shape: the source column and row of every output pixel, in pixel
        units with integer values at pixel centres.  Positions outside
        [-0.5, width - 0.5] x [-0.5, height - 0.5] give black; to mark an
        output pixel as having no source, use a value such as -1 (not NaN,
        which the Lanczos-3 filter samples as coordinate 0).
    filter:
        ``"bilinear"`` or ``"lanczos3"``.

    Returns
    -------
    A new ``(out_height, out_width, 3)`` array of the source's element type.
    """

def remap_gray(
    src: npt.NDArray[_Pixel],
    map_x: npt.NDArray[np.float32],
    map_y: npt.NDArray[np.float32],
    filter: _Filter = "bilinear",
) -> npt.NDArray[_Pixel]:
    """Resample a single-channel image (a mask) through a coordinate map.

    As ``remap_rgb`` for a ``(height, width)`` array of ``uint8`` or
    ``uint16``; the result has the maps' ``(out_height, out_width)`` shape.
    Use the same maps as for the RGB image to keep a mask aligned with it.
    """
