#!/usr/bin/env bash
# The bash completion of pageloom-cli with the real program: every option of --help is
# offered, folder names after --save, file names after a FILE option, nothing for an
# address.
#   completion_test.sh PAGELOOM-CLI COMPLETION-SCRIPT
set -uo pipefail
cli=$(realpath "$1")
source "$2"
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

# The completions of the last of `words` (the program's name first), one a line, sorted.
complete_last() {
  COMP_WORDS=("$cli" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _pageloom_cli "$cli" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() { # expected (lines), words...
  local expected=$1; shift
  local got
  got=$(complete_last "$@")
  [ "$got" = "$expected" ] || fail "completing '$*': expected [$expected], got [$got]"
}

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 1
mkdir "my comics" sub
touch cookies.txt list.txt

long_options=$("$cli" --help | grep -oE '^ +(-[[:alnum:]], )?--[[:alnum:]][[:alnum:]-]*' |
  grep -oE -- '--[[:alnum:]-]+' | sort)
[ -n "$long_options" ] || fail "no options in $cli --help"
expect "$long_options" --
expect "--save" --sa
expect $'my comics\nsub' --save ""
expect $'my comics' --follow --save my
expect $'cookies.txt' --cookies co
expect $'my comics\nsub' -d ""
expect $'cookies.txt\nlist.txt\nmy comics\nsub' -q -i ""
expect "" --range ""
expect $'cookies.txt\nlist.txt\nmy comics\nsub' --input ""
expect "" --follow ""
expect "" https://example.invalid/g/1/ cook

[ $failed -eq 0 ] && echo "completion offers the $(wc -l <<<"$long_options") options, folders and files"
exit $failed
