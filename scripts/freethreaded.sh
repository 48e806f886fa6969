#!/usr/bin/env bash
# The module on free-threaded CPython 3.14, the interpreter it is made for:
#
#   1. the interpreter: TESSARIN_FT_PYTHON when set, else python3.14t on PATH,
#      pyenv's 3.14t, or the one built before into TESSARIN_FT_PREFIX (default
#      ~/.cache/tessarin/cpython-3.14.7t); failing those, it is built there
#      from ../shared/python/Python-3.14.7.tar.xz (checksum checked, about 5
#      minutes on 2 cores) and reused by every later run;
#   2. build/venv/3.14t with NumPy's free-threaded (cp314t) wheel and the test
#      extra, binary wheels only: a package without a cp314t wheel is named
#      here, and the tests that need it skip; then the module, built and
#      installed from this checkout;
#   3. the whole Python suite, with the interpreter's GIL off throughout (the
#      suite's own test checks that importing and calling the module leaves
#      it off);
#   4. the suite again with every test run by 4 threads at once
#      (pytest-run-parallel; TESSARIN_PARALLEL_THREADS changes the count):
#      tests marked thread_unsafe run in one thread, and the report at the
#      end says how many ran in parallel and why the others did not.
#
# Every stage runs when the ones it needs succeeded; a table of the stages ends
# the output, and the exit status is non-zero when any failed.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ft_python=
py=

interpreter() {
    ft_python=$(find_freethreaded) || return 1
    "$ft_python" -VV
}

# NumPy, pytest and the parallel runner are required; every other test
# requirement is installed alone, so one without a cp314t wheel is named and
# leaves the rest in place.
environment() {
    local dir reqs req missing=()
    dir=$(venv_dir "$ft_python") || return 1
    [ -x "$dir/bin/python" ] || "$ft_python" -m venv "$dir" || return 1
    py=$(pwd)/$dir/bin/python
    local core='^(numpy|pytest)([^a-zA-Z0-9_.-]|$)'
    local pip=("$py" -m pip install -q --disable-pip-version-check --only-binary=:all:)
    mapfile -t reqs < <(test_requirements "$py")
    "${pip[@]}" $(printf '%s\n' "${reqs[@]}" | grep -E "$core") pytest-run-parallel || return 1
    for req in "${reqs[@]}"; do
        [[ $req =~ $core ]] && continue
        "${pip[@]}" "$req" >/dev/null 2>&1 || missing+=("$req")
    done
    [ ${#missing[@]} -eq 0 ] || echo "no cp314t wheel, so their tests skip: ${missing[*]}"
    "$py" -m pip install -q --disable-pip-version-check . || return 1
    "$py" -c 'import sys, numpy, tessarin
print("NumPy", numpy.__version__, "| GIL enabled:", sys._is_gil_enabled())'
}

suite() {
    (cd tests/python && "$py" -m pytest -q -p no:cacheprovider -p no:run-parallel .)
}

stage "free-threaded CPython 3.14" interpreter
if [ "${stage_results[-1]}" = ok ]; then
    stage "3.14t environment and module" environment
    if [ "${stage_results[-1]}" = ok ]; then
        stage "Python suite on 3.14t" suite
        stage "Python suite on 3.14t, ${TESSARIN_PARALLEL_THREADS:-4} threads per test" parallel_suite "$py"
    fi
fi
summary
