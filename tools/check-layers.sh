#!/usr/bin/env bash
# Fails when a source file includes from a layer above its own. The layers run one way:
#   src/text  <-  src/net  <-  src/tasks  <-  src/app  <-  src/app/gui, src/app/cli  <-  src/*.cpp
# (gui and cli are siblings: neither includes the other).
#   check-layers.sh [project-root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# Rank and name of the layer a path (relative to src/) belongs to.
layer_of() {
  case "$1" in
    app/gui/*) echo "4 gui" ;;
    app/cli/*) echo "4 cli" ;;
    app/*)     echo "3 app" ;;
    tasks/*)   echo "2 tasks" ;;
    net/*)     echo "1 net" ;;
    text/*)    echo "0 text" ;;
    */*)       echo "9 unknown" ;;
    *)         echo "5 top" ;;
  esac
}

status=0
checked=0
while IFS= read -r -d '' file; do
  rel=${file#src/}
  read -r rank name <<<"$(layer_of "$rel")"
  if [ "$name" = unknown ]; then
    echo "layer check: $file is in no known layer" >&2
    status=1
    continue
  fi
  checked=$((checked + 1))
  while IFS= read -r line; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$line")
    [ -e "src/$target" ] || continue  # not one of ours (a test helper, a generated file)
    read -r trank tname <<<"$(layer_of "$target")"
    if [ "$trank" -gt "$rank" ] || { [ "$trank" -eq "$rank" ] && [ "$tname" != "$name" ]; }; then
      echo "layer check: $file ($name) includes $target ($tname), a layer above or beside it" >&2
      status=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' \) -print0)

if [ "$checked" -eq 0 ]; then
  echo "layer check: no sources under $root/src" >&2
  exit 1
fi
[ $status -eq 0 ] && echo "layer check: $checked files, every include points down"
exit $status
