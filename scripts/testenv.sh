#!/usr/bin/env bash
# The test environment of one build: a Wine prefix, an X display (Xvfb) and,
# for printing, a private cupsd. `start DIR REGISTER...` makes it anew and
# registers the given COM servers; `stop DIR` ends all it started.
set -euo pipefail
cmd=$1 dir=$2; shift 2
wine_tools=/usr/lib/wine
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

stop() {
  if [ -f "$dir/env" ]; then
    # shellcheck disable=SC1091
    . "$dir/env"
    "$wine_tools/wineserver" -k 2>/dev/null || true
  fi
  for pidfile in "$dir"/*.pid; do
    [ -f "$pidfile" ] || continue
    kill "$(cat "$pidfile")" 2>/dev/null || true
    rm -f "$pidfile"
  done
  rm -f "$dir/env"
}

case "$cmd" in
  start)
    stop
    rm -rf "$dir/prefix"
    mkdir -p "$dir"
    # Xvfb picks a free display and tells it on the given descriptor.
    exec 3> "$dir/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
    echo $! > "$dir/xvfb.pid"
    exec 3>&-
    for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
    [ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
    cat > "$dir/env" <<ENV
export WINEPREFIX="$dir/prefix"
export DISPLAY=":$(head -n1 "$dir/display")"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
ENV
    # shellcheck disable=SC1091
    . "$dir/env"
    "$wine_tools/wine64" wineboot -i >"$dir/wineboot.log" 2>&1
    for server in "$@"; do
      "$wine_tools/wine64" regsvr32 /s "$("$wine_tools/wine64" winepath -w "$server")"
    done
    ;;
  stop) stop ;;
  *) echo "usage: testenv.sh start|stop DIR [COM servers...]" >&2; exit 2 ;;
esac
