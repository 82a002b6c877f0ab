#!/usr/bin/env bash
# The library as a user installs it: `cmake --install` into a scratch prefix,
# then a C program built with `cc app.c $(pkg-config --cflags --libs
# vantle-tonbrel)`, linked once against the shared and once against the static
# library, must write what vantle-tonbrel writes.
# Usage: installed_test.sh BUILD_DIR VANTLE_TONBREL VANTLE_SIGNAL
set -euo pipefail
build="$1" tool="$2" signal="$3"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
echo "-- installed files"
(cd "$prefix" && find . -type f -o -type l | sort | sed 's|^\./||' | grep -Ev '^(bin|share)/')

pc_dir="$(dirname "$(find "$prefix" -name vantle-tonbrel.pc)")"
export PKG_CONFIG_PATH="$pc_dir"
cc=${CC:-cc}
# shellcheck disable=SC2046
$cc -std=c99 -Wall -Wextra -Werror -o "$work/app-shared" "$here/app.c" $(pkg-config --cflags --libs vantle-tonbrel)
# shellcheck disable=SC2046
$cc -std=c99 -Wall -Wextra -Werror -o "$work/app-static" "$here/app.c" \
  $(pkg-config --cflags vantle-tonbrel) -DVANTLE_TONBREL_STATIC \
  "$(pkg-config --variable=libdir vantle-tonbrel)/libvantle-tonbrel.a" $(pkg-config --libs-only-l --static vantle-tonbrel | sed 's/-lvantle-tonbrel//')
if ldd "$work/app-static" | grep -q vantle-tonbrel; then
  echo "FAIL: the static build still needs the shared library"
  exit 1
fi

"$signal" programme 48000 2 4 >"$work/in.f32"
status=0
for mode in 0 1 2; do
  names=(podcast stream limiter)
  "$tool" --mode "${names[mode]}" --adapt 60 --rate 48000 --channels 2 <"$work/in.f32" >"$work/cli.f32"
  for kind in shared static; do
    LD_LIBRARY_PATH="$(pkg-config --variable=libdir vantle-tonbrel)" \
      "$work/app-$kind" "$mode" 60 48000 2 <"$work/in.f32" >"$work/app.f32" 2>"$work/app.log"
    if cmp -s "$work/cli.f32" "$work/app.f32"; then
      echo "${names[mode]}/60, $kind: same as vantle-tonbrel ($(cat "$work/app.log"))"
    else
      echo "FAIL: ${names[mode]}/60, $kind library: differs from vantle-tonbrel"
      status=1
    fi
  done
done
exit "$status"
