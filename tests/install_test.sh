#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: the programs in bin/, the helper out of the
# PATH in lib/pageloom/, and the installed pageloom-cli, with the helper it finds there,
# downloads a gallery and a chapter from the local fixture sites.
#   install_test.sh CMAKE BUILD-FOLDER INSTALLED-CLI-CHECK
set -euo pipefail
cmake=$1 build=$2 check=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
[ -x "$prefix/bin/pageloom-cli" ] || { echo "FAIL: no bin/pageloom-cli" >&2; exit 1; }
[ -x "$prefix/lib/pageloom/pageloom-script" ] || { echo "FAIL: no lib/pageloom/pageloom-script" >&2; exit 1; }
[ ! -e "$prefix/bin/pageloom-script" ] || { echo "FAIL: the helper is in bin/" >&2; exit 1; }
"$check" "$prefix/bin/pageloom-cli"
