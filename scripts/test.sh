#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite through CTest.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"
cd "$here/build"
ctest --output-on-failure -j2 "$@"
