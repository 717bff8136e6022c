#!/usr/bin/env bash
# The benchmarks: installs the package like tools/test.sh does (main
# interpreter only) and runs bench/bench_engine.py with it.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/lib.sh"
run_script_with_package bench/bench_engine.py
