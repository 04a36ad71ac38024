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

say "Saving a page: job file and PDF in the user's application-data folder, then ZentrafoldUpload"
folder=$(setup create-folder "Weekend trips")
echo "folder \"Weekend trips\" has the identifier $folder"
setup write-job "Tall ships at the harbour festival" \
  'For the trip in June.\nAsk at the harbour office about ship tours.' "$folder"
user=$(id -un)
appdata="$WINEPREFIX/drive_c/users/$user/AppData/Roaming/Zentrafold"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$appdata/saved-page.pdf" \
  "$here/outside/sample/SavedPage.ps"
echo "sample PDF: $(stat -c %s "$appdata/saved-page.pdf") bytes, $(pdfinfo "$appdata/saved-page.pdf" | awk '/^Pages/ {print $2}') pages"
# Wine's launcher quotes each argument itself: the program gets the path in quotes,
# as the exit module passes it.
"$wine" "$build/win/uploader/ZentrafoldUpload.exe.so" "C:\\users\\$user\\AppData\\Roaming\\Zentrafold\\saved-page.pdf"
if [ -e "$appdata/saved-page.pdf" ]; then
  echo "ZentrafoldUpload did not upload the page: the PDF is still there" >&2
  exit 1
fi
echo "ZentrafoldUpload finished: the job file and the PDF are gone from the application-data folder"

say "What the account service holds"
"$service" list --data "$run/service-data"
"$service" export --data "$run/service-data" --document 1 --out "$run/saved-page.pdf"
echo "the stored document is a PDF of $(pdfinfo "$run/saved-page.pdf" | awk '/^Pages/ {print $2}') pages: $run/saved-page.pdf"
