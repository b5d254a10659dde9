#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format makes of it (.clang-format at
# the root). Prints the files to format:  clang-format -i FILE...
#   check-format.sh [project-root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
if ! command -v clang-format >/dev/null 2>&1; then
  echo "format check: clang-format is not installed" >&2
  exit 1
fi
status=0
count=0
while IFS= read -r -d '' file; do
  count=$((count + 1))
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "format check: $file is not formatted (clang-format -i $file)" >&2
    status=1
  fi
done < <(git ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h' '*.h.in')
[ $status -eq 0 ] && echo "format check: $count files, all formatted"
exit $status
