import os

import numpy as np
import pytest

# Set when the suite runs against the sanitizer build (runtime preloaded).
# Resident memory then says nothing (freed blocks sit in a quarantine), and
# helper processes such as mypy inherit the preload and its leak checker.
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")

# Set, to the emulator's name, when the suite runs under a user-mode emulator
# (scripts/platforms.sh runs it under qemu-aarch64). Such an emulator runs the
# code some thirty times slower and cannot fork safely beside running threads.
EMULATED = os.environ.get("TESSARIN_EMULATED", "")


def skip_under_emulation(why):
    """Skips the test when the suite runs under an emulator, for a reason of the emulator's."""
    return pytest.mark.skipif(bool(EMULATED), reason=f"under {EMULATED or 'emulation'}: {why}")


def examples(count):
    """Hypothesis examples for a property: `count` natively, a quarter of it
    (at least 10) under an emulator, where the full count runs for minutes."""
    return max(count // 4, 10) if EMULATED else count


if EMULATED:
    # Properties that do not name their number of examples take the light one
    # too; no deadline, as the emulator's first translation of a path is slow.
    from hypothesis import settings

    settings.register_profile("emulated", max_examples=examples(100), deadline=None)
    settings.load_profile("emulated")


def rectangle_image(height=120, width=160, dtype=np.uint8, value=200, background=30):
    """A bright axis-aligned rectangle on a dark background, with mild texture."""
    img = np.full((height, width), background, dtype=np.float64)
    img[30:90, 40:120] = value
    rng = np.random.default_rng(7)
    img += rng.normal(0.0, 2.0, img.shape)
    return np.clip(img, 0, 255).round().astype(dtype)


def pytest_configure(config):
    # The suite also runs with every test in several threads at once
    # (pytest-run-parallel); tests that cannot carry this mark, with a reason,
    # and run in one thread. Named here too, for runs without the plugin.
    config.addinivalue_line("markers", "thread_unsafe(reason): the test runs in one thread only")


@pytest.fixture
def rect_u8():
    return rectangle_image()
