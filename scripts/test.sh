#!/usr/bin/env bash
# Builds and runs the native tests, then installs the package and the test
# requirements and runs the Python suite, on every supported interpreter found
# on the machine (3.11 and 3.13 at least), and once more on the newest with
# every test run by 4 threads at once (pytest-run-parallel; the tests that
# cannot are marked thread_unsafe and run alone). Each interpreter gets its own
# virtual environment under build/venv/ (made on the first run, reused after),
# so no interpreter of the machine is changed and no root is needed; GoogleTest
# comes from the distribution and is installed only when running as root.
# Every stage runs even when an earlier one failed; a table of the stages
# ends the output, and the exit status is non-zero when any failed.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

find_pythons
# A locale with a decimal comma, for the tests of locale-independent text.
ensure_locale de_DE.UTF-8

# The native build's tools (CMake, Ninja) come from PyPI, into the first
# interpreter's environment. The benchmarks are built too (not run), so that
# they keep building.
native() {
    local py
    apt_need libgtest-dev || return 1
    py=$(venv_python "${pythons[0]}" cmake ninja) || return 1
    local bin=${py%/python}
    PATH=$bin:$PATH cmake -S . -B build/cpp -G Ninja -DTESSARIN_BUILD_TESTS=ON -DTESSARIN_BUILD_MODULE=OFF \
        -DTESSARIN_BUILD_BENCHMARKS=ON >/dev/null &&
        PATH=$bin:$PATH cmake --build build/cpp -j2 &&
        ./build/cpp/tessarin_tests --gtest_brief=1
}

python_suite() {
    local py
    py=$(venv_python "$1" .) || return 1
    (cd tests/python && "$py" -m pytest -q -p no:cacheprovider .)
}

# The newest interpreter's environment runs the suite once more with each test
# in several threads at once; scripts/freethreaded.sh does the same on
# free-threaded 3.14.
parallel_regular() {
    local py
    py=$(venv_python "$1") || return 1
    parallel_suite "$py"
}

stage "native tests" native
for base in "${pythons[@]}"; do
    stage "Python suite on $("$base" -c 'import sys; print(sys.version.split()[0])')" python_suite "$base"
done
stage "Python suite on $("${pythons[-1]}" -c 'import sys; print(sys.version.split()[0])'), ${TESSARIN_PARALLEL_THREADS:-4} threads per test" \
    parallel_regular "${pythons[-1]}"
summary
