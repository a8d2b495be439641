#!/usr/bin/env bash
# Builds the project with AddressSanitizer and UndefinedBehaviorSanitizer into build-sanitize
# and runs every test there but the jobs on YARN; the JVM's settings for them come with the tests
# (tests/CMakeLists.txt).
# Then the bridge's tests once more with ThreadSanitizer (build-tsan): its locking is native, so
# ThreadSanitizer sees it; the JVM's own libraries are suppressed (tests/tsan.supp).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export JAVA_HOME="${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j "$(nproc)" -- --no-print-directory
# The jobs on YARN run in the cluster's own JVMs: the sanitizers would see nothing new there.
(cd build-sanitize && ctest --output-on-failure --timeout 1200 --label-exclude jobs)

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_TSAN=ON >/dev/null
cmake --build build-tsan -j "$(nproc)" --target jvmlink_tests -- --no-print-directory
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp report_signal_unsafe=0 halt_on_error=1" \
  build-tsan/bin/jvmlink_tests
