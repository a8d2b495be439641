#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the project. Idempotent and quiet
# when everything is there. --windows adds the 32-bit Windows cross-compiler and wine to run its
# programs (wine's 32-bit part needs the i386 architecture).
set -euo pipefail

packages=(openjdk-17-jdk-headless cmake g++ make googletest libgtest-dev libexpat1-dev maven python3
  bsdutils)
if [ "${1:-}" = --windows ]; then
  packages+=(g++-mingw-w64-i686-win32 wine wine32:i386)
  dpkg --print-foreign-architectures | grep -qx i386 || {
    [ "$(id -u)" -eq 0 ] && dpkg --add-architecture i386 || sudo dpkg --add-architecture i386
  }
fi
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
"$(dirname "$0")/fetch-hadoop.sh"
