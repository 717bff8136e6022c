#!/usr/bin/env bash
# The test command. From a clean clone it installs what is missing, builds
# the abi3 wheel (again only when a source or build file changed), installs
# it into a venv per CPython >= 3.11 found on this machine and runs the whole
# suite on each; then with the upstream layer on the main interpreter, and
# against an ASan+UBSan build and a debug build with assertions. The runs go
# side by side, each suite spread over several processes (pytest-xdist).
# Each run prints one summary line, and its whole output when it fails; the
# last line adds up all runs. Exits non-zero when any run fails.
#   QF_PYTHON=python3.12 tools/test.sh     another main interpreter
#   QF_PYTHONS="python3.11 python3.13"      only these besides the main one
#   QF_SKIP_SANITIZE=1                      leave out the sanitizer run
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/lib.sh"
started=$SECONDS

logs="$ci/logs"
rm -rf "$logs" && mkdir -p "$logs"
failures=()
labels=() pids=() run_logs=()
total_passed=0 total_failed=0 total_skipped=0 total_errors=0

# pytest-xdist processes per suite: the runs share the machine, and the
# slower sanitizer and debug suites take a larger share.
cores=$(nproc)
few=$(( cores / 4 > 2 ? cores / 4 : 2 )) many=$(( cores / 2 > 2 ? cores / 2 : 2 ))
pytest_args=(-p no:cacheprovider --dist worksteal "$root/tests")

# start_run LABEL COMMAND...: runs COMMAND in the background, its output to
# a log of its own; report_runs waits for it.
start_run() {
  local label=$1 log="$logs/run-${#labels[@]}.log"; shift
  set -m  # a process group of its own, ended with the script
  ("$@") >"$log" 2>&1 &
  set +m
  pids+=($!) labels+=("$label") run_logs+=("$log")
}
venv_pids=()
end_runs() {
  local p
  for p in "${pids[@]}" "${venv_pids[@]}"; do kill -- "-$p" 2>/dev/null; done
}
trap end_runs EXIT
trap 'exit 130' INT TERM

# step_failed WHAT: a failure outside the test runs, counted as an error.
step_failed() { failures+=("$1"); total_errors=$((total_errors + 1)); }

# count WORD LINE: the number pytest's closing LINE gives for WORD, or 0.
count() { grep -oE "[0-9]+ $1" <<<"$2" | grep -oE '^[0-9]+' || echo 0; }

# Waits for every run in the order started; prints its summary line, and the
# whole log (less progress lines) when it failed. pytest's exit status 5
# (no tests collected) is not a failure.
report_runs() {
  local i rc log closing passed failed skipped errors
  for i in "${!pids[@]}"; do
    wait "${pids[$i]}"; rc=$?
    log=${run_logs[$i]}
    closing=$(grep -E '^[= ]*[0-9]+ (passed|failed|skipped|errors?|xfailed|xpassed|deselected)' "$log" \
                | tail -n1 | sed -E 's/^[= ]+|[= ]+$//g')
    passed=$(count passed "$closing") failed=$(count failed "$closing")
    skipped=$(count skipped "$closing") errors=$(count 'errors?' "$closing")
    if [ "$rc" -eq 0 ] && [ -n "$closing" ] && grep -qE "ERROR: (Address|Leak)Sanitizer|runtime error:" "$log"; then
      rc=1 closing="$closing; a sanitizer report is in the log"
    fi
    if [ -z "$closing" ] && [ "$rc" -ne 5 ]; then
      closing="no test results (exit $rc)" errors=1
      [ "$rc" -ne 0 ] || rc=1
    fi
    if [ "$rc" -ne 0 ] && [ "$rc" -ne 5 ]; then
      say "output of: ${labels[$i]} (whole log: $log)"
      grep -vE '^[.sxXfFE]+ *\[ *[0-9]+%\]$|^\[[0-9]+/[0-9]+\] |^bringing up nodes' "$log"
      failures+=("${labels[$i]}: $closing")
      printf 'failed  %-46s %s\n' "${labels[$i]}" "$closing"
    else
      printf 'ok      %-46s %s\n' "${labels[$i]}" "${closing:-no tests collected}"
    fi
    total_passed=$((total_passed + passed)) total_failed=$((total_failed + failed))
    total_skipped=$((total_skipped + skipped)) total_errors=$((total_errors + errors))
  done
}

check_rebuild_rule || step_failed "the rebuild rule's self-check"

ensure_system_packages
mapfile -t pythons < <(discover_pythons)
[ ${#pythons[@]} -gt 0 ] || die "no CPython 3.11 or later found"
say "interpreters: $(printf '%s\n' "${pythons[@]}" | sed -E 's/^(.*) (.*)$/\2 (\1)/' | paste -sd, - | sed 's/,/, /g')"

main=(${pythons[0]})
main_venv=$(venv_for "${main[0]}" "${main[1]}" pytest pytest-xdist scikit-build-core cmake ninja) || exit 1
bindir=$(dirname "$main_venv")

# The sanitizer and debug builds start first, beside the wheel's build, and
# run their suites as soon as they are built.
if [ "${QF_SKIP_SANITIZE:-0}" != 1 ]; then
  # The harness must fail on a real report: a heap overflow made on purpose
  # in the same environment has to abort and leave the sanitizer's report
  # where the run looks for them.
  probe=$( (sanitizer_logs=$(mktemp -d) && . "$root/tools/sanitizer_env.sh" && trap 'rm -rf "$sanitizer_logs"' EXIT &&
            ! "$main_venv" -c '
import ctypes
libc = ctypes.CDLL(None)
libc.malloc.restype = ctypes.c_void_p
p = libc.malloc(16)
libc.memset(ctypes.c_void_p(p), 0, 32)
' 2>/dev/null && sanitizer_reports) 2>&1)
  if [ $? -ne 0 ] || ! grep -q "ERROR: AddressSanitizer: heap-buffer-overflow" <<<"$probe"; then
    step_failed "sanitizer harness check: a heap overflow was not reported"
  fi
  start_run "ASan+UBSan build, Python ${main[1]}" \
    env PATH="$bindir:$PATH" QF_PYTHON="$main_venv" QF_SANITIZE=1 "$root/tools/dev.sh" ci -n "$many" "${pytest_args[@]}"
fi
start_run "debug build, Python ${main[1]}" \
  env PATH="$bindir:$PATH" QF_PYTHON="$main_venv" QF_DEBUG=1 "$root/tools/dev.sh" ci -n "$many" "${pytest_args[@]}"

# The other interpreters' venvs, made while the wheel builds. The first of
# them also gets numpy, for the tests that take NumPy arrays; the main venv
# stays without it.
for i in "${!pythons[@]}"; do
  [ "$i" -gt 0 ] || continue
  read -r py version <<<"${pythons[$i]}"
  extra=()
  [ "$i" -ne 1 ] || extra=(numpy)
  set -m
  venv_for "$py" "$version" pytest pytest-xdist "${extra[@]}" >"$logs/venv-$i" 2>"$logs/venv-$i.err" &
  set +m
  venv_pids[$i]=$!
done

wheel=$(build_wheel "$main_venv") || { step_failed "the wheel's build"; pythons=(); }

# run_wheel_suite VENV_PYTHON [VAR=VALUE...]: the suite against the wheel.
run_wheel_suite() {
  local vpy=$1; shift
  env -u QF_UPSTREAM -C "$root" "$@" "$vpy" -m pytest -q -n "$few" "${pytest_args[@]}"
}

for i in "${!pythons[@]}"; do
  read -r py version <<<"${pythons[$i]}"
  if [ "$i" -eq 0 ]; then
    vpy=$main_venv
  elif wait "${venv_pids[$i]}"; then
    vpy=$(cat "$logs/venv-$i")
  else
    cat "$logs/venv-$i.err"
    step_failed "venv for $py"
    continue
  fi
  (install_wheel "$vpy" "$wheel") || { step_failed "install into $py"; continue; }
  start_run "Python $version ($py)" run_wheel_suite "$vpy"
  if [ "$i" -eq 0 ]; then
    start_run "Python $version with the upstream layer" run_wheel_suite "$vpy" QF_UPSTREAM=1
  fi
done

say "test runs"
report_runs

elapsed=$((SECONDS - started))
if [ ${#failures[@]} -gt 0 ]; then
  say "failures"
  printf '  %s\n' "${failures[@]}"
fi
printf '\nall runs took %ds' "$elapsed"
[ "$total_errors" -eq 0 ] || printf '; %d errors (counted as failed)' "$total_errors"
# The closing line in the plain form CI harnesses read.
printf '\ntotal: %d passed, %d failed, %d skipped\n' \
  "$total_passed" "$((total_failed + total_errors))" "$total_skipped"
[ ${#failures[@]} -eq 0 ]
