"""The two coordinate conventions on a 4 x 3 image (drawn for the user guide)."""

import matplotlib.pyplot as plt
import numpy as np

image = np.array([[40, 40, 40, 40], [40, 40, 40, 40], [200, 200, 200, 200]])
fig, ax = plt.subplots(figsize=(6.4, 4.0))
# extent puts pixel img[y, x] on the square [x, x + 1] x [y, y + 1]: detect's convention.
ax.imshow(image, cmap="gray", vmin=0, vmax=255, extent=(0, 4, 3, 0))
for v in range(5):
    ax.axvline(v, color="0.6", lw=0.8)
for h in range(4):
    ax.axhline(h, color="0.6", lw=0.8)
ax.set_xlim(-0.9, 4.6)
ax.set_ylim(3.6, -0.9)
ax.set_aspect("equal")
ax.set_xticks(range(5))
ax.set_yticks(range(4))
ax.tick_params(colors="tab:blue")
ax.set_xlabel("detect: x (column), origin at the image's corner", color="tab:blue")
ax.set_ylabel("detect: y (row), downward", color="tab:blue")
ax.plot(0, 0, "o", color="tab:blue", ms=7)
ax.annotate("(0, 0) for detect", (0, 0), (-0.85, -0.55), color="tab:blue")
# Pixel centres: integers for the resamplers.
cx, cy = np.meshgrid(np.arange(4) + 0.5, np.arange(3) + 0.5)
ax.plot(cx, cy, "+", color="tab:orange", ms=9, mew=1.5)
ax.annotate("(0, 0) for the resamplers:\ncentre of img[0, 0]", (0.5, 0.5), (1.2, 0.7), color="tab:orange",
            arrowprops={"arrowstyle": "->", "color": "tab:orange"})
ax.annotate("centre of img[2, 3]:\n(3.5, 2.5) for detect, (3, 2) for the resamplers", (3.5, 2.5), (0.1, 3.45),
            color="tab:orange", arrowprops={"arrowstyle": "->", "color": "tab:orange"})
# The edge between rows 1 and 2 (boundary y = 2) as detect reports it at scale 1.
ax.plot([0.5, 3.5], [1.5, 1.5], color="tab:red", lw=2.5)
ax.annotate("edge reported at y = 1.5", (3.5, 1.5), (3.65, 1.2), color="tab:red")
fig.tight_layout()
