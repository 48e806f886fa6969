"""Line-segment detection and image resampling for NumPy arrays.

``detect`` finds the straight line segments of a grayscale image and
returns them as ``Segment`` objects, longest first.  ``warp_rgb``,
``remap_rgb`` and ``remap_gray`` resample ``uint8`` or ``uint16`` images
through a perspective homography or per-pixel coordinate maps, with a
bilinear or a Lanczos-3 filter.

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
    is (x + 0.5, y + 0.5).

    Notes
    -----
    Instances are immutable and are made only by ``detect``: calling the
    class, deriving from it and assigning to an attribute raise the usual
    ``TypeError`` or ``AttributeError``.  Two segments compare by identity,
    never by value, and cannot be pickled or copied: to keep or send
    results, copy the seven numbers out (see the example).

    ``repr(s)`` gives ``Segment((x1, y1)-(x2, y2), width=w)`` with one
    decimal, the same on every platform and in every locale.

    Examples
    --------
    >>> import numpy as np, tessarin
    >>> gray = np.zeros((120, 160), np.uint8)
    >>> gray[30:90, 40:120] = 200
    >>> s = tessarin.detect(gray, 1.0)[0]
    >>> s
    Segment((118.5, 29.5)-(40.5, 29.5), width=1.0)
    >>> s.length, s.angle
    (78.0, 0.0)
    >>> fields = ("x1", "y1", "x2", "y2", "width", "precision", "log_nfa")
    >>> record = tuple(getattr(s, f) for f in fields)
    """

    @property
    def x1(self) -> float:
        """x of the first end point, in pixels (column direction).

        May lie slightly outside [0, width] where a slanted segment meets
        the image border.
        """
    @property
    def y1(self) -> float:
        """y of the first end point, in pixels (row direction, downward).

        A step edge between rows r - 1 and r comes out at about
        y = r - 0.5: half a pixel above the boundary it follows.
        """
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

        The fraction p of all directions (p x 180 degrees) within which a
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
        one); larger is more certain: 10 means one chance in 10**10.  Filter
        on it (say ``log_nfa > 5``) to keep only the surest segments.
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
    gray : ndarray of uint8, uint16, float32 or float64, shape (height, width)
        The image, in any memory layout (non-contiguous views are copied,
        contiguous arrays are read in place).  The detector's gradient
        threshold is absolute and assumes the 0 to 255 range of ``uint8``:
        ``uint16`` samples are divided by 257 first, float samples are used
        as they are, so scale float images in [0, 1] by 255.  Colour
        images must be converted to gray first; other element types (signed
        integers, ``bool``, ``float16``) are refused, not converted.
    scale : float, default 0.8
        Resolution at which to detect.  Below 1 the image is smoothed and
        shrunk by this factor first (which suppresses noise and aliasing
        and makes detection faster), and the results are mapped back to
        ``gray``'s pixel coordinates.  1 or more means the full resolution.
        A scale that shrinks the image below 3 x 3 pixels (including 0 and
        negative scales) finds nothing.  For large photographs, a scale that
        brings the image to about a megapixel works well.

    Returns
    -------
    list of Segment
        Every segment whose ``log_nfa`` is positive, longest first, in the
        coordinates of ``gray`` (pixel ``gray[y, x]`` is centred on
        (x + 0.5, y + 0.5)).  An image smaller than 3 x 3 or without
        gradients gives an empty list.

    Raises
    ------
    TypeError
        "detect expects a (height, width) array of uint8, uint16, float32
        or float64" when ``gray`` is anything else (a list, a PIL image, an
        RGB array, another element type, non-native byte order); the
        conversion's own error, with the note "while processing 'scale'",
        when ``scale`` is not a number.
    ValueError
        "detect expects an image of fewer than 2**32 pixels".

    Notes
    -----
    The gradient is measured on blocks of 2 x 2 pixels placed at the
    centre of their top-left pixel, so at scale 1 a step edge between rows
    r - 1 and r is reported at y = r - 0.5.  The work runs with the
    interpreter released, on the process-wide worker pool; the result does
    not depend on the number of threads.

    Examples
    --------
    >>> import numpy as np, tessarin
    >>> gray = np.zeros((120, 160), np.uint8)
    >>> gray[30:90, 40:120] = 200        # a bright rectangle: four edges
    >>> segments = tessarin.detect(gray)
    >>> len(segments), all(s.log_nfa > 0 for s in segments)
    (4, True)
    >>> top = min(segments, key=lambda s: s.y1 + s.y2)
    >>> print(f"{top.y1:.2f} {top.y2:.2f}")
    29.66 29.64

    A float image in [0, 1] is below the threshold everywhere:

    >>> tessarin.detect(gray / 255.0)
    []
    >>> len(tessarin.detect(gray / 255.0 * 255))
    4
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
    src : ndarray of uint8 or uint16, shape (height, width, 3)
        The RGB image, in any layout.
    inverse : sequence of 9 floats
        The 3 x 3 matrix from output plane to source, as nine numbers in
        row-major order (a list, tuple or flat array: pass
        ``matrix.ravel()`` for a 3 x 3 array).  It is used as given: neither
        inverted nor normalised.
    scale : float
        Output pixels per unit of the output plane (1.0 when the plane is
        measured in output pixels).
    off_x, off_y : float
        The plane point shown by output pixel (0, 0).
    filter : {"bilinear", "lanczos3"}, default "bilinear"
        ``"bilinear"`` (2 x 2 taps) or ``"lanczos3"`` (6 x 6 taps, sharper;
        overshoot is clamped to the element range).
    out_size : tuple of two ints, optional
        ``(width, height)`` of the result, width first, as a tuple; ``None``
        (the default) for the source's own size.

    Returns
    -------
    ndarray of the source's element type, shape (height, width, 3)
        A new, writeable array that shares nothing with ``src``.

    Raises
    ------
    TypeError
        "warp_rgb expects a (height, width, 3) array of uint8 or uint16"
        for any other ``src``; a conversion error with a note naming the
        parameter when ``inverse`` is not a sequence, a number is not a
        number, ``filter`` is not a str or ``out_size`` is not a tuple of
        ints.
    ValueError
        "expected a sequence of length 9 (got N)" (a 3 x 3 array gives
        N = 3: pass ``matrix.ravel()``); "expected tuple of length 2, but
        got tuple of length N" for ``out_size``; "unknown filter ..." for a
        filter name other than the two.
    OverflowError
        A negative ``out_size`` item, or an output too large for an array.

    Examples
    --------
    >>> import numpy as np, tessarin
    >>> rgb = np.zeros((120, 160, 3), np.uint8)
    >>> rgb[..., 0] = np.arange(160, dtype=np.uint8)[None, :]
    >>> same = tessarin.warp_rgb(rgb, np.eye(3).ravel(), 1.0, 0.0, 0.0)
    >>> bool((same == rgb).all())
    True

    Twice the size of the region x in [40, 120), y in [30, 90):

    >>> zoom = tessarin.warp_rgb(rgb, np.eye(3).ravel(), 2.0, 40.0, 30.0,
    ...                          filter="lanczos3", out_size=(160, 120))
    >>> zoom.shape, int(zoom[0, 0, 0]), int(zoom[0, 2, 0])
    ((120, 160, 3), 40, 41)
    """

def remap_rgb(
    src: npt.NDArray[_Pixel],
    map_x: npt.NDArray[np.float32],
    map_y: npt.NDArray[np.float32],
    filter: _Filter = "bilinear",
) -> npt.NDArray[_Pixel]:
    """Resample an RGB image through a coordinate map.

    Output pixel (x, y) takes its value from source position
    (map_x[y, x], map_y[y, x]).

    Parameters
    ----------
    src : ndarray of uint8 or uint16, shape (height, width, 3)
        The RGB image, in any layout.
    map_x, map_y : ndarray of float32, shape (out_height, out_width)
        Two maps of the same shape: the source column and row of every
        output pixel, in pixel units with integer values at pixel centres.
        Positions outside [-0.5, width - 0.5] x [-0.5, height - 0.5] give
        black; to mark an output pixel as having no source, use a value such
        as -1 (not NaN, which the Lanczos-3 filter samples as coordinate 0).
        The source size and the map size are independent.  ``float64`` maps
        are refused: convert them with ``astype(np.float32)``.
    filter : {"bilinear", "lanczos3"}, default "bilinear"
        The sampling filter, as for ``warp_rgb``.

    Returns
    -------
    ndarray of the source's element type, shape (out_height, out_width, 3)
        A new, writeable array that shares nothing with the inputs.

    Raises
    ------
    TypeError
        "remap_rgb expects a (height, width, 3) array of uint8 or uint16
        and float32 maps" for any other ``src``; a conversion error with
        the note "while processing 'map_x'" (or ``'map_y'``) for a map that
        is not a two-dimensional ``float32`` array.
    ValueError
        "map_x and map_y must have the same shape"; "unknown filter ..."
        for a filter name other than the two.

    Examples
    --------
    Mirror left to right and shrink to half size:

    >>> import numpy as np, tessarin
    >>> rgb = np.zeros((120, 160, 3), np.uint8)
    >>> rgb[..., 0] = np.arange(160, dtype=np.uint8)[None, :]
    >>> rows, cols = np.mgrid[0:60, 0:80].astype(np.float32)
    >>> map_x = (159.0 - 2 * cols - 0.5).astype(np.float32)
    >>> map_y = (2 * rows + 0.5).astype(np.float32)
    >>> small = tessarin.remap_rgb(rgb, map_x, map_y)
    >>> small.shape, int(small[0, 0, 0])
    ((60, 80, 3), 159)
    """

def remap_gray(
    src: npt.NDArray[_Pixel],
    map_x: npt.NDArray[np.float32],
    map_y: npt.NDArray[np.float32],
    filter: _Filter = "bilinear",
) -> npt.NDArray[_Pixel]:
    """Resample a single-channel image (a mask) through a coordinate map.

    As ``remap_rgb`` for a ``(height, width)`` array of ``uint8`` or
    ``uint16``.  Use the same maps as for the RGB image to keep a mask
    aligned with it.

    Parameters
    ----------
    src : ndarray of uint8 or uint16, shape (height, width)
        The single-channel image, in any layout.
    map_x, map_y : ndarray of float32, shape (out_height, out_width)
        As for ``remap_rgb``.
    filter : {"bilinear", "lanczos3"}, default "bilinear"
        The sampling filter.

    Returns
    -------
    ndarray of the source's element type, shape (out_height, out_width)
        A new, writeable array that shares nothing with the inputs.

    Raises
    ------
    TypeError
        "remap_gray expects a (height, width) array of uint8 or uint16 and
        float32 maps" for any other ``src``; a conversion error with a note
        naming the map, as for ``remap_rgb``.
    ValueError
        "map_x and map_y must have the same shape"; "unknown filter ...".

    Examples
    --------
    >>> import numpy as np, tessarin
    >>> mask = np.zeros((120, 160), np.uint8)
    >>> mask[30:90, 40:120] = 255
    >>> rows, cols = np.mgrid[0:60, 0:80].astype(np.float32)
    >>> half = tessarin.remap_gray(mask, 2 * cols + 0.5, 2 * rows + 0.5)
    >>> half.shape, int(half[30, 40]), int(half[0, 0])
    ((60, 80), 255, 0)
    """
