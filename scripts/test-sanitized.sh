#!/usr/bin/env bash
# Builds the project with AddressSanitizer and UndefinedBehaviorSanitizer into build-sanitize
# and runs every test there; the JVM's settings for them come with the tests (tests/CMakeLists.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export JAVA_HOME="${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j "$(nproc)" -- --no-print-directory
cd build-sanitize
ctest --output-on-failure --timeout 1200
