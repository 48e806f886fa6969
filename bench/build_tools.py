"""Building an earlier commit for --compare, the same way for both benchmarks.

The commit's files are exported with ``git archive`` (no worktree is made) and
built with ``pip install --no-build-isolation --target`` into
build/compare/<commit>/site, which is kept for later runs: a finished build is
marked with a file ``.complete`` and found again without building. Building
without isolation reuses this environment's NumPy, so a rebuild takes seconds
rather than a fresh download, and needs the project's build backend in this
interpreter, which is installed when it is missing.
"""

from __future__ import annotations

import importlib.util
import json
import os
import shutil
import subprocess
import sys
import tempfile
import tomllib
from pathlib import Path


def ensure_build_backend(root: Path) -> None:
    """Installs the build requirements of pyproject.toml when the backend is missing."""
    if importlib.util.find_spec("scikit_build_core") is not None:
        return
    with open(root / "pyproject.toml", "rb") as f:
        requires = tomllib.load(f)["build-system"]["requires"]
    print("installing the build requirements:", " ".join(requires), flush=True)
    subprocess.check_call([sys.executable, "-m", "pip", "install", "--quiet", *requires])


def build_revision(root: Path, rev: str) -> tuple[str, Path]:
    """The full commit that `rev` names in the repository at `root`, and the
    directory holding the module built from it (to put first on sys.path)."""
    commit = subprocess.run(["git", "-C", str(root), "rev-parse", "--verify", rev + "^{commit}"],
                            check=True, capture_output=True, text=True).stdout.strip()
    place = root / "build" / "compare" / commit[:12]
    site = place / "site"
    if (site / ".complete").exists():
        return commit, site
    # An unfinished earlier attempt is started over.
    shutil.rmtree(place, ignore_errors=True)
    tree = place / "tree"
    tree.mkdir(parents=True)
    archive = subprocess.run(["git", "-C", str(root), "archive", commit], check=True, capture_output=True).stdout
    subprocess.run(["tar", "-x", "-C", str(tree)], input=archive, check=True)
    ensure_build_backend(root)
    print(f"building {rev} ({commit[:12]}) into {site} ...", flush=True)
    env = dict(os.environ)
    env.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--no-deps", "--no-build-isolation",
                    "--target", str(site), str(tree)], check=True, env=env)
    (site / ".complete").touch()
    return commit, site


def run_worker(script: Path, args: list[str], site: Path | None, pin: bool = False) -> dict:
    """Runs `script args` as a worker process, importing the module from `site`
    (None: the installed one), pinned to the first processor if `pin`, and
    returns the JSON object its last line prints."""
    cmd = [sys.executable, str(script), *args]
    if site is not None:
        cmd += ["--site", str(site)]
    if pin:
        cmd = ["taskset", "-c", "0", *cmd]
    # Run outside the repository so that `import tessarin` finds the build asked for.
    done = subprocess.run(cmd, capture_output=True, text=True, cwd=tempfile.gettempdir())
    if done.returncode != 0:
        sys.exit(f"worker failed: {' '.join(cmd)}\n{done.stderr}")
    return json.loads(done.stdout.strip().splitlines()[-1])
