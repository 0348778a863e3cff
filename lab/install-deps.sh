#!/usr/bin/env bash
# Install the Debian packages the build and the tests need. Safe to run again:
# it only calls apt when something is missing.
#
# Tests run the x86_64 Windows build under wine64: machines of this kind run
# no 32-bit Linux code (no IA-32 emulation), so the 32-bit Wine loader cannot
# start. The shipped i686 build is still compiled from the same sources.
set -euo pipefail

pkgs=(cmake g++ make g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest wine wine64 xvfb
      fonts-wine imagemagick iproute2 clang socat procps x11-utils zip)

missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
