#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails, naming the files, when a C++ file that git tracks (or is about to)
# is not formatted as .clang-format says; outside a git checkout (an unpacked
# tarball, or a machine without git) every C++ file outside build/ is checked.
# Run by test.sh before it builds.
#   scripts/check-format.sh          check
#   scripts/check-format.sh --fix    format those files in place
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=clang-format-14
command -v "$formatter" >/dev/null || { echo "$formatter is missing (scripts/deps.sh lists it)" >&2; exit 2; }

if command -v git >/dev/null && git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    listing=$(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
else
    listing=$(find . -path ./build -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||')
fi
[ -n "$listing" ] || { echo "no C++ files found to check" >&2; exit 2; }
mapfile -t files < <(sort -u <<<"$listing")
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
