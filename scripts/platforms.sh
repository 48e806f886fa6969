#!/usr/bin/env bash
# The test suites on the platforms CI proves beyond the GCC build of
# scripts/test.sh, each stage with its own tools:
#
#   clang           Linux x86-64, the native suite built with clang.
#   aarch64         Linux aarch64: the native suite cross-built with Debian's
#                   g++-aarch64-linux-gnu against GoogleTest built from
#                   Debian's sources, run under qemu-aarch64.
#   windows         Windows x86-64: the native suite cross-built with
#                   MinGW-w64 (POSIX threads, everything linked statically),
#                   run under wine.
#   python-aarch64  Linux aarch64: the module cross-built (in the aarch64
#                   stage's build directory) against Debian's arm64 Python
#                   3.11 and the Python suite run under qemu-aarch64 with
#                   Debian's arm64 interpreter, NumPy, pytest and Hypothesis;
#                   first a check that the NEON kernels are the ones the
#                   module runs.
#   libcxx          Linux x86-64 with clang and LLVM's libc++ (the standard
#                   library of macOS): the native suite, and the module,
#                   whose results on a detection, warp and remap must be the
#                   GCC build's, bit for bit.
#
# Arguments pick stages (default all). Under qemu-user the Python suite skips
# what the emulator cannot do or does too slowly, saying why: the tests that
# fork beside the pool's threads (the emulator aborts or deadlocks in the
# child) and the leak checks by resident size (minutes of calls); its
# properties draw a quarter of their examples. A stage installs the Debian
# packages it lacks when run as root and stops with their names otherwise. Build
# directories under build/ are reused, so a second run only rebuilds what
# changed; downloads for the aarch64 sysroot are kept under
# ${TESSARIN_CACHE:-~/.cache/tessarin}. Exits non-zero if any stage failed;
# prints each stage's time.
set -euo pipefail
stages=${*:-clang aarch64 windows python-aarch64 libcxx}
self=$(realpath "$0")
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${PLATFORMS_JOBS:-2}

# apt_need installs the missing Debian packages named (as root only);
# stage and summary run the stages and print their table.
. scripts/lib.sh

# need PACKAGE...: apt_need, ending with one line that names what is missing
# when the packages cannot be had.
need() {
    apt_need "$@" || { echo "this stage needs the Debian packages $* (apt-get install $*)" >&2; return 1; }
}

# configure_and_build DIR [cmake arguments...] [--target TARGET]: the native
# tests (and the module when the arguments ask for it), or TARGET only.
configure_and_build() {
    local dir=$1 target=()
    shift
    if [ $# -ge 2 ] && [ "${*: -2:1}" = --target ]; then
        target=(--target "${*: -1}")
        set -- "${@:1:$#-2}"
    fi
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARIN_BUILD_TESTS=ON \
        -DTESSARIN_BUILD_MODULE=OFF "$@" >/dev/null
    cmake --build "$dir" -j"$jobs" "${target[@]}"
}

stage_clang() {
    need cmake ninja-build libgtest-dev
    local cxx
    cxx=$(compgen -c clang++- | grep -E '^clang\+\+-[0-9]+$' | sort -t- -k2 -n | tail -n 1 || true)
    if [ -z "$cxx" ]; then
        need clang
        cxx=clang++
    fi
    echo "compiler: $cxx"
    configure_and_build build/clang -DCMAKE_CXX_COMPILER="$cxx"
    ./build/clang/tessarin_tests --gtest_brief=1
}

stage_aarch64() {
    need cmake ninja-build googletest g++-aarch64-linux-gnu qemu-user
    configure_and_build build/aarch64 --toolchain "$root/cmake/aarch64-linux-gnu.cmake" \
        -DTESSARIN_GTEST_SOURCE_DIR=/usr/src/googletest
    qemu-aarch64 -L /usr/aarch64-linux-gnu ./build/aarch64/tessarin_tests --gtest_brief=1
}

stage_windows() {
    need cmake ninja-build googletest g++-mingw-w64-x86-64 wine64
    configure_and_build build/windows --toolchain "$root/cmake/x86_64-w64-mingw32.cmake" \
        -DTESSARIN_GTEST_SOURCE_DIR=/usr/src/googletest
    local wine=/usr/lib/wine/wine64
    [ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
    # A prefix of our own, made once; no Mono or Gecko prompts, no debug noise.
    export WINEPREFIX=$root/build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    [ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init >/dev/null 2>&1 || true
    "$wine" ./build/windows/tessarin_tests.exe --gtest_brief=1
}

# The Python suite on Linux aarch64 runs on Debian bookworm's own arm64
# interpreter and libraries: these packages and what they depend on,
# fetched with apt from the machine's own package sources and unpacked into
# a sysroot. Packages the suite can also use but that are not here make their
# tests skip: Pillow (bookworm's 9.4 lacks what the examples use from 10.1),
# mypy, build, dask and scikit-image.
# libstdc++6 is the module's own run-time library; pytest-timeout ends a test
# that hangs in the emulator.
target_packages=(python3.11 libpython3.11-dev libstdc++6 python3-numpy python3-pytest python3-pytest-timeout python3-hypothesis)
# The module is compiled against NumPy 2's headers (Debian's NumPy 1.24 then
# runs it, as any NumPy from 1.23 does): those of one wheel for the target,
# pinned by its hash.
numpy_headers='numpy==2.2.6 --hash=sha256:b64d8d4d17135e00c8e346e0a738deb17e754230d7e0810ac5012750bbd85a5a'
# Downloads are kept across clones: apt checks every package it fetched or
# finds there against the signed package lists, pip the wheel against its hash.
cache=${TESSARIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tessarin}

# arm64_sysroot DIR: the target packages unpacked into DIR (kept while the
# package versions stay the same), set up as their install scripts would.
arm64_sysroot() {
    local dir=$1 state=$cache/debian-arm64
    mkdir -p "$state/lists/partial" "$state/archives/partial"
    touch "$state/status"
    # apt on its own state: an empty arm64 system, the machine's sources.
    local apt=(apt-get -q -o APT::Architecture=arm64 -o APT::Architectures=arm64
        -o Dir::State="$state" -o Dir::State::Lists="$state/lists" -o Dir::State::status="$state/status"
        -o Dir::Cache="$state" -o Dir::Cache::archives="$state/archives"
        -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)")
    if ! "${apt[@]}" update -qq >/dev/null; then
        echo "cannot read Debian's arm64 package lists through the machine's apt sources" >&2
        return 1
    fi
    local plan
    plan=$("${apt[@]}" -s install --no-install-recommends "${target_packages[@]}" |
        sed -n 's/^Inst \([^ ]*\) (\([^ ]*\) .*/\1_\2/p' | sort)
    "${apt[@]}" install -qq -y --download-only --no-install-recommends "${target_packages[@]}" >/dev/null
    [ -f "$dir/.packages" ] && [ "$(cat "$dir/.packages")" = "$plan" ] && return 0
    echo "unpacking $(wc -l <<<"$plan") arm64 packages into $dir"
    rm -rf "$dir"
    mkdir -p "$dir"
    local entry version
    for entry in $plan; do
        version=${entry#*_}
        dpkg-deb -x "$state/archives/${entry%%_*}_${version//:/%3a}"_*.deb "$dir"
    done
    # NumPy links libblas.so.3 and liblapack.so.3, which the BLAS and LAPACK
    # packages provide as alternatives made at install time.
    local lib
    for lib in "$dir"/usr/lib/aarch64-linux-gnu/{blas,lapack}/lib*.so.3; do
        ln -sfn "${lib#"$dir"/usr/lib/aarch64-linux-gnu/}" "$dir/usr/lib/aarch64-linux-gnu/${lib##*/}"
    done
    # Debian compiles the bytecode at install time too; compiling it here,
    # natively, with an interpreter of the same bytecode, spares every
    # emulated start compiling it again.
    find_pythons
    local magic='import importlib.util; print(importlib.util.MAGIC_NUMBER.hex())'
    if [ "$("${pythons[0]}" -c "$magic")" = "$(qemu-aarch64 -L "$dir" "$dir/usr/bin/python3.11" -c "$magic")" ]; then
        "${pythons[0]}" -m compileall -q -j2 "$dir/usr/lib/python3.11" "$dir/usr/lib/python3/dist-packages" >/dev/null || true
    fi
    # The headers as an install that is not multiarch lays them out: Debian's
    # pyconfig.h only includes the target's own from <aarch64-linux-gnu/...>.
    mkdir -p "$dir/include"
    cp -a "$dir/usr/include/python3.11" "$dir/include/"
    cp -a "$dir/usr/include/aarch64-linux-gnu/python3.11/pyconfig.h" "$dir/include/python3.11/"
    echo "$plan" >"$dir/.packages"
}

# numpy2_headers DIR: the pinned NumPy 2 wheel for the target unpacked into DIR.
numpy2_headers() {
    local dir=$1
    [ -f "$dir/numpy/_core/include/numpy/arrayobject.h" ] && return 0
    find_pythons
    printf '%s\n' "$numpy_headers" >"$dir.txt"
    "${pythons[0]}" -m pip download -q --disable-pip-version-check --no-deps --only-binary=:all: \
        --platform manylinux2014_aarch64 --python-version 3.11 --implementation cp --abi cp311 \
        --require-hashes -r "$dir.txt" -d "$cache/wheels"
    rm -rf "$dir"
    "${pythons[0]}" -m zipfile -e "$cache/wheels/numpy-2.2.6-cp311-cp311-manylinux_2_17_aarch64.manylinux2014_aarch64.whl" "$dir"
}

stage_python_aarch64() {
    need cmake ninja-build googletest g++-aarch64-linux-gnu qemu-user
    local top=$root/build/python-aarch64
    local sysroot=$top/sysroot
    mkdir -p "$top/site"
    arm64_sysroot "$sysroot"
    numpy2_headers "$top/numpy2"
    # The target's interpreter, run by the emulator: CMake asks it for its
    # version, extension suffix and NumPy, and the suite starts its
    # subprocesses with it (the kernel cannot run an aarch64 program itself,
    # so sys.executable is pointed here).
    local python=$top/python3.11
    printf '#!/bin/sh\nexec qemu-aarch64 -L "%s" "%s/usr/bin/python3.11" "$@"\n' "$sysroot" "$sysroot" >"$python"
    chmod +x "$python"
    printf '%s\n' '# The suite'"'"'s subprocesses start the interpreter through the emulator.' \
        'import os, sys' \
        'sys.executable = os.environ.get("TESSARIN_TARGET_PYTHON", sys.executable)' >"$top/site/sitecustomize.py"
    # Built in the aarch64 stage's directory, whose core serves the module
    # too; a cross build does not ask the interpreter for the extension
    # suffix, so it is given.
    local suffix
    suffix=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
    PYTHONPATH=$top/numpy2 configure_and_build build/aarch64 --toolchain "$root/cmake/aarch64-linux-gnu.cmake" \
        -DTESSARIN_GTEST_SOURCE_DIR=/usr/src/googletest -DTESSARIN_BUILD_MODULE=ON \
        -DPython_EXECUTABLE="$python" -DPython_INCLUDE_DIR="$sysroot/include/python3.11" \
        -DTESSARIN_EXTENSION_SUFFIX="$suffix" --target tessarin
    local module
    module=$root/build/aarch64/tessarin$suffix
    export PYTHONPATH=${module%/*}:$top/site TESSARIN_TARGET_PYTHON=$python
    neon_taken "$sysroot" "$module" build/aarch64/libtessarin_core.a
    # Not run here, each for a reason of this setting, not of the module:
    local -A left_out=(
        [test_metadata.py::test_installed_version_is_the_one_in_pyproject]="the module runs from its build directory: no distribution metadata"
        [test_fuzz_api.py::test_remap]="bookworm's Hypothesis prints every drawn array, and its NumPy 1.24 cannot print datetime arrays of generic units"
    )
    local test deselect=()
    for test in "${!left_out[@]}"; do
        echo "not run: $test (${left_out[$test]})"
        # pytest names a test from the project's root.
        deselect+=(--deselect "tests/python/$test")
    done
    # What the emulator cannot do (fork beside running threads) or does too
    # slowly (leak checks by resident size) skips, saying so, and the
    # properties draw fewer examples: tests/python/conftest.py. A test that
    # hangs in the emulator fails after 5 minutes instead of stopping the run.
    (cd tests/python && TESSARIN_EMULATED=qemu-aarch64 "$python" -m pytest -q -p no:cacheprovider -rfEs \
        --timeout=300 --durations=10 "${deselect[@]}" .)
}

# neon_taken SYSROOT MODULE CORE: proves that the module runs the NEON variant
# of every kernel family, in a detection, a warp and a remap with each filter,
# and the copies of inputs in three layouts into logical order. A family's
# NEON kernels are the functions of its own translation unit, *_neon.cpp in
# the core library CORE (found there, not by name, so the check follows the
# kernels as they are renamed or added; the table each unit exports only says
# which kernels to call, and so does not count), and each kernel of a family
# must run, in one of its instances at least. The emulator logs the code it
# translates, which is code about to run, restricted to those functions'
# addresses: where the module lies is read from the process's map in a first
# run and checked again in the logged one.
neon_taken() {
    local sysroot=$1 module=$2 core=$3 log=${2%/*}/neon.log
    local emulated=(qemu-aarch64 -L "$sysroot" "$sysroot/usr/bin/python3.11")
    local where='import tessarin
print("%x" % min(int(line.split("-")[0], 16) for line in open("/proc/self/maps") if line.split()[-1] == tessarin.__file__))'
    local work='
import numpy as np
gray = np.full((96, 128), 30, np.uint8)
gray[20:70, 30:100] = 200
assert tessarin.detect(gray, 0.8)
rgb = np.dstack([gray, gray, gray])
ys, xs = np.mgrid[0:96, 0:128].astype(np.float32)
for name in ("bilinear", "lanczos3"):
    tessarin.warp_rgb(rgb, [1.0, 0.1, 0.5, 0.0, 1.0, 0.25, 0.0, 0.0, 1.0], 1.0, 0.0, 0.0, name)
    tessarin.remap_rgb(rgb, xs * 0.9 + 3.25, ys * 1.1 - 2.5, name)
# Inputs the module copies into logical order first: Fortran order (the
# transposing copy), reversed pixels (the row shuffle), channel-first planes
# viewed channels-last (the interleaving).
assert tessarin.detect(np.asfortranarray(gray), 0.8)
for view in (rgb[:, ::-1], np.moveaxis(np.ascontiguousarray(np.moveaxis(rgb, 2, 0)), 0, 2)):
    tessarin.warp_rgb(view, [1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0], 1.0, 0.0, 0.0, "bilinear")'
    local base ranges
    base=$("${emulated[@]}" -c "$where")
    # "family/kernel start+size" for each instance of a kernel, as loaded at
    # base.
    ranges=$(python3 -c '
import re, subprocess, sys
base, module, core = int(sys.argv[1], 16), sys.argv[2], sys.argv[3]
def symbols(path, *options):
    out = subprocess.run(["aarch64-linux-gnu-nm", "-C", "-S", "--defined-only", *options, path],
                         capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        m = re.match(r"(?:(?:.*:)?(\w+)_neon\.cpp\.o:)?([0-9a-f]+) ([0-9a-f]+) ([tT]) (.*)", line)
        if m:
            yield m[1], int(m[2], 16), int(m[3], 16), m[4], m[5]
def kernel(name):
    # A kernel by its name alone, all its instances as one: what precedes the
    # template arguments or the parameters, past the namespaces.
    name = re.split(r"[<(]", name.replace("(anonymous namespace)", "anon"), maxsplit=1)[0]
    return name.split()[-1].rsplit("::", 1)[-1]
in_module = {}
for _, start, size, _, name in symbols(module):
    in_module.setdefault((name, size), []).append(start)
found = False
for family, _, size, kind, name in symbols(core, "-A"):
    if family is None or kind == "T":
        continue
    starts = in_module.get((name, size))
    if not starts:
        sys.exit("%s (from %s_neon.cpp) is not in the module" % (name, family))
    for start in starts:
        print("%s/%s 0x%x+0x%x" % (family, kernel(name), base + start, size))
        found = True
if not found:
    sys.exit("no NEON kernels in " + core)
' "$base" "$module" "$core")
    local again
    again=$("${emulated[@]:0:3}" -d in_asm -D "$log" -dfilter "$(awk '{print $2}' <<<"$ranges" | paste -sd,)" \
        "${emulated[@]:3}" -c "$where$work")
    [ "$again" = "$base" ] || { echo "the module moved between the runs ($base, then $again)" >&2; return 1; }
    python3 -c '
import sys
ran = {int(line.split(":")[0], 16) for line in open(sys.argv[1]) if line.startswith("0x")}
families, taken = set(), set()
for entry in sys.argv[2].splitlines():
    family, span = entry.split()
    start, size = (int(v, 16) for v in span.split("+"))
    families.add(family)
    if any(start <= a < start + size for a in ran):
        taken.add(family)
if families - taken:
    sys.exit("NEON kernels not run (family/kernel): " + " ".join(sorted(families - taken)))
print("NEON kernels run (family/kernel):", " ".join(sorted(taken)))
' "$log" "$ranges"
}

# What the libc++ stage checks two builds of the module against: a detection,
# a warp and a remap on fixed inputs, in the order a program would chain
# them, every result reduced to one digest of its bytes.
round_trip='
import hashlib, struct, sys
import numpy as np
import tessarin

digest = hashlib.sha256()
rng = np.random.default_rng(11)
gray = np.full((120, 160), 40.0)
gray[30:90, 40:120] = 200.0
gray = np.clip(gray + rng.normal(0.0, 3.0, gray.shape), 0, 255).round().astype(np.uint8)
segments = []
for image in (gray, gray.astype(np.float64), gray.astype(np.uint16) * 257):
    for scale in (1.0, 0.8):
        found = tessarin.detect(image, scale)
        segments += found
        for s in found:
            digest.update(struct.pack("<7d", s.x1, s.y1, s.x2, s.y2, s.width, s.precision, s.log_nfa))
rgb = np.stack([gray, gray[::-1], 255 - gray], axis=-1)
inverse = [0.9, 0.05, 3.0, -0.04, 1.1, -2.0, 1e-4, -2e-4, 1.0]
for src in (rgb, rgb.astype(np.uint16) * 257):
    for filter in ("bilinear", "lanczos3"):
        out = tessarin.warp_rgb(src, inverse, 0.75, 1.5, -0.5, filter, (150, 100))
        digest.update(out.tobytes())
        ys, xs = np.mgrid[0:100, 0:150].astype(np.float32)
        map_x, map_y = xs * 1.03 + 0.25 * np.sin(ys / 7), ys * 0.97 - 0.5
        digest.update(tessarin.remap_rgb(out, map_x, map_y, filter).tobytes())
        digest.update(tessarin.remap_gray(src[..., 0], map_x, map_y, filter).tobytes())
assert segments, "no segments found"
print(tessarin.__file__, len(segments), "segments", digest.hexdigest())
'

stage_libcxx() {
    need cmake ninja-build googletest clang libc++-dev libc++abi-dev
    # The host interpreter's environment (NumPy 2 for the build, the GCC
    # build of the package to compare with), as scripts/test.sh makes it.
    find_pythons
    local python dir=build/libcxx
    python=$(venv_python "${pythons[0]}")
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DTESSARIN_BUILD_TESTS=ON -DTESSARIN_BUILD_MODULE=ON \
        -DTESSARIN_GTEST_SOURCE_DIR=/usr/src/googletest -DPython_EXECUTABLE="$python" >/dev/null
    cmake --build "$dir" -j"$jobs"
    local module
    module=$(ls "$dir"/tessarin.*.so)
    # Both programs link libc++, and neither links GCC's library.
    local binary
    for binary in "$dir/tessarin_tests" "$module"; do
        readelf -d "$binary" | grep -q 'NEEDED.*\[libc++\.so' || { echo "$binary does not link libc++" >&2; return 1; }
        if readelf -d "$binary" | grep -q 'NEEDED.*\[libstdc++'; then
            echo "$binary links libstdc++" >&2
            return 1
        fi
    done
    "./$dir/tessarin_tests" --gtest_brief=1
    # The same results, bit for bit, as the GCC build in the environment
    # (installed there by scripts/test.sh; built here when missing).
    "$python" -c 'import tessarin' 2>/dev/null || python=$(venv_python "${pythons[0]}" .)
    local ours theirs
    ours=$(cd "$dir" && PYTHONPATH=. "$python" -c "$round_trip")
    theirs=$(cd tests && "$python" -c "$round_trip")
    printf 'libc++: %s\nGCC:    %s\n' "$ours" "$theirs"
    [ "${ours##* }" = "${theirs##* }" ] || { echo "the libc++ build's results differ from the GCC build's" >&2; return 1; }
}

# One stage in a process of its own, so that its first failing command ends
# it (a function run as the left side of || would ignore set -e).
if [ "${1:-}" = --run ]; then
    "stage_${2//-/_}"
    exit
fi

all="clang aarch64 windows python-aarch64 libcxx"
for name in $stages; do
    case " $all " in
        *" $name "*) ;;
        *) echo "unknown stage '$name' ($all)" >&2; exit 2 ;;
    esac
done
for name in $stages; do
    stage "$name" "$BASH" "$self" --run "$name"
done
summary
