#!/usr/bin/env bash
# Builds the modules as 32-bit Windows DLLs (build-win32/) and checks what a Windows host relies
# on: each DLL's exports and imports, the record layouts (static assertions, compiled here for
# the 32-bit target) and, under wine when its 32-bit part could be installed, loading each DLL
# and calling its exports.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --windows
jdk_include="$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")/include"
cmake -S . -B build-win32 --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DQX_JDK_INCLUDE="$jdk_include" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win32 -j "$(nproc)" -- --no-print-directory

failed=0
objdump=i686-w64-mingw32-objdump
for module in jvmlink dfslink; do
  dll="build-win32/bin/$module.dll"
  exports="$($objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    awk '/\[/ && $NF != "Table" {print $NF}' | sort | tr '\n' ' ')"
  imports="$($objdump -p "$dll" | awk '/DLL Name:/ {print $3}' | sort | tr '\n' ' ')"
  echo "$module.dll exports: $exports"
  echo "$module.dll imports: $imports"
  expected="$(printf '%s\n' qxextent qxextver qxvercn1 "$module" | sort | tr '\n' ' ')"
  if [ "$exports" != "$expected" ]; then
    echo "FAIL: $module.dll must export exactly $expected" >&2
    failed=1
  fi
  for library in $imports; do
    case "${library,,}" in
      kernel32.dll | msvcrt.dll) ;;
      *)
        echo "FAIL: $module.dll imports $library (only the C runtime and KERNEL32 are allowed)" >&2
        failed=1
        ;;
    esac
  done
done

echo "layout checks compiled for 32-bit Windows:"
cat extframe/*.cpp jvmlink/*.cpp dfslink/*/*.cpp |
  perl -0777 -ne 'print "  $1: $2\n" while /QX_(LAYOUT(?:_32)?)\(.*?"([^"]+)"\);/sg'

if command -v wine >/dev/null &&
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  export WINEPREFIX="$PWD/build-win32/wineprefix" WINEDEBUG=-all
  wine build-win32/bin/load_modules.exe "$(winepath -w build-win32/bin)" jvmlink dfslink ||
    failed=1
else
  echo "cross-build-windows: wine's 32-bit part is not installed; the DLLs' load test is skipped"
fi
exit $failed
