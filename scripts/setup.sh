#!/usr/bin/env bash
# Sets up a fresh Debian machine and builds rastrel.
#   scripts/setup.sh demo   build the release and make the example block's map
#                           with rastrel-map in a scratch folder, from a tile
#                           server of its own on the loopback
#   scripts/setup.sh test   build and run every test: native, under AddressSanitizer
#                           and UndefinedBehaviorSanitizer, the static release
#                           with its packages, a release with a 64 KiB file
#                           buffer, and the Windows builds under Wine
# Works as root or, through sudo, as a normal user.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

UPDATED="" UPDATE_PROBLEM="" NO_WINE32=""
# apt-get update, tried again after a pause while a mirror is mid-sync (an index
# of the wrong size); the indexes that did come are used either way, and apt's
# complaint is kept in UPDATE_PROBLEM.
update_indexes() {
  [ -n "$UPDATED" ] && return 0
  UPDATED=yes UPDATE_PROBLEM=""
  local try log
  log="$(mktemp)"
  for try in 1 2 3; do
    if $SUDO apt-get update -qq >"$log" 2>&1; then UPDATE_PROBLEM=""; break; fi
    UPDATE_PROBLEM="$(grep -m1 '^E:' "$log" || tail -n1 "$log")"
    echo "apt-get update failed (try $try of 3): $UPDATE_PROBLEM" >&2
    [ "$try" -lt 3 ] && sleep 30
  done
  rm -f "$log"
}

missing_packages() {
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || echo "$package"
  done
}

# Installs the Debian packages named that are not there yet; fails if any cannot be.
install_packages() {
  local missing
  mapfile -t missing < <(missing_packages "$@")
  if [ ${#missing[@]} -gt 0 ]; then
    update_indexes
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# The 32-bit Wine, where it can be had: its i386 libraries must match the amd64
# ones' versions, which an i386 index left stale by a mirror mid-sync cannot give.
# Sets NO_WINE32 to the reason when it cannot.
install_wine32() {
  NO_WINE32=""
  [ -z "$(missing_packages wine32:i386)" ] && return 0
  local log
  update_indexes
  log="$(mktemp)"
  if ! $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine32:i386 >"$log" 2>&1; then
    NO_WINE32="the 32-bit Wine cannot be installed: $(grep -m1 '^E:' "$log" || tail -n1 "$log")${UPDATE_PROBLEM:+ (after apt-get update: $UPDATE_PROBLEM)}"
    echo "$NO_WINE32" >&2
  fi
  rm -f "$log"
}

BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libstb-dev libcurl4-openssl-dev zlib1g-dev python3 time)
# Windows builds (groff renders their manual pages as text), and Wine to test them (32-bit Wine needs the i386
# architecture).
WINDOWS_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev groff-base googletest wine
  wine64)

# Checking the Linux packages and manual pages, and the README's recipe from tiles
# to a calibrated map with the real tools.
PACKAGE_PACKAGES=(lintian mandoc dpkg-dev wget netpbm gdal-bin openssl)
# The loopback HTTP/2 server of the end-to-end cases and the benchmark, and the curl tool to compare with.
HTTP2_PACKAGES=(python3-h2 curl)

enable_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
}

demo() {
  install_packages "${BUILD_PACKAGES[@]}"
  cmake --workflow --preset release
  local scratch
  scratch="$(mktemp -d)"
  echo "== rastrel-map --keys 7eb1 7ec1 8041 8049 demo (in $scratch), from a tile server on this machine"
  python3 scripts/demo.py build/release/rastrel-map "$scratch"
}

run_tests() {
  enable_i386
  install_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}" "${HTTP2_PACKAGES[@]}"
  install_wine32
  local presets=(debug asan package buffer64k win32 win64) ran=()
  for preset in "${presets[@]}"; do
    if [ "$preset" = win32 ] && [ -n "$NO_WINE32" ]; then
      echo "== preset win32: built, its tests skipped"
      cmake --preset win32 && cmake --build --preset win32
      continue
    fi
    echo "== preset $preset"
    cmake --workflow --preset "$preset"
    ran+=("$preset")
  done
  # CTest's summaries name the skipped tests; their own output says why.
  echo "== skipped, and why"
  [ -n "$NO_WINE32" ] && echo "win32: SKIP every test: $NO_WINE32"
  for preset in "${ran[@]}"; do
    grep -h '^SKIP' "build/$preset/Testing/Temporary/LastTest.log" | sort -u | sed "s/^/$preset: /" || true
  done
}

case "${1:-}" in
  demo) demo ;;
  test) run_tests ;;
  *) echo "usage: scripts/setup.sh demo|test" >&2; exit 2 ;;
esac
