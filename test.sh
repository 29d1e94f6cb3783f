#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the program and runs every test, headless: once as built for use,
# once under AddressSanitizer and UndefinedBehaviorSanitizer, then a short
# fuzz run of the trace, the reply decoder, the settings parser, the Telnet
# reader of network ports, and the PJLink parser and login. First of all it
# checks that every C++ file is formatted as .clang-format says.
#   MV70_FUZZ_SECONDS   seconds per fuzz target (default 20)
#   MV70_FORMAT_CHECK   0 skips the formatting check (default 1)
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
mv70_need_packages "${MV70_BUILD_PACKAGES[@]}" "${MV70_TEST_PACKAGES[@]}" "${MV70_PACKAGE_PACKAGES[@]}" \
    "${MV70_FUZZ_PACKAGES[@]}" "${MV70_DESKTOP_PACKAGES[@]}" "${MV70_CHECK_PACKAGES[@]}"
export QT_QPA_PLATFORM=offscreen

if [ "${MV70_FORMAT_CHECK:-1}" != 0 ]; then
    echo "== Formatting"
    scripts/check-format.sh
fi

echo "== Tests"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DMV70_WERROR=ON >/dev/null
mv70_npm_client build/test
cmake --build build/test --parallel "$(nproc)"
ctest --test-dir build/test --output-on-failure --timeout 300 --parallel 2 --label-exclude soak

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DMV70_SANITIZE=ON -DMV70_WERROR=ON >/dev/null
mv70_npm_client build/asan
cmake --build build/asan --parallel "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir build/asan --output-on-failure --timeout 600 --parallel 2 --label-exclude soak

echo "== Fuzzing"
scripts/fuzz.sh "${MV70_FUZZ_SECONDS:-20}"
