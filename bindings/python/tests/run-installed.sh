#!/bin/sh
# Runs the package's tests against an installed copy of it, never the
# source tree, so that what users install is what is tested.
#
#   run-installed.sh pip   PYTHON SRC WORK LIBRARY
#       a fresh venv (--system-site-packages, for Debian's setuptools), the
#       package installed by pip from a copy of SRC, WIKIDB_LIBRARY=LIBRARY.
#   run-installed.sh cmake PYTHON SRC WORK BUILD CMAKE PYDIR
#       `cmake --install` of the library and the Python component into a
#       prefix; the package must find the library beside it by itself.
#
# Exits 77 (a skip) when the interpreter cannot do the install offline.
set -eu
mode=$1 python=$2 src=$3 work=$4
skip() { echo "SKIP: $*"; exit 77; }

# A sanitizer runtime preloaded for a sanitized library is for the tests
# alone: cmake, pip and venv do not load the library (and cmake was seen
# to hang at a failing exit with it).
preload=${LD_PRELOAD:-}
unset LD_PRELOAD

rm -rf "$work"
mkdir -p "$work"
cd "$work"

case $mode in
pip)
  lib=$5
  "$python" -c 'import setuptools, wheel, venv, ensurepip' 2>/dev/null ||
    skip "$python lacks setuptools, wheel or venv (Debian: python3-setuptools python3-wheel python3-venv)"
  "$python" -m venv --system-site-packages "$work/venv"
  # A copy, so that the build's leftovers (build/, *.egg-info) stay out of the source tree.
  cp -R "$src" "$work/src"
  rm -rf "$work/src/build" "$work/src"/*.egg-info
  "$work/venv/bin/python" -m pip install -q --no-build-isolation --no-deps --no-index "$work/src"
  py=$work/venv/bin/python
  export WIKIDB_LIBRARY="$lib"
  export WIKIDB_TEST_INSTALLED_UNDER="$work/venv"
  ;;
cmake)
  build=$5 cmake=$6 pydir=$7
  prefix=$work/prefix
  "$cmake" --install "$build" --prefix "$prefix" --component Runtime >/dev/null
  "$cmake" --install "$build" --prefix "$prefix" --component Python
  case $pydir in /*) ;; *) pydir=$prefix/$pydir ;; esac
  py=$python
  unset WIKIDB_LIBRARY
  export PYTHONPATH="$pydir"
  export WIKIDB_TEST_INSTALLED_UNDER="$prefix"
  export WIKIDB_TEST_LIBRARY_UNDER="$prefix"
  ;;
*) echo "unknown mode $mode" >&2; exit 2 ;;
esac

# Run from an empty folder with the tests copied there: nothing but the
# installed package can answer "import wikidb".
mkdir "$work/run"
cp "$src"/tests/test_*.py "$work/run/"
cd "$work/run"
[ -z "$preload" ] || export LD_PRELOAD="$preload"
"$py" -m unittest -v 2>&1
