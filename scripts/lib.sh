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
    local dir
    dir=$(venv_dir "$base") || return 1
    if [ ! -x "$dir/bin/python" ]; then
        "$base" -m venv "$dir" >&2 || return 1
    fi
    local reqs
    mapfile -t reqs < <(test_requirements "$dir/bin/python")
    [ ${#reqs[@]} -gt 0 ] || return 1
    "$dir/bin/python" -m pip install -q --disable-pip-version-check "${reqs[@]}" "$@" >&2 || return 1
    echo "$(pwd)/$dir/bin/python"
}

# The virtual environment folder of interpreter $1: build/venv/<version>, with
# a "t" after the version for a free-threaded build (its wheels differ) and
# "-tsan" for one built with ThreadSanitizer.
venv_dir() {
    "$1" -c 'import sys, sysconfig
ft = "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""
tsan = "-tsan" if "--with-thread-sanitizer" in (sysconfig.get_config_var("CONFIG_ARGS") or "") else ""
print("build/venv/%d.%d%s%s" % (*sys.version_info[:2], ft, tsan))'
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

# --- Free-threaded CPython 3.14 ----------------------------------------------
# No package index offers a free-threaded interpreter for this machine, so the
# scripts build one from the CPython source kept beside the project
# (../shared/python, with its checksum) into a prefix outside the clone, once;
# every later run and every fresh clone on the machine reuses it.
cpython_version=3.14.7
cpython_cache=${XDG_CACHE_HOME:-$HOME/.cache}/tessarin
cpython_source() { echo "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/../shared/python"; }
cpython_build_packages=(build-essential pkg-config libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev
                        libsqlite3-dev libreadline-dev uuid-dev libgdbm-dev libncurses-dev libzstd-dev)

# Succeeds when $1 is a free-threaded CPython 3.14 that has what the scripts
# use (pip's TLS, the compression modules, venv). An interpreter built with
# ThreadSanitizer is asked without its reports, which are for the tests.
is_freethreaded_314() {
    [ -x "$1" ] && TSAN_OPTIONS=report_bugs=0 "$1" -c 'import sys, sysconfig
assert sys.version_info[:2] == (3, 14) and sysconfig.get_config_var("Py_GIL_DISABLED")
import ssl, zlib, lzma, bz2, sqlite3, ctypes, venv, ensurepip' >/dev/null 2>&1
}

# Prints the free-threaded CPython 3.14 of prefix $1, building it there first
# when it is not there yet; the arguments after $1 go to configure (with CC=
# and the like for a sanitizer build). The build happens in a scratch folder
# beside the prefix and is installed into a staging root that is moved into
# place whole, so an interrupted build leaves nothing half-made at the prefix;
# a lock keeps two runs from building at once.
cpython_freethreaded() {
    local prefix=$1
    shift
    local python=$prefix/bin/python3.14t
    mkdir -p "$(dirname "$prefix")" || return 1
    (
        flock 9
        if is_freethreaded_314 "$python"; then
            exit 0
        fi
        # Builds are made beside the prefix and moved into it whole, so a
        # prefix that is there but does not work was not made here.
        if [ -e "$prefix" ]; then
            echo "$prefix holds no working free-threaded CPython 3.14; remove it to have it built again" >&2
            exit 1
        fi
        rm -rf "$prefix".building.*  # left by a build that was killed
        local src archive=Python-$cpython_version.tar.xz
        src=$(cpython_source)
        if [ ! -f "$src/$archive" ]; then
            echo "no free-threaded CPython 3.14 at $prefix, and no $src/$archive to build it from" >&2
            if [ -z "${CI:-}" ]; then
                echo "put a free-threaded CPython 3.14 on PATH as python3.14t (or name it in TESSARIN_FT_PYTHON)," \
                     "or the CPython $cpython_version source archive and its SHA256SUMS in $src/" >&2
            fi
            exit 1
        fi
        (cd "$src" && sha256sum --check --status SHA256SUMS) || {
            echo "$src/$archive does not match $src/SHA256SUMS" >&2
            exit 1
        }
        apt_need "${cpython_build_packages[@]}" || exit 1
        local work
        work=$(mktemp -d "$prefix.building.XXXXXX") || exit 1
        trap 'rm -rf "$work"' EXIT
        echo "building CPython $cpython_version (free-threaded${*:+, $*}) into $prefix; the logs are in $work while it runs" >&2
        local start=$SECONDS
        if ! (cd "$work" && tar -xJf "$src/$archive" && cd "Python-$cpython_version" &&
              ./configure --disable-gil --prefix="$prefix" "$@" >"$work/configure.log" 2>&1 &&
              make -j2 >"$work/make.log" 2>&1 &&
              make install DESTDIR="$work/stage" >"$work/install.log" 2>&1 &&
              cp Tools/tsan/suppressions_free_threading.txt "$work/stage$prefix/lib/tsan-suppressions.txt"); then
            tail -n 30 "$work"/*.log >&2
            echo "the CPython build failed" >&2
            exit 1
        fi
        mv "$work/stage$prefix" "$prefix" || exit 1
        is_freethreaded_314 "$python" || { echo "the CPython built into $prefix does not work" >&2; exit 1; }
        echo "built CPython $cpython_version into $prefix in $((SECONDS - start)) s" >&2
    ) 9>"$prefix.lock" || return 1
    echo "$python"
}

# Prints a free-threaded CPython 3.14 to test with: TESSARIN_FT_PYTHON when
# set, else python3.14t on PATH, else pyenv's newest 3.14t, else the one of
# TESSARIN_FT_PREFIX (default ~/.cache/tessarin/cpython-3.14.7t), built there
# on first use.
find_freethreaded() {
    if [ -n "${TESSARIN_FT_PYTHON:-}" ]; then
        is_freethreaded_314 "$TESSARIN_FT_PYTHON" && { echo "$TESSARIN_FT_PYTHON"; return 0; }
        echo "TESSARIN_FT_PYTHON=$TESSARIN_FT_PYTHON is not a working free-threaded CPython 3.14" >&2
        return 1
    fi
    local p
    p=$(command -v python3.14t 2>/dev/null) && is_freethreaded_314 "$p" && { echo "$p"; return 0; }
    if command -v pyenv >/dev/null 2>&1; then
        p=$(ls -d "$(pyenv root)"/versions/3.14*t/bin/python3.14t 2>/dev/null | sort -V | tail -n 1)
        [ -n "$p" ] && is_freethreaded_314 "$p" && { echo "$p"; return 0; }
    fi
    cpython_freethreaded "${TESSARIN_FT_PREFIX:-$cpython_cache/cpython-${cpython_version}t}"
}

# Runs the Python suite with environment python $1, each test run by
# TESSARIN_PARALLEL_THREADS (default 4) threads at once through
# pytest-run-parallel, to find state the module or a test shares between
# threads unsafely. Tests marked thread_unsafe (forks, process pools, timing,
# resident size, the process's working directory) and those the plugin finds
# unsafe by itself (monkeypatch, output capture) run in one thread; the report
# at the end lists them with the reason, and its header counts the tests that
# ran in parallel.
parallel_suite() {
    local py=$1
    "$py" -m pip install -q --disable-pip-version-check --only-binary=:all: pytest-run-parallel >&2 || return 1
    (cd tests/python &&
        PYTEST_RUN_PARALLEL_VERBOSE=1 "$py" -m pytest -p no:cacheprovider --durations=8 \
            --parallel-threads="${TESSARIN_PARALLEL_THREADS:-4}" .)
}
