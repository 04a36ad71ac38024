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
    local pid
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || true
    # Gone (or a zombie) before the next start reuses its folders.
    local state=""
    for _ in $(seq 60); do
      state=$(ps -o stat= -p "$pid" 2>/dev/null | cut -c1) || true
      case "$state" in "" | Z) break ;; esac
      sleep 0.05
    done
    case "$state" in "" | Z) ;; *) kill -KILL "$pid" 2>/dev/null || true ;; esac
    rm -f "$pidfile"
  done
  rm -f "$dir/env"
}

# --- Private cupsd: own ServerRoot, cache, spool and logs under $dir/cups,
# listening only on a Unix socket there (libcups, and so Wine, follow
# CUPS_SERVER); the machine's own cupsd is neither needed nor touched. ---
cups_ready() { CUPS_SERVER="$1" LC_ALL=C lpstat -r 2>/dev/null | grep -qx 'scheduler is running'; }

start_cupsd() {
  local root  # cupsd takes absolute paths only
  root="$(cd "$dir" && pwd)/cups"
  rm -rf "$root"
  mkdir -p "$root/etc/ppd" "$root/cache" "$root/state" "$root/spool/tmp" "$root/log"
  local sock="$root/cups.sock"
  ((${#sock} < 100)) || { echo "cupsd socket path too long: $sock" >&2; exit 1; }
  # As root cupsd runs its helpers as lp; otherwise as the caller. (Group
  # and SystemGroup must differ; nothing here needs SystemGroup rights.)
  local run_as=""
  [ "$(id -u)" = 0 ] || run_as="User $(id -un)
Group $(id -gn)"
  cat > "$root/etc/cups-files.conf" <<CONF
ServerRoot $root/etc
CacheDir $root/cache
StateDir $root/state
RequestRoot $root/spool
TempDir $root/spool/tmp
AccessLog $root/log/access_log
ErrorLog $root/log/error_log
PageLog $root/log/page_log
FileDevice Yes
SystemGroup root
$run_as
CONF
  cat > "$root/etc/cupsd.conf" <<CONF
LogLevel warn
Listen $sock
Browsing No
BrowseLocalProtocols none
DefaultAuthType None
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
  /usr/sbin/cupsd -f -c "$root/etc/cupsd.conf" -s "$root/etc/cups-files.conf" \
    </dev/null >"$root/log/cupsd.out" 2>&1 &
  local pid=$!
  echo "$pid" > "$dir/cupsd.pid"
  for _ in $(seq 200); do
    cups_ready "$sock" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if ! cups_ready "$sock"; then
    echo "cupsd did not start:" >&2
    cat "$root/log/cupsd.out" "$root/log/error_log" >&2 2>/dev/null || true
    exit 1
  fi
  echo "export CUPS_SERVER=\"$sock\"" >> "$dir/env"
  # The virtual printer's queue, as an installed machine has it (no exit
  # module recorded); the printer's own tests remove and re-create it.
  CUPS_SERVER="$sock" lpadmin -p Zentrafold -E -v file:///dev/null
  # A second queue: the user's own printer, which pagetrap makes the default again.
  CUPS_SERVER="$sock" lpadmin -p OfficeLaser -E -v file:///dev/null
}
# --- end of cupsd ---

case "$cmd" in
  start)
    stop
    rm -rf "$dir/prefix"
    mkdir -p "$dir"
    # ZF_DISPLAY=:N uses that local X display (the main job shows its windows
    # there); otherwise Xvfb picks a free display and tells it on descriptor 3.
    if [[ "${ZF_DISPLAY:-}" =~ ^:([0-9]+)(\.[0-9]+)?$ ]] && [ -S "/tmp/.X11-unix/X${BASH_REMATCH[1]}" ]; then
      echo "${BASH_REMATCH[1]}" > "$dir/display"
    else
      exec 3> "$dir/display"
      Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
      echo $! > "$dir/xvfb.pid"
      exec 3>&-
      for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
      [ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
    fi
    cat > "$dir/env" <<ENV
export WINEPREFIX="$dir/prefix"
export DISPLAY=":$(head -n1 "$dir/display")"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
ENV
    start_cupsd
    # shellcheck disable=SC1091
    . "$dir/env"
    "$wine_tools/wine64" wineboot -i >"$dir/wineboot.log" 2>&1
    # Then one clean session for the whole run, its server kept (`stop` ends
    # it): after the prefix is made its services are left half-restarted, and
    # a desktop started later waits 10 s for RpcSs.
    "$wine_tools/wineserver" -k 2>/dev/null || true
    "$wine_tools/wineserver" -p >"$dir/wineserver.log" 2>&1
    "$wine_tools/wine64" wineboot >>"$dir/wineboot.log" 2>&1
    # Xvfb has no window manager; Wine's X11 driver would wait for one about a
    # second each time a managed window is shown or hidden.
    "$wine_tools/wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
      >>"$dir/wineboot.log" 2>&1
    for server in "$@"; do
      "$wine_tools/wine64" regsvr32 /s "$("$wine_tools/wine64" winepath -w "$server")"
    done
    ;;
  stop) stop ;;
  *) echo "usage: testenv.sh start|stop DIR [COM servers...]" >&2; exit 2 ;;
esac
