"""Memory a call takes grows with its work, not with one of its dimensions.

Each case runs in a fresh interpreter that makes its inputs, resets the
process's peak resident size, makes one call and reads the peak again.
"""

import json
import subprocess
import sys
import textwrap

import pytest

import tessarin
from conftest import SANITIZED

pytestmark = pytest.mark.skipif(
    not sys.platform.startswith("linux") or SANITIZED, reason="reads the peak resident size of a Linux process"
)

MEASURE = """
import json, numpy as np, tessarin
def peak():
    return int(open("/proc/self/status").read().split("VmHWM:")[1].split()[0]) * 1024
src = np.full((40, 40, 3), 90, np.uint8)
{setup}
tessarin.detect(np.zeros((8, 8), np.uint8))
open("/proc/self/clear_refs", "w").write("5")
before = peak()
out = {call}
print(json.dumps({{"grown": peak() - before}}))
"""


def grown(setup, call):
    code = MEASURE.format(setup=textwrap.dedent(setup), call=call)
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    if r.returncode != 0 and "clear_refs" in r.stderr:
        pytest.skip("the peak resident size cannot be reset here")
    assert r.returncode == 0, r.stderr
    return json.loads(r.stdout.strip().splitlines()[-1])["grown"]


WIDE = 1 << 23


@pytest.mark.parametrize(
    "setup, call, size",
    [
        # One row of 2^23 RGB pixels (24 MiB): per-column terms once took 8
        # times that.
        ("", f"tessarin.warp_rgb(src, [1, 0, 0.5, 0, 1, 0.25, 0, 0, 1], 1.0, 0, 0, 'lanczos3', ({WIDE}, 1))",
         3 * WIDE),
        ("mx = np.full((1, %d), 3.5, np.float32); my = mx - 1" % WIDE, "tessarin.remap_rgb(src, mx, my)", 3 * WIDE),
        ("mx = np.full((1, %d), 3.5, np.float32); my = mx - 1" % WIDE,
         "tessarin.remap_gray(src[..., 0].copy(), mx, my)", WIDE),
    ],
    ids=["warp_rgb", "remap_rgb", "remap_gray"],
)
def test_a_wide_one_row_output_takes_about_its_own_size(setup, call, size):
    assert grown(setup, call) <= 1.5 * size


def test_detect_on_a_wide_short_image_takes_what_a_square_one_does():
    # 2^21 x 4 bytes: the downscaling's window of rows once took 7 rows of
    # the output's width per worker (some 44 bytes per input pixel). The
    # working image, its field and the seeds take about 13.
    pixels = (1 << 21) * 4
    setup = "gray = np.zeros((4, %d), np.uint8); gray[:, ::97] = 200" % (1 << 21)
    assert grown(setup, "tessarin.detect(gray)") <= 16 * pixels


def machine_bytes():
    fields = dict(line.split(":", 1) for line in open("/proc/meminfo"))
    return sum(int(fields[k].split()[0]) * 1024 for k in ("MemTotal", "SwapTotal"))


def test_a_detection_the_machine_cannot_hold_is_refused_before_it_starts():
    # 65535^2 pixels (under 2^32) at scale 1 need some 90 GB of working
    # image and field. The input is never touched: its pages stay unmade.
    import numpy as np

    side = 65535
    if machine_bytes() >= 21 * side * side:
        pytest.skip("this machine could hold the detection")
    gray = np.empty((side, side), np.uint8)
    with pytest.raises(MemoryError):
        tessarin.detect(gray, 1.0)


def test_an_output_larger_than_the_machine_is_refused_before_it_starts():
    import numpy as np

    width = machine_bytes() // 3 + 1
    with pytest.raises(MemoryError):
        tessarin.warp_rgb(np.zeros((4, 4, 3), np.uint8), [1, 0, 0, 0, 1, 0, 0, 0, 1], 1.0, 0, 0, "bilinear", (width, 1))
