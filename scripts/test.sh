#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   scripts/test.sh
# 1. the code that parses untrusted data (card answers, certificates, PFX
#    files) is built again with AddressSanitizer and UndefinedBehaviorSanitizer
#    in build-asan/ and its tests run there;
# 2. everything is built in build/ with warnings as errors and every test runs
#    through CTest.
# Tests that need pcscd start a private one themselves (as root, in a private
# mount namespace), so a system pcscd is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)

sanitized_tests=(platform_crypt_tests cardsim_core_tests fakepcsc_tests
                 orvel_card_tests orvel_card_transport_tests)
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORVEL_SANITIZE=ON -DORVEL_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs" --target "${sanitized_tests[@]}"
for t in "${sanitized_tests[@]}"; do
  echo "== $t (ASan, UBSan)"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp" UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build-asan/bin/$t" --gtest_brief=1
done

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEL_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300
