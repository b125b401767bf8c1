#!/bin/sh
# install-test.sh BUILD_DIR SOURCE_DIR CMAKE CC CONFIG HAS_TOOL
#
# Installs the build into a temporary prefix, checks what was installed, and
# builds and runs the example consumer outside the source tree twice: once
# with flags from pkg-config, once through find_package(quenlow-wikidb).
set -eu
build=$1 src=$2 cmake=$3 cc=$4 config=$5 has_tool=$6

work=$(mktemp -d "${TMPDIR:-/tmp}/wikidb-install.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
prefix=$work/prefix

step() { printf '\n== %s\n' "$*"; }
die() { printf 'install test: %s\n' "$*" >&2; exit 1; }
expect_link() {  # LINK TARGET
  [ -L "$1" ] || die "$1 is not a symbolic link"
  [ "$(readlink "$1")" = "$2" ] || die "$1 points to $(readlink "$1"), not $2"
}

step "cmake --install into $prefix"
if [ -n "$config" ]; then
  "$cmake" --install "$build" --prefix "$prefix" --config "$config"
else
  "$cmake" --install "$build" --prefix "$prefix"
fi

step "installed files"
real=$(find "$prefix" -name 'libquenlow-wikidb.so.*.*.*' -type f)
[ -n "$real" ] || die "no versioned library file under $prefix"
libdir=$(dirname "$real")
name=$(basename "$real")
expect_link "$libdir/libquenlow-wikidb.so.1" "$name"
expect_link "$libdir/libquenlow-wikidb.so" libquenlow-wikidb.so.1
if command -v readelf >/dev/null 2>&1; then
  readelf -d "$real" | grep -q 'SONAME.*\[libquenlow-wikidb\.so\.1\]' || die "SONAME is not libquenlow-wikidb.so.1"
fi
cmp "$src/include/wikidb.h" "$prefix/include/wikidb.h" || die "installed header differs"
for f in quenlow-wikidb-config.cmake quenlow-wikidb-config-version.cmake quenlow-wikidb-targets.cmake; do
  [ -f "$libdir/cmake/quenlow-wikidb/$f" ] || die "missing $libdir/cmake/quenlow-wikidb/$f"
done
[ -f "$libdir/pkgconfig/quenlow-wikidb.pc" ] || die "missing the pkg-config file"
find "$prefix" \( -type f -o -type l \) | sed "s|^$prefix/|  |" | sort

if [ "$has_tool" = 1 ]; then
  step "installed wikidb runs without LD_LIBRARY_PATH"
  out=$(env -u LD_LIBRARY_PATH "$prefix/bin/wikidb" version)
  echo "$out"
  [ "$out" = "wikidb version 1.1.0" ] || die "unexpected version line"
  env -u LD_LIBRARY_PATH "$prefix/bin/wikidb" -C "$work/wiki-tool" init
fi

# The consumer's sources are copied away from the source tree, so nothing
# there can be found by a relative path.
mkdir "$work/consumer"
cp "$src/examples/consumer/consumer.c" "$src/examples/consumer/CMakeLists.txt" "$work/consumer/"

check_run() {  # PROGRAM WIKI, with the environment already set
  out=$("$@")
  echo "$out"
  echo "$out" | grep -q '^pages: \["Hello"\]$' || die "$1 printed an unexpected page list"
  echo "$out" | grep -q '^history: \[{"hash":"[0-9a-f]\{40\}","author":"C Host",.*"summary":"Say hello","size":14}\]$' \
    || die "$1 printed an unexpected history"
}
uses_installed_library() {  # PROGRAM, with the environment already set
  if command -v ldd >/dev/null 2>&1; then
    ldd "$1" | grep -q "libquenlow-wikidb\.so\.1 => $libdir/" || { ldd "$1"; die "$1 does not load $libdir's library"; }
  fi
}

step "consumer through pkg-config"
export PKG_CONFIG_LIBDIR="$libdir/pkgconfig"
export PKG_CONFIG_PATH=
[ "$(pkg-config --modversion quenlow-wikidb)" = 1.1.0 ] || die "pkg-config reports the wrong version"
cflags=$(pkg-config --cflags quenlow-wikidb)
libs=$(pkg-config --libs quenlow-wikidb)
echo "cflags: $cflags"
echo "libs: $libs"
# shellcheck disable=SC2086  # the flags are words
"$cc" -std=c99 -Wall -Wextra -pedantic -Werror $cflags "$work/consumer/consumer.c" $libs -o "$work/pc-consumer"
LD_LIBRARY_PATH=$libdir uses_installed_library "$work/pc-consumer"
LD_LIBRARY_PATH=$libdir check_run "$work/pc-consumer" "$work/wiki-pc"
unset PKG_CONFIG_LIBDIR PKG_CONFIG_PATH

step "consumer through find_package"
"$cmake" -S "$work/consumer" -B "$work/cmake-build" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_BUILD_TYPE=Release
"$cmake" --build "$work/cmake-build"
uses_installed_library "$work/cmake-build/consumer"
env -u LD_LIBRARY_PATH "$work/cmake-build/consumer" "$work/wiki-cmake" >/dev/null || die "consumer failed without LD_LIBRARY_PATH"
check_run "$work/cmake-build/consumer" "$work/wiki-cmake2"

step "the version file refuses a newer major version"
if "$cmake" -S "$work/consumer" -B "$work/cmake-v2" -DCMAKE_C_COMPILER="$cc" \
     -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
     -DWIKIDB_MIN_VERSION=2.0 >"$work/v2.log" 2>&1; then
  die "find_package(quenlow-wikidb 2.0) succeeded against 1.1.0"
fi
grep -q 'quenlow-wikidb-config.cmake, version: 1.1.0' "$work/v2.log" \
  || { cat "$work/v2.log"; die "the refusal does not name the installed version"; }
echo "refused, as it should be"

step "install test passed"
