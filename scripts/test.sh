#!/usr/bin/env bash
# Installs what the tests need, then runs the native tests and the Python
# suite on every supported interpreter found on the machine (3.11 and 3.13 at
# least). Exits non-zero when anything fails. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

# Native test dependencies (GoogleTest) from the distribution.
if ! dpkg -s libgtest-dev >/dev/null 2>&1; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev >/dev/null
fi

# The interpreters to test: pyenv's 3.11 and 3.13 when present, else python3.
pythons=()
if command -v pyenv >/dev/null 2>&1; then
    root=$(pyenv root)
    for v in 3.11 3.13; do
        p=$(ls -d "$root"/versions/"$v".*/bin/python 2>/dev/null | sort -V | tail -n 1 || true)
        [ -n "$p" ] && pythons+=("$p")
    done
fi
[ ${#pythons[@]} -gt 0 ] || pythons=("$(command -v python3)")
first=${pythons[0]}

# Build tools for the native tests come from PyPI like the package's own.
"$first" -m pip install -q --disable-pip-version-check --root-user-action=ignore cmake ninja
export PATH="$("$first" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH"

echo "== native tests"
cmake -S . -B build/cpp -G Ninja -DTESSARIN_BUILD_TESTS=ON -DTESSARIN_BUILD_MODULE=OFF >/dev/null
cmake --build build/cpp -j2
./build/cpp/tessarin_tests --gtest_brief=1

status=0
for py in "${pythons[@]}"; do
    echo "== Python tests on $("$py" -c 'import sys; print(sys.version.split()[0])')"
    "$py" -m pip install -q --disable-pip-version-check --root-user-action=ignore -r tests/requirements.txt
    "$py" -m pip install -q --disable-pip-version-check --root-user-action=ignore .
    (cd tests/python && "$py" -m pytest -q -p no:cacheprovider .) || status=1
done
exit $status
