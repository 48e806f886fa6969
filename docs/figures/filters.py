"""Bilinear against Lanczos-3: a detail of the bundled photograph enlarged four times (user guide)."""

import pathlib
import sys

import matplotlib.pyplot as plt
import numpy as np
from PIL import Image

import tessarin

# The figure's script is argv[0] while the documentation build runs it.
photo = pathlib.Path(sys.argv[0]).resolve().parents[2] / "data" / "rocket.png"
rgb = np.asarray(Image.open(photo).convert("RGB"))
zoom, (x0, y0), size = 4.0, (300, 170), (60, 40)     # a 60 x 40 detail

fig, axes = plt.subplots(1, 2, figsize=(7.5, 2.8))
for ax, name in zip(axes, ("bilinear", "lanczos3")):
    out = tessarin.warp_rgb(rgb, np.eye(3).ravel(), zoom, x0, y0, filter=name,
                            out_size=(int(size[0] * zoom), int(size[1] * zoom)))
    ax.imshow(out)
    ax.set_title(name, fontsize=9)
    ax.axis("off")
fig.tight_layout()
