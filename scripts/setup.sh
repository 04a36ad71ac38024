#!/usr/bin/env bash
# Installs the Debian packages the project needs (idempotent, non-interactive),
# then configures and builds into build/.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(
  build-essential cmake ninja-build pkg-config libgtest-dev
  wine wine64 wine64-tools libwine-dev xvfb xauth
  gsoap libgsoap-dev
  libtiff-dev libtiff-tools libsodium-dev libsqlite3-dev sqlite3
  ghostscript qpdf poppler-utils libhpdf-dev libqpdf-dev libdeflate-dev img2pdf
  cups cups-client cups-bsd curl procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" = 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if [ "${ZF_SKIP_BUILD:-}" != 1 ]; then
  cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$here/build"
fi
