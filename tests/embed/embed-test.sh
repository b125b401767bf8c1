#!/bin/sh
# embed-test.sh SOURCE_DIR CMAKE CTEST CC CXX LAUNCHER BUILD_TYPE
#
# Builds the host project beside this script, which takes the library in
# with add_subdirectory, once shared and once static (BUILD_SHARED_LIBS=OFF),
# and checks that only the library was built, that no test of ours was
# registered, that an install puts nothing of ours in place, and that the
# host runs against a wiki.
set -eu
src=$1 cmake=$2 ctest=$3 cc=$4 cxx=$5 launcher=$6 build_type=${7:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/wikidb-embed.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

step() { printf '\n== %s\n' "$*"; }
die() { printf 'embed test: %s\n' "$*" >&2; exit 1; }

one_build() {  # NAME SHARED(ON|OFF)
  name=$1 shared=$2 b=$work/$1
  step "configure and build the host ($name)"
  set -- -S "$src/tests/embed" -B "$b" -DWIKIDB_SOURCE_DIR="$src" \
         -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DBUILD_SHARED_LIBS="$shared" \
         -DCMAKE_BUILD_TYPE="$build_type"
  if [ -n "$launcher" ]; then
    set -- "$@" -DCMAKE_C_COMPILER_LAUNCHER="$launcher" -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher"
  fi
  "$cmake" "$@" >"$work/$name-configure.log" 2>&1 || { cat "$work/$name-configure.log"; die "configure failed"; }
  "$cmake" --build "$b" -j2 >"$work/$name-build.log" 2>&1 || { cat "$work/$name-build.log"; die "build failed"; }

  step "only the library was built ($name)"
  built=$(find "$b" -type f \( -perm -u+x -o -name '*.a' -o -name '*.so*' \) \
            ! -path '*/CMakeFiles/*' | sed "s|^$b/||; s|\\.so\\.[0-9][0-9.]*$|.so.VERSION|" | sort)
  echo "$built"
  if [ "$shared" = ON ]; then
    expect="host
quenlow-wikidb/libquenlow-wikidb.so.VERSION"
  else
    expect="host
quenlow-wikidb/libquenlow-wikidb.a"
  fi
  [ "$built" = "$expect" ] || die "expected exactly: $expect"

  step "no test of ours is registered ($name)"
  listed=$("$ctest" --test-dir "$b" -N)
  echo "$listed" | grep -q '^Total Tests: 0$' || { echo "$listed"; die "tests were registered"; }

  step "an install puts nothing of ours in place ($name)"
  "$cmake" --install "$b" --prefix "$work/$name-prefix" >/dev/null
  if [ -d "$work/$name-prefix" ] && [ -n "$(find "$work/$name-prefix" ! -type d)" ]; then
    find "$work/$name-prefix" ! -type d
    die "files were installed"
  fi

  step "the host runs ($name)"
  out=$(env -u LD_LIBRARY_PATH "$b/host" "$work/$name-wiki")
  echo "$out"
  echo "$out" | grep -q '^pages: \["Hello"\]$' || die "unexpected page list"
  if [ "$shared" = OFF ] && command -v ldd >/dev/null 2>&1; then
    if ldd "$b/host" | grep -q quenlow-wikidb; then die "the static host loads the shared library"; fi
  fi
}

one_build shared ON
one_build static OFF
step "embed test passed"
