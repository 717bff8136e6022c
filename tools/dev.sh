#!/usr/bin/env bash
# Fast developer loop: build the extension into build/dev-NAME, stage the
# package beside it and run pytest against the staged copy.
#   tools/dev.sh NAME [pytest args...]      build + test
#   QF_SANITIZE=1 tools/dev.sh NAME ...      ASan+UBSan build (build/dev-NAME-san)
#   QF_DEBUG=1 tools/dev.sh NAME ...         debug build with assertions (build/dev-NAME-debug)
#   QF_PYTHON=python3.12 tools/dev.sh ...    another interpreter
#   tools/dev.sh NAME -n 8 ...               the suite over 8 processes (pytest-xdist)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
name=${1:-default}; shift || true
py=${QF_PYTHON:-python3}
bdir="$root/build/dev-$name"
san=${QF_SANITIZE:-0}
debug=${QF_DEBUG:-0}
[ "$san" = 1 ] && bdir="$bdir-san"
[ "$debug" = 1 ] && bdir="$bdir-debug"
cmake -S "$root" -B "$bdir" -G Ninja -DCMAKE_BUILD_TYPE=$([ "$debug" = 1 ] && echo Debug || echo Release) \
      -DPython_EXECUTABLE="$(command -v "$py")" -DQF_SANITIZE=$([ "$san" = 1 ] && echo ON || echo OFF) -DQF_WERROR=ON >/dev/null
cmake --build "$bdir" -- -k 0
stage="$bdir/stage"
rm -rf "$stage" && mkdir -p "$stage"
cp -r "$root/python/quorvantis_fast" "$stage/"
cp "$bdir"/_engine*.so "$stage/quorvantis_fast/"
cp "$bdir"/unicode_categories.bin "$stage/quorvantis_fast/internal/"
export PYTHONPATH="$stage${PYTHONPATH:+:$PYTHONPATH}"
if [ "$san" = 1 ]; then
  . "$root/tools/sanitizer_env.sh"
fi
cd "$root"
# Only the plugins the suite uses, whatever else the interpreter has installed.
export PYTEST_DISABLE_PLUGIN_AUTOLOAD=1
plugins=()
"$py" -c "import xdist" 2>/dev/null && plugins=(-p xdist.plugin)
exec "$py" -m pytest -q -p no:cacheprovider "${plugins[@]}" "$@"
