#!/usr/bin/env bash
# Fast developer loop: build the extension into build/dev-NAME, stage the
# package beside it and run pytest against the staged copy.
#   tools/dev.sh NAME [pytest args...]      build + test
#   QF_SANITIZE=1 tools/dev.sh NAME ...      ASan+UBSan build (build/dev-NAME-san); the
#                                            sanitizers' reports are printed at the end
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
cp "$bdir"/_engine*.so "$bdir"/_version.py "$stage/quorvantis_fast/"
cp "$bdir"/unicode_categories.bin "$stage/quorvantis_fast/internal/"
export PYTHONPATH="$stage${PYTHONPATH:+:$PYTHONPATH}"
cd "$root"
# Only the plugins the suite uses, whatever else the interpreter has installed;
# the package's own is loaded by name (the staged copy has no entry points).
export PYTEST_DISABLE_PLUGIN_AUTOLOAD=1
plugins=(-p quorvantis_fast.pytest_plugin)
"$py" -c "import xdist" 2>/dev/null && plugins+=(-p xdist.plugin)
[ "$san" = 1 ] || exec "$py" -m pytest -q -p no:cacheprovider "${plugins[@]}" "$@"

# Under the sanitizers: the module the run imports must be the instrumented
# one, and a report fails the run (printed in full) even when pytest passed.
sanitizer_logs="$bdir/sanitizer-logs"
rm -rf "$sanitizer_logs" && mkdir -p "$sanitizer_logs"
. "$root/tools/sanitizer_env.sh"
engine=$("$py" -c 'import quorvantis_fast._engine as e; print(e.__file__)')
imports=$(nm -D --undefined-only "$engine")
for runtime in __asan_init __ubsan_handle_; do
  grep -q " $runtime" <<<"$imports" \
    || { echo "error: the imported $engine does not use the sanitizer runtime ($runtime)" >&2; exit 1; }
done
rc=0
"$py" -m pytest -q -p no:cacheprovider "${plugins[@]}" "$@" || rc=$?
if sanitizer_reports; then
  echo "error: the sanitizers reported (the reports above, in $sanitizer_logs)"
  [ "$rc" -ne 0 ] || rc=1
fi
exit "$rc"
