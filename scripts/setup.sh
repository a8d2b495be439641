#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the project. Idempotent and quiet
# when everything is there. --windows adds the 32-bit Windows cross-compiler (an amd64 package,
# required) and wine with its 32-bit part (optional: it needs the i386 architecture, whose index a
# mirror in the middle of a sync may not serve; without it the Windows load test is skipped).
# A package index that fails to download is a warning: what then installs is enough.
set -euo pipefail

required=(openjdk-17-jdk-headless cmake g++ make googletest libgtest-dev libexpat1-dev maven python3
  bsdutils krb5-user)
optional=()
if [ "${1:-}" = --windows ]; then
  required+=(g++-mingw-w64-i686-win32)
  optional+=(wine wine32:i386)
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing() {
  for package in "$@"; do installed "$package" || echo "$package"; done
}

updated=no
update_once() {
  [ "$updated" = yes ] && return 0
  updated=yes
  if ! "${sudo_cmd[@]}" apt-get update -qq; then
    echo "setup: warning: apt-get update failed (a mirror in the middle of a sync?); installing" \
      "from the package lists this machine has"
  fi
}

install() {
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "$@" >/dev/null
}

mapfile -t need < <(missing "${required[@]}")
if ((${#need[@]})); then
  echo "setup: installing ${need[*]}"
  update_once
  install "${need[@]}"
fi

if ((${#optional[@]})); then
  mapfile -t want < <(missing "${optional[@]}")
  if ((${#want[@]})); then
    dpkg --print-foreign-architectures | grep -qx i386 ||
      "${sudo_cmd[@]}" dpkg --add-architecture i386
    updated=no # the i386 index is new
    echo "setup: installing ${want[*]}"
    update_once
    if ! install "${want[@]}" 2>/dev/null; then
      echo "setup: wine's 32-bit part cannot be installed here (its i386 packages are missing" \
        "or do not match the amd64 ones); the Windows load test will be skipped"
    fi
  fi
fi

"$(dirname "$0")/fetch-hadoop.sh"
