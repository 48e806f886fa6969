import math
import os
import sys
import threading

import numpy as np
import pytest

import tessarin
from conftest import rectangle_image, skip_under_emulation

ARRAY_ERROR = "detect expects a (height, width) array of uint8, uint16, float32 or float64"


def fields(segments):
    return [(s.x1, s.y1, s.x2, s.y2, s.width, s.precision, s.log_nfa) for s in segments]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda img: tessarin.detect(), "detect() missing required argument 'gray' (pos 1)"),
        (lambda img: tessarin.detect(img, 0.8, 1), "detect() takes at most 2 arguments (3 given)"),
        (lambda img: tessarin.detect(img, gray=img), "argument for detect() given by name ('gray') and position (1)"),
        (lambda img: tessarin.detect(scale=1.0), "detect() missing required argument 'gray' (pos 1)"),
    ],
)
def test_argument_binding_errors(rect_u8, call, message):
    with pytest.raises(TypeError) as info:
        call(rect_u8)
    assert str(info.value) == message
    assert not getattr(info.value, "__notes__", None)


def test_unknown_keyword(rect_u8):
    with pytest.raises(TypeError, match="foo"):
        tessarin.detect(rect_u8, foo=1)


@pytest.mark.parametrize("gray", ["not an array", None])
@pytest.mark.parametrize("scale", ["x", None, [1.0]])
def test_bad_scale_is_reported_before_bad_gray(gray, scale):
    with pytest.raises(TypeError) as info:
        tessarin.detect(gray, scale=scale)
    assert info.value.__notes__ == ["while processing 'scale'"]
    assert str(info.value) != ARRAY_ERROR


@pytest.mark.parametrize(
    "make",
    [
        lambda img: img.astype("int32"),
        lambda img: img[..., None],
        lambda img: img[0],
        lambda img: img.astype(">f8"),
        lambda img: img.astype(np.float16),
        lambda img: img.astype(bool),
        lambda img: [[0, 1], [2, 3]],
        lambda img: img.astype(np.complex128),
    ],
)
def test_refused_arrays(rect_u8, make):
    with pytest.raises(TypeError) as info:
        tessarin.detect(make(rect_u8))
    assert str(info.value) == ARRAY_ERROR
    assert not getattr(info.value, "__notes__", None)


class Number:
    def __float__(self):
        return 1.0


class Index:
    def __index__(self):
        return 1


@pytest.mark.parametrize("scale", [1, 1.0, Number(), Index(), np.float32(1.0), True])
def test_scale_conversions(rect_u8, scale):
    assert fields(tessarin.detect(rect_u8, scale)) == fields(tessarin.detect(rect_u8, 1.0))


def test_default_scale_and_keywords(rect_u8):
    expected = fields(tessarin.detect(rect_u8))
    assert fields(tessarin.detect(rect_u8, 0.8)) == expected
    assert fields(tessarin.detect(gray=rect_u8, scale=0.8)) == expected
    assert fields(tessarin.detect(scale=0.8, gray=rect_u8)) == expected


@pytest.mark.parametrize("scale", [1.0, 0.8, 0.5])
def test_element_types_give_identical_results(rect_u8, scale):
    expected = fields(tessarin.detect(rect_u8, scale))
    assert fields(tessarin.detect(rect_u8.astype(np.float64), scale)) == expected
    assert fields(tessarin.detect(rect_u8.astype(np.float32), scale)) == expected
    assert fields(tessarin.detect(rect_u8.astype(np.uint16) * 257, scale)) == expected


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.float32, np.float64])
@pytest.mark.parametrize(
    "view, logical",
    [
        (lambda a: a.T, lambda a: np.ascontiguousarray(a.T)),
        (lambda a: np.asfortranarray(a), lambda a: a),
        (lambda a: a[::-1, ::-1], lambda a: np.ascontiguousarray(a[::-1, ::-1])),
        (lambda a: a[::-1], lambda a: np.ascontiguousarray(a[::-1])),
        (lambda a: a[::2, 1::3], lambda a: np.ascontiguousarray(a[::2, 1::3])),
        (lambda a: np.broadcast_to(a[40], a.shape), lambda a: np.ascontiguousarray(np.broadcast_to(a[40], a.shape))),
    ],
    ids=["transposed", "fortran", "reversed", "flipped", "stepped", "broadcast"],
)
def test_layouts_are_read_in_logical_order(dtype, view, logical):
    img = rectangle_image(dtype=dtype)
    assert fields(tessarin.detect(view(img), 1.0)) == fields(tessarin.detect(logical(img), 1.0))


def test_packed_and_misaligned_views():
    img = rectangle_image().astype(np.float64)
    # A field of a packed record array: strides are not a multiple of 8.
    rec = np.zeros(img.shape, dtype=[("tag", "u1"), ("v", "<f8")])
    rec["v"] = img
    assert fields(tessarin.detect(rec["v"], 1.0)) == fields(tessarin.detect(img, 1.0))
    # A standard layout at an odd address.
    raw = np.zeros(img.size * 8 + 1, np.uint8)
    odd = np.frombuffer(raw.data, dtype=np.float64, count=img.size, offset=1).reshape(img.shape)
    odd[...] = img
    assert fields(tessarin.detect(odd, 1.0)) == fields(tessarin.detect(img, 1.0))


def test_subclass_of_ndarray_is_accepted(rect_u8):
    class Sub(np.ndarray):
        pass

    assert fields(tessarin.detect(rect_u8.view(Sub), 1.0)) == fields(tessarin.detect(rect_u8, 1.0))


@pytest.mark.parametrize("shape", [(0, 0), (0, 5), (5, 0), (2, 100), (100, 2), (3, 3)])
def test_tiny_and_empty_images(shape):
    assert tessarin.detect(np.zeros(shape, np.uint8)) == []
    assert tessarin.detect(np.zeros(shape, np.float64), 1.0) == []


def test_input_unchanged_and_not_retained():
    # An image of its own: the count of references to one that other threads
    # hold as well would change under it.
    img = rectangle_image()
    before = img.copy()
    t = img.T
    count = sys.getrefcount(img)
    t_count = sys.getrefcount(t)
    tessarin.detect(img)
    tessarin.detect(t)
    assert sys.getrefcount(img) == count
    assert sys.getrefcount(t) == t_count
    np.testing.assert_array_equal(img, before)


def test_threads_give_identical_results(rect_u8):
    expected = fields(tessarin.detect(rect_u8))
    results = []

    def worker():
        for _ in range(5):
            results.append(fields(tessarin.detect(rect_u8)))

    threads = [threading.Thread(target=worker) for _ in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 30
    assert all(r == expected for r in results)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
@pytest.mark.thread_unsafe(reason="forks")
@skip_under_emulation("a child forked beside the pool's threads crashes the emulator itself "
                      "(it fails its own assertions when the child starts a thread)")
def test_child_after_fork_uses_its_own_pool(rect_u8):
    big = rectangle_image(600, 800)
    expected = fields(tessarin.detect(big))  # the parent's pool is running now
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:  # child: must not wait on threads it does not have
        try:
            ok = fields(tessarin.detect(big)) == expected
            os.write(write, b"1" if ok else b"0")
        finally:
            os._exit(0)
    os.close(write)
    _, status = os.waitpid(pid, 0)
    assert os.read(read, 1) == b"1"
    os.close(read)
    assert status == 0


def test_results_do_not_depend_on_the_processors_available():
    # The pool sizes itself from the affinity mask; one processor must agree with all.
    from test_module import run_python

    code = """
        import os, sys
        sys.path.insert(0, {path!r})
        {pin}
        import tessarin
        from conftest import rectangle_image
        segs = tessarin.detect(rectangle_image(300, 400))
        print([(s.x1, s.y1, s.x2, s.y2, s.width, s.log_nfa) for s in segs])
    """
    here = os.path.dirname(__file__)
    one = run_python(code.format(path=here, pin="os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})"))
    every = run_python(code.format(path=here, pin=""))
    assert one.returncode == 0 and every.returncode == 0, one.stderr + every.stderr
    assert one.stdout == every.stdout


def test_huge_images_are_refused_before_copying():
    # A broadcast view of 2**32 pixels costs no memory; it must be refused, not copied.
    huge = np.broadcast_to(np.zeros(1, np.uint8), (1 << 16, 1 << 16))
    with pytest.raises(ValueError, match="2\\*\\*32"):
        tessarin.detect(huge)
