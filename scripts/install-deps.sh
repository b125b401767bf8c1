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
           clang libclang-rt-14-dev valgrind pkg-config \
           python3-setuptools python3-wheel python3-venv python3-pip chromium; do
  have_pkg "$pkg" || need+=("$pkg")
done
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-posix)
# node and npm may come from elsewhere than Debian; only a missing command is installed.
command -v node >/dev/null 2>&1 || need+=(nodejs)
command -v npm >/dev/null 2>&1 || need+=(npm)

# The browser tests' playwright-core, from the lock file (it never downloads a browser).
web_tests=$(cd "$(dirname "$0")/.." && pwd)/examples/web/tests
npm_ci() {
  if [ ! -d "$web_tests/node_modules" ] && command -v npm >/dev/null 2>&1; then
    (cd "$web_tests" && npm ci --no-audit --no-fund)
  fi
}

if [ ${#need[@]} -eq 0 ]; then npm_ci; exit 0; fi

echo "installing: ${need[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
npm_ci
