#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev qt6-multimedia-dev
          libgl-dev g++-mingw-w64-x86-64-posix
          poppler-utils libqt6svg6 libxlsxwriter-dev libzip-dev
          qt6-translations-l10n libqrencode-dev
          libcurl4-openssl-dev qtkeychain-qt6-dev nginx-light openssh-server openssh-client openssl
          nodejs faketime)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}"
fi
