#!/usr/bin/env bash
# The demonstration: installs the package like tools/test.sh does (main
# interpreter only) and runs examples/demo.py with it.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/lib.sh"

ensure_system_packages
read -r py version < <(discover_pythons | head -n1)
[ -n "${py:-}" ] || die "no CPython 3.11 or later found"
vpy=$(venv_for "$py" "$version" scikit-build-core cmake ninja) || exit 1
wheel=$(build_wheel "$vpy") || exit 1
install_wheel "$vpy" "$wheel" || exit 1
say "examples/demo.py on Python $version"
cd "$ci" && exec "$vpy" "$root/examples/demo.py"
