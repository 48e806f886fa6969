import os
import subprocess
import sys
import sysconfig
import textwrap

import pytest

import tessarin

FUNCTIONS = {
    "detect": ("(gray, scale=...)", "Find the validated line segments of a grayscale image."),
    "warp_rgb": (
        '(src, inverse, scale, off_x, off_y, filter="bilinear", out_size=None)',
        "Perspective-warp an RGB image through an inverse homography.",
    ),
    "remap_rgb": (
        '(src, map_x, map_y, filter="bilinear")',
        "Resample an RGB image through a coordinate map: output pixel (x, y)\n"
        "takes its value from source position (map_x[y, x], map_y[y, x]).",
    ),
    "remap_gray": (
        '(src, map_x, map_y, filter="bilinear")',
        "Resample a single-channel image (a mask) through a coordinate map.",
    ),
}


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120)


def test_module_attributes_in_order():
    assert tessarin.__all__ == ["Segment", "detect", "warp_rgb", "remap_rgb", "remap_gray"]
    assert tessarin.__doc__ == ""
    assert isinstance(tessarin.__all__, list)


@pytest.mark.parametrize("name", list(FUNCTIONS))
def test_function_signature_and_doc(name):
    fn = getattr(tessarin, name)
    signature, doc = FUNCTIONS[name]
    assert fn.__text_signature__ == signature
    assert fn.__doc__ == doc
    assert fn.__module__ == "tessarin"
    assert fn.__self__ is tessarin
    assert fn.__name__ == name


def test_segment_type():
    S = tessarin.Segment
    assert (S.__module__, S.__name__, S.__qualname__) == ("tessarin", "Segment", "Segment")
    assert S.__doc__ == "One detected line segment, in input-image coordinates."
    assert S.__bases__ == (object,)
    assert S.angle.__doc__ == "Direction in degrees, -90 to 90, 0 = horizontal."
    assert S.length.__doc__ == "Length in pixels."
    with pytest.raises(TypeError):
        S()
    with pytest.raises(TypeError):
        type("Derived", (S,), {})


@pytest.mark.parametrize("kind", ["Segment", "buffer owner"])
def test_shared_types_are_read_only(kind):
    import numpy as np

    if kind == "Segment":
        T = tessarin.Segment
    else:
        T = type(tessarin.remap_gray(np.zeros((2, 2), np.uint8), *np.zeros((2, 2, 2), np.float32)).base)
    # Set on the type, it would change every instance in the process.
    with pytest.raises(TypeError):
        T.length = property(lambda s: -1.0)
    with pytest.raises(TypeError):
        del T.__repr__


def test_import_does_not_import_numpy_and_reimport_works():
    out = run_python(
        """
        import sys
        import tessarin
        assert "numpy" not in sys.modules, "numpy imported at import time"
        first = tessarin.Segment
        del sys.modules["tessarin"]
        import tessarin as again
        assert again.Segment is first
        assert again.__all__ == ["Segment", "detect", "warp_rgb", "remap_rgb", "remap_gray"]
        print("ok")
        """
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "ok"


def test_failed_numpy_import_raises_and_does_not_kill_the_process():
    out = run_python(
        """
        import sys
        sys.modules["numpy"] = None          # any import of numpy now fails
        sys.modules["numpy._core"] = None
        sys.modules["numpy.core"] = None
        import tessarin
        for _ in range(2):
            try:
                tessarin.detect([[0]])
            except ImportError as e:
                print("ImportError")
        """
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["ImportError", "ImportError"]


def test_first_calls_from_many_threads_at_once():
    out = run_python(
        """
        import threading
        import numpy as np
        import tessarin
        img = np.zeros((20, 20), np.uint8)
        img[5:15, 5:15] = 200
        barrier = threading.Barrier(8)
        results = []
        def first_call():
            barrier.wait()
            results.append(len(tessarin.detect(img, 1.0)))
        threads = [threading.Thread(target=first_call) for _ in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        assert len(results) == 8 and len(set(results)) == 1, results
        print("ok")
        """
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "ok"


@pytest.mark.skipif(not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="needs a free-threaded interpreter")
def test_gil_stays_off_after_import_and_every_function():
    # A fresh interpreter, without a PYTHON_GIL that would force the answer:
    # an extension that does not declare it runs without the GIL turns it back
    # on for the whole process when it is imported.
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    code = """
        import sys
        import numpy as np
        import tessarin
        img = np.zeros((40, 50, 3), np.uint8)
        img[10:30, 15:35] = 200
        mx, my = np.meshgrid(np.arange(50, dtype=np.float32), np.arange(40, dtype=np.float32))
        assert tessarin.detect(img[..., 0], 1.0)
        tessarin.warp_rgb(img, [1, 0, 0, 0, 1, 0, 0, 0, 1], 1.0, 0.0, 0.0, "lanczos3")
        tessarin.remap_rgb(img, mx, my)
        tessarin.remap_gray(img[..., 0], mx, my)
        print(sys._is_gil_enabled())
        """
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                         timeout=120, env=env)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "False", out.stderr
    assert "GIL" not in out.stderr
