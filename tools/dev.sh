#!/usr/bin/env bash
# One entry point for building, running and testing pageLoom.
#   tools/dev.sh run         install what is missing, build a release, start pageLoom
#   tools/dev.sh test        install what is missing, build and run every test:
#                            the layer check of src/, the format check (clang-format),
#                            all tests under AddressSanitizer + UndefinedBehaviorSanitizer,
#                            the threaded ones and the window's again under ThreadSanitizer,
#                            the page fuzzers briefly, and the Debian package: built, checked,
#                            installed, used, removed
#   tools/dev.sh package     build the Debian package build/package/pageloom_<version>_<arch>.deb
#   tools/dev.sh bench       build a release and run the benchmarks
#   tools/dev.sh screenshot [zh|en] [WIDTHxHEIGHT] [file.png]
#                            start pageLoom under Xvfb in that language (default zh), restored
#                            or at that size, and save a screenshot (default build/screenshot.png)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Paths below the project are hashed relative to it, so any clone reuses the cache.
export CCACHE_BASEDIR="$root"
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

configure() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DPAGELOOM_WERROR=$werror "${launcher[@]}" "$@" >/dev/null
}

# Builds the release that the Debian package holds (the distribution's hardening flags,
# installed under /usr) and makes the package; prints its path.
build_package() {
  tools/install-deps.sh package >&2
  local cxxflags ldflags
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS | sed 's/\(^\| \)-g\( \|$\)/ /')"
  ldflags=$(dpkg-buildflags --get LDFLAGS)
  configure build/package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DPAGELOOM_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
  cmake --build build/package -j "$jobs" >&2 || return 1
  rm -f build/package/pageloom_*.deb
  (cd build/package && cpack >&2) || return 1
  ls "$root"/build/package/pageloom_*.deb
}

case "${1:-}" in
  package)
    build_package
    ;;
  run)
    tools/install-deps.sh run
    configure build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGELOOM_BUILD_TESTS=OFF
    cmake --build build/release -j "$jobs"
    exec build/release/pageLoom
    ;;
  test)
    tools/install-deps.sh test
    export QT_QPA_PLATFORM=offscreen
    status=0
    # 0. the layers of src/ include one way only, and every C++ file is formatted
    tools/check-layers.sh || status=1
    tools/check-format.sh || status=1
    # 1. page parsers fed random bytes (clang + libFuzzer + ASan), a short run each
    configure build/fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
      -DPAGELOOM_FUZZ=ON -DPAGELOOM_BUILD_GUI=OFF -DPAGELOOM_BUILD_TESTS=OFF
    cmake --build build/fuzz -j "$jobs"
    ctest --test-dir build/fuzz --output-on-failure || status=1
    # 2. the tests that start threads, the window's among them, under ThreadSanitizer
    configure build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGELOOM_SANITIZE=thread \
      -DPAGELOOM_TSAN_SUBSET=ON
    cmake --build build/tsan -j "$jobs"
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
      ctest --test-dir build/tsan --output-on-failure -j "$jobs" || status=1
    # 3. everything under AddressSanitizer + UndefinedBehaviorSanitizer (the benchmarks are
    #    built with them, so they keep up with the code, but not run: `dev.sh bench` runs them)
    configure build/asan -DCMAKE_BUILD_TYPE=Debug -DPAGELOOM_SANITIZE=address,undefined \
      -DPAGELOOM_BUILD_BENCH=ON
    cmake --build build/asan -j "$jobs"
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=0" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
      ctest --test-dir build/asan --output-on-failure -j "$jobs" || status=1
    # 4. the Debian package: built, checked (lintian, the desktop files, the manual pages);
    #    as root also installed, used against the local test site, and removed
    start=$SECONDS
    if deb=$(build_package); then
      tools/check-package.sh "$deb" build/asan/tests/installed_cli_check || status=1
    else
      echo "package stage: the package could not be built" >&2; status=1
    fi
    echo "package stage: $((SECONDS - start)) s"
    exit $status
    ;;
  bench)
    tools/install-deps.sh test
    configure build/bench -DCMAKE_BUILD_TYPE=Release -DPAGELOOM_BUILD_BENCH=ON -DPAGELOOM_BUILD_TESTS=OFF
    cmake --build build/bench -j "$jobs"
    for b in build/bench/bench/*_bench; do "$b"; done
    ;;
  screenshot)
    lang=zh size="" out=build/screenshot.png
    for arg in "${@:2}"; do
      case "$arg" in
        zh|en) lang=$arg ;;
        [0-9]*x[0-9]*) size=$arg ;;
        *) out=$arg ;;
      esac
    done
    tools/install-deps.sh shot
    configure build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGELOOM_BUILD_TESTS=OFF
    cmake --build build/release -j "$jobs"
    # A data folder of its own, so the picture never shows (or changes) your queue and cookies.
    data=$(mktemp -d)
    geometry=""
    [ -n "$size" ] && geometry="-geometry $size+0+0"
    # PAGELOOM_SHOW_NORMAL opens the window restored instead of minimised, so it can be photographed
    xvfb-run -a -s "-screen 0 1280x800x24" env XDG_DATA_HOME="$data" PAGELOOM_LANG="$lang" \
      PAGELOOM_SHOW_NORMAL=1 bash -c \
      "build/release/pageLoom $geometry & pid=\$!; sleep 3; import -window root '$out'; kill \$pid; wait \$pid"
    rm -rf "$data"
    echo "saved $out"
    ;;
  *)
    sed -n '2,14p' "$0"; exit 2 ;;
esac
