#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; skips what is already there.
set -euo pipefail
packages=(cmake g++ make googletest libgtest-dev libbenchmark-dev openjdk-17-jdk-headless
          g++-mingw-w64-x86-64-posix wine64 xvfb xdotool x11-apps imagemagick
          clang libclang-rt-14-dev python3 icoutils osslsigncode openssl
          x11-utils wixl msitools lintian desktop-file-utils dpkg-dev binutils
          libx11-dev zenity)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
