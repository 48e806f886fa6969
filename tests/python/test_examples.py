"""The examples: each runs as a script on small inputs, and their geometry is right."""

import importlib.util
import pathlib
import subprocess
import sys
import threading

import numpy as np
import pytest

PIL = pytest.importorskip("PIL")
from PIL import Image  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"


_loading = threading.Lock()


def load(name):
    # Under the lock: the module is in sys.modules while it runs, and another
    # thread must not take it from there half made.
    with _loading:
        if name not in sys.modules:
            spec = importlib.util.spec_from_file_location(name, EXAMPLES / f"{name}.py")
            module = importlib.util.module_from_spec(spec)
            sys.modules[name] = module
            spec.loader.exec_module(module)
        return sys.modules[name]


def run(script, *args, cwd, ok=True, python=(sys.executable,)):
    result = subprocess.run(
        [*python, str(EXAMPLES / script), *map(str, args)],
        cwd=cwd, capture_output=True, text=True, timeout=300,
    )
    output = result.stdout + result.stderr
    assert (result.returncode == 0) == ok, output
    assert "Traceback" not in output, output
    return output


def test_quickstart(tmp_path):
    Image.open(ROOT / "data" / "rocket.png").crop((200, 150, 420, 330)).save(tmp_path / "small.png")
    out = run("quickstart.py", "small.png", "--out-dir", "o", "--color-by", "log_nfa", cwd=tmp_path)
    assert "segments in" in out and "log_nfa" in out
    assert Image.open(tmp_path / "o" / "quickstart_overlay.png").size == (220, 180)


@pytest.mark.parametrize(
    "script, written",
    [
        ("quickstart.py", ["quickstart_overlay.png"]),
        ("batch.py", ["batch_images", "segments.npz"]),
    ],
)
def test_without_arguments_everything_goes_to_out(tmp_path, script, written):
    run(script, cwd=tmp_path)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out"]
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == written


def test_rectify_rendered_then_as_a_users_photo(tmp_path):
    out = run("rectify_document.py", "--size", "400x300", "--out-dir", "r", "--overlay", cwd=tmp_path)
    assert "page corners" in out
    w, h = Image.open(tmp_path / "r" / "page.png").size
    assert h / w == pytest.approx(2**0.5, rel=0.03)  # A4, recovered from the perspective
    assert Image.open(tmp_path / "r" / "page_found.png").size == (400, 300)
    # The same scene handed in as a JPEG photo.
    Image.open(tmp_path / "r" / "page_input.png").save(tmp_path / "photo.jpg", quality=88)
    run("rectify_document.py", "photo.jpg", "--out-dir", "flat", "--a4", cwd=tmp_path)
    w, h = Image.open(tmp_path / "flat" / "page.png").size
    assert abs(h - w * 2**0.5) <= 1


def test_rectify_reports_a_photo_without_a_page(tmp_path):
    noise = np.random.default_rng(0).integers(0, 256, (120, 160, 3), dtype=np.uint8)
    Image.fromarray(noise).save(tmp_path / "noise.png")
    assert "no page outline" in run("rectify_document.py", "noise.png", cwd=tmp_path, ok=False)


@pytest.mark.parametrize("seed", [3, 4, 5])
def test_page_corners_and_aspect_are_recovered(seed):
    rd = load("rectify_document")
    import tessarin

    rgb, truth = rd.make_photo(480, 360, seed)
    gray = np.asarray(Image.fromarray(rgb).convert("L"))
    corners = rd.find_page(tessarin.detect(gray, scale=rd.detection_scale(480, 360)), 480, 360)
    assert corners is not None
    assert np.abs(corners - truth).max() < 1.5
    focal = rd.focal_length(None, 480, 360)
    assert rd.page_aspect(truth, 480, 360, focal) == pytest.approx(rd.A4, rel=1e-9)
    assert rd.page_aspect(corners, 480, 360, focal) == pytest.approx(rd.A4, rel=0.02)


def test_rectify_maps_the_outline_onto_the_output_border():
    """A page drawn as a coloured quadrilateral comes back as a filled rectangle."""
    rd = load("rectify_document")
    quad = np.array([[30.0, 20.0], [150.0, 35.0], [140.0, 110.0], [20.0, 100.0]])
    inside = rd._coverage_mask(quad, 170, 130)
    rgb = np.zeros((130, 170, 3), np.uint8)
    rgb[inside > 0.5] = (200, 120, 40)
    flat = rd.rectify(rgb, quad, (60, 40))
    assert flat.shape == (40, 60, 3)
    assert np.all(np.abs(flat[1:-1, 1:-1].astype(int) - (200, 120, 40)) <= 1)


def test_undistort(tmp_path):
    out = run("undistort.py", "--size", "240x180", "--zoom", "0.8", "--out-dir", "u", cwd=tmp_path)
    assert "covers" in out
    mask = np.asarray(Image.open(tmp_path / "u" / "undistorted_mask.png"))
    assert mask.shape == (180, 240) and set(np.unique(mask)) == {0, 255}
    assert mask[90, 120] == 255 and mask[0, 0] == 0  # barrel correction pulls the corners in from outside
    Image.fromarray((mask // 255 * 200).astype(np.uint8)).save(tmp_path / "m.png")
    run("undistort.py", "u/undistorted_input.png", "--mask", "m.png", "--out-dir", "again", cwd=tmp_path)
    assert Image.open(tmp_path / "again" / "undistorted_usermask.png").size == (240, 180)


def test_undistort_inverts_the_distortion():
    ud = load("undistort")
    import tessarin

    k1, margin = -0.12, 0.15
    distorted = ud.distorted_photo(240, 180, k1)
    restored = tessarin.remap_rgb(distorted, *ud.undistort_maps(240, 180, k1))
    wall = ud.tiled_wall(round(240 * (1 + 2 * margin)), round(180 * (1 + 2 * margin)))[27:207, 36:276]
    error = np.abs(restored.astype(int) - wall)[20:-20, 20:-20]
    assert error.mean() < 5  # 6.4 with k1 = -0.10, 24 without correction


def test_batch_script(tmp_path):
    folder = tmp_path / "images"
    folder.mkdir()
    rocket = Image.open(ROOT / "data" / "rocket.png")
    for i in range(3):
        rocket.crop((i * 100, 50, i * 100 + 200, 200)).save(folder / f"crop{i}.png")
    (folder / "notes.txt").write_text("not an image")
    (folder / "broken.png").write_bytes(b"\x89PNG\r\n\x1a\n truncated")
    out = run("batch.py", folder, "--threads", 2, "--out-dir", "s", cwd=tmp_path)
    assert "3 images" in out and "skipped 1 unreadable: broken.png" in out
    archive = np.load(tmp_path / "s" / "segments.npz")
    assert sorted(archive.files) == ["crop0.png", "crop1.png", "crop2.png"]
    assert archive["crop0.png"].dtype.names == ("x1", "y1", "x2", "y2", "width", "precision", "log_nfa")


def test_batch_without_dask_says_how_to_install_it(tmp_path):
    # As if Dask were not installed: the import system finds no 'distributed'.
    hide = "import runpy, sys; sys.modules['distributed'] = None; sys.argv = sys.argv[1:]; " \
           "runpy.run_path(sys.argv[0], run_name='__main__')"
    out = run("batch.py", "--dask", "local:2", cwd=tmp_path, ok=False, python=(sys.executable, "-c", hide))
    assert 'pip install "dask[distributed]"' in out
