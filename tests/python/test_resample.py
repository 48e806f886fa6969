import gc
import os

import numpy as np
import pytest

import tessarin

IDENTITY = [1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0]
FILTERS = ["bilinear", "lanczos3"]
DTYPES = [np.uint8, np.uint16]
WARP_ERROR = "warp_rgb expects a (height, width, 3) array of uint8 or uint16"
RGB_ERROR = "remap_rgb expects a (height, width, 3) array of uint8 or uint16 and float32 maps"
GRAY_ERROR = "remap_gray expects a (height, width) array of uint8 or uint16 and float32 maps"


def image(height, width, channels=3, dtype=np.uint8, seed=1):
    """Random samples from 1 to MAX, so that an unwritten (zero) pixel shows."""
    top = np.iinfo(dtype).max
    shape = (height, width, channels) if channels else (height, width)
    return np.random.default_rng(seed).integers(1, top, size=shape, endpoint=True, dtype=dtype)


def identity_maps(height, width):
    ys, xs = np.mgrid[0:height, 0:width]
    return xs.astype(np.float32), ys.astype(np.float32)


def remap(src, map_x, map_y, filter="bilinear"):
    fn = tessarin.remap_rgb if src.ndim == 3 else tessarin.remap_gray
    return fn(src, map_x, map_y, filter)


def raised(call):
    with pytest.raises(Exception) as info:
        call()
    return type(info.value), str(info.value), getattr(info.value, "__notes__", None)


# --- identity ------------------------------------------------------------------------------------

@pytest.mark.parametrize("filter", FILTERS)
@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize("inverse", [IDENTITY, tuple(IDENTITY), np.array(IDENTITY), np.eye(3).ravel()])
def test_identity_warp_reproduces_source(filter, dtype, inverse):
    src = image(9, 13, dtype=dtype)
    before = src.copy()
    out = tessarin.warp_rgb(src, inverse, 1.0, 0.0, 0.0, filter)
    assert out.dtype == dtype and out.shape == src.shape
    np.testing.assert_array_equal(out, src)
    assert out is not src and out.base is not src
    assert not np.shares_memory(out, src)
    assert out.flags.c_contiguous and out.flags.writeable
    out[...] = 0
    np.testing.assert_array_equal(src, before)


@pytest.mark.parametrize("filter", FILTERS)
@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize("channels", [3, 0])
def test_identity_maps_reproduce_source(filter, dtype, channels):
    src = image(7, 11, channels, dtype)
    before = src.copy()
    out = remap(src, *identity_maps(7, 11), filter)
    assert out.dtype == dtype and out.shape == src.shape
    np.testing.assert_array_equal(out, src)
    assert out.base is not src and not np.shares_memory(out, src)
    out[...] = 0
    np.testing.assert_array_equal(src, before)


# --- geometry ------------------------------------------------------------------------------------

@pytest.mark.parametrize("dtype", DTYPES)
def test_scale_two_samples_between_pixels(dtype):
    src = image(5, 6, dtype=dtype)
    out = tessarin.warp_rgb(src, IDENTITY, 2.0, 0.0, 0.0, "bilinear", (12, 8)).astype(np.int64)
    wide = src.astype(np.int64)
    # Even output pixels land on source centres; odd columns halfway between two.
    np.testing.assert_array_equal(out[0:8:2, 0:12:2], wide[:4])
    np.testing.assert_array_equal(out[0:8:2, 1:11:2], (wide[:4, :-1] + wide[:4, 1:] + 1) // 2)
    lanczos = tessarin.warp_rgb(src, IDENTITY, 2.0, 0.0, 0.0, "lanczos3", (12, 8))
    np.testing.assert_array_equal(lanczos[0:8:2, 0:12:2], src[:4])


@pytest.mark.parametrize("filter", FILTERS)
def test_offsets_shift_the_image(filter):
    src = image(6, 14)
    out = tessarin.warp_rgb(src, IDENTITY, 1.0, 10.0, 2.0, filter)
    np.testing.assert_array_equal(out[:4, :4], src[2:, 10:])
    assert not out[4:].any() and not out[:, 4:].any()


@pytest.mark.parametrize("filter", FILTERS)
def test_negative_w_is_divided_through(filter):
    src = image(6, 8, dtype=np.uint16)
    negated = [-1, 0, 0, 0, -1, 0, 0, 0, -1]
    np.testing.assert_array_equal(tessarin.warp_rgb(src, negated, 1, 0, 0, filter), src)


@pytest.mark.parametrize("filter", FILTERS)
def test_zero_w_and_larger_output(filter):
    src = image(4, 5)
    assert not tessarin.warp_rgb(src, [1, 0, 0, 0, 1, 0, 0, 0, 0], 1, 0, 0, filter).any()
    big = tessarin.warp_rgb(src, IDENTITY, 1, 0, 0, filter, (8, 6))
    assert big.shape == (6, 8, 3)
    np.testing.assert_array_equal(big[:4, :5], src)
    assert not big[4:].any() and not big[:, 5:].any()


@pytest.mark.parametrize("filter", FILTERS)
def test_scale_zero(filter):
    # Every plane point is infinite or NaN, so every position is NaN: 0 with the
    # bilinear filter, pixel (0, 0) with Lanczos-3.
    src = image(4, 5)
    out = tessarin.warp_rgb(src, IDENTITY, 0.0, 0.0, 0.0, filter)
    expected = np.broadcast_to(src[0, 0], src.shape) if filter == "lanczos3" else np.zeros_like(src)
    np.testing.assert_array_equal(out, expected)


@pytest.mark.parametrize("channels", [3, 0])
@pytest.mark.parametrize("filter", FILTERS)
def test_maps_of_another_size(channels, filter):
    src = image(4, 6, channels)
    xs = np.array([[0, 5, 6, 2, -3], [1, 1, 1, 1, 1]], np.float32)
    ys = np.array([[0, 3, 0, 4, 1], [0, 1, 2, 3, 9]], np.float32)
    out = remap(src, xs, ys, filter)
    assert out.shape == (2, 5) + src.shape[2:]
    inside = (xs <= 5.5) & (ys <= 3.5) & (xs >= 0)
    np.testing.assert_array_equal(out[inside], src[ys[inside].astype(int), xs[inside].astype(int)])
    assert not out[~inside].any()


@pytest.mark.parametrize("dtype", DTYPES)
def test_half_pixel_right_is_rounded_up_mean(dtype):
    src = image(3, 7, 0, dtype)
    xs, ys = identity_maps(3, 7)
    out = tessarin.remap_gray(src, xs + np.float32(0.5), ys).astype(np.int64)
    wide = src.astype(np.int64)
    np.testing.assert_array_equal(out[:, :-1], (wide[:, :-1] + wide[:, 1:] + 1) // 2)
    np.testing.assert_array_equal(out[:, -1], wide[:, -1])


@pytest.mark.parametrize("channels", [3, 0])
@pytest.mark.parametrize("filter", FILTERS)
def test_special_map_values(channels, filter):
    src = image(5, 4, channels, np.uint16)
    specials = np.array([-0.5, -0.51, np.inf, -np.inf, np.nan, 3.5, 3.51, -0.0, -0.4999, 3.4999], np.float32)
    xs = specials[None, :]
    ys = np.full_like(xs, 2)
    out = remap(src, xs, ys, filter)[0]
    assert not out[[1, 2, 3, 6]].any()
    np.testing.assert_array_equal(out[7], src[2, 0])
    # The window's bounds are inside: they sample like their neighbours with
    # the same floor and table row.
    np.testing.assert_array_equal(out[0], out[8])
    np.testing.assert_array_equal(out[5], out[9])
    if filter == "bilinear":
        # Inside the half-pixel margin the edge pixel is replicated; NaN gives 0.
        np.testing.assert_array_equal(out[0], src[2, 0])
        np.testing.assert_array_equal(out[5], src[2, 3])
        assert not out[4].any()
    else:
        # A NaN column samples like column 0.
        np.testing.assert_array_equal(out[4], src[2, 0])
    # The same values as rows.
    out_rows = remap(src, np.ones_like(xs.T), xs.T.copy(), filter)[:, 0]
    assert not out_rows[[1, 2, 3]].any()
    np.testing.assert_array_equal(out_rows[0], out_rows[8])
    if filter == "bilinear":
        np.testing.assert_array_equal(out_rows[0], src[0, 1])
        assert not out_rows[4].any()
    else:
        np.testing.assert_array_equal(out_rows[4], src[0, 1])


# --- argument errors -----------------------------------------------------------------------------

SRC = image(4, 5)
GRAY = image(4, 5, 0)
MX, MY = identity_maps(4, 5)


class Seq:
    """A sequence that reports length 9 but fails on its fourth item."""

    def __len__(self):
        return 9

    def __getitem__(self, i):
        if i == 3:
            raise KeyError("no item 3")
        return 1.0


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: tessarin.warp_rgb(SRC, np.eye(3), 1, 0, 0),
         (ValueError, "expected a sequence of length 9 (got 3)", ["while processing 'inverse'"])),
        (lambda: tessarin.warp_rgb(SRC, IDENTITY[:8], 1, 0, 0),
         (ValueError, "expected a sequence of length 9 (got 8)", ["while processing 'inverse'"])),
        (lambda: tessarin.warp_rgb(SRC, 5, 1, 0, 0),
         (TypeError, "'int' object cannot be converted to 'Sequence'", ["while processing 'inverse'"])),
        (lambda: tessarin.warp_rgb(SRC, {i: 1 for i in range(9)}, 1, 0, 0),
         (TypeError, "'dict' object cannot be converted to 'Sequence'", ["while processing 'inverse'"])),
        (lambda: tessarin.warp_rgb(SRC, Seq(), 1, 0, 0),
         (KeyError, "'no item 3'", ["while processing 'inverse'"])),
        (lambda: tessarin.warp_rgb(SRC, IDENTITY[:8] + ["x"], 1, 0, 0),
         (TypeError, "must be real number, not str", ["while processing 'inverse'"])),
        # A bad inverse is reported before a bad scale, and a bad scale before
        # a bad offset or source.
        (lambda: tessarin.warp_rgb(None, IDENTITY[:3], "s", "x", "y"),
         (ValueError, "expected a sequence of length 9 (got 3)", ["while processing 'inverse'"])),
        (lambda: tessarin.warp_rgb(None, IDENTITY, "s", "x", "y"),
         (TypeError, "must be real number, not str", ["while processing 'scale'"])),
        (lambda: tessarin.warp_rgb(None, IDENTITY, 1, None, "y"),
         (TypeError, "must be real number, not NoneType", ["while processing 'off_x'"])),
        (lambda: tessarin.warp_rgb(None, IDENTITY, 1, 0, [0]),
         (TypeError, "must be real number, not list", ["while processing 'off_y'"])),
        (lambda: tessarin.warp_rgb(None, IDENTITY, 1, 0, 0, b"bilinear", [1, 2]),
         (TypeError, "'bytes' object cannot be converted to 'str'", ["while processing 'filter'"])),
        # out_size is converted before the filter name is examined.
        (lambda: tessarin.warp_rgb(SRC, IDENTITY, 1, 0, 0, "cubic", [640, 480]),
         (TypeError, "'list' object cannot be converted to 'tuple'", ["while processing 'out_size'"])),
        (lambda: tessarin.warp_rgb(SRC, IDENTITY, 1, 0, 0, out_size=(640, 480, 3)),
         (ValueError, "expected tuple of length 2, but got tuple of length 3", ["while processing 'out_size'"])),
        (lambda: tessarin.warp_rgb(SRC, IDENTITY, 1, 0, 0, out_size=(640.0, 480)),
         (TypeError, "'float' object cannot be interpreted as an integer", ["while processing 'out_size'"])),
        (lambda: tessarin.warp_rgb(SRC, IDENTITY, 1, 0, 0, out_size=(640, -1)),
         (OverflowError, "can't convert negative int to unsigned", ["while processing 'out_size'"])),
        (lambda: tessarin.warp_rgb(SRC, IDENTITY, 1, 0, 0, out_size=(2**64, 1)),
         (OverflowError, "int too big to convert", ["while processing 'out_size'"])),
        # The filter name is examined before the source.
        (lambda: tessarin.warp_rgb(None, IDENTITY, 1, 0, 0, "Bilinear"),
         (ValueError, 'unknown filter "Bilinear", expected "bilinear" or "lanczos3"', None)),
        (lambda: tessarin.warp_rgb(SRC, IDENTITY, 1, 0, 0, " bilinear"),
         (ValueError, 'unknown filter " bilinear", expected "bilinear" or "lanczos3"', None)),
        (lambda: tessarin.warp_rgb(None, IDENTITY, 1, 0, 0),
         (TypeError, WARP_ERROR, None)),
        # remap: map_x, map_y, filter, src, shapes.
        (lambda: tessarin.remap_rgb(None, MX.astype(np.float64), None, "cubic"),
         (TypeError, "array of dtype float64 with 2 dimensions cannot be converted to a two-dimensional "
          "float32 array", ["while processing 'map_x'"])),
        (lambda: tessarin.remap_gray(GRAY, MX, MY.astype(np.float64)),
         (TypeError, "array of dtype float64 with 2 dimensions cannot be converted to a two-dimensional "
          "float32 array", ["while processing 'map_y'"])),
        (lambda: tessarin.remap_gray(GRAY, MX.tolist(), MY),
         (TypeError, "'list' object cannot be converted to 'ndarray'", ["while processing 'map_x'"])),
        (lambda: tessarin.remap_gray(GRAY, MX, MY[None]),
         (TypeError, "array of dtype float32 with 3 dimensions cannot be converted to a two-dimensional "
          "float32 array", ["while processing 'map_y'"])),
        (lambda: tessarin.remap_rgb(None, MX, MY, 3),
         (TypeError, "'int' object cannot be converted to 'str'", ["while processing 'filter'"])),
        (lambda: tessarin.remap_rgb(None, MX, MY.T, "cubic"),
         (ValueError, 'unknown filter "cubic", expected "bilinear" or "lanczos3"', None)),
        (lambda: tessarin.remap_rgb(GRAY, MX, MY.T),
         (TypeError, RGB_ERROR, None)),
        (lambda: tessarin.remap_gray(SRC, MX, MY.T),
         (TypeError, GRAY_ERROR, None)),
        (lambda: tessarin.remap_gray(GRAY, MX, MY.T),
         (ValueError, "map_x and map_y must have the same shape", None)),
        (lambda: tessarin.remap_rgb(SRC, MX, MY[:, :4]),
         (ValueError, "map_x and map_y must have the same shape", None)),
    ],
)
def test_errors_and_their_precedence(call, expected):
    assert raised(call) == expected


@pytest.mark.parametrize(
    "name, shown",
    [
        ("nearest", '"nearest"'),
        ('a"b\\c', '"a\\"b\\\\c"'),
        ("\t\r\n\x00", '"\\t\\r\\n\\0"'),
        ("\x01\x7f\x9f", '"\\u{1}\\u{7f}\\u{9f}"'),
        ("e\u0301 \u20dd", '"e\\u{301} \\u{20dd}"'),  # combining marks
        ("\u200b\u2028\ufeff", '"\\u{200b}\\u{2028}\\u{feff}"'),
        ("b\u00e9zier \u03bb \U0001f600", '"b\u00e9zier \u03bb \U0001f600"'),
        ("", '""'),
        ("bilinear\x00", '"bilinear\\0"'),
        ("lanczos", '"lanczos"'),
    ],
)
@pytest.mark.parametrize("fn", ["warp_rgb", "remap_rgb", "remap_gray"])
def test_unknown_filter_message(name, shown, fn):
    args = (SRC, IDENTITY, 1, 0, 0) if fn == "warp_rgb" else (None, MX, MY)
    kind, message, notes = raised(lambda: getattr(tessarin, fn)(*args, filter=name))
    assert (kind, notes) == (ValueError, None)
    assert message == f'unknown filter {shown}, expected "bilinear" or "lanczos3"'


class Name(str):
    pass


@pytest.mark.parametrize("fn", ["warp_rgb", "remap_rgb", "remap_gray"])
def test_filter_names(fn):
    call = getattr(tessarin, fn)
    src = GRAY if fn == "remap_gray" else SRC
    args = (src, IDENTITY, 1, 0, 0) if fn == "warp_rgb" else (src, MX, MY)
    for name in ["lanczos3", Name("lanczos3"), Name("bilinear")]:
        np.testing.assert_array_equal(call(*args, filter=name), src)
    kind, message, notes = raised(lambda: call(*args, filter="bi\udc80linear"))
    assert kind is UnicodeEncodeError and "surrogates not allowed" in message
    assert notes == ["while processing 'filter'"]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: tessarin.warp_rgb(), "warp_rgb() missing required argument 'src' (pos 1)"),
        (lambda: tessarin.warp_rgb(SRC, IDENTITY, 1, 0), "warp_rgb() missing required argument 'off_y' (pos 5)"),
        (lambda: tessarin.warp_rgb(SRC, IDENTITY, 1, 0, 0, "bilinear", None, 1),
         "warp_rgb() takes at most 7 arguments (8 given)"),
        (lambda: tessarin.remap_gray(GRAY, MX), "remap_gray() missing required argument 'map_y' (pos 3)"),
        (lambda: tessarin.remap_rgb(SRC, MX, MY, "bilinear", 1), "remap_rgb() takes at most 4 arguments (5 given)"),
        (lambda: tessarin.remap_rgb(SRC, MX, MY, src=SRC),
         "argument for remap_rgb() given by name ('src') and position (1)"),
    ],
)
def test_argument_binding(call, message):
    assert raised(call) == (TypeError, message, None)


def test_keywords_in_any_order():
    out = tessarin.warp_rgb(out_size=(2, 3), filter="lanczos3", off_y=0, off_x=0, scale=1, inverse=IDENTITY, src=SRC)
    np.testing.assert_array_equal(out, SRC[:3, :2])
    out = tessarin.remap_gray(map_y=MY, map_x=MX, src=GRAY)
    np.testing.assert_array_equal(out, GRAY)


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class Int(int):
    pass


class Pair(tuple):
    pass


@pytest.mark.parametrize(
    "size, shape",
    [((3, 2), (2, 3, 3)), ((Index(3), np.int64(2)), (2, 3, 3)), (Pair((Int(1), True)), (1, 1, 3)), (None, (4, 5, 3))],
)
def test_out_size_items(size, shape):
    out = tessarin.warp_rgb(SRC, IDENTITY, 1, 0, 0, "bilinear", size)
    assert out.shape == shape
    np.testing.assert_array_equal(out, SRC[: shape[0], : shape[1]])


@pytest.mark.parametrize(
    "make",
    [
        lambda: SRC.astype(np.float32),
        lambda: SRC.astype(np.int16),
        lambda: SRC.astype(">u2"),
        lambda: np.concatenate([SRC, SRC[..., :1]], axis=2),
        lambda: SRC[..., 0],
        lambda: SRC[None],
        lambda: SRC.tolist(),
    ],
)
def test_refused_sources(make):
    src = make()
    assert raised(lambda: tessarin.warp_rgb(src, IDENTITY, 1, 0, 0)) == (TypeError, WARP_ERROR, None)
    assert raised(lambda: tessarin.remap_rgb(src, MX, MY)) == (TypeError, RGB_ERROR, None)


def test_refused_gray_sources():
    for src in [GRAY.astype(np.float64), GRAY.astype(">u2"), SRC, GRAY[0], GRAY.astype(np.int8)]:
        assert raised(lambda: tessarin.remap_gray(src, MX, MY)) == (TypeError, GRAY_ERROR, None)


# --- layouts -------------------------------------------------------------------------------------

def misaligned(a):
    """The same values in a buffer one byte off the element alignment."""
    raw = np.zeros(a.nbytes + 1, np.uint8)
    view = raw[1:].view(a.dtype).reshape(a.shape)
    view[...] = a
    return view


def odd_strides(a):
    """The same values in a packed record field: byte strides not a multiple of the element size."""
    rec = np.zeros(a.shape, dtype=np.dtype([("pad", "u1"), ("v", a.dtype)], align=False))
    rec["v"] = a
    return rec["v"]


LAYOUTS = {
    "rows reversed": lambda a: a[::-1],
    "columns reversed": lambda a: a[:, ::-1],
    "transposed": lambda a: np.ascontiguousarray(np.swapaxes(a, 0, 1)).swapaxes(0, 1),
    "fortran": np.asfortranarray,
    "stepped": lambda a: np.repeat(np.repeat(a, 2, 0), 3, 1)[::2, ::3],
    "broadcast rows": lambda a: np.broadcast_to(a[:1], a.shape),
    "misaligned": misaligned,
    "odd strides": odd_strides,
}


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("dtype", DTYPES)
def test_warp_source_layouts(layout, dtype):
    src = image(7, 9, dtype=dtype)
    view = LAYOUTS[layout](src)
    if layout in ("rows reversed", "columns reversed"):
        assert not view.flags.c_contiguous
    inverse = [1.1, 0.05, -0.7, -0.02, 0.9, 0.4, 0.003, -0.004, 1.0]
    for filter in FILTERS:
        expected = tessarin.warp_rgb(np.ascontiguousarray(view), inverse, 1.3, 0.2, -0.1, filter, (8, 6))
        np.testing.assert_array_equal(tessarin.warp_rgb(view, inverse, 1.3, 0.2, -0.1, filter, (8, 6)), expected)
    reversed_channels = src[..., ::-1]
    np.testing.assert_array_equal(tessarin.warp_rgb(reversed_channels, IDENTITY, 1, 0, 0), reversed_channels)


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("channels", [3, 0])
def test_remap_layouts(layout, channels):
    src = image(6, 8, channels, np.uint16)
    rng = np.random.default_rng(3)
    xs = rng.uniform(-1, 8, (5, 7)).astype(np.float32)
    ys = rng.uniform(-1, 6, (5, 7)).astype(np.float32)
    make = LAYOUTS[layout]
    for filter in FILTERS:
        expected = remap(src, xs, ys, filter)
        np.testing.assert_array_equal(remap(make(src), xs, ys, filter), remap(np.ascontiguousarray(make(src)), xs,
                                                                                 ys, filter))
        np.testing.assert_array_equal(remap(src, make(xs), make(ys), filter),
                                      remap(src, np.ascontiguousarray(make(xs)), np.ascontiguousarray(make(ys)),
                                            filter))
        np.testing.assert_array_equal(remap(src, make(xs), ys, filter),
                                      remap(src, np.ascontiguousarray(make(xs)), ys, filter))
        np.testing.assert_array_equal(remap(src, xs.copy(), ys.copy(), filter), expected)


def test_map_transposed_from_other_shape_is_read_in_logical_order():
    src = image(5, 4, 0)
    xs, ys = identity_maps(5, 4)
    out = tessarin.remap_gray(src, np.ascontiguousarray(xs.T).T, ys)
    np.testing.assert_array_equal(out, src)


# --- empty and huge sizes ------------------------------------------------------------------------

@pytest.mark.parametrize("filter", FILTERS)
@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize(
    "src_shape, out_size, result_shape",
    [
        ((4, 0, 3), None, (4, 0, 3)),
        ((0, 4, 3), None, (0, 4, 3)),
        ((0, 0, 3), None, (0, 0, 3)),
        ((4, 5, 3), (0, 7), (7, 0, 3)),
        ((4, 5, 3), (7, 0), (0, 7, 3)),
        ((4, 0, 3), (5, 2), (2, 5, 3)),
        ((0, 4, 3), (5, 2), (2, 5, 3)),
        ((4, 5, 3), (0, 2**40), (2**40, 0, 3)),
    ],
)
def test_warp_empty_shapes(filter, dtype, src_shape, out_size, result_shape):
    src = np.ones(src_shape, dtype)
    out = tessarin.warp_rgb(src, IDENTITY, 1, 0, 0, filter, out_size)
    assert out.shape == result_shape and out.dtype == dtype
    assert not out.any()


@pytest.mark.parametrize("filter", FILTERS)
@pytest.mark.parametrize("channels", [3, 0])
@pytest.mark.parametrize(
    "src_hw, map_shape",
    [((4, 5), (0, 5)), ((4, 5), (3, 0)), ((4, 5), (0, 0)), ((0, 5), (2, 3)), ((4, 0), (2, 3)), ((0, 0), (0, 3))],
)
def test_remap_empty_shapes(filter, channels, src_hw, map_shape):
    src = np.ones(src_hw + ((3,) if channels else ()), np.uint8)
    xs = np.zeros(map_shape, np.float32)
    out = remap(src, xs, xs, filter)
    assert out.shape == map_shape + src.shape[2:]
    assert not out.any()


@pytest.mark.parametrize(
    "out_size, error",
    [
        ((2**32, 2**32), OverflowError),
        ((2**63, 1), OverflowError),
        ((2**62, 2), OverflowError),
        ((0, 2**63), OverflowError),
        ((2**62, 0), OverflowError),
        ((2**40, 2**20), MemoryError),
    ],
)
@pytest.mark.parametrize("contiguous", [True, False])
def test_warp_huge_outputs_are_refused(out_size, error, contiguous):
    src = SRC if contiguous else SRC[::-1]
    with pytest.raises(error) as info:
        tessarin.warp_rgb(src, IDENTITY, 1, 0, 0, "lanczos3", out_size)
    assert not getattr(info.value, "__notes__", None)


@pytest.mark.parametrize("channels", [3, 0])
def test_remap_huge_inputs_are_refused(channels):
    # Broadcast views must be copied; a copy larger than the address space fails.
    huge = np.broadcast_to(np.float32(0), (2**24, 2**24))
    src = image(2, 2, channels)
    with pytest.raises(MemoryError):
        remap(src, huge, huge)
    big_src = np.broadcast_to(src[:1, :1], (2**24, 2**24) + src.shape[2:])
    with pytest.raises(MemoryError):
        remap(big_src, MX, MY)
    with pytest.raises(MemoryError):
        tessarin.warp_rgb(np.broadcast_to(SRC[:1, :1], (2**24, 2**24, 3)), IDENTITY, 1, 0, 0)


# --- ownership -----------------------------------------------------------------------------------

def test_results_outlive_their_source():
    src = image(6, 7, dtype=np.uint16)
    expected = src.copy()
    warped = tessarin.warp_rgb(src, IDENTITY, 1, 0, 0)
    gray = src[..., 1].copy()
    remapped = tessarin.remap_gray(gray, *identity_maps(6, 7))
    base = warped.base
    del src, gray
    gc.collect()
    np.testing.assert_array_equal(warped, expected)
    np.testing.assert_array_equal(remapped, expected[..., 1])
    view = warped[2:4]
    del warped
    gc.collect()
    assert view.base.base is base
    np.testing.assert_array_equal(view, expected[2:4])


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_memory_stays_flat():
    src = image(64, 64, dtype=np.uint16)
    strided = src[::-1, ::-1]
    xs, ys = identity_maps(64, 64)
    gray = src[..., 0]  # not contiguous: copied on every call
    inverse = np.array([1.01, 0.02, -0.5, 0.0, 0.98, 0.3, 1e-4, 0.0, 1.0])

    def round_of_calls():
        tessarin.warp_rgb(strided, inverse, 1.0, 0.0, 0.0, "lanczos3")
        tessarin.warp_rgb(src, inverse, 1.0, 0.0, 0.0, "bilinear", (80, 70))
        tessarin.remap_rgb(strided, xs.T, ys.T, "bilinear")
        tessarin.remap_gray(gray, xs, ys[::-1], "lanczos3")
        for bad in [
            lambda: tessarin.warp_rgb(strided, inverse, 1.0, 0.0, 0.0, "lanczos3", (2**40, 2**20)),
            lambda: tessarin.warp_rgb(strided, inverse, 1.0, 0.0, 0.0, "lanczos3", (2**62, 2)),
            lambda: tessarin.warp_rgb(strided, inverse[:8], 1.0, 0.0, 0.0),
            lambda: tessarin.warp_rgb(strided, inverse, 1.0, 0.0, 0.0, "x\u0301"),
            lambda: tessarin.warp_rgb(strided, inverse, 1.0, 0.0, 0.0, out_size=(1, -1)),
            lambda: tessarin.remap_rgb(strided, xs, ys[:3]),
            lambda: tessarin.remap_gray(src, xs, ys),
            lambda: tessarin.remap_gray(gray, xs.astype(np.float64), ys),
            lambda: tessarin.remap_gray(gray, xs, ys, "bi\udc80linear"),
            lambda: tessarin.remap_gray(np.broadcast_to(gray[:1, :1], (2**24, 2**24)), xs, ys),
        ]:
            with pytest.raises(Exception):
                bad()

    for _ in range(100):
        round_of_calls()
    gc.collect()
    before = resident_bytes()
    for _ in range(2000):
        round_of_calls()
    gc.collect()
    # A leaked result, copy or exception per call would add tens of megabytes.
    assert resident_bytes() - before < 8 * 2**20
