# Sourced: the environment that runs Python against an ASan+UBSan build.
# The sanitizer runtimes are preloaded (the interpreter itself is not
# instrumented); every report aborts the process.
export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
