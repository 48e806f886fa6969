"""The test scripts' shared stage runner, package check and free-threaded interpreter (scripts/lib.sh)."""

import pathlib
import shutil
import subprocess
import sys
import sysconfig

import pytest

LIB = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "lib.sh"

pytestmark = pytest.mark.skipif(
    shutil.which("bash") is None or not LIB.exists(), reason="needs bash and the checkout's scripts"
)


def bash(script):
    return subprocess.run(["bash", "-c", f". {LIB}\n{script}"], capture_output=True, text=True, timeout=60)


def test_every_stage_runs_and_a_failure_fails_the_run():
    r = bash("stage first false\nstage second true\nsummary")
    assert r.returncode != 0
    rows = [line.split()[0] for line in r.stdout.splitlines()[-2:]]
    assert rows == ["first", "second"]
    assert "FAILED (1)" in r.stdout.splitlines()[-2] and " ok " in r.stdout.splitlines()[-1]
    assert bash("stage only true\nsummary").returncode == 0


def test_missing_packages_are_not_installed_without_root():
    # `id -u` answers as an ordinary user; nothing may reach apt-get.
    r = bash("id() { echo 1000; }\napt-get() { echo ran apt-get; }\napt_need no-such-package-here")
    assert r.returncode == 1
    assert "not root" in r.stderr and "no-such-package-here" in r.stderr
    assert "ran apt-get" not in r.stdout + r.stderr


def test_a_missing_locale_is_only_reported_without_root():
    # Neither localedef nor apt-get may run, and the run goes on.
    r = bash("id() { echo 1000; }\nlocale() { echo C; }\nlocaledef() { echo ran localedef; }\n"
             "apt-get() { echo ran apt-get; }\nensure_locale xx_YY.UTF-8 && echo went on")
    assert r.returncode == 0 and "went on" in r.stdout
    assert "not root" in r.stderr and "xx_YY.UTF-8" in r.stderr
    assert "ran" not in r.stdout + r.stderr
    # A locale already there (as `locale -a` spells it) needs nothing.
    r = bash("locale() { echo de_DE.utf8; }\nlocaledef() { echo ran localedef; }\nensure_locale de_DE.UTF-8")
    assert r.returncode == 0 and "ran" not in r.stdout + r.stderr and r.stderr == ""


@pytest.mark.parametrize("ci", ["true", ""])
def test_without_an_interpreter_or_its_source_the_build_says_why(tmp_path, ci):
    r = bash(f"cpython_source() {{ echo {tmp_path}/shared; }}\nCI={ci} cpython_freethreaded {tmp_path}/prefix")
    assert r.returncode == 1 and r.stdout == ""
    lines = r.stderr.splitlines()
    assert "no free-threaded CPython 3.14" in lines[0] and f"{tmp_path}/shared/Python-" in lines[0]
    if ci:
        assert len(lines) == 1
    else:  # by hand it also says what would do
        assert "python3.14t" in r.stderr and "TESSARIN_FT_PYTHON" in r.stderr
    assert not (tmp_path / "prefix").exists()


def test_source_that_fails_its_checksum_is_not_built(tmp_path):
    shared = tmp_path / "shared"
    shared.mkdir()
    (shared / "Python-3.14.7.tar.xz").write_bytes(b"not the archive")
    (shared / "SHA256SUMS").write_text("0" * 64 + "  Python-3.14.7.tar.xz\n")
    r = bash(f"cpython_source() {{ echo {shared}; }}\napt_need() {{ echo ran apt_need; }}\n"
             f"cpython_freethreaded {tmp_path}/prefix")
    assert r.returncode == 1
    assert "does not match" in r.stderr and "ran apt_need" not in r.stdout
    assert not list(tmp_path.glob("prefix*building*"))


def test_a_prefix_that_does_not_work_is_left_alone(tmp_path):
    prefix = tmp_path / "prefix"
    (prefix / "bin").mkdir(parents=True)
    (prefix / "bin" / "keep").write_text("")
    r = bash(f"cpython_freethreaded {prefix}")
    assert r.returncode == 1 and "remove it" in r.stderr
    assert (prefix / "bin" / "keep").exists()


def test_an_interpreter_named_by_the_user_must_be_free_threaded_314():
    free_threaded_314 = sys.version_info[:2] == (3, 14) and bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    r = bash(f"TESSARIN_FT_PYTHON={sys.executable} find_freethreaded")
    assert (r.returncode == 0) == free_threaded_314, r.stderr
    assert r.stdout.strip() == (sys.executable if free_threaded_314 else "")
