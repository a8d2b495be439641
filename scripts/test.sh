#!/usr/bin/env bash
# Builds the project and runs every test, then runs them all again in a build with the
# address and undefined-behaviour sanitizers, then cross-builds and checks the Windows DLLs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
export JAVA_HOME="${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}"
(cd build && ctest --output-on-failure --timeout 1200)
scripts/test-sanitized.sh
scripts/cross-build-windows.sh
