#!/bin/sh
# Installs what building and testing need on Debian 12, and any further packages
# named as arguments (bench/run.sh: nsis). Quick when all is there.
# Usage: deps.sh [PACKAGE...]
set -eu
packages="cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
wine64 xvfb xauth imagemagick googletest hyperfine $*"
missing=""
for p in $packages; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
