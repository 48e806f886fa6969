"""The two coordinate conventions on a 4 x 3 image (drawn for the user guide)."""

import matplotlib.pyplot as plt
import numpy as np

image = np.array([[235, 235, 235, 235], [235, 235, 235, 235], [150, 150, 150, 150]])
fig, ax = plt.subplots(figsize=(7.0, 3.3))
# extent puts pixel img[y, x] on the square [x, x + 1] x [y, y + 1]: detect's convention.
ax.imshow(image, cmap="gray", vmin=0, vmax=255, extent=(0, 4, 3, 0))
for v in range(5):
    ax.plot([v, v], [0, 3], color="0.55", lw=0.8)
for h in range(4):
    ax.plot([0, 4], [h, h], color="0.55", lw=0.8)
ax.set_xlim(-0.4, 8.6)
ax.set_ylim(3.3, -0.35)
ax.set_aspect("equal")
ax.set_xticks(range(5))
ax.set_yticks(range(4))
for side in ("top", "right"):
    ax.spines[side].set_visible(False)
ax.tick_params(colors="tab:blue")
ax.set_xlabel("x for detect (column); origin at the image's corner", color="tab:blue", loc="left")
ax.set_ylabel("y for detect (row)", color="tab:blue")
ax.plot(0, 0, "o", color="tab:blue", ms=7, clip_on=False)
ax.annotate("(0, 0) for detect: the image's corner", (0, 0), (4.4, 0.0), color="tab:blue", va="center",
            arrowprops={"arrowstyle": "->", "color": "tab:blue"})
# Pixel centres: the integer positions of the resamplers.
cx, cy = np.meshgrid(np.arange(4) + 0.5, np.arange(3) + 0.5)
ax.plot(cx, cy, "+", color="tab:orange", ms=9, mew=1.6)
ax.annotate("(0, 0) for the resamplers:\nthe centre of img[0, 0]", (0.5, 0.5), (4.4, 0.75), color="tab:orange",
            va="center", arrowprops={"arrowstyle": "->", "color": "tab:orange"})
ax.annotate("centre of img[2, 3]: (3.5, 2.5) for detect,\n(3, 2) for the resamplers", (3.5, 2.5), (4.4, 2.6),
            color="tab:orange", va="center", arrowprops={"arrowstyle": "->", "color": "tab:orange"})
# The edge between rows 1 and 2 (boundary y = 2) as detect reports it at scale 1.
ax.plot([0.5, 3.5], [1.5, 1.5], color="tab:red", lw=2.5)
ax.annotate("the edge between rows 1 and 2 (y = 2),\nreported by detect at y = 1.5", (3.5, 1.5), (4.4, 1.7),
            color="tab:red", va="center", arrowprops={"arrowstyle": "->", "color": "tab:red"})
fig.tight_layout()
