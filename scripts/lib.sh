# Shared by the test scripts (test.sh, hardening.sh, packaging.sh; sourced, not run).
# Everything they install goes into build/: a virtual environment per
# interpreter; the interpreters themselves are never changed. Distribution
# packages are installed only when running as root.

# What the Python suite needs, one requirement a line, as interpreter $1
# reads it from pyproject.toml: the run-time dependencies and the test extra
# (the one list of them; `pip install ".[test]"` installs the same).
test_requirements() {
    "$1" -c 'import tomllib
project = tomllib.load(open("pyproject.toml", "rb"))["project"]
print(*project["dependencies"], *project["optional-dependencies"]["test"], sep="\n")'
}

# Installs the distribution packages named that are missing. As root, waits
# while another apt holds the lock; otherwise says what to install and fails.
apt_need() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages: ${missing[*]}; not root, so not installing them." >&2
        echo "install them with: sudo apt-get install ${missing[*]}" >&2
        return 1
    fi
    local attempt
    for attempt in 1 2 3 4 5 6; do
        # The timeout waits for the lock of a running apt or dpkg; a failure
        # for any other reason is retried a few times as well.
        if apt-get -o DPkg::Lock::Timeout=300 update -qq >&2 &&
           DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -qq "${missing[@]}" >&2
        then
            return 0
        fi
        echo "apt-get failed (attempt $attempt); retrying in 30 s" >&2
        sleep 30
    done
    return 1
}

# Makes locale $1 (such as de_DE.UTF-8) available to programs when it is
# missing: the suites check that a locale with a decimal comma leaves the
# module's text alone, and skip that check, saying why, where none exists.
# Only root can add one; anyone else is told and carries on.
ensure_locale() {
    local name=$1 lang=${1%%.*} charset=${1#*.}
    local want
    want=$(echo "$lang.$charset" | tr 'A-Z' 'a-z' | tr -d -)
    if locale -a 2>/dev/null | tr 'A-Z' 'a-z' | tr -d - | grep -qx "$want"; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "locale $name is missing; not root, so the tests that need it are skipped" >&2
        return 0
    fi
    apt_need locales && localedef -i "$lang" -f "$charset" "$name" >&2 ||
        echo "could not make locale $name; the tests that need it are skipped" >&2
    return 0
}

# The supported interpreters on this machine: pyenv's newest 3.11 and 3.13
# when pyenv is there, else python3.
find_pythons() {
    pythons=()
    if command -v pyenv >/dev/null 2>&1; then
        local root v p
        root=$(pyenv root)
        for v in 3.11 3.13; do
            p=$(ls -d "$root"/versions/"$v".*/bin/python 2>/dev/null | sort -V | tail -n 1 || true)
            [ -n "$p" ] && pythons+=("$p")
        done
    fi
    [ ${#pythons[@]} -gt 0 ] || pythons=("$(command -v python3)")
}

# Prints the python of build/venv/<version> made from interpreter $1 (created
# on first use, reused after), with the test requirements and any further
# pip arguments installed into it.
venv_python() {
    local base=$1
    shift
    local tag dir
    tag=$("$base" -c 'import sys; print("%d.%d" % sys.version_info[:2])') || return 1
    dir=build/venv/$tag
    if [ ! -x "$dir/bin/python" ]; then
        "$base" -m venv "$dir" >&2 || return 1
    fi
    local reqs
    mapfile -t reqs < <(test_requirements "$dir/bin/python")
    [ ${#reqs[@]} -gt 0 ] || return 1
    "$dir/bin/python" -m pip install -q --disable-pip-version-check "${reqs[@]}" "$@" >&2 || return 1
    echo "$(pwd)/$dir/bin/python"
}

# Stages: `stage NAME COMMAND...` runs the command, records its outcome and
# time, and carries on whatever happened; `summary` prints the table and
# returns non-zero when any stage failed.
stage_names=()
stage_results=()
stage_times=()
stage() {
    local name=$1
    shift
    echo "== $name ($(date +%T))"
    local start=$SECONDS rc=0
    "$@" || rc=$?
    stage_names+=("$name")
    stage_results+=("$([ $rc -eq 0 ] && echo ok || echo "FAILED ($rc)")")
    stage_times+=("$((SECONDS - start)) s")
    return 0
}
summary() {
    local i failed=0
    echo
    printf '%-40s %-12s %s\n' stage result time
    for i in "${!stage_names[@]}"; do
        printf '%-40s %-12s %s\n' "${stage_names[$i]}" "${stage_results[$i]}" "${stage_times[$i]}"
        [ "${stage_results[$i]}" = ok ] || failed=1
    done
    return $failed
}
