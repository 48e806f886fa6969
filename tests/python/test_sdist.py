"""The source distribution holds exactly what builds, tests and documents the package.

Needs the checkout (a git work tree) and the `build` package, which
scripts/packaging.sh installs; the suite's own environments skip it.
"""

import pathlib
import shutil
import subprocess
import sys
import tarfile

import pytest

pytest.importorskip("build")

ROOT = pathlib.Path(__file__).resolve().parents[2]

pytestmark = pytest.mark.skipif(
    not (ROOT / ".git").exists() or not (ROOT / "CMakeLists.txt").exists() or shutil.which("git") is None,
    reason="needs the git checkout",
)

# What belongs in it: the build files, the licence and README at the top, and
# the sources, tests, docs, examples and sample photograph below. Benchmarks,
# developer scripts and CI files stay out.
TOP_FILES = {"CHANGELOG.md", "CMakeLists.txt", "LICENSE", "README.md", "pyproject.toml"}
FOLDERS = {"cmake", "src", "tests", "docs", "examples", "data"}


def belongs(name):
    first, _, rest = name.partition("/")
    return name in TOP_FILES or (first in FOLDERS and rest != "")


@pytest.fixture(scope="module")
def members(tmp_path_factory):
    out = tmp_path_factory.mktemp("sdist")
    result = subprocess.run(
        [sys.executable, "-m", "build", "--sdist", "--outdir", str(out), str(ROOT)],
        capture_output=True, text=True, timeout=600,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    (archive,) = out.glob("tessarin-*.tar.gz")
    with tarfile.open(archive) as tar:
        names = [m.name for m in tar.getmembers() if m.isfile()]
    prefix = archive.name.removesuffix(".tar.gz") + "/"
    assert all(n.startswith(prefix) for n in names), names[:5]
    return {n.removeprefix(prefix) for n in names}


def test_sdist_holds_exactly_the_tracked_files_that_belong(members):
    listed = subprocess.run(
        ["git", "ls-files", "--cached"],
        cwd=ROOT, capture_output=True, text=True, check=True,
    ).stdout.split("\n")
    tracked = {n for n in listed if n and (ROOT / n).is_file()}
    stray = sorted(n for n in members - {"PKG-INFO"} if not belongs(n))
    assert not stray, f"not part of the package, yet in the sdist: {stray}"
    untracked = sorted(members - tracked - {"PKG-INFO"})
    assert not untracked, f"in the sdist but not added to git: {untracked}"
    missing = sorted(n for n in tracked if belongs(n) and n not in members)
    assert not missing, f"missing from the sdist: {missing}"
    assert {"PKG-INFO", "LICENSE", "data/rocket.png", "src/python/tessarin.pyi"} <= members
