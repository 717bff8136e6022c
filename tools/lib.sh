# Sourced by test.sh, demo.sh and bench.sh: install what is missing, build
# the abi3 wheel when its sources changed, install it into one virtual
# environment per interpreter. Expects $root (the repository) to be set.

ci="$root/build/ci"
mkdir -p "$ci"

say() { printf '\n== %s\n' "$*"; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# A C++ compiler and GMP's C++ interface, from the distribution when missing.
ensure_system_packages() {
  local wanted=()
  command -v g++ >/dev/null 2>&1 || wanted+=(g++)
  echo '#include <gmpxx.h>' | g++ -x c++ -fsyntax-only - 2>/dev/null || wanted+=(libgmp-dev)
  [ ${#wanted[@]} -gt 0 ] || return 0
  say "installing ${wanted[*]}"
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq || die "apt-get update failed"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${wanted[@]}" \
    || die "cannot install ${wanted[*]}"
}

# Prints one line per usable CPython >= 3.11 on this machine: "PATH VERSION".
# The main interpreter (QF_PYTHON, default python3) comes first; interpreters
# reached by several names are listed once.
discover_pythons() {
  local main=${QF_PYTHON:-python3} candidates=() c seen=" " line real
  candidates+=("$main")
  if [ -n "${QF_PYTHONS:-}" ]; then
    read -r -a extra <<<"$QF_PYTHONS"
    candidates+=("${extra[@]}")
  else
    for c in python3.1{1..9} /usr/bin/python3.1{1..9} /usr/local/bin/python3.1{1..9} \
             "$HOME"/.pyenv/versions/3.1[1-9]*/bin/python3; do
      candidates+=("$c")
    done
  fi
  for c in "${candidates[@]}"; do
    command -v "$c" >/dev/null 2>&1 || continue
    line=$("$c" -c '
import os, sys
ok = sys.implementation.name == "cpython" and sys.version_info >= (3, 11)
import venv, ensurepip
if ok:
    print(os.path.realpath(sys.executable), sys.version.split()[0])
' 2>/dev/null) || continue
    [ -n "$line" ] || continue
    real=${line% *}
    case "$seen" in *" $real "*) continue ;; esac
    seen="$seen$real "
    echo "$line"
  done
}

# venv_for INTERPRETER VERSION PACKAGES... : prints the venv's python, after
# installing those of the packages (distribution names) it lacks. pip's
# output goes to the venv's pip.log and is shown only when pip fails.
venv_for() {
  local py=$1 version=$2; shift 2
  local dir="$ci/venv-$version-$(printf '%s' "$py" | md5sum | cut -c1-8)"
  if [ ! -x "$dir/bin/python" ]; then
    "$py" -m venv "$dir" >&2 || die "cannot create a venv with $py"
  fi
  local missing
  missing=$("$dir/bin/python" - "$@" <<'PY'
import importlib.metadata as metadata, sys
for name in sys.argv[1:]:
    try:
        metadata.version(name)
    except metadata.PackageNotFoundError:
        print(name)
PY
) || die "cannot run the venv's python $dir/bin/python"
  if [ -n "$missing" ]; then
    # shellcheck disable=SC2086
    "$dir/bin/python" -m pip install --disable-pip-version-check $missing >"$dir/pip.log" 2>&1 \
      || { cat "$dir/pip.log" >&2; die "cannot install $(echo $missing) for $py"; }
  fi
  echo "$dir/bin/python"
}

# The files the wheel is built from, NUL-separated, relative to directory $1.
wheel_inputs() {
  (cd "$1" && find src python cmake CMakeLists.txt pyproject.toml -type f \
       ! -name '*.pyc' ! -path '*/__pycache__/*' -print0 | LC_ALL=C sort -z)
}

# source_hash DIR: a hash of the names and contents (not the times) of the
# files the wheel is built from.
source_hash() {
  wheel_inputs "$1" | (cd "$1" && xargs -0 sha256sum) | sha256sum | cut -c1-32
}

# wheel_in DIST: prints the abi3 wheel in DIST, or nothing.
wheel_in() { ls "$1"/quorvantis_fast-*-cp311-abi3-*.whl 2>/dev/null | head -n1; }

# current_wheel DIST HASH: prints the wheel in DIST when it was built from
# sources with that hash; fails when there is none.
current_wheel() {
  local dist=$1 hash=$2 wheel
  [ "$(cat "$dist/source-hash" 2>/dev/null)" = "$hash" ] || return 1
  wheel=$(wheel_in "$dist")
  [ -n "$wheel" ] && echo "$wheel"
}

# Reads a build's output, keeps all of it in the log file $1 and prints a
# line at every fifth of the way through ninja's [n/N] steps.
show_build_progress() {
  awk -v logfile="$1" '
    { print > logfile; fflush(logfile) }
    match($0, /\[[0-9]+\/[0-9]+\]/) {
      split(substr($0, RSTART + 1, RLENGTH - 2), step, "/")
      fifth = int(step[1] * 5 / step[2])
      if (step[2] >= 10 && fifth > shown) {
        shown = fifth
        printf "   %3d%%  (%d of %d build steps)\n", step[1] * 100 / step[2], step[1], step[2]
        fflush()
      }
    }'
}

# build_wheel VENV_PYTHON: prints the path of the abi3 wheel, built with the
# venv's build tools unless the one already built has the same sources.
build_wheel() {
  local vpy=$1 dist="$ci/dist" hash wheel
  hash=$(source_hash "$root") || die "cannot hash the sources"
  if wheel=$(current_wheel "$dist" "$hash"); then
    say "the wheel is up to date with the sources: $(basename "$wheel")" >&2
    echo "$wheel"
    return 0
  fi
  rm -rf "$dist" && mkdir -p "$dist"
  say "building the wheel (a first build takes under a minute)" >&2
  (cd "$root" && PATH="$(dirname "$vpy"):$PATH" "$vpy" -m pip wheel -v --disable-pip-version-check \
      --no-build-isolation --no-deps -C cmake.define.QF_WERROR=ON -w "$dist" . 2>&1) | show_build_progress "$dist/build.log" >&2
  if [ "${PIPESTATUS[0]}" -ne 0 ]; then
    tail -n 80 "$dist/build.log" >&2
    die "wheel build failed (whole log: $dist/build.log)"
  fi
  wheel=$(wheel_in "$dist")
  [ -n "$wheel" ] || die "no cp311-abi3 wheel in $dist: $(ls "$dist")"
  "$vpy" - "$wheel" <<'PY' >&2 || die "the wheel lacks quorvantis_fast/_engine.abi3.so"
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
sys.exit("quorvantis_fast/_engine.abi3.so" not in names)
PY
  echo "$hash" >"$dist/source-hash"
  echo "$wheel"
}

# check_rebuild_rule: on a copy of the sources, the wheel built from them
# counts as current until a file's contents change or a file is added, and
# newer timestamps alone change nothing.
check_rebuild_rule() {
  local tmp f bad=0
  tmp=$(mktemp -d) || return 1
  wheel_inputs "$root" | (cd "$root" && xargs -0 cp --parents -t "$tmp") || { rm -rf "$tmp"; return 1; }
  mkdir "$tmp/dist" && touch "$tmp/dist/quorvantis_fast-0-cp311-abi3-linux_x86_64.whl"
  source_hash "$tmp" >"$tmp/dist/source-hash"
  _rebuilds() { ! current_wheel "$tmp/dist" "$(source_hash "$tmp")" >/dev/null; }
  _wrong() { echo "rebuild rule: $*" >&2; bad=1; }
  [ "$(cat "$tmp/dist/source-hash")" = "$(source_hash "$root")" ] || _wrong "a copy of the sources hashes differently"
  _rebuilds && _wrong "unchanged sources would rebuild"
  touch -d '+1 hour' "$tmp/CMakeLists.txt" "$tmp/src/lib.cpp"
  _rebuilds && _wrong "newer timestamps alone would rebuild"
  for f in src/lib.cpp cmake/native_module.cmake pyproject.toml python/quorvantis_fast/__init__.py; do
    echo >>"$tmp/$f"
    _rebuilds || _wrong "a change to $f would not rebuild"
    source_hash "$tmp" >"$tmp/dist/source-hash"
  done
  : >"$tmp/src/added.cpp"
  _rebuilds || _wrong "a new source file would not rebuild"
  rm -rf "$tmp"
  unset -f _rebuilds _wrong
  return $bad
}

# install_wheel VENV_PYTHON WHEEL: installs it unless the venv has it
# already, and checks what is installed.
install_wheel() {
  local vpy=$1 wheel=$2 stamp want
  stamp="$(dirname "$(dirname "$vpy")")/quorvantis_fast-wheel"
  want="$(basename "$wheel") $(cat "$(dirname "$wheel")/source-hash")"
  if [ "$(cat "$stamp" 2>/dev/null)" = "$want" ] && installed_is_wheel "$vpy" 2>/dev/null; then
    return 0
  fi
  "$vpy" -m pip install -q --disable-pip-version-check --no-deps --no-index --force-reinstall "$wheel" \
    || die "cannot install $wheel into $vpy"
  installed_is_wheel "$vpy" || die "the installed package is not the wheel's"
  echo "$want" >"$stamp"
}

# installed_is_wheel VENV_PYTHON: the venv imports the engine from its
# site-packages.
installed_is_wheel() {
  (cd "$ci" && "$1" -c '
import os, quorvantis_fast._engine as e
assert os.path.basename(e.__file__) == "_engine.abi3.so", e.__file__
assert "site-packages" in e.__file__, e.__file__
')
}

# Install the package for the first interpreter found (as tools/test.sh
# does) and run one Python script with it.
run_script_with_package() {
  local script=$1 py version vpy wheel
  ensure_system_packages
  read -r py version < <(discover_pythons | head -n1)
  [ -n "${py:-}" ] || die "no CPython 3.11 or later found"
  vpy=$(venv_for "$py" "$version" scikit-build-core cmake ninja) || exit 1
  wheel=$(build_wheel "$vpy") || exit 1
  install_wheel "$vpy" "$wheel" || exit 1
  say "$script on Python $version"
  cd "$ci" && exec "$vpy" "$root/$script"
}
