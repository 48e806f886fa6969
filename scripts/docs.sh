#!/usr/bin/env bash
# Builds the documentation site and proves it works:
#
#   1. the HTML, from docs/ into build/docs/html/, with every warning an
#      error (the gallery runs the scripts of examples/, the figures of the
#      user guide are drawn, the API page is rendered from the stub);
#   2. every python block of the pages and the README, and every example in
#      the stub's docstrings, run and print what the text says they print
#      (tests/python/test_readme.py, with no block left out);
#   3. every internal link and #anchor of the built site resolves;
#   4. the home page, the API page and a gallery page open in headless
#      Chromium (Debian's package): each screenshot is not blank and each
#      page has its title. The screenshots stay in build/docs/screenshots/.
#
# The tools come from the `docs` extra of pyproject.toml, installed with the
# module into build/venv/docs (made on the first run, reused after; no
# interpreter of the machine is changed); Chromium is installed when running
# as root. Every stage runs even when an earlier one failed, and a table of
# the stages ends the output. .github/workflows/docs.yml publishes the HTML
# this script builds.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
root=$(pwd)
out=$root/build/docs

find_pythons
base=${pythons[0]}

prepare() {
    local dir=build/venv/docs reqs
    if [ ! -x "$dir/bin/python" ]; then
        "$base" -m venv "$dir" || return 1
    fi
    # The docs extra.
    mapfile -t reqs < <("$dir/bin/python" -c 'import tomllib
print(*tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["docs"], sep="\n")')
    [ ${#reqs[@]} -gt 0 ] || return 1
    "$dir/bin/python" -m pip install -q --disable-pip-version-check "${reqs[@]}" || return 1
    # The module: the wheel scripts/packaging.sh built for this interpreter
    # when it is newer than every build input (in CI it ran just before),
    # else built here without isolation, so that a second run recompiles
    # only what changed (build/<wheel tag>/ is kept).
    local tag wheel
    tag=$("$dir/bin/python" -c 'import sys; print("cp%d%d" % sys.version_info[:2])')
    wheel=$(ls -t build/packaging/wheelhouse/tessarin-*-"$tag"-"$tag"-*.whl 2>/dev/null | head -n 1)
    if [ -n "$wheel" ] && [ -z "$(find src cmake CMakeLists.txt pyproject.toml -newer "$wheel" -print -quit)" ]; then
        echo "using $wheel"
        "$dir/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps "$wheel" || return 1
    else
        mapfile -t reqs < <("$dir/bin/python" -c 'import tomllib
print(*tomllib.load(open("pyproject.toml", "rb"))["build-system"]["requires"], sep="\n")')
        "$dir/bin/python" -m pip install -q --disable-pip-version-check "${reqs[@]}" cmake ninja &&
            PATH=$root/$dir/bin:$PATH "$dir/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation . ||
            return 1
    fi
    py=$root/$dir/bin/python
}

html() {
    # A fresh build each time: the gallery runs its scripts again, and no
    # page is spared the warning check because it was read before.
    rm -rf "$out/html" "$out/doctrees" "$out/gallery-out" docs/gallery
    (cd docs && TESSARIN_GALLERY_OUT=$out/gallery-out \
        "$py" -m sphinx -W --keep-going -b html -d "$out/doctrees" . "$out/html")
}

examples() {
    (cd tests/python && TESSARIN_DOCS_EVERY_BLOCK=1 "$py" -m pytest -q -p no:cacheprovider test_readme.py)
}

links() {
    "$py" docs/check_site.py links "$out/html"
}

# rendered PAGE WORDS: a screenshot and the DOM of one page, checked.
rendered() {
    local page=$1 words=$2 name shots=$out/screenshots
    name=$(basename "${page%.html}")
    mkdir -p "$shots"
    local browser=(chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run
                   --virtual-time-budget=5000 --window-size=1280,1400)
    rm -f "$shots/$name.png"
    timeout 120 "${browser[@]}" --screenshot="$shots/$name.png" "file://$out/html/$page" 2>"$shots/$name.log" || return 1
    timeout 120 "${browser[@]}" --dump-dom "file://$out/html/$page" >"$shots/$name.dom.html" 2>>"$shots/$name.log" || return 1
    "$py" docs/check_site.py rendered "$shots/$name.png" "$shots/$name.dom.html" "$words"
}

browser() {
    apt_need chromium || return 1
    local status=0
    rendered index.html "tessarin" || status=1
    rendered api.html "API reference" || status=1
    rendered gallery/rectify_document.html "Flatten a photographed page" || status=1
    return $status
}

stage "docs: tools and module" prepare
if [ -n "${py:-}" ]; then
    stage "docs: HTML, warnings as errors" html
    stage "docs: examples of pages, README, stub" examples
    stage "docs: internal links" links
    stage "docs: pages render in Chromium" browser
fi
summary
