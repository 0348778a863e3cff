#!/usr/bin/env bash
# Install the Debian packages the build and the tests need. Safe to run again:
# it only calls apt when something is missing.
#
# The test tiers run the shipped i686 build under 32-bit Wine (wine32:i386,
# beside wine64, which the x86_64 build and Wine's own 64-bit parts use);
# lab/test-build.sh tells whether it runs here. nsis builds the installer.
set -euo pipefail

pkgs=(cmake g++ make g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest wine wine64 xvfb
      fonts-wine imagemagick iproute2 clang socat procps x11-utils zip nsis wine32:i386)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${pkgs[@]}"; do
    installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
# wine32 comes from the i386 half of the archive.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    # A machine without 32-bit packages still builds and tests the x86_64 build.
    rest=()
    for p in "${missing[@]}"; do [ "$p" = wine32:i386 ] || rest+=("$p"); done
    [ ${#rest[@]} -eq 0 ] || $SUDO apt-get install -y -q --no-install-recommends "${rest[@]}"
    echo "install-deps: wine32:i386 could not be installed; the tests will run the x86_64 build" >&2
fi
