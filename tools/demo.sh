#!/usr/bin/env bash
# The demonstration: installs the package like tools/test.sh does (main
# interpreter only) and runs examples/demo.py with it.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/lib.sh"
run_script_with_package examples/demo.py
