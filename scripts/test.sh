#!/usr/bin/env bash
# Builds everything and runs every test: the native build (engine, tool and
# launcher logic), then the Windows x64 cross build with its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh native windows
jobs="${JOBS:-2}"

echo "== native build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure --no-tests=error)

echo "== Windows x64 build and tests under Wine"
cmake -S . -B build-win -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DVANTLE_NATIVE_TOOL="$PWD/build/tool/vantle-tonbrel" >/dev/null
cmake --build build-win -j"$jobs"
export VANTLE_WINEPREFIX="${VANTLE_WINEPREFIX:-$PWD/build-win/wineprefix}"
status=0
(cd build-win && ctest --output-on-failure --no-tests=error) || status=$?
WINEPREFIX="$VANTLE_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
exit "$status"
