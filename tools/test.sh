#!/usr/bin/env bash
# The test command. From a clean clone it installs what is missing, builds
# the abi3 wheel once, installs it into a venv per CPython >= 3.11 found on
# this machine and runs the whole suite on each; then once more with the
# upstream layer on the main interpreter, and once against an ASan+UBSan
# build. Exits non-zero when any of these fails.
#   QF_PYTHON=python3.12 tools/test.sh     another main interpreter
#   QF_PYTHONS="python3.11 python3.13"      only these besides the main one
#   QF_SKIP_SANITIZE=1                      leave out the sanitizer run
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/lib.sh"

failures=()

# run_suite LABEL COMMAND...: pytest's "no tests collected" (5) is not a failure.
run_suite() {
  local label=$1; shift
  say "$label"
  "$@"
  local rc=$?
  if [ $rc -ne 0 ] && [ $rc -ne 5 ]; then
    failures+=("$label (exit $rc)")
  fi
}

pytest_args=(-q -p no:cacheprovider "$root/tests")

ensure_system_packages
mapfile -t pythons < <(discover_pythons)
[ ${#pythons[@]} -gt 0 ] || die "no CPython 3.11 or later found"
say "interpreters: ${pythons[*]}"

main=(${pythons[0]})
main_venv=$(venv_for "${main[0]}" "${main[1]}" pytest scikit-build-core cmake ninja) || exit 1
wheel=$(build_wheel "$main_venv") || exit 1
say "wheel: $(basename "$wheel")"

for entry in "${pythons[@]}"; do
  read -r py version <<<"$entry"
  if [ "$py" = "${main[0]}" ]; then
    vpy=$main_venv
  else
    vpy=$(venv_for "$py" "$version" pytest) || { failures+=("venv for $py"); continue; }
  fi
  install_wheel "$vpy" "$wheel" || { failures+=("install into $py"); continue; }
  run_suite "Python $version ($py)" env -u QF_UPSTREAM -C "$root" "$vpy" -m pytest "${pytest_args[@]}"
done

run_suite "Python ${main[1]} with the upstream layer" \
  env -C "$root" QF_UPSTREAM=1 "$main_venv" -m pytest "${pytest_args[@]}"

if [ "${QF_SKIP_SANITIZE:-0}" != 1 ]; then
  san_log="$ci/sanitize.log"
  bindir=$(dirname "$main_venv")
  # The harness must fail on a real report: a heap overflow made on purpose
  # in the same environment has to abort with the sanitizer's report.
  say "sanitizer harness check"
  probe=$( (. "$root/tools/sanitizer_env.sh" && "$main_venv" -c '
import ctypes
libc = ctypes.CDLL(None)
libc.malloc.restype = ctypes.c_void_p
p = libc.malloc(16)
libc.memset(ctypes.c_void_p(p), 0, 32)
') 2>&1)
  if [ $? -eq 0 ] || ! grep -q "ERROR: AddressSanitizer" <<<"$probe"; then
    failures+=("sanitizer harness check: a heap overflow was not reported")
  else
    echo "a deliberate heap overflow was reported and failed the run, as it must"
  fi
  say "ASan+UBSan build"
  PATH="$bindir:$PATH" QF_PYTHON="$main_venv" QF_SANITIZE=1 \
    "$root/tools/dev.sh" ci "${pytest_args[@]}" 2>&1 | tee "$san_log"
  rc=${PIPESTATUS[0]}
  if [ "$rc" -ne 0 ] && [ "$rc" -ne 5 ]; then
    failures+=("ASan+UBSan (exit $rc)")
  elif grep -qE "ERROR: (Address|Leak)Sanitizer|runtime error:" "$san_log"; then
    failures+=("ASan+UBSan: sanitizer report in $san_log")
  fi
fi

if [ ${#failures[@]} -gt 0 ]; then
  say "FAILED"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
say "all runs passed"
