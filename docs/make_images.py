"""Regenerates the pictures in docs/images from the examples.

    python docs/make_images.py

Runs each example in a scratch directory, lays its inputs and outputs side
by side, and stores small palette PNGs (the README shows them).
"""

import pathlib
import subprocess
import sys
import tempfile

from PIL import Image

ROOT = pathlib.Path(__file__).resolve().parents[1]
OUT = ROOT / "docs" / "images"


def run(script: str, *args: str, cwd: pathlib.Path) -> None:
    subprocess.run([sys.executable, str(ROOT / "examples" / script), *args], cwd=cwd, check=True)


def row(paths: list[pathlib.Path], height: int, gap: int = 8) -> Image.Image:
    """The pictures scaled to one height, left to right on white."""
    pictures = [Image.open(p).convert("RGB") for p in paths]
    pictures = [p.resize((round(p.width * height / p.height), height), Image.Resampling.LANCZOS) for p in pictures]
    canvas = Image.new("RGB", (sum(p.width for p in pictures) + gap * (len(pictures) - 1), height), "white")
    x = 0
    for p in pictures:
        canvas.paste(p, (x, 0))
        x += p.width + gap
    return canvas


def save(picture: Image.Image, name: str, colours: int = 96) -> None:
    picture.quantize(colours, dither=Image.Dither.NONE).save(OUT / name, optimize=True)
    print(f"{name}: {(OUT / name).stat().st_size // 1024} KB")


def main() -> None:
    OUT.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        tmp = pathlib.Path(scratch)
        run("quickstart.py", "--out-dir", ".", cwd=tmp)
        save(row([tmp / "quickstart_overlay.png"], 427), "quickstart.png", 64)
        run("rectify_document.py", "--out-dir", ".", "--overlay", cwd=tmp)
        save(row([tmp / "page_found.png", tmp / "page.png"], 360), "rectify_document.png")
        run("undistort.py", "--zoom", "0.8", "--out-dir", ".", cwd=tmp)
        names = ["undistorted_input.png", "undistorted.png", "undistorted_mask.png"]
        save(row([tmp / n for n in names], 220), "undistort.png", 64)


if __name__ == "__main__":
    main()
