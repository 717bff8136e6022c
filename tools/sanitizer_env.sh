# Sourced with $sanitizer_logs set to a directory: the environment that runs
# Python against an ASan+UBSan build. The sanitizer runtimes are preloaded
# (the interpreter itself is not instrumented) and every report aborts the
# process. Reports go to files in that directory (report.PID), since neither
# a crashed pytest worker's output nor a test's subprocess's is shown
# anywhere. With both runtimes loaded, UBSan's log_path reaches only the ASan
# runtime (loaded first) and UBSan's own message still goes to stderr; so a
# UBSan finding aborts and ASan reports the abort to the file, with the stack
# that names the check (__ubsan_handle_...) and the line.
export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:handle_abort=1:log_path=$sanitizer_logs/report"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:abort_on_error=1:log_path=$sanitizer_logs/report"

# sanitizer_reports: prints every report in $sanitizer_logs in full; fails
# when there is none.
sanitizer_reports() {
  local f found=1
  for f in "$sanitizer_logs"/*; do
    [ -s "$f" ] || continue
    printf '\n== sanitizer report %s\n' "$f"
    cat "$f"
    found=0
  done
  return $found
}
