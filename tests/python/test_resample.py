import gc
import os

import numpy as np
import pytest

import tessarin
from conftest import SANITIZED, skip_under_emulation

I = [1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0]
FILTERS = ["bilinear", "lanczos3"]
DTYPES = [np.uint8, np.uint16]
WARP_ERROR = "warp_rgb expects a (height, width, 3) array of uint8 or uint16"
RGB_ERROR = "remap_rgb expects a (height, width, 3) array of uint8 or uint16 and float32 maps"
GRAY_ERROR = "remap_gray expects a (height, width) array of uint8 or uint16 and float32 maps"
F64_MAP = "array of dtype float64 with 2 dimensions cannot be converted to a two-dimensional float32 array"


def note(name):
    return [f"while processing '{name}'"]


def image(height, width, channels=3, dtype=np.uint8, seed=1):
    """Samples from 1 to MAX, so that an unwritten (zero) pixel shows."""
    shape = (height, width, channels) if channels else (height, width)
    return np.random.default_rng(seed).integers(1, np.iinfo(dtype).max, shape, dtype, endpoint=True)


def identity_maps(height, width):
    ys, xs = np.mgrid[0:height, 0:width]
    return xs.astype(np.float32), ys.astype(np.float32)


def remap(src, map_x, map_y, filter="bilinear"):
    return (tessarin.remap_rgb if src.ndim == 3 else tessarin.remap_gray)(src, map_x, map_y, filter)


def raised(fn, *args, **kwargs):
    with pytest.raises(Exception) as info:
        fn(*args, **kwargs)
    return type(info.value), str(info.value), getattr(info.value, "__notes__", None)


SRC, GRAY = image(4, 5), image(4, 5, 0)
MX, MY = identity_maps(4, 5)


@pytest.mark.parametrize("filter", FILTERS)
@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize(
    "call",
    [
        lambda s, f: tessarin.warp_rgb(s, I, 1.0, 0.0, 0.0, f),
        lambda s, f: tessarin.warp_rgb(s, tuple(I), 1, 0, 0, f, None),
        lambda s, f: tessarin.warp_rgb(s, np.eye(3).ravel(), 1, -0.0, 0, filter=f),
        lambda s, f: tessarin.remap_rgb(s, *identity_maps(*s.shape[:2]), f),
        lambda s, f: tessarin.remap_gray(s[..., 1].copy(), *identity_maps(*s.shape[:2]), f),
    ],
)
def test_identity_reproduces_a_fresh_copy(filter, dtype, call):
    src = image(9, 13, dtype=dtype)
    before = src.copy()
    out = call(src, filter)
    expected = src if out.ndim == 3 else src[..., 1]
    assert out.dtype == dtype and out.flags.c_contiguous and out.flags.writeable
    np.testing.assert_array_equal(out, expected)
    assert out.base is not src and not np.shares_memory(out, src)
    out[...] = 0
    np.testing.assert_array_equal(src, before)


def mean_up(a, b):
    return ((a.astype(np.int64) + b + 1) // 2).astype(a.dtype)


S = image(6, 14, dtype=np.uint16)


@pytest.mark.parametrize("filter", FILTERS)
@pytest.mark.parametrize(
    "args, region, expected",
    [
        # scale 2: even output pixels on source centres, odd columns half-way.
        ((I, 2.0, 0.0, 0.0, "f", (28, 12)), np.s_[::2, ::2], S),
        ((I, 2.0, 0.0, 0.0, "bilinear", (27, 12)), np.s_[::2, 1::2], mean_up(S[:, :-1], S[:, 1:])),
        ((I, 1.0, 10.0, 2.0, "f", None), np.s_[:4, :4], S[2:, 10:]),
        ((I, 1.0, 10.0, 2.0, "f", None), np.s_[4:], 0),
        ((I, 1.0, 10.0, 2.0, "f", None), np.s_[:, 4:], 0),
        (([-1, 0, 0, 0, -1, 0, 0, 0, -1], 1.0, 0.0, 0.0, "f", None), np.s_[:], S),
        (([1, 0, 0, 0, 1, 0, 0, 0, 0], 1.0, 0.0, 0.0, "f", None), np.s_[:], 0),
        ((I, 1.0, 0.0, 0.0, "f", (16, 9)), np.s_[:6, :14], S),
        ((I, 1.0, 0.0, 0.0, "f", (16, 9)), np.s_[6:], 0),
        ((I, 1.0, 0.0, 0.0, "f", (16, 9)), np.s_[:, 14:], 0),
        ((I, 1.0, 0.0, 0.0, "f", (3, 2)), np.s_[:], S[:2, :3]),
    ],
)
def test_warp_geometry(filter, args, region, expected):
    args = tuple(filter if a == "f" else a for a in args)
    out = tessarin.warp_rgb(S, *args)
    np.testing.assert_array_equal(out[region], np.broadcast_to(expected, out[region].shape))


@pytest.mark.parametrize("filter", FILTERS)
def test_warp_scale_zero(filter):
    # Every position is NaN: 0 with the bilinear filter, pixel (0, 0) with Lanczos-3.
    out = tessarin.warp_rgb(S, I, 0.0, 0.0, 0.0, filter)
    np.testing.assert_array_equal(out, np.broadcast_to(S[0, 0] if filter == "lanczos3" else 0, S.shape))


@pytest.mark.parametrize("channels", [3, 0])
@pytest.mark.parametrize("filter", FILTERS)
def test_remap_positions(channels, filter):
    src = image(5, 4, channels, np.uint16)
    values = np.array([-0.5, -0.51, np.inf, -np.inf, np.nan, 3.5, 3.51, -0.0, -0.4999, 3.4999, 6, 1], np.float32)
    out = remap(src, values[None], np.full((1, 12), 2, np.float32), filter)[0]
    assert out.shape[0] == 12 and not out[[1, 2, 3, 6, 10]].any()
    np.testing.assert_array_equal(out[[7, 11]], src[2, [0, 1]])
    # The window's bounds are inside: they equal the neighbours with the same floor and weights.
    np.testing.assert_array_equal(out[[0, 5]], out[[8, 9]])
    edge = src[2, [0, 3]] if filter == "bilinear" else out[[8, 9]]
    np.testing.assert_array_equal(out[[0, 5]], edge)
    # NaN: 0 with the bilinear filter, column 0 with Lanczos-3.
    np.testing.assert_array_equal(out[4], 0 if filter == "bilinear" else src[2, 0])
    rows = remap(src, np.ones((12, 1), np.float32), values[:, None].copy(), filter)[:, 0]
    assert not rows[[1, 2, 3]].any()
    np.testing.assert_array_equal(rows[4], 0 if filter == "bilinear" else src[0, 1])
    np.testing.assert_array_equal(rows[0], rows[8])


@pytest.mark.parametrize("channels", [3, 0])
def test_remap_half_pixel_right_and_other_map_sizes(channels):
    src = image(3, 7, channels)
    xs, ys = identity_maps(3, 7)
    out = remap(src, xs + np.float32(0.5), ys)
    np.testing.assert_array_equal(out[:, :-1], mean_up(src[:, :-1], src[:, 1:]))
    np.testing.assert_array_equal(out[:, -1], src[:, -1])
    xs, ys = identity_maps(5, 9)
    big = remap(src, xs, ys, "lanczos3")
    assert big.shape == (5, 9) + src.shape[2:]
    np.testing.assert_array_equal(big[:3, :7], src)
    assert not big[3:].any() and not big[:, 7:].any()


class Items:
    """Length 9, but item 3 cannot be read."""

    def __len__(self):
        return 9

    def __getitem__(self, i):
        if i == 3:
            raise KeyError("no item 3")
        return 1.0


W, R, G = tessarin.warp_rgb, tessarin.remap_rgb, tessarin.remap_gray


@pytest.mark.parametrize(
    "fn, args, kwargs, expected",
    [
        (W, (SRC, np.eye(3), 1, 0, 0), {}, (ValueError, "expected a sequence of length 9 (got 3)", note("inverse"))),
        (W, (SRC, I[:8], 1, 0, 0), {}, (ValueError, "expected a sequence of length 9 (got 8)", note("inverse"))),
        (W, (SRC, 5, 1, 0, 0), {}, (TypeError, "'int' object cannot be converted to 'Sequence'", note("inverse"))),
        (W, (SRC, dict.fromkeys(range(9), 1), 1, 0, 0), {},
         (TypeError, "'dict' object cannot be converted to 'Sequence'", note("inverse"))),
        (W, (SRC, Items(), 1, 0, 0), {}, (KeyError, "'no item 3'", note("inverse"))),
        (W, (SRC, I[:8] + ["x"], 1, 0, 0), {}, (TypeError, "must be real number, not str", note("inverse"))),
        # Conversion order: inverse, scale, off_x, off_y, filter (type), out_size, filter (name), src.
        (W, (None, I[:3], "s", "x", "y", 1, 1), {}, (ValueError, "expected a sequence of length 9 (got 3)",
                                                    note("inverse"))),
        (W, (None, I, "s", "x", "y"), {}, (TypeError, "must be real number, not str", note("scale"))),
        (W, (None, I, 1, None, "y"), {}, (TypeError, "must be real number, not NoneType", note("off_x"))),
        (W, (None, I, 1, 0, [0], 1), {}, (TypeError, "must be real number, not list", note("off_y"))),
        (W, (None, I, 1, 0, 0, b"bilinear", [1]), {}, (TypeError, "'bytes' object cannot be converted to 'str'",
                                                      note("filter"))),
        (W, (None, I, 1, 0, 0, "cubic", [640, 480]), {}, (TypeError, "'list' object cannot be converted to 'tuple'",
                                                         note("out_size"))),
        (W, (SRC, I, 1, 0, 0), {"out_size": (640, 480, 3)},
         (ValueError, "expected tuple of length 2, but got tuple of length 3", note("out_size"))),
        (W, (SRC, I, 1, 0, 0), {"out_size": (640.0, 480)},
         (TypeError, "'float' object cannot be interpreted as an integer", note("out_size"))),
        (W, (SRC, I, 1, 0, 0), {"out_size": (640, -1)},
         (OverflowError, "can't convert negative int to unsigned", note("out_size"))),
        (W, (SRC, I, 1, 0, 0), {"out_size": (2**64, 1)}, (OverflowError, "int too big to convert", note("out_size"))),
        (W, (None, I, 1, 0, 0, "Bilinear"), {},
         (ValueError, 'unknown filter "Bilinear", expected "bilinear" or "lanczos3"', None)),
        (W, (None, I, 1, 0, 0), {}, (TypeError, WARP_ERROR, None)),
        # remap: map_x, map_y, filter (type, then name), src, then the shapes of the maps.
        (R, (None, MX.astype(np.float64), None, "cubic"), {}, (TypeError, F64_MAP, note("map_x"))),
        (G, (GRAY, MX, MY.astype(np.float64)), {}, (TypeError, F64_MAP, note("map_y"))),
        (G, (GRAY, MX.tolist(), MY), {}, (TypeError, "'list' object cannot be converted to 'ndarray'", note("map_x"))),
        (G, (GRAY, MX, MY[None]), {}, (TypeError, "array of dtype float32 with 3 dimensions cannot be converted to "
                                              "a two-dimensional float32 array", note("map_y"))),
        (R, (None, MX, MY, 3), {}, (TypeError, "'int' object cannot be converted to 'str'", note("filter"))),
        (R, (None, MX, MY.T, "cubic"), {},
         (ValueError, 'unknown filter "cubic", expected "bilinear" or "lanczos3"', None)),
        (R, (GRAY, MX, MY.T), {}, (TypeError, RGB_ERROR, None)),
        (G, (SRC, MX, MY.T), {}, (TypeError, GRAY_ERROR, None)),
        (G, (GRAY, MX, MY.T), {}, (ValueError, "map_x and map_y must have the same shape", None)),
        (R, (SRC, MX, MY[:, :4]), {}, (ValueError, "map_x and map_y must have the same shape", None)),
        # Binding, in CPython's wording.
        (W, (), {}, (TypeError, "warp_rgb() missing required argument 'src' (pos 1)", None)),
        (W, (SRC, I, 1, 0), {}, (TypeError, "warp_rgb() missing required argument 'off_y' (pos 5)", None)),
        (W, (SRC, I, 1, 0, 0, "bilinear", None, 1), {}, (TypeError, "warp_rgb() takes at most 7 arguments (8 given)",
                                                        None)),
        (G, (GRAY, MX), {}, (TypeError, "remap_gray() missing required argument 'map_y' (pos 3)", None)),
        (R, (SRC, MX, MY), {"src": SRC}, (TypeError, "argument for remap_rgb() given by name ('src') and position (1)",
                                          None)),
    ],
)
def test_errors_in_their_order(fn, args, kwargs, expected):
    assert raised(fn, *args, **kwargs) == expected


@pytest.mark.parametrize(
    "name, shown",
    [
        (" bilinear", '" bilinear"'),
        ('a"b\\c', '"a\\"b\\\\c"'),
        ("\t\r\n\x00", '"\\t\\r\\n\\0"'),
        ("\x01\x7f\x9f\u200b\u2028\ufeff", '"\\u{1}\\u{7f}\\u{9f}\\u{200b}\\u{2028}\\u{feff}"'),
        ("e\u0301 \u20dd", '"e\\u{301} \\u{20dd}"'),  # combining marks
        ("b\u00e9zier \u03bb \U0001f600", '"b\u00e9zier \u03bb \U0001f600"'),
        ("", '""'),
        ("bilinear\x00", '"bilinear\\0"'),
    ],
)
@pytest.mark.parametrize("fn, args", [(W, (SRC, I, 1, 0, 0)), (R, (None, MX, MY)), (G, (None, MX, MY))])
def test_unknown_filter_is_quoted(name, shown, fn, args):
    message = f'unknown filter {shown}, expected "bilinear" or "lanczos3"'
    assert raised(fn, *args, filter=name) == (ValueError, message, None)


class Name(str):
    pass


class Pair(tuple):
    pass


class Index:
    def __index__(self):
        return 3


@pytest.mark.parametrize("fn, src, args", [(W, SRC, (I, 1, 0, 0)), (R, SRC, (MX, MY)), (G, GRAY, (MX, MY))])
def test_accepted_arguments(fn, src, args):
    for name in ["lanczos3", Name("lanczos3"), Name("bilinear")]:
        np.testing.assert_array_equal(fn(src, *args, filter=name), src)
    keywords = dict(zip(["inverse", "scale", "off_x", "off_y"] if fn is W else ["map_x", "map_y"], args))
    np.testing.assert_array_equal(fn(filter="lanczos3", **keywords, src=src), src)
    kind, message, notes = raised(fn, src, *args, filter="bi\udc80linear")
    assert (kind, notes) == (UnicodeEncodeError, note("filter")) and "surrogates not allowed" in message
    if fn is W:
        for size, shape in [((Index(), np.int64(2)), (2, 3)), (Pair((np.uint8(1), True)), (1, 1))]:
            np.testing.assert_array_equal(W(src, *args, "bilinear", size), src[: shape[0], : shape[1]])


@pytest.mark.parametrize(
    "src", [SRC.astype(np.float32), SRC.astype(np.int16), SRC.astype(">u2"), np.dstack([SRC, SRC[..., :1]]),
            SRC[..., 0], SRC[None], SRC.tolist(), GRAY.astype(np.float64), GRAY[0]])
def test_refused_sources(src):
    assert raised(W, src, I, 1, 0, 0) == (TypeError, WARP_ERROR, None)
    assert raised(R, src, MX, MY) == (TypeError, RGB_ERROR, None)
    if np.ndim(src) != 2:
        assert raised(G, src, MX, MY) == (TypeError, GRAY_ERROR, None)


def misaligned(a):
    raw = np.zeros(a.nbytes + 1, np.uint8)
    view = raw[1:].view(a.dtype).reshape(a.shape)
    view[...] = a
    return view


def packed_field(a):
    """Byte strides that are not a multiple of the element size."""
    rec = np.zeros(a.shape, np.dtype([("pad", "u1"), ("v", a.dtype)]))
    rec["v"] = a
    return rec["v"]


LAYOUTS = {
    "rows reversed": lambda a: a[::-1],
    "crop": lambda a: np.concatenate([a[:, -2:], a, a[:, :3]], axis=1)[:, 2:-3],
    "crop, rows reversed": lambda a: np.concatenate([a[::-1], a[::-1, :3]], axis=1)[::-1, :-3],
    "columns reversed": lambda a: a[:, ::-1],
    "transposed": lambda a: np.ascontiguousarray(np.swapaxes(a, 0, 1)).swapaxes(0, 1),
    "fortran": np.asfortranarray,
    "channel planes": lambda a: np.moveaxis(np.ascontiguousarray(np.moveaxis(a, -1, 0)), 0, -1),
    "stepped": lambda a: np.repeat(np.repeat(a, 2, 0), 3, 1)[::2, ::3],
    "broadcast": lambda a: np.broadcast_to(a[:1], a.shape),
    "misaligned": misaligned,
    "packed field": packed_field,
}


@pytest.mark.parametrize("filter", FILTERS)
@pytest.mark.parametrize("layout", LAYOUTS)
def test_layouts_equal_contiguous_copies(filter, layout):
    make = LAYOUTS[layout]
    src = image(7, 9, dtype=np.uint16)
    rng = np.random.default_rng(3)
    xs, ys = rng.uniform(-1, 9, (5, 7)).astype(np.float32), rng.uniform(-1, 7, (5, 7)).astype(np.float32)
    inverse = [1.1, 0.05, -0.7, -0.02, 0.9, 0.4, 0.003, -0.004, 1.0]
    for a in [src, src[..., 0], xs]:
        assert not make(a).flags.c_contiguous or layout == "misaligned"
    plain = np.ascontiguousarray
    np.testing.assert_array_equal(W(make(src), inverse, 1.3, 0.2, -0.1, filter, (8, 6)),
                                  W(plain(make(src)), inverse, 1.3, 0.2, -0.1, filter, (8, 6)))
    for s in [src, src[..., 0]]:
        np.testing.assert_array_equal(remap(make(s), xs, ys, filter), remap(plain(make(s)), xs, ys, filter))
        np.testing.assert_array_equal(remap(s, make(xs), make(ys), filter),
                                      remap(s, plain(make(xs)), plain(make(ys)), filter))
        np.testing.assert_array_equal(remap(s, xs, make(ys), filter), remap(s, xs, plain(make(ys)), filter))
    np.testing.assert_array_equal(W(src[..., ::-1], I, 1, 0, 0), src[..., ::-1])


@pytest.mark.parametrize("filter", FILTERS)
@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize(
    "src_shape, out_size, result_shape",
    [((4, 0, 3), None, (4, 0, 3)), ((0, 4, 3), None, (0, 4, 3)), ((0, 0, 3), None, (0, 0, 3)),
     ((4, 5, 3), (0, 7), (7, 0, 3)), ((4, 5, 3), (7, 0), (0, 7, 3)), ((4, 0, 3), (5, 2), (2, 5, 3)),
     ((0, 4, 3), (5, 2), (2, 5, 3)), ((4, 5, 3), (0, 2**40), (2**40, 0, 3))],
)
def test_warp_empty_shapes(filter, dtype, src_shape, out_size, result_shape):
    out = W(np.ones(src_shape, dtype), I, 1, 0, 0, filter, out_size)
    assert out.shape == result_shape and out.dtype == dtype and not out.any()


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
    assert out.shape == map_shape + src.shape[2:] and not out.any()


HUGE = (2**24, 2**24)  # a copy of this many elements exceeds any address space


@pytest.mark.parametrize(
    "fn, args, error",
    [
        (W, (SRC, I, 1, 0, 0, "lanczos3", (2**32, 2**32)), OverflowError),
        (W, (SRC[::-1], I, 1, 0, 0, "lanczos3", (2**63, 1)), OverflowError),
        (W, (SRC, I, 1, 0, 0, "bilinear", (2**62, 2)), OverflowError),
        (W, (SRC, I, 1, 0, 0, "bilinear", (2**62, 0)), OverflowError),
        (W, (SRC[::-1], I, 1, 0, 0, "lanczos3", (2**40, 2**20)), MemoryError),
        (W, (np.broadcast_to(SRC[:1, :1], HUGE + (3,)), I, 1, 0, 0), MemoryError),
        (R, (SRC, np.broadcast_to(MX[:1, :1], HUGE), np.broadcast_to(MX[:1, :1], HUGE)), MemoryError),
        (G, (np.broadcast_to(GRAY[:1, :1], HUGE), MX, MY), MemoryError),
    ],
)
def test_huge_sizes_are_refused(fn, args, error):
    with pytest.raises(error) as info:
        fn(*args)
    assert not getattr(info.value, "__notes__", None)


def test_results_outlive_their_source():
    src = image(6, 7, dtype=np.uint16)
    expected = src.copy()
    warped, gray = W(src, I, 1, 0, 0), G(src[..., 1].copy(), *identity_maps(6, 7))
    owner = warped.base
    view = warped[2:4]
    del src, warped
    gc.collect()
    assert view.base.base is owner
    np.testing.assert_array_equal(view, expected[2:4])
    np.testing.assert_array_equal(gray, expected[..., 1])


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(SANITIZED, reason="resident size is meaningless under the sanitizer's quarantine")
@pytest.mark.thread_unsafe(reason="measures the process's resident size")
@skip_under_emulation("a leak check by resident size, over a minute of calls under the emulator; "
                      "the allocations it watches are made by code shared by every platform")
def test_memory_stays_flat():
    src = image(64, 64, dtype=np.uint16)
    flipped, gray = src[::-1, ::-1], src[..., 0]  # not contiguous: copied on every call
    xs, ys = identity_maps(64, 64)
    h = np.array([1.01, 0.02, -0.5, 0.0, 0.98, 0.3, 1e-4, 0.0, 1.0])
    calls = [
        (W, (flipped, h, 1, 0, 0, "lanczos3")), (W, (src, h, 1, 0, 0, "bilinear", (80, 70))),
        (R, (flipped, xs.T, ys.T)), (G, (gray, xs, ys[::-1], "lanczos3")),
    ]
    failing = [
        (W, (flipped, h, 1, 0, 0, "lanczos3", (2**40, 2**20))), (W, (flipped, h, 1, 0, 0, "bilinear", (2**62, 2))),
        (W, (flipped, h[:8], 1, 0, 0)), (W, (flipped, h, 1, 0, 0, "x\u0301")), (W, (flipped, h, 1, 0, 0, "f", (1, -1))),
        (R, (flipped, xs, ys[:3])), (G, (src, xs, ys)), (G, (gray, xs.astype(float), ys)),
        (G, (gray, xs, ys, "bi\udc80linear")), (G, (np.broadcast_to(gray[:1, :1], HUGE), xs, ys)),
    ]

    def round_of_calls():
        for fn, args in calls:
            fn(*args)
        for fn, args in failing:
            with pytest.raises(Exception):
                fn(*args)

    for _ in range(100):
        round_of_calls()
    gc.collect()
    before = resident_bytes()
    for _ in range(2000):
        round_of_calls()
    gc.collect()
    # A leaked result, copy or exception per call would add tens of megabytes.
    assert resident_bytes() - before < 8 * 2**20
