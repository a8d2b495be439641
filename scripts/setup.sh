#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the project. Idempotent and quiet
# when everything is there.
set -euo pipefail

packages=(openjdk-17-jdk-headless cmake g++ make googletest libgtest-dev libexpat1-dev maven)
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
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
"$(dirname "$0")/fetch-hadoop.sh"
