# Sourced by test.sh and demo.sh: install what is missing, build the abi3
# wheel once, install it into one virtual environment per interpreter.
# Expects $root (the repository) to be set.

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

# venv_for INTERPRETER VERSION PACKAGES... : prints the venv's python.
venv_for() {
  local py=$1 version=$2; shift 2
  local dir="$ci/venv-$version-$(printf '%s' "$py" | md5sum | cut -c1-8)"
  if [ ! -x "$dir/bin/python" ]; then
    "$py" -m venv "$dir" >&2 || die "cannot create a venv with $py"
  fi
  local missing=()
  for p in "$@"; do
    "$dir/bin/python" -c "import importlib.util, sys; sys.exit(importlib.util.find_spec('${p//-/_}') is None)" \
      2>/dev/null || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    "$dir/bin/python" -m pip install -q --disable-pip-version-check "${missing[@]}" >&2 \
      || die "cannot install ${missing[*]} for $py"
  fi
  echo "$dir/bin/python"
}

# build_wheel VENV_PYTHON: builds the abi3 wheel with the venv's build tools
# and prints its path.
build_wheel() {
  local vpy=$1 dist="$ci/dist"
  rm -rf "$dist"
  say "building the wheel" >&2
  (cd "$root" && PATH="$(dirname "$vpy"):$PATH" "$vpy" -m pip wheel -q --disable-pip-version-check \
      --no-build-isolation --no-deps -w "$dist" .) >&2 || die "wheel build failed"
  local wheel
  wheel=$(ls "$dist"/quorvantis_fast-*-cp311-abi3-*.whl 2>/dev/null | head -n1)
  [ -n "$wheel" ] || die "no cp311-abi3 wheel in $dist: $(ls "$dist")"
  "$vpy" - "$wheel" <<'EOF' >&2 || die "the wheel lacks quorvantis_fast/_engine.abi3.so"
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
sys.exit("quorvantis_fast/_engine.abi3.so" not in names)
EOF
  echo "$wheel"
}

# install_wheel VENV_PYTHON WHEEL: installs it and checks what was installed.
install_wheel() {
  local vpy=$1 wheel=$2
  "$vpy" -m pip install -q --disable-pip-version-check --no-deps --no-index --force-reinstall "$wheel" \
    || die "cannot install $wheel into $vpy"
  (cd "$ci" && "$vpy" -c '
import os, quorvantis_fast._engine as e
assert os.path.basename(e.__file__) == "_engine.abi3.so", e.__file__
assert "site-packages" in e.__file__, e.__file__
') || die "the installed package is not the wheel's"
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
