#!/usr/bin/env bash
# Builds everything and runs every test: the native build (engine, tool, C
# library, LV2 plugin in its hosts, vantle-master, launcher logic) and its
# Debian packages, then the Windows x64 cross build with its tests under Wine
# and its zip.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh native plugin master windows package
jobs="${JOBS:-2}"

echo "== native build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure --no-tests=error)

echo "== Debian package: built, checked, installed, used and purged"
if [ "$(id -u)" = 0 ]; then
  tests/package/debian_package_test.sh build
else
  echo "skipped: installing and purging the package needs root"
fi

echo "== Windows x64 build and tests under Wine"
cmake -S . -B build-win -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DVANTLE_NATIVE_TOOL="$PWD/build/tool/vantle-tonbrel" >/dev/null
cmake --build build-win -j"$jobs"
export VANTLE_WINEPREFIX="${VANTLE_WINEPREFIX:-$PWD/build-win/wineprefix}"
status=0
(cd build-win && ctest --output-on-failure --no-tests=error) || status=$?
WINEPREFIX="$VANTLE_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true

echo "== Windows zip"
tests/package/windows_zip_test.sh build-win || status=$?
exit "$status"
