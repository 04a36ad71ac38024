#!/usr/bin/env bash
# Runs a Winelib program in the test environment made by testenv.sh.
set -euo pipefail
dir=$1 prog=$2; shift 2
# shellcheck disable=SC1091
. "$dir/env"
[ -f "$prog.so" ] && prog="$prog.so"
exec /usr/lib/wine/wine64 "$prog" "$@"
