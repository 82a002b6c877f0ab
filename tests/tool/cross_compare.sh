#!/usr/bin/env bash
# The Windows build must compute what the Linux build computes:
#   cross_compare.sh <native program> <wine wrapper> <windows program>
# Same length and identical bits in every mode: the engine computes its
# exponentials, logarithms and sines itself, so no math library stands between
# the two builds.
set -u
native="$1"; shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/in" <<'PY'
import math, random, struct, sys
random.seed(3)
v = []
for i in range(240000):
    t = i / 48000
    gate = 1.0 if (i // 24000) % 2 else 0.1
    v += [0.5 * math.sin(2 * math.pi * 220 * t) * gate + 0.2 * random.uniform(-1, 1),
          0.4 * math.sin(2 * math.pi * 330 * t) + (3.0 if i % 9973 == 0 else 0.0)]
open(sys.argv[1], 'wb').write(struct.pack('<%df' % len(v), *v))
PY
passed=0
failed=0
for mode in podcast stream limiter; do
  for adapt in 0 75; do
    "$native" --mode $mode --rate 48000 --adapt $adapt <"$work/in" >"$work/linux"
    timeout 120 "$@" --mode $mode --rate 48000 --adapt $adapt <"$work/in" >"$work/windows"
    if python3 - "$work/linux" "$work/windows" "$mode" <<'PY'; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $mode adapt $adapt"; fi
import struct, sys
a = open(sys.argv[1], 'rb').read()
b = open(sys.argv[2], 'rb').read()
if len(a) != len(b) or not a:
    print("lengths differ:", len(a), len(b)); sys.exit(1)
if a != b:
    x = struct.unpack('<%df' % (len(a) // 4), a)
    y = struct.unpack('<%df' % (len(b) // 4), b)
    worst = max(abs(p - q) for p, q in zip(x, y))
    differing = sum(1 for p, q in zip(x, y) if p != q)
    print(sys.argv[3], "mode differs in", differing, "samples, by up to", worst); sys.exit(1)
PY
  done
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
