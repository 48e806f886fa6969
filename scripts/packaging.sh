#!/usr/bin/env bash
# The package as a user gets it, on CPython 3.11:
#
#   1. the repaired manylinux wheel (scripts/build_wheel.sh);
#   2. that wheel installed into a fresh virtual environment, with binary
#      wheels only and no C or C++ compiler on PATH, and the Python suite
#      (the examples' smoke tests, the README's detect, warp and remap calls,
#      the type information among them) run from a copy of the tests outside
#      the checkout, so only the installed module can be imported;
#   3. the source distribution, listed by tests/python/test_sdist.py: it
#      holds exactly the sources, tests, docs, examples, sample and licence;
#   4. the same wheel in an environment with the oldest NumPy pyproject.toml
#      allows, and the whole Python suite against it.
#
# Everything goes into build/packaging/ (the environments are made afresh on
# every run); no interpreter of the machine is changed. Every stage runs even
# when an earlier one failed, and a table of the stages ends the output.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
root=$(pwd)
out=$root/build/packaging
mkdir -p "$out"

# The wheel is built for and tested on 3.11, the oldest interpreter the
# package supports, which is the one the oldest allowed NumPy has wheels for.
find_pythons
base=${pythons[0]}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-packaging.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
wheel=

pip_quiet() { "$@" -q --disable-pip-version-check --only-binary=:all:; }

build_wheel() {
    "$base" -c 'import sys; assert sys.version_info[:2] == (3, 11), sys.version' || {
        echo "the packaging check needs CPython 3.11 (pyenv), found $base" >&2
        return 1
    }
    wheel=$(PYTHON=$base bash scripts/build_wheel.sh "$out/wheelhouse" | tail -n 1) && [ -f "$wheel" ] || return 1
    echo "$wheel"
}

# A directory of the few tools the tests run besides the interpreter (shells
# for the scripts' tests), so a PATH of it and a venv's bin holds no compiler.
no_compiler_path() {
    local tools=$out/tools-no-compiler tool
    rm -rf "$tools"
    mkdir -p "$tools"
    for tool in bash sh env; do
        ln -s "$(command -v "$tool")" "$tools/$tool"
    done
    echo "$1/bin:$tools"
}

# Makes the fresh environment $1 holding the wheel and the test requirements
# (plus pip arguments that follow), without a compiler on PATH, and prints
# that PATH.
wheel_env() {
    local dir=$1 reqs path
    shift
    [ -f "$wheel" ] || { echo "no wheel was built" >&2; return 1; }
    "$base" -m venv --clear "$dir" >&2 || return 1
    mapfile -t reqs < <(test_requirements "$base")
    [ ${#reqs[@]} -gt 0 ] || return 1
    path=$(no_compiler_path "$dir")
    local cc
    for cc in cc c++ gcc g++ clang clang++; do
        if PATH=$path command -v "$cc" >/dev/null; then
            echo "a compiler is on the test PATH: $cc" >&2
            return 1
        fi
    done
    PATH=$path pip_quiet "$dir/bin/python" -m pip install "$wheel" "${reqs[@]}" "$@" >&2 || return 1
    echo "$path"
}

# Runs pytest in environment $1 (PATH $2) on the files that follow, from a
# copy of what the wheel workflow copies, after checking that the module
# imported is the installed one.
suite_outside() {
    local dir=$1 path=$2 copy
    shift 2
    copy=$(mktemp -d "$scratch/suite.XXXXXX")
    cp -r tests examples data README.md pyproject.toml "$copy"/ &&
    (
        cd "$copy" &&
        PATH=$path "$dir/bin/python" -c '
import sys, tessarin
assert tessarin.__file__.startswith(sys.prefix), tessarin.__file__
print("tessarin", tessarin.__file__)' &&
        PATH=$path "$dir/bin/python" -m pytest -q -p no:cacheprovider "$@"
    )
}

installed_wheel() {
    local dir=$out/venv-wheel path
    path=$(wheel_env "$dir") || return 1
    suite_outside "$dir" "$path" tests/python
}

sdist() {
    local dir=$out/venv-sdist
    if [ ! -x "$dir/bin/python" ]; then
        "$base" -m venv "$dir" || return 1
    fi
    pip_quiet "$dir/bin/python" -m pip install build pytest || return 1
    # Without the suite's conftest, which needs NumPy: this environment has
    # only the tools.
    "$dir/bin/python" -m pytest -q -p no:cacheprovider --noconftest tests/python/test_sdist.py
}

oldest_numpy() {
    local dir=$out/venv-oldest path bound
    bound=$("$base" -c '
import re, tomllib
deps = tomllib.load(open("pyproject.toml", "rb"))["project"]["dependencies"]
print(next(re.fullmatch(r"numpy>=([\d.]+)", d)[1] for d in deps if d.startswith("numpy")))') || return 1
    echo "numpy $bound"
    echo "numpy==$bound" >"$out/oldest-constraints.txt"
    path=$(wheel_env "$dir" -c "$out/oldest-constraints.txt") || return 1
    "$dir/bin/python" -c "import numpy; assert numpy.__version__ == '$bound', numpy.__version__" || return 1
    suite_outside "$dir" "$path" tests/python
}

stage "repaired wheel (CPython 3.11)" build_wheel
stage "installed wheel, no compiler" installed_wheel
stage "sdist contents" sdist
stage "oldest NumPy, whole suite" oldest_numpy
summary
