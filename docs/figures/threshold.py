"""What the gradient threshold means: bars of growing contrast and what detect finds (user guide)."""

import matplotlib.pyplot as plt
import numpy as np

import tessarin

steps = [2, 4, 5, 6, 8, 12, 16, 24, 48]
gray = np.full((110, 40 * len(steps) + 20), 100.0, np.float32)
for i, step in enumerate(steps):
    gray[25:85, 20 + 40 * i : 40 + 40 * i] += step

fig, axes = plt.subplots(2, 1, figsize=(7.5, 3.9))
for ax, scale in zip(axes, (1.0, 0.8)):
    ax.imshow(gray, cmap="gray", vmin=90, vmax=155)
    for s in tessarin.detect(gray, scale):
        # Segments are in detect's coordinates; imshow centres pixel [y, x] on (x, y).
        ax.plot([s.x1 - 0.5, s.x2 - 0.5], [s.y1 - 0.5, s.y2 - 0.5], color="tab:red", lw=1.5)
    ax.set_title(f"scale {scale}", fontsize=9, loc="left")
    ax.set_xticks([30 + 40 * i - 0.5 for i in range(len(steps))], [f"+{s}" for s in steps])
    ax.set_yticks([])
fig.tight_layout()
