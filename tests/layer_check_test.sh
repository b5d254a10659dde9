#!/usr/bin/env bash
# The layer check against small trees: it passes includes that point down and fails on
# one that points up or sideways.
set -euo pipefail
check=$(cd "$(dirname "$0")/.." && pwd)/tools/check-layers.sh
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

plant() {  # file, include target
  mkdir -p "$tree/src/$(dirname "$1")"
  printf '#include "%s"\n#include <string>\n' "$2" >"$tree/src/$1"
}
expect() {  # pass|fail, description
  if "$check" "$tree" >/dev/null 2>&1; then got=pass; else got=fail; fi
  if [ "$got" != "$1" ]; then
    echo "FAILED: $2 (the check said $got)" >&2
    exit 1
  fi
  echo "ok: $2"
}

plant text/a.h text/b.h
plant text/b.h text/a.h
plant net/n.cpp text/a.h
plant tasks/t.cpp net/n.cpp
plant app/c.cpp tasks/t.cpp
plant app/gui/w.cpp app/c.cpp
plant app/cli/m.cpp app/c.cpp
plant main.cpp app/gui/w.cpp
expect pass "includes that point down"

plant net/up.cpp tasks/t.cpp
expect fail "net including tasks"
rm "$tree/src/net/up.cpp"

plant app/gui/side.cpp app/cli/m.cpp
expect fail "the window including the terminal program"
rm "$tree/src/app/gui/side.cpp"

plant text/up.cpp app/c.cpp
expect fail "text including app"
rm "$tree/src/text/up.cpp"

plant odd/x.cpp text/a.h
expect fail "a folder outside the layers"
