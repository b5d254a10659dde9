#!/usr/bin/env bash
# The manual page of pageloom-cli against the program's --help: the same options with the
# same values, the same exit codes, and a page that the manual tools read without warnings.
#   man_page_test.sh PAGELOOM-CLI MAN-PAGE
set -uo pipefail
cli=$1 page=$2
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

help=$("$cli" --help) || { echo "FAIL: $cli --help failed" >&2; exit 1; }

# The option lines of --help, as "--save DIR" or "-h, --help": what stands before the
# description (two blanks or more).
help_options=$(sed -nE 's/^ +(-[[:alnum:]], )?(--[[:alnum:]][^ ]*( [^ ]+)?)( {2,}.*)?$/\1\2/p' \
  <<<"$help" | sort -u)
[ -n "$help_options" ] || fail "no option lines found in $cli --help"

# The head lines of the OPTIONS section's .TP entries, the roff markup taken off.
section() { # name: the lines of that .SH section of the page
  awk -v name="$1" '/^\.SH /{on = ($0 == ".SH " name || $0 == ".SH \"" name "\"")} on' "$page"
}
plain() { sed -E 's/\\f[BIRP]//g; s/\\-/-/g; s/\\&//g; s/^\.(B|BI|BR|I|IR) +//; s/"//g; s/ +/ /g; s/ +$//'; }
page_options=$(section OPTIONS | awk 'prev == ".TP" {print} {prev = $0}' | plain | sort -u)

while IFS= read -r option; do
  [ -z "$option" ] && continue
  grep -qxF -- "$option" <<<"$page_options" || fail "--help lists '$option' but $page does not;" \
    "add it under .SH OPTIONS: a .TP line, the head line as --help writes it" \
    "(e.g. '.BI \\-\\-save \" DIR\"' or '.B \\-\\-follow'), then what it does"
done <<<"$help_options"
while IFS= read -r option; do
  [ -z "$option" ] && continue
  grep -qxF -- "$option" <<<"$help_options" || fail "$page lists '$option' but --help does not"
done <<<"$page_options"

# Exit codes: "Exit status: 0 ...; 1 ...; 2 ..." in --help, a .TP entry each in the page.
help_codes=$(sed -n '/^Exit status:/,$p' <<<"$help" | tr ';' '\n' |
  sed -nE 's/^(Exit status:)? *([0-9]+) .*/\2/p' | sort -u)
page_codes=$(section "EXIT STATUS" | awk 'prev == ".TP" {print} {prev = $0}' | plain | sort -u)
[ -n "$help_codes" ] || fail "no exit codes found in $cli --help"
[ "$help_codes" = "$page_codes" ] ||
  fail "exit codes differ: --help has" $help_codes "and $page has" $page_codes

# What the manual tools say of the page.
if command -v mandoc >/dev/null; then
  out=$(mandoc -T lint -W warning "$page" 2>&1) || fail "mandoc -T lint: $out"
  [ -z "$out" ] || fail "mandoc -T lint: $out"
else
  echo "mandoc not installed: its check skipped"
fi
if command -v groff >/dev/null; then
  out=$(LC_ALL=C.UTF-8 groff -k -ww -z -man "$page" 2>&1)
  [ -z "$out" ] || fail "groff -ww: $out"
else
  echo "groff not installed: its check skipped"
fi

[ $failed -eq 0 ] && echo "the manual page lists the $(wc -l <<<"$help_options") options and" \
  "$(wc -w <<<"$help_codes") exit codes of --help"
exit $failed
