"""The test scripts' shared stage runner and package check (scripts/lib.sh)."""

import pathlib
import shutil
import subprocess

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
