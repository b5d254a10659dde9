#!/usr/bin/env bash
# Checks the Debian package: lintian, and the desktop entry, the metainfo and the manual
# pages as the package holds them. As root it then installs the package, runs the installed
# programs (pageloom-cli downloads from the local fixture sites with the helper it finds),
# finds the manual page with man, removes the package and sees that nothing is left.
#   tools/check-package.sh PACKAGE.deb INSTALLED-CLI-CHECK
set -uo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "$1")
check=$(realpath "$2")
failed=0
fail() { echo "package check: FAIL: $*" >&2; failed=1; }
work=$(mktemp -d)
installed=0  # 1 once this script has tried to install the package
package_state() { dpkg-query -W -f='${Status}' pageloom 2>/dev/null; }
cleanup() {
  # Never left installed, nor half installed by a failed dpkg -i.
  case $installed:$(package_state) in
    0:* | 1: | 1:*not-installed) ;;
    *) dpkg --purge pageloom >/dev/null 2>&1 || echo "could not remove pageloom" >&2 ;;
  esac
  rm -rf "$work"
}
trap cleanup EXIT

version=$(dpkg-deb -f "$deb" Version)
echo "== $(basename "$deb"): version $version, $(dpkg-deb -f "$deb" Installed-Size) KiB installed"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -c "$deb" | awk '{print $1, $3, $6}'

# 1. lintian: no error, and every warning listed in the README with its reason.
echo "== lintian"
lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1
cat "$work/lintian"
grep -q '^E: ' "$work/lintian" && fail "lintian reports errors"
for tag in $(sed -nE 's/^W: [^ ]+: ([^ ]+).*/\1/p' "$work/lintian" | sort -u); do
  grep -q -- "$tag" README.md || fail "lintian warns $tag, which the README does not list"
done

# 2. The files as the package holds them.
root=$work/root
dpkg-deb -x "$deb" "$root"
echo "== desktop entry, metainfo, manual pages"
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  out=$(mandoc -T lint -W warning "$page" 2>&1; zcat "$page" | LC_ALL=C.UTF-8 groff -k -ww -z -man 2>&1;
        LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$out" ] || fail "$(basename "$page"): $out"
done
changelog_version=$(zcat "$root/usr/share/doc/pageloom/changelog.gz" | sed -nE '1s/^pageloom \(([^)]+)\).*/\1/p')
[ "$changelog_version" = "$version" ] ||
  fail "packaging/changelog's newest entry is $changelog_version, the package $version"

# 3. Installed, used and removed: root only.
if [ "$(id -u)" -ne 0 ]; then
  echo "package check: not root, so installing, using and removing the package is SKIPPED"
  exit $failed
fi
case $(package_state) in
  "" | *not-installed) ;;
  *) fail "pageloom is on this system already; remove it (dpkg -r pageloom) to check the package"
     exit 1 ;;
esac
echo "== installed"
exec 9>/tmp/pageloom-package-check.lock
flock -w 600 9 || { fail "another package check holds the lock"; exit 1; }
# Systems that leave out manual pages and documents still get these (dpkg's path filters).
include=(--path-include='/usr/share/man/man1/pageloom*' --path-include='/usr/share/man/man1/pageLoom*'
         --path-include='/usr/share/doc/pageloom/*')
installed=1
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  dpkg "${include[@]}" -i "$deb" >"$work/dpkg" 2>&1 && break
  # wait only for another dpkg to finish
  grep -q 'lock' "$work/dpkg" && [ $attempt -lt 10 ] || { cat "$work/dpkg"; fail "dpkg -i"; exit 1; }
  sleep 10
done
cat "$work/dpkg"
dpkg -L pageloom | sort >"$work/listed"
missing=$(dpkg-deb -c "$deb" | awk '{sub(/^\./, "", $6); print $6}' | grep -v '/$' | while read -r f; do
  [ -e "$f" ] || echo "$f"; done)
[ -z "$missing" ] || fail "not installed: $missing"
for program in /usr/bin/pageLoom /usr/bin/pageloom-cli /usr/lib/pageloom/pageloom-script; do
  ! ldd "$program" | grep 'not found' || fail "$program misses libraries"
done
out=$(/usr/bin/pageloom-cli --version)
[ "$out" = "pageloom-cli $version" ] || fail "pageloom-cli --version says '$out'"
echo "$out"
"$check" /usr/bin/pageloom-cli || fail "the installed pageloom-cli did not download"
[ "$(man -w pageloom-cli)" = /usr/share/man/man1/pageloom-cli.1.gz ] || fail "man does not find pageloom-cli"
page=$(MANPAGER=cat MANWIDTH=80 man pageloom-cli 2>&1)
grep -q -- '--save' <<<"$page" || fail "man pageloom-cli shows no options"
# The window starts (offscreen, with a home of its own) and runs until it is stopped.
mkdir "$work/home"
HOME=$work/home XDG_DATA_HOME=$work/home QT_QPA_PLATFORM=offscreen timeout 3 /usr/bin/pageLoom
[ $? -eq 124 ] || fail "the installed pageLoom did not keep running"
tests/completion_test.sh /usr/bin/pageloom-cli /usr/share/bash-completion/completions/pageloom-cli ||
  fail "the installed completion"

echo "== removed"
dpkg -r pageloom || fail "dpkg -r"
status=$(package_state)
case $status in "" | *not-installed) ;; *) fail "after dpkg -r, pageloom is '$status'" ;; esac
# Its files and its own folders are gone; the shared folders (/usr/bin, ...) stay.
while read -r path; do
  if [ -d "$path" ]; then
    case $path in *pageloom*) fail "a folder is left: $path" ;; esac
  elif [ -e "$path" ] || [ -L "$path" ]; then
    fail "left behind: $path"
  fi
done <"$work/listed"
[ $failed -eq 0 ] && echo "package check: installed, used and removed; none of its $(wc -l <"$work/listed") paths left"
exit $failed
