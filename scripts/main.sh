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

say "Installing into a new Wine prefix: cipher component, printer \"Zentrafold\" with pagetrap, ZentrafoldUpload and verywrite.dll"
# The desktop's own display when there is a local one, Xvfb otherwise.
ZF_DISPLAY="${DISPLAY:-}" "$here/scripts/testenv.sh" start "$run/env"
# shellcheck disable=SC1091
. "$run/env/env"
echo "Wine prefix: $WINEPREFIX, display $DISPLAY, CUPS at $CUPS_SERVER"
"$here/outside/install/install.sh" --cipher "$build/win/outside/cipher/zfcipher.dll" \
  --exit-module "$build/win/printexit/pagetrap.dll" \
  --uploader "$build/win/uploader/ZentrafoldUpload.exe" \
  --verywrite "$build/win/outside/verywrite/verywrite.dll"
setup() { "$wine" "$build/win/outside/install/zfsetup.exe.so" "$@"; }
setup service-host "127.0.0.1:$port"

say "Creating an account and opening a session through the client"
setup create-account demo@zentrafold.example "correct horse" Dana Demo
setup session

say "Saving a page: the job file, then the page printed to \"Zentrafold\""
folder=$(setup create-folder "Weekend trips")
echo "folder \"Weekend trips\" has the identifier $folder"
setup write-job "Harbour Lights Gazette, weekend edition" \
  'For the trip in June.\nAsk at the harbour office about ship tours.' "$folder"
sample="$build/win/outside/printer/sample/ZentrafoldSample.pdf"
echo "printing $(pdfinfo "$sample" | awk '/^Pages/ {print $2}') pages of $sample at 200 dpi, 1 bit a pixel"
"$wine" "$build/win/outside/printer/zfprint.exe.so" "$sample" 200 1 128
# pagetrap has converted the capture and started ZentrafoldUpload, which shows its
# notice, uploads and ends by itself.
for _ in $(seq 600); do pgrep -f 'ZentrafoldUpload.exe' >/dev/null || break; sleep 0.1; done
if pgrep -f 'ZentrafoldUpload.exe' >/dev/null; then
  echo "ZentrafoldUpload did not finish" >&2
  exit 1
fi
appdata="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Zentrafold"
if compgen -G "$appdata/*.pdf" >/dev/null; then
  echo "ZentrafoldUpload did not upload the page: $(ls "$appdata"/*.pdf) is still there" >&2
  exit 1
fi
echo "ZentrafoldUpload finished: the job file and the PDF are gone from the application-data folder"

say "What the account service holds"
"$service" list --data "$run/service-data"
"$service" export --data "$run/service-data" --document 1 --out "$run/saved-page.pdf"
pdfinfo "$run/saved-page.pdf" | grep -E '^(Title|Author|Creator|Pages|Page size):'
echo "the stored document is a PDF you can open: $run/saved-page.pdf"
