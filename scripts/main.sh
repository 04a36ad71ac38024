#!/usr/bin/env bash
# The main job on the embedded default: sets everything up, starts the local
# account service on loopback, installs what installation installs, signs up a
# demo account and saves a page into it, then shows what the service holds.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"

build="$here/build"
run="$here/out/main"
wine=/usr/lib/wine/wine64
service="$build/outside/service/zentrafold-service"
say() { printf '\n== %s\n' "$*"; }

rm -rf "$run"
mkdir -p "$run"
cleanup() {
  [ -n "${service_pid:-}" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  "$here/scripts/testenv.sh" stop "$run/env" >/dev/null 2>&1 || true
}
trap cleanup EXIT

say "Starting the local account service"
"$service" serve --port 0 --data "$run/service-data" > "$run/service.out" 2>&1 &
service_pid=$!
for _ in $(seq 50); do grep -q listening "$run/service.out" 2>/dev/null && break; sleep 0.1; done
cat "$run/service.out"
port=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$run/service.out")
[ -n "$port" ] || { echo "the service did not start" >&2; exit 1; }

say "Installing into a new Wine prefix (cipher component, settings)"
"$here/scripts/testenv.sh" start "$run/env" "$build/win/outside/cipher/zfcipher.dll"
# shellcheck disable=SC1091
. "$run/env/env"
echo "Wine prefix: $WINEPREFIX, display $DISPLAY; cipher component registered"
setup() { "$wine" "$build/win/outside/install/zfsetup.exe.so" "$@"; }
setup service-host "127.0.0.1:$port"

say "Creating an account and opening a session through the client"
setup create-account demo@zentrafold.example "correct horse" Dana Demo
setup session

say "What the account service holds"
"$service" list --data "$run/service-data"
