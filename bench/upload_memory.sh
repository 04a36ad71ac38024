#!/usr/bin/env bash
# Peak memory of ZentrafoldUpload (the Wine process itself, not a launcher) while
# it uploads documents of 1 KB, 1, 10 and 50 MB to the local service, and the
# growth over the 1 KB run against the document's size.
# Usage: bench/upload_memory.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"
wine=/usr/lib/wine/wine64
work="$(mktemp -d /tmp/zf-membench-XXXXXX)"
cleanup() {
  [ -n "${service_pid:-}" ] && kill "$service_pid" 2>/dev/null
  "$here/scripts/testenv.sh" stop "$work/env" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

"$build/outside/service/zentrafold-service" serve --port 0 --data "$work/data" > "$work/service.out" &
service_pid=$!
for _ in $(seq 50); do grep -q listening "$work/service.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/.*127.0.0.1:\([0-9]*\).*/\1/p' "$work/service.out")
"$here/scripts/testenv.sh" start "$work/env" "$build/win/outside/cipher/zfcipher.dll"
# shellcheck disable=SC1091
. "$work/env/env"
setup() { "$wine" "$build/win/outside/install/zfsetup.exe.so" "$@" >/dev/null; }
setup service-host "127.0.0.1:$port"
setup create-account bench@example.com pw Bench Mark
appdata="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Zentrafold"
mkdir -p "$appdata"

# Peak resident set (VmHWM, kB) of one upload run.
run() {
  local size=$1 doc="$appdata/bench-$1.pdf"
  head -c "$size" /dev/urandom > "$doc"
  printf 'Benchmark\rsize %s\r' "$size" > "$appdata/prpt.job"
  "$wine" "$build/win/uploader/ZentrafoldUpload.exe.so" "C:\\users\\$(id -un)\\AppData\\Roaming\\Zentrafold\\bench-$size.pdf" &
  local launcher=$! peak=0 hwm pids
  # Whichever process carries the program (the launcher execs and forks under
  # Wine), take the largest peak among them until all have ended.
  while kill -0 "$launcher" 2>/dev/null || pgrep -f "bench-$size.pdf" >/dev/null; do
    pids=$(pgrep -f "bench-$size.pdf" || true)
    for p in $pids; do
      hwm=$(awk '/VmHWM/ {print $2}' "/proc/$p/status" 2>/dev/null || true)
      [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
    done
    sleep 0.02
  done
  wait "$launcher" || true
  if [ -e "$doc" ]; then echo "upload of $size bytes failed" >&2; rm -f "$doc"; fi
  echo "$peak"
}

base=$(run 1024)
printf '%10s %12s %12s %14s\n' "document" "peak MB" "growth MB" "growth - size"
awk -v b="$base" 'BEGIN { printf "%10s %12.1f %12s %14s\n", "1 KB", b / 1024, "-", "-" }'
for mb in 1 10 50; do
  peak=$(run $((mb * 1048576)))
  awk -v p="$peak" -v b="$base" -v mb="$mb" \
    'BEGIN { g = (p - b) / 1024; printf "%7d MB %12.1f %12.1f %14.1f\n", mb, p / 1024, g, g - mb }'
done
