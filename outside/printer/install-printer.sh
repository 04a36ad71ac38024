#!/usr/bin/env bash
# Installs the Zentrafold virtual printer into a Wine prefix, or removes it.
#   install-printer.sh EXIT_MODULE   EXIT_MODULE: Unix path of the exit module DLL
#                                    (NAME.dll, or NAME.dll.so beside it)
#   install-printer.sh --remove
# Needs WINEPREFIX; uses the CUPS server in CUPS_SERVER (else the machine's).
# Running it again changes nothing further.
set -euo pipefail
queue=Zentrafold
key='HKLM\Software\Zentrafold Printer'
wine=${WINE:-/usr/lib/wine/wine64}
[ -x "$wine" ] || wine=wine
export WINEDEBUG=${WINEDEBUG:--all}

usage() { echo "usage: install-printer.sh EXIT_MODULE | --remove" >&2; exit 2; }
fail() { echo "install-printer.sh: $*" >&2; exit 1; }
[ $# = 1 ] || usage
[ -n "${WINEPREFIX:-}" ] || fail "WINEPREFIX is not set"
cups="the CUPS server ${CUPS_SERVER:-of this machine}"

if [ "$1" = --remove ]; then
  if lpstat -p "$queue" >/dev/null 2>&1; then
    lpadmin -x "$queue" || fail "cannot remove the queue $queue from $cups"
  fi
  "$wine" reg delete "$key" /f >/dev/null 2>&1 || true
  exit 0
fi

module=$1
case "$module" in *.dll.so) module=${module%.so} ;; esac
[ -f "$module" ] || fail "no exit module at $module"
module=$(cd "$(dirname "$module")" && pwd)/$(basename "$module")
windows_path=$("$wine" winepath -w "$module")

# A raw queue that discards what it is sent: the driver's work is done by the
# exit module, Wine only needs the printer to exist.
lpadmin -p "$queue" -E -v file:///dev/null ||
  fail "cannot create the queue $queue in $cups (is it running?)"
"$wine" reg add "$key" /v ExitModule /t REG_SZ /d "$windows_path" /f >/dev/null
echo "Zentrafold printer installed: exit module $windows_path"
