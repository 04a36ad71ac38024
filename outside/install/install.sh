#!/usr/bin/env bash
# What the product's installation does, in the Wine prefix WINEPREFIX:
#   install.sh --cipher ZFCIPHER_DLL --exit-module PAGETRAP_DLL
#              [--module-folder DIR] [--uploader ZENTRAFOLDUPLOAD_EXE] [--verywrite VERYWRITE_DLL]
# registers the cipher component (regsvr32), installs the printer "Zentrafold"
# with the exit module (outside/printer/install-printer.sh; it uses the CUPS
# server in CUPS_SERVER), copies the uploader and the conversion library into
# the module folder as "ZentrafoldUpload.exe" and "verywrite.dll" and writes
# that folder, with a trailing backslash, to "ModuleLocation".
# Paths are Unix paths; a Winelib module may be given by either of its files
# (NAME.exe or NAME.exe.so, NAME.dll or NAME.dll.so). The module folder
# defaults to C:\Program Files\Zentrafold in the prefix.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
wine=${WINE:-/usr/lib/wine/wine64}
[ -x "$wine" ] || wine=wine
export WINEDEBUG=${WINEDEBUG:--all}
settings='HKLM\Software\Orvane Software\Zentrafold'

usage() {
  echo "usage: install.sh --cipher DLL --exit-module DLL [--module-folder DIR]" \
       "[--uploader EXE] [--verywrite DLL]" >&2
  exit 2
}
fail() { echo "install.sh: $*" >&2; exit 1; }

cipher="" exit_module="" folder="" uploader="" verywrite=""
while (($#)); do
  (($# >= 2)) || usage
  case "$1" in
    --cipher) cipher=$2 ;;
    --exit-module) exit_module=$2 ;;
    --module-folder) folder=$2 ;;
    --uploader) uploader=$2 ;;
    --verywrite) verywrite=$2 ;;
    *) usage ;;
  esac
  shift 2
done
if [ -z "$cipher" ] || [ -z "$exit_module" ]; then usage; fi
[ -n "${WINEPREFIX:-}" ] || fail "WINEPREFIX is not set"

# Winelib builds make NAME.exe (a launcher script) beside the program NAME.exe.so,
# and NAME.dll as a copy of NAME.dll.so: take the file Wine can load by path.
program_file() {
  local file=$1
  case "$file" in *.so) ;; *) [ ! -f "$file.so" ] || file=$file.so ;; esac
  [ -f "$file" ] || fail "no file at $1"
  printf '%s\n' "$file"
}
library_file() {
  local file=$1
  case "$file" in *.dll.so) [ ! -f "${file%.so}" ] || file=${file%.so} ;; esac
  [ -f "$file" ] || fail "no file at $1"
  printf '%s\n' "$file"
}

cipher=$(library_file "$cipher")
exit_module=$(library_file "$exit_module")
[ -z "$uploader" ] || uploader=$(program_file "$uploader")
[ -z "$verywrite" ] || verywrite=$(library_file "$verywrite")
folder=${folder:-$WINEPREFIX/drive_c/Program Files/Zentrafold}

"$wine" regsvr32 /s "$("$wine" winepath -w "$cipher")" || fail "regsvr32 failed for $cipher"
echo "cipher component registered: $cipher"

"$here/../printer/install-printer.sh" "$exit_module"

mkdir -p "$folder"
[ -z "$uploader" ] || cp -f "$uploader" "$folder/ZentrafoldUpload.exe"
[ -z "$verywrite" ] || cp -f "$verywrite" "$folder/verywrite.dll"
location="$("$wine" winepath -w "$(cd "$folder" && pwd)")"
location="${location%\\}\\"
"$wine" reg add "$settings" /v ModuleLocation /t REG_SZ /d "$location" /f >/dev/null
echo "ModuleLocation = $location"
