#!/usr/bin/env bash
# scripts/setup.sh on a fresh machine whose mirror is in the middle of a sync, with the package
# tools replaced: 'apt-get update' fails (exit 100) and wine's i386 part cannot be installed.
# The set-up must go on, install what it needs, skip the optional part with one line, and still
# fail when a required package cannot be installed.
set -uo pipefail
setup="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/scripts"
cp "$setup" "$work/scripts/setup.sh"
printf '#!/bin/sh\necho fetched\n' >"$work/scripts/fetch-hadoop.sh"
chmod +x "$work/scripts/fetch-hadoop.sh"
export STATE="$work/installed" ARCHES="$work/arches"
touch "$STATE" "$ARCHES"
cat >"$work/bin/apt-get" <<'FAKE'
#!/bin/sh
case "$1" in
  update) echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size" >&2
          exit 100 ;;
esac
for package; do
  case "$package" in
    wine32:i386) echo "E: Unable to correct problems, you have held broken packages." >&2
                 exit 100 ;;
    "$FAIL_PACKAGE") exit 100 ;;
  esac
done
for package; do case "$package" in -*) ;; *) echo "$package" >>"$STATE" ;; esac; done
FAKE
cat >"$work/bin/dpkg-query" <<'FAKE'
#!/bin/sh
for package; do :; done
grep -qx "$package" "$STATE" && echo "install ok installed"
FAKE
cat >"$work/bin/dpkg" <<'FAKE'
#!/bin/sh
case "$1" in
  --print-foreign-architectures) cat "$ARCHES" ;;
  --add-architecture) echo "$2" >>"$ARCHES" ;;
esac
FAKE
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*
failures=0
check() { # what, condition...
  local what="$1"
  shift
  if ! "$@"; then
    echo "FAIL: $what" >&2
    failures=$((failures + 1))
  fi
}

output="$(PATH="$work/bin:$PATH" FAIL_PACKAGE=none bash "$work/scripts/setup.sh" --windows 2>&1)"
status=$?
echo "$output"
check "setup goes on past a failed update" test "$status" -eq 0
check "the failed update is a warning" grep -q "^setup: warning: apt-get update failed" <<<"$output"
check "one line says why wine is skipped" \
  test "$(grep -c "^setup: wine's 32-bit part cannot be installed here" <<<"$output")" -eq 1
check "the cross-compiler is installed" grep -qx g++-mingw-w64-i686-win32 "$STATE"
check "the build's packages are installed" grep -qx libexpat1-dev "$STATE"
check "the i386 architecture is added once" test "$(grep -cx i386 "$ARCHES")" -eq 1
check "the jars are fetched" grep -q "^fetched" <<<"$output"

: >"$STATE"
PATH="$work/bin:$PATH" FAIL_PACKAGE=cmake bash "$work/scripts/setup.sh" >/dev/null 2>&1
check "a required package that cannot be installed fails the set-up" test $? -ne 0
exit $((failures > 0))
