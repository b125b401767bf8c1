#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and this
# machine lacks, and generates the German locale one test runs git in.
# Does nothing when everything is present.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
# g++-mingw-w64-x86-64-posix: the posix thread model that GoogleTest needs
# in the Windows test build; wine64 and locales: running those tests
# (scripts/windows-tests, which makes its own locale with localedef).
for pkg in cmake g++ git python3 libgtest-dev libbenchmark-dev nlohmann-json3-dev \
           g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix wine64 locales ccache \
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

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
npm_ci

# git's German messages come with git; the locale they need is generated
# once (a test checks that a save does not depend on git's wording).
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "generating the de_DE.UTF-8 locale"
  if grep -q '^# *de_DE\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    $SUDO sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  elif ! grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi
