"""Batch processing from examples/batch.py: threads and a Dask cluster give the sequential result."""

import importlib.util
import pathlib
import sys

import numpy as np
import pytest

pytest.importorskip("PIL")
from PIL import Image  # noqa: E402

import tessarin  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="module")
def batch():
    spec = importlib.util.spec_from_file_location("batch", ROOT / "examples" / "batch.py")
    module = importlib.util.module_from_spec(spec)
    sys.modules["batch"] = module
    spec.loader.exec_module(module)
    yield module
    del sys.modules["batch"]


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    """Six small crops of the bundled photograph, in PNG and JPEG."""
    path = tmp_path_factory.mktemp("images")
    rocket = Image.open(ROOT / "data" / "rocket.png")
    for i in range(6):
        crop = rocket.crop((i * 70, i * 30, i * 70 + 220, i * 30 + 160))
        crop.save(path / (f"img{i}.png" if i % 2 else f"img{i}.jpg"))
    return path


def sequential(paths):
    return [tessarin.detect(np.asarray(Image.open(p).convert("L"))) for p in paths]


def assert_same(records, segments):
    assert len(records) == len(segments)
    for r, segs in zip(records, segments):
        assert r.dtype.names == ("x1", "y1", "x2", "y2", "width", "precision", "log_nfa")
        expected = [(s.x1, s.y1, s.x2, s.y2, s.width, s.precision, s.log_nfa) for s in segs]
        assert r.tolist() == expected  # bit for bit, in the same order


def test_threads_match_sequential_detection(batch, folder):
    paths = batch.images_in(folder)
    assert len(paths) == 6
    expected = sequential(paths)
    assert any(expected) and not all(len(e) == len(expected[0]) for e in expected)
    for threads in (1, 3):
        assert_same(batch.with_threads(paths, threads), expected)


def test_empty_result_keeps_the_record_type(batch):
    records = batch.to_records([])
    assert records.shape == (0,) and records.dtype == batch.SEGMENT_DTYPE


@pytest.mark.thread_unsafe(reason="starts a cluster of worker processes")
def test_dask_worker_processes_match_sequential_detection(batch, folder):
    distributed = pytest.importorskip("distributed")
    paths = batch.images_in(folder)
    expected = sequential(paths)
    with distributed.Client(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None, silence_logs=40
    ) as client:
        # Paths read by the workers, then the images shipped as bytes.
        assert_same(batch.with_dask(client, paths, timeout=120), expected)
        assert_same(batch.with_dask(client, paths, ship=True, timeout=120), expected)
