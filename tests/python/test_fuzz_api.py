"""Random arguments for every parameter of the four functions: any dtype and
byte order, any number of dimensions, sizes from 0 up, negative, zero and
unaligned strides, hostile values and arbitrary Python objects. Each call
gives a well-formed result or one of the documented exceptions; never a
SystemError and never a crash."""
import math
import random

import numpy as np
import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import tessarin
from conftest import examples

ALLOWED = (TypeError, ValueError, OverflowError, MemoryError, UnicodeEncodeError)


class Boom(Exception):
    """Raised by the hostile objects below; must come back unchanged."""


class FloatBoom:
    def __float__(self):
        raise Boom


class IndexOnly:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class WrongFloat:
    def __float__(self):
        return "not a float"


class LyingSequence:
    """Claims nine items, then fails to produce them."""

    def __len__(self):
        return 9

    def __getitem__(self, i):
        if i > 4:
            raise Boom
        return 1.0


class NegativeLength:
    def __len__(self):
        return -1

    def __getitem__(self, i):
        return 0.0


DTYPES = sorted({np.dtype(t).str for t in set(np.sctypeDict.values()) if np.dtype(t).kind != "V"})
DTYPES += [np.dtype(s).newbyteorder(o).str for s in ("u2", "f4", "f8") for o in "<>"]
NATIVE = ["=u1", "=u2", "=f4", "=f8"]
SIZES = st.sampled_from([0, 1, 2, 3, 5, 17])
LAYOUTS = ["plain", "reversed", "transposed", "broadcast", "field", "fortran"]
SPECIALS = [np.nan, np.inf, -np.inf, 0.0, -0.0, 1e300, -1e-310, 255.0, 65535.0]


@st.composite
def arrays(draw, ndim=None, dtypes=DTYPES, shape=None, channels=None):
    if shape is None:
        nd = draw(st.integers(0, 4)) if ndim is None else ndim
        shape = tuple(draw(SIZES) for _ in range(nd))
        if channels is not None and nd:
            shape = shape[:-1] + (channels,)
    nd = len(shape)
    dtype = np.dtype(draw(st.sampled_from(dtypes)))
    layout = draw(st.sampled_from(LAYOUTS))
    if layout == "transposed":
        shape = shape[::-1]
    if layout == "field":
        # A field of packed records: strides are not multiples of the item
        # size and the data is misaligned.
        a = np.zeros(shape, np.dtype([("pad", "u1"), ("v", dtype)], align=False))["v"]
    else:
        a = np.zeros(shape, dtype, order="F" if layout == "fortran" else "C")
    fill = draw(st.sampled_from(["raw", "special", "random"])) if dtype.kind in "biufc" else None
    with np.errstate(all="ignore"):
        if fill == "raw":
            n = a.size * dtype.itemsize
            a[...] = np.frombuffer(draw(st.binary(min_size=n, max_size=n)), dtype=dtype).reshape(shape)
        elif fill == "special":
            a[...] = np.array(draw(st.sampled_from(SPECIALS))).astype(dtype)
        elif fill == "random":
            a[...] = np.random.default_rng(draw(st.integers(0, 2**32))).uniform(-3, 300, shape).astype(dtype)
    if layout == "broadcast" and nd:
        a = np.broadcast_to(a[(slice(0, 1),) * (nd - 1)], shape)
    elif layout == "reversed":
        a = a[(slice(None, None, -1),) * nd]
    elif layout == "transposed":
        a = a.T
    return a


def chance(draw, p):
    # Hypothesis leans towards the ends of ranges and the first branches; a
    # seeded generator keeps these odds as written.
    return random.Random(draw(st.integers(0, 2**64))).random() < p


@st.composite
def mostly(draw, valid, hostile, p=0.1):
    """Mostly valid, so that calls with several arguments get past the checks
    often enough to reach the native code."""
    return draw(hostile if chance(draw, p) else valid)


OBJECTS = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(-(2**70), 2**70),
    st.floats(allow_nan=True, allow_infinity=True),
    st.text(max_size=12),
    st.sampled_from(["bilinear", "lanczos3", "\ud800", "lanczos3\x00", "Bilinear", "\u0301x", ""]),
    st.binary(max_size=8),
    st.lists(st.floats(), max_size=10),
    st.tuples(st.integers(-3, 2**65), st.integers(-3, 2**65)),
    st.tuples(st.floats(), st.integers()),
    st.just((IndexOnly(3), IndexOnly(4))),
    st.just((IndexOnly(-1), 2)),
    st.builds(FloatBoom),
    st.builds(WrongFloat),
    st.builds(LyingSequence),
    st.builds(NegativeLength),
    st.builds(dict),
    st.builds(object),
    st.builds(np.float32, st.floats(width=32)),
    arrays(),
)

GRAY = mostly(arrays(2, NATIVE), arrays(), 0.3)
RGB = mostly(arrays(3, NATIVE[:2], channels=3), arrays())
MATRICES = mostly(
    st.one_of(
        st.lists(st.floats(), min_size=9, max_size=9),
        st.lists(st.floats(-2, 2), min_size=9, max_size=9).map(tuple),
        st.lists(st.floats(-2, 2), min_size=9, max_size=9).map(np.array),
    ),
    OBJECTS,
)
SCALARS = mostly(st.one_of(st.floats(), st.floats(0.05, 3.0), st.integers(-5, 5)), OBJECTS, 0.2)
FILTERS = mostly(st.sampled_from(["bilinear", "lanczos3"]), OBJECTS)
OUT_SIZES = mostly(st.one_of(st.none(), st.tuples(SIZES, SIZES), st.tuples(st.integers(0, 40), SIZES)), OBJECTS)


def call(fn, args, kwargs):
    try:
        out = fn(*args, **kwargs)
    except (Boom, *ALLOWED) as exc:
        event(type(exc).__name__)
        return None, exc
    event("result")
    return out, None


def split(draw, names, values, required):
    """Some leading arguments by position, the rest by keyword (the optional
    ones only sometimes). Returns the arguments and the values in effect."""
    cut = draw(st.integers(0, len(values)))
    kwargs = {}
    for i in range(cut, len(values)):
        if i < required or draw(st.booleans()):
            kwargs[names[i]] = values[i]
    if chance(draw, 0.03):
        kwargs[draw(st.sampled_from(["bogus", names[0]]))] = None  # unknown or duplicate keyword
    passed = dict(zip(names, values[:cut])) | kwargs
    return list(values[:cut]), kwargs, passed


FUZZ = settings(max_examples=examples(250), deadline=None, suppress_health_check=list(HealthCheck))


def resampled_dtype(src):
    return src.dtype.newbyteorder("=")


@FUZZ
@given(st.data(), GRAY, SCALARS)
def test_detect(data, gray, scale):
    args, kwargs, _ = split(data.draw, ["gray", "scale"], [gray, scale], 1)
    out, exc = call(tessarin.detect, args, kwargs)
    if exc is None:
        assert isinstance(out, list) and all(type(s) is tessarin.Segment for s in out)
        for s in out:
            assert all(math.isfinite(v) for v in (s.x1, s.y1, s.x2, s.y2, s.width)), s


@FUZZ
@given(st.data(), RGB, MATRICES, SCALARS, SCALARS, SCALARS, FILTERS, OUT_SIZES)
def test_warp_rgb(data, src, inverse, scale, off_x, off_y, filter, out_size):
    names = ["src", "inverse", "scale", "off_x", "off_y", "filter", "out_size"]
    args, kwargs, passed = split(data.draw, names, [src, inverse, scale, off_x, off_y, filter, out_size], 5)
    out, exc = call(tessarin.warp_rgb, args, kwargs)
    if exc is None:
        assert out.dtype == resampled_dtype(src) and out.flags.c_contiguous and out.shape[2] == 3
        size = passed.get("out_size")
        if size is not None:
            assert out.shape[:2] == (int(size[1]), int(size[0]))
        else:
            assert out.shape == src.shape


@pytest.mark.parametrize("fn, ndim", [(tessarin.remap_rgb, 3), (tessarin.remap_gray, 2)])
@FUZZ
@given(data=st.data(), shape=st.tuples(SIZES, SIZES))
def test_remap(fn, ndim, data, shape):
    src = data.draw(mostly(arrays(ndim, NATIVE[:2], channels=3 if ndim == 3 else None), arrays()))
    mx = data.draw(mostly(arrays(dtypes=["=f4"], shape=shape), OBJECTS))
    my = data.draw(mostly(arrays(dtypes=["=f4"], shape=shape), OBJECTS))
    filter = data.draw(FILTERS)
    args, kwargs, _ = split(data.draw, ["src", "map_x", "map_y", "filter"], [src, mx, my, filter], 3)
    out, exc = call(fn, args, kwargs)
    if exc is None:
        assert out.dtype == resampled_dtype(src) and out.shape[:2] == mx.shape == my.shape
        assert out.shape[2:] == src.shape[2:]
