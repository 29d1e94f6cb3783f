#!/usr/bin/env bash
# Builds what is missing and starts the MV70 control panel.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
mv70_need_packages "${MV70_BUILD_PACKAGES[@]}"

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/release --parallel "$(nproc)" --target mv70-control >/dev/null
exec build/release/src/mv70-control "$@"
