"""The resamplers against a plain NumPy statement of the same arithmetic.

The reference below is written from the definition of the filters, one array
operation per rounded double operation, so any change of evaluation order,
clamping or rounding in the module shows up as a difference in some pixel.
"""
import math

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra.numpy import arrays

import tessarin
from conftest import examples

PI = 3.141592653589793


def _kernel(d):
    if d == 0.0:
        return 1.0
    if abs(d) >= 3.0:
        return 0.0
    a = d * PI
    b = a / 3.0
    return (math.sin(a) / a) * (math.sin(b) / b)


def _table():
    rows = []
    for r in range(1025):
        t = r * 0.0009765625
        raw = [_kernel(t + 2.0 - k) for k in range(6)]
        s = 0.0
        for v in raw:
            s = s + v
        rows.append([v / s for v in raw])
    return np.array(rows)


TABLE = _table()


def _floor_index(f):
    """Floors as 64-bit indices, NaN as 0 (positions in the window are finite or NaN)."""
    return np.where(np.isnan(f), 0.0, f).astype(np.int64)


def _store(acc, dtype):
    top = float(np.iinfo(dtype).max)
    v = acc + 0.5
    v = np.where(v > 0.0, v, 0.0)  # NaN stores 0
    v = np.where(v < top, v, top)
    return v.astype(dtype)


def reference(src, xs, ys, filter):
    """Samples (h, w, n) `src` at float64 positions `xs`, `ys` of one shape."""
    h, w, n = src.shape
    out = np.zeros(xs.shape + (n,), src.dtype)
    if h == 0 or w == 0:
        return out
    with np.errstate(invalid="ignore"):
        inside = ~((xs < -0.5) | (xs > w - 0.5) | (ys < -0.5) | (ys > h - 0.5))
    x, y = xs[inside], ys[inside]
    fx0, fy0 = np.floor(x), np.floor(y)
    ix, iy = _floor_index(fx0), _floor_index(fy0)
    p = src.astype(np.float64)
    with np.errstate(invalid="ignore"):
        if filter == "bilinear":
            x0, x1 = np.clip(ix, 0, w - 1), np.clip(ix + 1, 0, w - 1)
            y0, y1 = np.clip(iy, 0, h - 1), np.clip(iy + 1, 0, h - 1)
            fx, fy = x - fx0, y - fy0
            w00 = ((1.0 - fx) * (1.0 - fy))[:, None]
            w10 = (fx * (1.0 - fy))[:, None]
            w01 = ((1.0 - fx) * fy)[:, None]
            w11 = (fx * fy)[:, None]
            acc = p[y0, x0] * w00 + p[y0, x1] * w10
            acc = acc + p[y1, x0] * w01
            acc = acc + p[y1, x1] * w11
        else:
            def row(frac):
                f = frac * 1024.0
                f = np.where(np.isnan(f), 0.0, f)
                whole = np.trunc(f)
                return (whole + (f - whole >= 0.5)).astype(np.int64)

            wx, wy = TABLE[row(x - fx0)], TABLE[row(y - fy0)]
            acc = np.zeros((x.size, n))
            for j in range(6):
                rows = np.clip(iy - 2 + j, 0, h - 1)
                for k in range(6):
                    cols = np.clip(ix - 2 + k, 0, w - 1)
                    acc = acc + p[rows, cols] * (wx[:, k] * wy[:, j])[:, None]
    out[inside] = _store(acc, src.dtype)
    return out


def warp_positions(inverse, scale, off_x, off_y, out_w, out_h):
    h0, h1, h2, h3, h4, h5, h6, h7, h8 = inverse
    with np.errstate(all="ignore"):
        big_x = (np.arange(out_w, dtype=np.float64) / scale + off_x)[None, :]
        big_y = (np.arange(out_h, dtype=np.float64) / scale + off_y)[:, None]
        u = h0 * big_x + (h1 * big_y + h2)
        v = h3 * big_x + (h4 * big_y + h5)
        w = h6 * big_x + (h7 * big_y + h8)
        sx = np.where(w == 0.0, np.inf, u / w)  # a point at infinity is skipped
        sy = v / w
    return sx, sy


# --- strategies ----------------------------------------------------------------------------------

dtypes = st.sampled_from([np.uint8, np.uint16])
filters = st.sampled_from(["bilinear", "lanczos3"])


@st.composite
def sources(draw, channels):
    dtype = draw(dtypes)
    h, w = draw(st.integers(0, 9)), draw(st.integers(0, 9))
    # Mostly extremes and a few levels, so that clamping and overshoot occur.
    top = int(np.iinfo(dtype).max)
    elements = st.one_of(st.sampled_from([0, top, top // 2]), st.integers(0, top))
    return draw(arrays(dtype, (h, w, channels), elements=elements))


def coordinates(size):
    return st.one_of(
        st.floats(-2.0, size + 2.0, width=32),
        st.integers(-8, 4 * size + 8).map(lambda k: k / 4),  # centres, halves and quarters
        st.sampled_from([-0.5, size - 0.5, -0.5078125, float("nan"), float("inf"), float("-inf"), -0.0]),
    )


@st.composite
def maps(draw, src):
    h, w = src.shape[:2]
    shape = (draw(st.integers(0, 7)), draw(st.integers(0, 7)))
    xs = draw(arrays(np.float32, shape, elements=coordinates(w)))
    ys = draw(arrays(np.float32, shape, elements=coordinates(h)))
    return xs, ys


quarters = st.integers(-16, 16).map(lambda k: k / 4)


@st.composite
def placements(draw):
    """An inverse homography with the scale and offsets of the output grid."""
    kind = draw(st.sampled_from(["near identity", "dyadic", "any"]))
    if kind == "dyadic":
        # Source positions on quarter pixels: ties at .5 in the output rounding.
        linear = st.sampled_from([0.0, 0.5, 1.0, 2.0, -1.0, -0.5, 0.25])
        inverse = [draw(linear), draw(linear), draw(quarters),
                   draw(linear), draw(linear), draw(quarters),
                   0.0, 0.0, draw(st.sampled_from([1.0, 2.0, -1.0, 0.5]))]
        scale = draw(st.sampled_from([1.0, 2.0, 4.0, 0.5, -2.0]))
        return inverse, scale, draw(quarters), draw(quarters)
    if kind == "near identity":
        near, tiny = st.floats(-0.4, 0.4), st.floats(-0.08, 0.08)
        inverse = [1 + draw(near), draw(near), draw(st.floats(-3, 3)),
                   draw(near), 1 + draw(near), draw(st.floats(-3, 3)),
                   draw(tiny), draw(tiny), 1 + draw(near)]
    else:
        # Anything at all, including zeros in the third row and negated matrices.
        inverse = draw(st.lists(st.one_of(st.floats(-3, 3), st.sampled_from([0.0, -1.0, 1.0])),
                                min_size=9, max_size=9))
    scale = draw(st.one_of(st.floats(0.2, 5.0), st.sampled_from([1.0, 2.0, -1.0, 0.0])))
    return inverse, scale, draw(st.floats(-4, 4)), draw(st.floats(-4, 4))


# --- properties ----------------------------------------------------------------------------------

@settings(max_examples=examples(400), deadline=None)
@given(data=st.data(), filter=filters, channels=st.sampled_from([1, 3]))
def test_remap_matches_reference(data, filter, channels):
    src = data.draw(sources(channels))
    xs, ys = data.draw(maps(src))
    expected = reference(src, xs.astype(np.float64), ys.astype(np.float64), filter)
    if channels == 1:
        np.testing.assert_array_equal(tessarin.remap_gray(src[..., 0], xs, ys, filter), expected[..., 0])
    else:
        np.testing.assert_array_equal(tessarin.remap_rgb(src, xs, ys, filter), expected)


@settings(max_examples=examples(300), deadline=None)
@given(data=st.data(), filter=filters, placement=placements(),
       out_size=st.tuples(st.integers(0, 8), st.integers(0, 8)))
def test_warp_matches_reference(data, filter, placement, out_size):
    src = data.draw(sources(3))
    inverse, scale, off_x, off_y = placement
    sx, sy = warp_positions(inverse, scale, off_x, off_y, *out_size)
    expected = reference(src, sx, sy, filter)
    np.testing.assert_array_equal(tessarin.warp_rgb(src, inverse, scale, off_x, off_y, filter, out_size), expected)


def test_reference_table_rows():
    # Rows the reference must reproduce before it can judge anything.
    np.testing.assert_allclose(TABLE[512], [0.0244565217, -0.1358695652, 0.6114130435, 0.6114130435,
                                            -0.1358695652, 0.0244565217], atol=1e-10)
    np.testing.assert_allclose(TABLE[256], [0.0301122854, -0.1332746355, 0.8927707741, 0.2710105683,
                                            -0.0679972630, 0.0073782709], atol=1e-10)
    assert TABLE[0, 5] == 0.0 and TABLE[1024, 0] == 0.0
    np.testing.assert_allclose(TABLE[768], TABLE[256][::-1], rtol=0, atol=1e-15)
