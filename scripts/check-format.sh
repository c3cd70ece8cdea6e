#!/usr/bin/env bash
# Fails when a C or C++ file of the tree is not in the house style (.clang-format).
# scripts/check-format.sh --fix rewrites the files in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run -Werror "${files[@]}" 2>/tmp/qx-format.$$; then
  grep -E '^[^ ].*: (error|warning):' /tmp/qx-format.$$ | cut -d: -f1 | sort -u | sed 's/^/not in the house style: /'
  rm -f /tmp/qx-format.$$
  echo "Run scripts/check-format.sh --fix and commit the result." >&2
  exit 1
fi
rm -f /tmp/qx-format.$$
