#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package of the panel and the simulator and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
mv70_need_packages "${MV70_BUILD_PACKAGES[@]}" "${MV70_PACKAGE_PACKAGES[@]}"

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/release --parallel "$(nproc)" --target mv70-control mv70-sim >/dev/null
rm -f build/release/mv70-control_*.deb
if ! output=$(cd build/release && cpack 2>&1); then
    echo "$output" >&2
    exit 1
fi
ls "$PWD"/build/release/mv70-control_*.deb
