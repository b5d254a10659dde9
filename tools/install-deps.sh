#!/usr/bin/env bash
# Installs the Debian packages that pageLoom needs, and nothing that is already there.
#   install-deps.sh run    what building and running the program needs
#   install-deps.sh test   the above, plus what the tests, benchmarks and fuzzers need
#   install-deps.sh shot   the above, plus a virtual X server for screenshots
#   install-deps.sh package  what building the program needs, plus the Debian package's
#                          tools and checkers (the test command's package stage uses them)
set -euo pipefail

build_pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-declarative-dev libgl-dev
            qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
            libcurl4-openssl-dev libsqlite3-dev libzip-dev ca-certificates fonts-wqy-microhei)
test_pkgs=(libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev libssl-dev clang
           libclang-rt-14-dev clang-format ccache unzip python3)
shot_pkgs=(xvfb xauth imagemagick)
package_pkgs=(dpkg-dev lintian desktop-file-utils appstream mandoc groff-base man-db)

want=("${build_pkgs[@]}")
case "${1:-run}" in
  run) ;;
  test) want+=("${test_pkgs[@]}" "${package_pkgs[@]}") ;;
  shot) want+=("${test_pkgs[@]}" "${shot_pkgs[@]}") ;;
  package) want+=("${package_pkgs[@]}") ;;
  *) echo "usage: $0 [run|test|shot|package]" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
