#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails, naming the files, when a C++ file that git tracks (or is about to)
# is not formatted as .clang-format says. Run by test.sh before it builds.
#   scripts/check-format.sh          check
#   scripts/check-format.sh --fix    format those files in place
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=clang-format-14
command -v "$formatter" >/dev/null || { echo "$formatter is missing (scripts/deps.sh lists it)" >&2; exit 2; }

mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' | sort -u)
unformatted=()
for file in "${files[@]}"; do
    [ -f "$file" ] || continue  # deleted but not yet staged
    if ! "$formatter" --style=file --dry-run --Werror "$file" >/dev/null 2>&1; then
        unformatted+=("$file")
    fi
done
[ ${#unformatted[@]} -eq 0 ] && exit 0

if [ "${1:-}" = "--fix" ]; then
    "$formatter" --style=file -i "${unformatted[@]}"
    printf 'formatted: %s\n' "${unformatted[@]}"
    exit 0
fi
echo "Not formatted as .clang-format says (scripts/check-format.sh --fix formats them):" >&2
printf '  %s\n' "${unformatted[@]}" >&2
exit 1
