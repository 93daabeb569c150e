#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   scripts/test.sh
# 0. every C++ file is checked against .clang-format (scripts/format.sh --check);
# 1. everything is built with AddressSanitizer and UndefinedBehaviorSanitizer
#    in build-asan/ and every test runs there (the fuzz corpora included);
# 2. the store provider's thread tests are built with ThreadSanitizer in
#    build-tsan/ and run there;
# 3. everything is built in build/ with warnings as errors and every test runs
#    through CTest;
# 4. the Debian packages are built from a clean release build (build-pkg/,
#    through ccache), checked with lintian, installed, used by a fresh user
#    and purged (scripts/package-test.sh).
# Tests that need pcscd start a private one themselves (as root, in a private
# mount namespace), so a system pcscd is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
started=$SECONDS
stage() { echo "== $1 ($((SECONDS - started)) s)"; }

stage "layout of every C++ file (.clang-format)"
scripts/format.sh --check

stage "ASan + UBSan build"
cmake --preset asan >/dev/null
cmake --build build-asan -j"$jobs"
stage "every test under ASan + UBSan"
# The autopilot is preloaded into sanitized programs: the runtime need not
# come first. Qt's fontconfig cache is the only leak left to the system.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:verify_asan_link_order=0 \
LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp" \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600

stage "TSan build of the thread tests (store provider, PKCS#11 module)"
tsan_tests=(orvel_storeprov_population_tests orvel_pkcs11_crypto_tests)
cmake --preset tsan >/dev/null
cmake --build build-tsan -j"$jobs" --target "${tsan_tests[@]}"
for t in "${tsan_tests[@]}"; do
  stage "$t under TSan"
  QT_QPA_PLATFORM=offscreen TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    "build-tsan/bin/$t" --gtest_brief=1
done

stage "release build"
cmake --preset release >/dev/null
cmake --build build -j"$jobs"
stage "every test"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300
stage "the Debian packages: build, lintian, install, a fresh user's first use, purge"
scripts/package-test.sh build
stage "done"
