#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and this
# machine lacks. Does nothing when everything is present.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
# g++-mingw-w64-x86-64-posix: the posix thread model that GoogleTest needs
# in the Windows test build; wine64 and locales: running those tests
# (scripts/windows-tests, which makes its own locale with localedef).
for pkg in cmake g++ git python3 libgtest-dev libbenchmark-dev nlohmann-json3-dev \
           g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix wine64 locales \
           clang libclang-rt-14-dev valgrind pkg-config; do
  have_pkg "$pkg" || need+=("$pkg")
done
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-posix)
[ ${#need[@]} -eq 0 ] && exit 0

echo "installing: ${need[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
