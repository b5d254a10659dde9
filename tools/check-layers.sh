#!/usr/bin/env bash
# Fails when a source file includes from a layer above its own. The layers run one way:
#   base <- script <- net <- engine <- sites, store, library <- app <- gui, cli <- src/*.cpp
# base: cancellation, logging, text; script: the script helper and its host; net: transfers;
# engine: tasks, steps, retries, working ahead; sites: one folder per site and the registry;
# store: the lasting queue, lock, data folder, folder claims; library: what a reader's
# library gets (metadata files, CBZ archives); app: the controller; gui and cli: the two
# front ends. Siblings (sites, store and library; gui and cli) include no other.
#   check-layers.sh [project-root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# Rank and name of the layer a path (relative to src/) belongs to.
layer_of() {
  case "$1" in
    gui/*)     echo "6 gui" ;;
    cli/*)     echo "6 cli" ;;
    app/*)     echo "5 app" ;;
    sites/*)   echo "4 sites" ;;
    store/*)   echo "4 store" ;;
    library/*) echo "4 library" ;;
    engine/*)  echo "3 engine" ;;
    net/*)     echo "2 net" ;;
    script/*)  echo "1 script" ;;
    base/*)    echo "0 base" ;;
    */*)       echo "9 unknown" ;;
    *)         echo "7 top" ;;
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
