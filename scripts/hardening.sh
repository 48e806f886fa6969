#!/usr/bin/env bash
# Sanitizer, race and fuzz runs, each bounded in time. Exits non-zero on any
# finding. Safe to run again: each stage is a CMake build of its own under
# build/hardening/, so a changed flag or source rebuilds what it affects.
#
#   1. AddressSanitizer + UndefinedBehaviorSanitizer (gcc): the native tests,
#      then the whole Python suite against a sanitized build of the module,
#      with the sanitizer runtime preloaded into the interpreter.
#   2. ThreadSanitizer (gcc): the native tests of the worker pool and of the
#      parallel loops (downscale, field, warp, remap, concurrent callers).
#   3. libFuzzer with ASan + UBSan, built by the newest clang the
#      distribution offers: the detector and the resampling samplers and
#      drivers, from the committed seed corpus.
#
#   4. On demand only (tsan-ft): free-threaded CPython 3.14 built with
#      ThreadSanitizer, the module built with it, and the concurrency tests and
#      a run with every API test in 4 threads at once under it.
#
# Arguments pick stages (asan, tsan, fuzz, tsan-ft; default asan tsan fuzz).
# HARDENING_FUZZ_SECONDS sets each fuzz target's run time (default 120).
# HARDENING_FUZZ_SEED sets the fuzzers' seed (default 1, so a run repeats the last).
# Distribution packages (GoogleTest, clang) are installed only when running as
# root; Python packages go into the virtual environments under build/venv/.
set -uo pipefail
stages=${*:-asan tsan fuzz}
want() { [[ " $stages " == *" $1 "* ]]; }
cd "$(dirname "$0")/.."
. scripts/lib.sh
root=$(pwd)
out=$root/build/hardening
fuzz_seconds=${HARDENING_FUZZ_SECONDS:-120}

# The newest interpreter found, in its environment, with CMake and Ninja.
find_pythons
py=$(venv_python "${pythons[-1]}" cmake ninja) || { echo "cannot prepare the Python environment" >&2; exit 1; }
PATH=${py%/python}:$PATH

# Configures build/hardening/$1 with the CMake options that follow and builds it.
build() {
    local dir=$out/$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir" -j2
}

# Huge sizes must come back as a failed allocation (MemoryError, bad_alloc),
# as they do without a sanitizer, instead of the sanitizer's own abort.
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# --- 1. ASan + UBSan ----------------------------------------------------------
asan_build() {
    apt_need libgtest-dev || return 1
    build asan -DCMAKE_CXX_COMPILER=g++ -DTESSARIN_SANITIZE=address,undefined -DTESSARIN_BUILD_TESTS=ON \
        -DTESSARIN_BUILD_MODULE=ON -DPython_EXECUTABLE="$py"
}
asan_native() { "$out/asan/tessarin_tests" --gtest_brief=1; }
asan_python() {
    # The C++ runtime is preloaded too: the sanitizer finds the functions it
    # wraps (exception throwing among them) when it starts, before the module
    # brings the C++ runtime in.
    local preload
    preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
    # The interpreter's own allocations that live until exit are not leaks of
    # the module; the suppressions name only the interpreter and NumPy.
    (
        cd tests/python &&
        export LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan-python.supp:print_suppressions=0 &&
        export LD_PRELOAD=$preload PYTHONPATH=$out/asan &&
        "$py" -c 'import tessarin; assert "build/hardening" in tessarin.__file__, tessarin.__file__' &&
        # Without fd capture, so that a sanitizer report reaches the log.
        "$py" -m pytest -q -p no:cacheprovider --capture=sys .
    )
}
if want asan; then
    stage "ASan+UBSan build" asan_build
    stage "ASan+UBSan native tests" asan_native
    stage "ASan+UBSan Python suite" asan_python
fi

# --- 2. ThreadSanitizer -------------------------------------------------------
# The suites of the pool, the parallel loops and the concurrent callers, plain
# and parametrized (Prefix/Suite.Test/N).
tsan_suites=(Pool PoolTest ConcurrentCalls FieldMatchesDefinition LevelLineField SeedOrder StepEdge
             UnrepresentableSample BorderTest ColumnMap ColumnMapTest ConstantTest Downscale Kernel KernelTest
             ReferenceTest SizeTest WeightedSum WorkersTest RemapSizes WarpSizes WorkerCounts)
tsan_filter=$(printf '%s.*:*/%s.*:' $(for s in "${tsan_suites[@]}"; do echo "$s $s"; done))
tsan_build() {
    apt_need libgtest-dev || return 1
    build tsan -DCMAKE_CXX_COMPILER=g++ -DTESSARIN_SANITIZE=thread -DTESSARIN_BUILD_TESTS=ON -DTESSARIN_BUILD_MODULE=OFF
}
tsan_tests() {
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:allocator_may_return_null=1 \
        "$out/tsan/tessarin_tests" --gtest_brief=1 --gtest_filter="$tsan_filter"
}
if want tsan; then
    stage "TSan build" tsan_build
    stage "TSan tests" tsan_tests
fi

# --- 3. libFuzzer -------------------------------------------------------------
# The newest N for which the distribution offers clang-N with its compiler
# runtime (libFuzzer among it); as root it is installed when missing, else the
# newest clang++-N already installed is used.
newest_clang() {
    local offered n
    offered=$(apt-cache search --names-only '^libclang-rt-[0-9]+-dev$' 2>/dev/null |
              sed -n 's/^libclang-rt-\([0-9]*\)-dev .*/\1/p' | sort -n)
    for n in $(echo "$offered" | sort -rn); do
        if apt-cache show "clang-$n" >/dev/null 2>&1; then
            if command -v "clang++-$n" >/dev/null 2>&1 && dpkg -s "libclang-rt-$n-dev" >/dev/null 2>&1; then
                echo "$n"
                return 0
            fi
            if [ "$(id -u)" -eq 0 ] && apt_need "clang-$n" "libclang-rt-$n-dev"; then
                echo "$n"
                return 0
            fi
            echo "clang-$n is offered but not installed (not root): using an installed clang" >&2
            break
        fi
    done
    n=$(compgen -c clang++- | sed -n 's/^clang++-\([0-9]*\)$/\1/p' | sort -n | tail -n 1)
    [ -n "$n" ] && echo "$n"
}
fuzz_build() {
    local n
    n=$(newest_clang) || { echo "no clang found" >&2; return 1; }
    echo "clang $n"
    # The reports are symbolized by the same release's symbolizer.
    command -v "llvm-symbolizer-$n" >/dev/null 2>&1 && export ASAN_SYMBOLIZER_PATH=$(command -v "llvm-symbolizer-$n")
    build fuzz -DCMAKE_CXX_COMPILER="clang++-$n" -DTESSARIN_SANITIZE=address,undefined -DTESSARIN_BUILD_FUZZERS=ON \
        -DTESSARIN_BUILD_TESTS=OFF -DTESSARIN_BUILD_MODULE=OFF
}
fuzz_run() {
    local target=$1
    # New inputs go to a scratch directory; the committed seeds stay as they are.
    local work=$out/fuzz/corpus-$target
    mkdir -p "$work"
    (cd "$out/fuzz" && "./fuzz_$target" -seed="${HARDENING_FUZZ_SEED:-1}" -max_total_time="$fuzz_seconds" -timeout=20 -rss_limit_mb=4096 \
        -print_final_stats=1 "$work" "$root/tests/fuzz/corpus/$target" 2>&1 | tail -n 60)
}
if want fuzz; then
    stage "fuzz build" fuzz_build
    for target in detect resample; do
        stage "fuzz $target for ${fuzz_seconds}s" fuzz_run "$target"
    done
fi

# --- 4. Free-threaded CPython under ThreadSanitizer (on demand: tsan-ft) ------
# CPython 3.14 built free-threaded with ThreadSanitizer by clang (once, into
# TESSARIN_FT_TSAN_PREFIX, default ~/.cache/tessarin/cpython-3.14.7t-tsan-clangN,
# from the same source as scripts/freethreaded.sh), the module built with
# -fsanitize=thread by the same clang, and under them the tests whose threads
# share the module and the suite's API tests with each run by 4 threads at
# once. NumPy is its cp314t wheel, not instrumented. Forking tests are left
# out: ThreadSanitizer cannot start threads in the child of a threaded process.
tsan_ft_py=
tsan_ft_build() {
    local n base dir
    # The interpreter's own reports are for the tests; pip and CMake run it too.
    local TSAN_OPTIONS=report_bugs=0
    export TSAN_OPTIONS
    n=$(newest_clang) || { echo "no clang found" >&2; return 1; }
    base=$(cpython_freethreaded "${TESSARIN_FT_TSAN_PREFIX:-$cpython_cache/cpython-${cpython_version}t-tsan-clang$n}" \
           --with-thread-sanitizer CC="clang-$n" CXX="clang++-$n") || return 1
    # The interpreter's own suppressions and NumPy's, in the one file TSAN_OPTIONS takes.
    mkdir -p "$out" && tsan_ft_suppressions=$out/tsan-ft.supp &&
        cat "$(dirname "$(dirname "$base")")/lib/tsan-suppressions.txt" tests/sanitizers/tsan-numpy.supp >"$tsan_ft_suppressions" ||
        return 1
    dir=$(venv_dir "$base") || return 1
    [ -x "$dir/bin/python" ] || "$base" -m venv "$dir" || return 1
    tsan_ft_py=$root/$dir/bin/python
    local reqs
    mapfile -t reqs < <(test_requirements "$tsan_ft_py" | grep -E '^(numpy|pytest|hypothesis)([^a-zA-Z0-9_.-]|$)')
    "$tsan_ft_py" -m pip install -q --disable-pip-version-check --only-binary=:all: "${reqs[@]}" pytest-run-parallel ||
        return 1
    build tsan-ft -DCMAKE_CXX_COMPILER="clang++-$n" -DTESSARIN_SANITIZE=thread -DTESSARIN_BUILD_TESTS=OFF \
        -DTESSARIN_BUILD_MODULE=ON -DPython_EXECUTABLE="$tsan_ft_py"
}
tsan_ft_pytest() {
    (
        cd tests/python &&
        export PYTHONPATH=$out/tsan-ft &&
        export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:allocator_may_return_null=1:suppressions=$tsan_ft_suppressions" &&
        "$tsan_ft_py" -c 'import sys, tessarin
assert "build/hardening" in tessarin.__file__, tessarin.__file__
assert not sys._is_gil_enabled()' &&
        "$tsan_ft_py" -m pytest -p no:cacheprovider --capture=sys -k "not fork" "$@"
    )
}
tsan_ft_concurrency() {
    tsan_ft_pytest -q -p no:run-parallel test_stress.py test_detect_api.py::test_threads_give_identical_results \
        test_module.py::test_first_calls_from_many_threads_at_once test_module.py::test_gil_stays_off_after_import_and_every_function
}
tsan_ft_parallel() {
    PYTEST_RUN_PARALLEL_VERBOSE=1 tsan_ft_pytest --parallel-threads=4 \
        test_detect_api.py test_resample.py test_segment.py test_module.py test_ownership.py
}
if want tsan-ft; then
    stage "TSan free-threaded 3.14 build" tsan_ft_build
    if [ -n "$tsan_ft_py" ]; then
        stage "TSan free-threaded 3.14 concurrency tests" tsan_ft_concurrency
        stage "TSan free-threaded 3.14, 4 threads per test" tsan_ft_parallel
    fi
fi

summary
