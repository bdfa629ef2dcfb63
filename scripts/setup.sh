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

# Installs the Debian packages named that are not there yet.
install_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    $SUDO apt-get update -qq
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libstb-dev libcurl4-openssl-dev zlib1g-dev python3 time)
# Windows builds (groff renders their manual pages as text), and Wine to test them (32-bit Wine needs the i386
# architecture).
WINDOWS_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev groff-base googletest wine
  wine64 wine32:i386)

# Checking the Linux packages and manual pages, and the README's recipe from tiles
# to a calibrated map with the real tools.
PACKAGE_PACKAGES=(lintian mandoc dpkg-dev wget netpbm gdal-bin openssl)

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
  install_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
  local presets=(debug asan package buffer64k win32 win64)
  for preset in "${presets[@]}"; do
    echo "== preset $preset"
    cmake --workflow --preset "$preset"
  done
  # CTest's summaries name the skipped tests; their own output says why.
  echo "== skipped, and why"
  for preset in "${presets[@]}"; do
    grep -h '^SKIP' "build/$preset/Testing/Temporary/LastTest.log" | sort -u | sed "s/^/$preset: /" || true
  done
}

case "${1:-}" in
  demo) demo ;;
  test) run_tests ;;
  *) echo "usage: scripts/setup.sh demo|test" >&2; exit 2 ;;
esac
