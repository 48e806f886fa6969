#!/usr/bin/env bash
# Sanitizer, race and fuzz runs, each bounded in time. Exits non-zero on any
# finding. Safe to run again; installs what it needs.
#
#   1. AddressSanitizer + UndefinedBehaviorSanitizer (gcc): the native tests,
#      then the whole Python suite against a sanitized build of the module,
#      with the sanitizer runtime preloaded into the interpreter.
#   2. ThreadSanitizer (gcc): the native tests of the worker pool and of the
#      parallel loops (downscale, field, warp, remap, concurrent callers).
#   3. libFuzzer (clang 14) with ASan + UBSan: the detector and the
#      resampling samplers and drivers, from the committed seed corpus.
#
# Arguments pick stages (asan, tsan, fuzz; default all).
# HARDENING_FUZZ_SECONDS sets each fuzz target's run time (default 120).
set -euo pipefail
stages=${*:-asan tsan fuzz}
want() { [[ " $stages " == *" $1 "* ]]; }
cd "$(dirname "$0")/.."
root=$(pwd)
out=$root/build/hardening
mkdir -p "$out"
fuzz_seconds=${HARDENING_FUZZ_SECONDS:-120}

step() { echo "== $* ($(date +%T))"; }

# --- tools ------------------------------------------------------------------
need=()
for pkg in clang-14 libclang-rt-14-dev llvm-14 libgtest-dev; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The newest supported interpreter on the machine.
py=""
if command -v pyenv >/dev/null 2>&1; then
    py=$(ls -d "$(pyenv root)"/versions/3.13.*/bin/python 2>/dev/null | sort -V | tail -n 1 || true)
fi
[ -n "$py" ] || py=$(command -v python3)
"$py" -m pip install -q --disable-pip-version-check -r tests/requirements.txt

# Compiles each source to an object in $1 with compiler $2 and flags $3, two
# at a time; an object newer than its source and than every header is kept.
compile() {
    local dir=$1 cxx=$2 flags=$3
    shift 3
    mkdir -p "$dir"
    local newest_header
    newest_header=$(find src tests -name '*.hpp' -printf '%T@\n' | sort -n | tail -n 1)
    printf '%s\n' "$@" | xargs -P 2 -I{} bash -c '
        src={}; obj="$0/$(echo "$src" | tr / _).o"
        if [ -f "$obj" ] && [ "$obj" -nt "$src" ] &&
           [ "$(stat -c %Y "$obj")" -gt "${1%.*}" ]; then exit 0; fi
        exec $2 $3 -c "$src" -o "$obj"' "$dir" "$newest_header" "$cxx" "$flags"
}
objects() {  # the objects compile() made in $1 for the sources that follow
    local dir=$1
    shift
    for s in "$@"; do echo "$dir/$(echo "$s" | tr / _).o"; done
}

core_sources=(src/sample/*.cpp src/pool/*.cpp src/detector/*.cpp src/warp/*.cpp)
# Bit-exact arithmetic in every build: no contraction, no fast-math.
common="-std=c++20 -O1 -g -fno-omit-frame-pointer -ffp-contract=off -fno-fast-math -fPIC -Isrc"
status=0

# Huge sizes must come back as a failed allocation (MemoryError, bad_alloc),
# as they do without a sanitizer, instead of the sanitizer's own abort.
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# --- 1. ASan + UBSan ----------------------------------------------------------
if want asan; then
    step "ASan+UBSan build"
    asan="$common -fsanitize=address,undefined -fno-sanitize-recover=undefined"
    py_include=$("$py" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
    np_include=$("$py" -c 'import numpy; print(numpy.get_include())')
    ext_suffix=$("$py" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
    compile "$out/asan" g++ "$asan" "${core_sources[@]}" tests/cpp/*.cpp src/python/repr_text.cpp
    compile "$out/asan-py" g++ "$asan -I$py_include -I$np_include" src/python/*.cpp
    g++ -fsanitize=address,undefined -o "$out/asan/tessarin_tests" \
        $(objects "$out/asan" "${core_sources[@]}" tests/cpp/*.cpp src/python/repr_text.cpp) -lgtest -lgtest_main -lpthread
    mkdir -p "$out/asan-module"
    g++ -shared -fsanitize=address,undefined -o "$out/asan-module/tessarin$ext_suffix" \
        $(objects "$out/asan-py" src/python/*.cpp) $(objects "$out/asan" "${core_sources[@]}") -lpthread

    step "ASan+UBSan native tests"
    "$out/asan/tessarin_tests" --gtest_brief=1 || status=1

    step "ASan+UBSan Python suite"
    # The C++ runtime is preloaded too: the sanitizer finds the functions it
    # wraps (exception throwing among them) when it starts, before the module
    # brings the C++ runtime in.
    preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
    # The interpreter's own allocations that live until exit are not leaks of
    # the module; the suppressions name only the interpreter and NumPy.
    (
        cd tests/python
        export LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan-python.supp:print_suppressions=0
        export LD_PRELOAD=$preload PYTHONPATH=$out/asan-module
        "$py" -c 'import tessarin; assert "build/hardening" in tessarin.__file__, tessarin.__file__'
        # Without fd capture, so that a sanitizer report reaches the log.
        "$py" -m pytest -q -p no:cacheprovider --capture=sys .
    ) || status=1
fi

# --- 2. ThreadSanitizer -------------------------------------------------------
if want tsan; then
    step "TSan build"
    tsan="$common -fsanitize=thread"
    tsan_tests=(tests/cpp/test_pool.cpp tests/cpp/test_concurrent_calls.cpp tests/cpp/test_field.cpp
                tests/cpp/test_downscale.cpp tests/cpp/test_warp.cpp)
    compile "$out/tsan" g++ "$tsan" "${core_sources[@]}" "${tsan_tests[@]}"
    g++ -fsanitize=thread -o "$out/tsan/tessarin_tsan_tests" \
        $(objects "$out/tsan" "${core_sources[@]}" "${tsan_tests[@]}") -lgtest -lgtest_main -lpthread
    step "TSan tests"
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:allocator_may_return_null=1 "$out/tsan/tessarin_tsan_tests" --gtest_brief=1 || status=1
fi

# --- 3. libFuzzer -------------------------------------------------------------
if want fuzz; then
    step "fuzz build"
    fuzz="-std=c++20 -O1 -g -ffp-contract=off -fno-fast-math -Isrc -Itests/fuzz"
    fuzz="$fuzz -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
    compile "$out/fuzz" clang++-14 "$fuzz" "${core_sources[@]}" tests/fuzz/*.cpp
    for target in detect resample; do
        clang++-14 -fsanitize=fuzzer,address,undefined -o "$out/fuzz/fuzz_$target" \
            $(objects "$out/fuzz" "${core_sources[@]}" tests/fuzz/fuzz_$target.cpp) -lpthread
    done
    for target in detect resample; do
        step "fuzz $target for ${fuzz_seconds}s"
        # New inputs go to a scratch directory; the committed seeds stay as they are.
        work=$out/fuzz/corpus-$target
        mkdir -p "$work"
        (cd "$out/fuzz" && "./fuzz_$target" -max_total_time="$fuzz_seconds" -timeout=20 -rss_limit_mb=4096 \
            -print_final_stats=1 "$work" "$root/tests/fuzz/corpus/$target" 2>&1 | tail -n 60) || status=1
    done
fi

step "done, status $status"
exit $status
