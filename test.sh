#!/usr/bin/env bash
# Builds the program and runs every test, headless.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
mv70_need_packages "${MV70_BUILD_PACKAGES[@]}" "${MV70_PACKAGE_PACKAGES[@]}"

cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
cmake --build build/test --parallel "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build/test --output-on-failure --timeout 300
