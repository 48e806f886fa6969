"""
A folder of images, in parallel
===============================

Detect the segments of every image in a folder, in parallel::

    python examples/batch.py [FOLDER] [--out-dir out] [--threads 4]
    python examples/batch.py FOLDER --dask local:4             # worker processes on this machine
    python examples/batch.py FOLDER --dask tcp://host:8786     # an existing Dask cluster
    python examples/batch.py FOLDER --dask tcp://host:8786 --ship   # workers can't see FOLDER

tessarin releases the interpreter while it works, so plain threads in one
process keep every core busy.  When one machine is not enough, the same task
function runs on a Dask cluster: each task returns its segments as a NumPy
structured array (fields x1, y1, x2, y2, width, precision, log_nfa), which
crosses process and machine boundaries cheaply, unlike Segment objects.
The workers need tessarin, NumPy and Pillow installed, and either the same
view of FOLDER or ``--ship`` (the images are then sent as bytes).

Without a FOLDER it makes one (out/batch_images/, crops of the bundled
photograph) and runs on that.  The result is one archive, segments.npz in
the output folder (default out/, made if missing), with an array per image,
keyed by file name::

    records = np.load("out/segments.npz")["photo.jpg"]
    records["log_nfa"], records[["x1", "y1", "x2", "y2"]]
"""

from __future__ import annotations

import argparse
import importlib.util
import io
import pathlib
import sys
import time
from collections.abc import Iterable, Sequence
from concurrent.futures import ThreadPoolExecutor
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt
from PIL import Image

import tessarin

if TYPE_CHECKING:
    from distributed import Client

# From the script's folder; the documentation's gallery runs the script without __file__.
SAMPLE = pathlib.Path(sys.argv[0] if __name__ == "__main__" else __file__).resolve().parent.parent / "data" / "rocket.png"
DASK_MISSING = 'Dask is not installed; for --dask run: pip install "dask[distributed]"'
SEGMENT_DTYPE = np.dtype([(name, np.float64) for name in ("x1", "y1", "x2", "y2", "width", "precision", "log_nfa")])
IMAGE_SUFFIXES = {".png", ".jpg", ".jpeg", ".tif", ".tiff", ".bmp", ".webp"}

Records = npt.NDArray[np.void]


def to_records(segments: Iterable[tessarin.Segment]) -> Records:
    """Segments as a structured array of SEGMENT_DTYPE, in the same order."""
    return np.array(
        [(s.x1, s.y1, s.x2, s.y2, s.width, s.precision, s.log_nfa) for s in segments], dtype=SEGMENT_DTYPE
    )


def detect_image(source: str | bytes, scale: float = 0.8) -> Records:
    """The task: one image (a path, or the file's bytes) to its segment records."""
    with Image.open(io.BytesIO(source) if isinstance(source, bytes) else source) as image:
        gray = np.asarray(image.convert("L"))
    return to_records(tessarin.detect(gray, scale=scale))


def detect_readable(source: str | bytes, scale: float = 0.8) -> Records | None:
    """As detect_image, but None for a file that is not a readable image, so
    that one broken file does not stop a batch of thousands."""
    try:
        return detect_image(source, scale)
    except (OSError, Image.DecompressionBombError):  # OSError includes UnidentifiedImageError
        return None


def make_sample_folder(folder: pathlib.Path, count: int = 8) -> pathlib.Path:
    """Overlapping crops of the bundled photograph, for a run without a folder."""
    folder.mkdir(parents=True, exist_ok=True)
    with Image.open(SAMPLE) as photo:
        rgb = photo.convert("RGB")
    width, height = rgb.size
    for i in range(count):  # half-size windows, left to right over three rows
        x = (width - width // 2) * i // (count - 1)
        y = (height - height // 2) * (i % 3) // 2
        rgb.crop((x, y, x + width // 2, y + height // 2)).save(folder / f"crop{i}.png")
    return folder


def images_in(folder: str | pathlib.Path) -> list[pathlib.Path]:
    return sorted(p for p in pathlib.Path(folder).iterdir() if p.suffix.lower() in IMAGE_SUFFIXES)


def with_threads(paths: Sequence[pathlib.Path], threads: int, scale: float = 0.8) -> list[Records | None]:
    """All images on a pool of threads in this process, results in input
    order (None for unreadable files)."""
    with ThreadPoolExecutor(max_workers=threads) as pool:
        return list(pool.map(lambda p: detect_readable(str(p), scale), paths))


def with_dask(
    client: Client, paths: Sequence[pathlib.Path], scale: float = 0.8, ship: bool = False, timeout: float | None = None
) -> list[Records | None]:
    """All images as tasks on a Dask cluster, results in input order (None
    for unreadable files); a TimeoutError if they are not all done within
    timeout seconds.

    The task function travels by value, so the workers need this file
    neither on their path nor on their disk; with ship=True the images
    travel too, as bytes."""
    import cloudpickle  # type: ignore[import-untyped, unused-ignore]
    from distributed import wait

    module = sys.modules[__name__]
    if module.__name__ != "__main__":  # __main__ is sent by value anyway
        cloudpickle.register_pickle_by_value(module)

    # A local function: plain pickle refuses it, so Dask falls back to
    # cloudpickle, which sends it and (as registered) this module's functions
    # by value instead of by a module name the workers may not know.
    def task(source: str | bytes) -> Records | None:
        return detect_readable(source, scale)

    sources = [p.read_bytes() if ship else str(p) for p in paths]
    futures = client.map(task, sources, pure=False)
    wait(futures, timeout=timeout)  # type: ignore[no-untyped-call, unused-ignore]
    results: list[Records | None] = client.gather(futures)  # type: ignore[no-untyped-call, unused-ignore]
    return results


def dask_client(address: str) -> Client:
    """'local' or 'local:N' starts N worker processes here; anything else is a scheduler address."""
    from distributed import Client

    if address.startswith("local"):
        _, _, count = address.partition(":")
        # The client owns this cluster and shuts it down when it closes.
        return Client(n_workers=int(count or 2), threads_per_worker=1, dashboard_address=None)  # type: ignore[no-untyped-call, unused-ignore]
    return Client(address)  # type: ignore[no-untyped-call, unused-ignore]


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("folder", nargs="?", help="a folder of images (default: make one from the bundled photo)")
    parser.add_argument("--out-dir", default="out", help="folder for segments.npz (default out/)")
    parser.add_argument("--scale", type=float, default=0.8)
    parser.add_argument("--threads", type=int, default=4, help="threads in this process (without --dask)")
    parser.add_argument("--dask", metavar="ADDRESS", help="'local[:N]' or a scheduler address")
    parser.add_argument("--ship", action="store_true", help="send the images' bytes to the Dask workers")
    args = parser.parse_args(argv)

    out_dir = pathlib.Path(args.out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)
    if args.dask and importlib.util.find_spec("distributed") is None:
        print(DASK_MISSING, file=sys.stderr)
        return 2
    if args.folder is None:
        args.folder = make_sample_folder(out_dir / "batch_images")
        print(f"no folder given: made {args.folder}")
    if not pathlib.Path(args.folder).is_dir():
        print(f"not a folder: {args.folder}", file=sys.stderr)
        return 1
    paths = images_in(args.folder)
    if not paths:
        print(f"no images in {args.folder}", file=sys.stderr)
        return 1
    start = time.perf_counter()
    if args.dask:
        with dask_client(args.dask) as client:
            start = time.perf_counter()  # not counting the cluster's start-up
            results = with_dask(client, paths, args.scale, args.ship)
        how = f"Dask at {args.dask}"
    else:
        results = with_threads(paths, args.threads, args.scale)
        how = f"{args.threads} threads"
    elapsed = time.perf_counter() - start

    arrays: dict[str, Any] = {p.name: r for p, r in zip(paths, results) if r is not None}
    out = out_dir / "segments.npz"
    np.savez(out, **arrays)
    total = sum(len(r) for r in arrays.values())
    print(f"{len(arrays)} images, {total} segments in {elapsed:.2f} s with {how} "
          f"({len(paths) / elapsed:.1f} images/s): {out}")
    unreadable = [p.name for p, r in zip(paths, results) if r is None]
    if unreadable:
        print(f"skipped {len(unreadable)} unreadable: {', '.join(unreadable)}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    # Exits only on failure: the documentation's gallery runs the script
    # inside its own build, which a successful exit would end.
    if status := main():
        sys.exit(status)
