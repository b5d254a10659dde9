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

plant base/a.h base/b.h
plant base/b.h base/a.h
plant script/s.cpp base/a.h
plant net/n.cpp script/s.cpp
plant engine/t.cpp net/n.cpp
plant sites/x/e.cpp engine/t.cpp
plant store/q.cpp engine/t.cpp
plant app/c.cpp sites/x/e.cpp
plant app/d.cpp store/q.cpp
plant library/l.cpp engine/t.cpp
plant app/l.cpp library/l.cpp
plant gui/w.cpp app/c.cpp
plant cli/m.cpp app/c.cpp
plant main.cpp gui/w.cpp
expect pass "includes that point down"

plant net/up.cpp engine/t.cpp
expect fail "net including the engine"
rm "$tree/src/net/up.cpp"

plant gui/side.cpp cli/m.cpp
expect fail "the window including the terminal program"
rm "$tree/src/gui/side.cpp"

plant store/side.cpp sites/x/e.cpp
expect fail "the store including a site"
rm "$tree/src/store/side.cpp"

plant library/side.cpp store/q.cpp
expect fail "the library including the store"
rm "$tree/src/library/side.cpp"

plant base/up.cpp app/c.cpp
expect fail "base including app"
rm "$tree/src/base/up.cpp"

plant odd/x.cpp base/a.h
expect fail "a folder outside the layers"
