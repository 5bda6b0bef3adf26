#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format (.clang-format)
# makes of it, naming each such file. To fix: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no C++ file is tracked" >&2
  exit 1
fi
# Without the configuration clang-format would fall back to its own style.
[ -f .clang-format ] || { echo "check-format: .clang-format is missing" >&2; exit 1; }

# One clang-format for all files; it names each place that would change.
report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1) && status=0 || status=$?
if [ "$status" -ne 0 ]; then
  mapfile -t unformatted < <(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' \
    <<<"$report" | sort -u)
  if [ ${#unformatted[@]} -eq 0 ]; then
    echo "$report" >&2  # clang-format failed for a reason of its own
  else
    printf 'not formatted: %s\n' "${unformatted[@]}" >&2
    echo "check-format: ${#unformatted[@]} of ${#files[@]} files; clang-format -i them" >&2
  fi
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
