#!/usr/bin/env bash
# The library's DLL loaded by a Windows program (under Wine) must give the
# samples the native program gives, in every mode, mono and stereo.
# Usage: dll_test.sh WINE_RUN APP_EXE NATIVE_VANTLE_TONBREL
set -euo pipefail
wine_run="$1" app="$2" tool="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0
names=(podcast stream limiter)
for channels in 1 2; do
  python3 -c "
import math, random, struct, sys
random.seed(5)
s = [1.3 * math.sin(n * 0.013 * (1 + n % 2)) * math.sin(n / 7000) + 0.2 * random.uniform(-1, 1)
     for n in range(44100 * 3 * $channels)]
sys.stdout.buffer.write(struct.pack('<%df' % len(s), *s))" >"$work/in.f32"
  for mode in 0 1 2; do
    "$tool" --mode "${names[mode]}" --adapt 70 --rate 44100 --channels "$channels" <"$work/in.f32" >"$work/native.f32"
    "$wine_run" "$app" "$mode" 70 44100 "$channels" <"$work/in.f32" >"$work/dll.f32" 2>"$work/app.log"
    if cmp -s "$work/native.f32" "$work/dll.f32"; then
      echo "${names[mode]}/70 x$channels: the DLL equals the native program ($(tr -d '\r' <"$work/app.log"))"
    else
      echo "FAIL: ${names[mode]}/70 x$channels: the DLL differs from the native program"
      status=1
    fi
  done
done
exit "$status"
