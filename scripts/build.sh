#!/usr/bin/env bash
# Configures and builds the project into build/ (after the set-up).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export JAVA_HOME="${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" -- --no-print-directory
