#!/usr/bin/env bash
# The native test suite on the platforms CI proves beyond the GCC build of
# scripts/test.sh, each stage with its own tools:
#
#   clang    Linux x86-64, built with clang.
#   aarch64  Linux aarch64: cross-built with Debian's g++-aarch64-linux-gnu
#            against GoogleTest built from Debian's sources, run under
#            qemu-aarch64.
#   windows  Windows x86-64: cross-built with MinGW-w64 (POSIX threads,
#            everything linked statically), run under wine.
#
# Arguments pick stages (default all). A stage installs the Debian packages
# it lacks when run as root and stops with their names otherwise. Build
# directories under build/ are reused, so a second run only rebuilds what
# changed. Exits non-zero if any stage failed; prints each stage's time.
set -euo pipefail
stages=${*:-clang aarch64 windows}
cd "$(dirname "$0")/.."
self=$(pwd)/scripts/platforms.sh
root=$(pwd)
jobs=${PLATFORMS_JOBS:-2}

# apt_need installs the missing Debian packages named (as root only);
# stage and summary run the stages and print their table.
. scripts/lib.sh

# configure_and_build DIR [cmake arguments...]: the native tests only.
configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARIN_BUILD_TESTS=ON \
        -DTESSARIN_BUILD_MODULE=OFF "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

stage_clang() {
    apt_need cmake ninja-build libgtest-dev
    local cxx
    cxx=$(compgen -c clang++- | grep -E '^clang\+\+-[0-9]+$' | sort -t- -k2 -n | tail -n 1 || true)
    if [ -z "$cxx" ]; then
        apt_need clang
        cxx=clang++
    fi
    echo "compiler: $cxx"
    configure_and_build build/clang -DCMAKE_CXX_COMPILER="$cxx"
    ./build/clang/tessarin_tests --gtest_brief=1
}

stage_aarch64() {
    apt_need cmake ninja-build googletest g++-aarch64-linux-gnu qemu-user
    configure_and_build build/aarch64 --toolchain "$root/cmake/aarch64-linux-gnu.cmake" \
        -DTESSARIN_GTEST_SOURCE_DIR=/usr/src/googletest
    qemu-aarch64 -L /usr/aarch64-linux-gnu ./build/aarch64/tessarin_tests --gtest_brief=1
}

stage_windows() {
    apt_need cmake ninja-build googletest g++-mingw-w64-x86-64 wine64
    configure_and_build build/windows --toolchain "$root/cmake/x86_64-w64-mingw32.cmake" \
        -DTESSARIN_GTEST_SOURCE_DIR=/usr/src/googletest
    local wine=/usr/lib/wine/wine64
    [ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
    # A prefix of our own, made once; no Mono or Gecko prompts, no debug noise.
    export WINEPREFIX=$root/build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    [ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init >/dev/null 2>&1 || true
    "$wine" ./build/windows/tessarin_tests.exe --gtest_brief=1
}

# One stage in a process of its own, so that its first failing command ends
# it (a function run as the left side of || would ignore set -e).
if [ "${1:-}" = --run ]; then
    "stage_${2//-/_}"
    exit
fi

all="clang aarch64 windows"
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
