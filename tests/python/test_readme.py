"""Every python block of the README runs, in order, in one namespace.

A line `print(...)  # text` must print exactly `text` (up to a colon that
starts an explanation), so the outputs the README shows stay true.
"""

import contextlib
import io
import os
import pathlib
import re

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BLOCK = re.compile(r"^```python\n(.*?)^```", re.S | re.M)
SHOWN = re.compile(r"^(\s*)print\((.*)\)\s+# (.*?)(?::.*)?$")


def checked(source):
    """The block with each commented print turned into a comparison."""
    return "\n".join(
        SHOWN.sub(lambda m: f"{m[1]}_shows({m[3]!r}, {m[2]})", line) for line in source.splitlines()
    )


@pytest.mark.thread_unsafe(reason="changes the process's working directory and sys.stdout")
def test_readme_python_blocks_run(tmp_path):
    blocks = BLOCK.findall((ROOT / "README.md").read_text())
    assert len(blocks) >= 4

    def shows(expected, *values):
        text = " ".join(map(str, values))
        assert text == expected, f"README shows {expected!r}, the code prints {text!r}"

    namespace = {"_shows": shows, "__name__": "readme"}
    (tmp_path / "data").symlink_to(ROOT / "data")
    old = os.getcwd()
    os.chdir(tmp_path)
    try:
        for number, block in enumerate(blocks, 1):
            with contextlib.redirect_stdout(io.StringIO()):
                try:
                    exec(compile(checked(block), f"README block {number}", "exec"), namespace)
                except Exception as error:
                    pytest.fail(f"README block {number} fails: {error!r}\n{block}")
    finally:
        os.chdir(old)
