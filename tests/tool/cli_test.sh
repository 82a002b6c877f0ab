#!/usr/bin/env bash
# Command-line and stream-loop checks of vantle-tonbrel, run against the native
# build or, through the Wine wrapper, against the Windows build:
#   cli_test.sh <program> [wrapper...]
# Prints one line per failed check and a closing "N passed, N failed" line.
set -u
prog=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

usage=$'usage: vantle-tonbrel --mode <podcast|stream|limiter> --rate <hz>\n                     [--channels <n>] [--input-db <db>] [--adapt <0-100>]\n\nReads interleaved f32le PCM on stdin, writes it on stdout.'

ok() { passed=$((passed + 1)); }
bad() { failed=$((failed + 1)); echo "FAIL: $*"; }

# run <stdin-file> args... : sets rc, out (stdout file), err (stderr text)
run() {
  local in="$1"; shift
  timeout 60 "${prog[@]}" "$@" <"$in" >"$work/out" 2>"$work/err"
  rc=$?
  err=$(tr -d '\r' <"$work/err")
}

: >"$work/empty"

# A command line that must fail with exit 2, its message, the usage after it
# and nothing on stdout.
expect_usage_error() {
  local message="$1"; shift
  run "$work/empty" "$@"
  local want="vantle-tonbrel: $message"$'\n'"$usage"
  if [ "$rc" = 2 ] && [ "${err%$'\n'*}" = "$want" ] && [ ! -s "$work/out" ]; then ok; else
    bad "args [$*]: rc=$rc stderr=[$err] stdout=$(wc -c <"$work/out")"; fi
}

expect_usage_error "--mode is required"
expect_usage_error "--mode is required" --rate 48000
expect_usage_error "--rate must be a sample rate between 8000 and 384000" --mode podcast
expect_usage_error "--mode must be podcast, stream or limiter" --mode Podcast --rate 48000
expect_usage_error "--mode must be podcast, stream or limiter" --mode bogus --version
expect_usage_error "unknown or incomplete argument: --channels" --mode podcast --rate 48000 --channels
expect_usage_error "unknown or incomplete argument: --bogus" --mode podcast --bogus 1 --rate 48000
expect_usage_error "unknown or incomplete argument: podcast" podcast --mode
expect_usage_error "--channels must be 1 or 2" --mode podcast --rate 48000 --channels 3
expect_usage_error "--channels must be 1 or 2" --mode podcast --rate 48000 --channels 0
expect_usage_error "--channels must be 1 or 2" --mode podcast --rate 48000 --channels 4294967298
expect_usage_error "--channels must be 1 or 2" --mode podcast --rate 48000 --channels -4294967294
expect_usage_error "--rate must be a sample rate between 8000 and 384000" --mode stream --rate 384001
expect_usage_error "--rate must be a sample rate between 8000 and 384000" --mode stream --rate 7999.9
expect_usage_error "--rate must be a sample rate between 8000 and 384000" --mode stream --rate inf
expect_usage_error "--rate must be a sample rate between 8000 and 384000" --mode stream --rate --version
expect_usage_error "--rate must be a sample rate between 8000 and 384000" --mode stream --rate 48000 --rate 1000
expect_usage_error "--mode is required" --rate 48000 --channels 1

# Command lines that must run (exit 0) on empty input and write nothing.
expect_runs() {
  run "$work/empty" "$@"
  if [ "$rc" = 0 ] && [ -z "$err" ] && [ ! -s "$work/out" ]; then ok; else
    bad "args [$*]: rc=$rc stderr=[$err]"; fi
}
expect_runs --mode podcast --rate 48000
expect_runs --mode stream --rate 384000 --channels 1
expect_runs --mode limiter --rate 8000 --channels 2x
expect_runs --rate 48000 --mode stream --rate 96000
expect_runs --mode stream --rate nan
expect_runs --mode stream --rate 0x1.77p15
expect_runs --mode stream --rate "  44100junk" --input-db nan --adapt nan
expect_runs --mode podcast --rate 48000 --input-db 30 --adapt 150
expect_runs --mode podcast --rate 48000 --input-db -30 --adapt -5
expect_runs --mode podcast --rate 48000 --channels " +1"

# --version wins wherever the scan reaches it, and prints on stdout.
for args in "--version" "--mode stream --rate 44100 --version" "--mode podcast --rate 1 --channels 9 --version"; do
  # shellcheck disable=SC2086
  run "$work/empty" $args
  if [ "$rc" = 0 ] && [ -z "$err" ] && grep -q '^vantle-tonbrel [0-9]' "$work/out"; then ok; else
    bad "version [$args]: rc=$rc stderr=[$err]"; fi
done

# Stream loop. make_input <file> <samples>: deterministic float32 samples whose
# bytes include 0x0A, 0x0D and 0x1A (text-mode translation would corrupt them).
make_input() {
  python3 - "$1" "$2" <<'PY'
import struct, sys, math
path, n = sys.argv[1], int(sys.argv[2])
special = [struct.unpack('<f', b)[0] for b in (b'\x0a\x0d\x1a\x3e', b'\x1a\x0a\x0d\x3d', b'\x0d\x0d\x0a\xbe')]
with open(path, 'wb') as f:
    vals = [special[i % 3] if i % 7 == 0 else 0.5 * math.sin(i * 0.01) for i in range(n)]
    f.write(struct.pack('<%df' % n, *vals))
PY
}

size_of() { wc -c <"$1" | tr -d ' '; }

# Mono 10000 samples: three blocks, all written.
make_input "$work/mono" 10000
run "$work/mono" --mode limiter --rate 48000 --channels 1
if [ "$rc" = 0 ] && [ "$(size_of "$work/out")" = 40000 ]; then ok; else bad "mono 10000: rc=$rc size=$(size_of "$work/out")"; fi

# Stereo 8193 samples: the last sample is the unprocessed trailing half frame.
make_input "$work/odd" 8193
run "$work/odd" --mode stream --rate 48000
if [ "$rc" = 0 ] && [ "$(size_of "$work/out")" = 32772 ] &&
  cmp -s <(tail -c 4 "$work/odd") <(tail -c 4 "$work/out"); then ok; else bad "stereo 8193: rc=$rc"; fi

# 1 to 3 stray bytes after whole samples are dropped.
for extra in 1 2 3; do
  { cat "$work/mono"; head -c "$extra" /dev/zero; } >"$work/stray"
  run "$work/stray" --mode podcast --rate 44100 --channels 1
  if [ "$rc" = 0 ] && [ "$(size_of "$work/out")" = 40000 ]; then ok; else bad "stray $extra: rc=$rc size=$(size_of "$work/out")"; fi
done

# Several MB through the pipe: every byte accounted for, and the same input
# gives the same output twice (no state leaks between runs).
make_input "$work/big" 1500000
run "$work/big" --mode stream --rate 48000 --adapt 70
cp "$work/out" "$work/big1"
run "$work/big" --mode stream --rate 48000 --adapt 70
if [ "$rc" = 0 ] && [ "$(size_of "$work/out")" = 6000000 ] && cmp -s "$work/out" "$work/big1"; then ok; else
  bad "big stream: rc=$rc size=$(size_of "$work/out")"; fi

# A reader that goes away: "write failed", exit 3, no crash.
timeout 60 "${prog[@]}" --mode podcast --rate 48000 <"$work/big" 2>"$work/err" | head -c 10 >/dev/null
rc=${PIPESTATUS[0]}
err=$(tr -d '\r' <"$work/err")
if [ "$rc" = 3 ] && [ "$err" = "vantle-tonbrel: write failed" ]; then ok; else bad "closed stdout: rc=$rc stderr=[$err]"; fi

# A read error (a folder as standard input): "read failed", exit 3, nothing written.
timeout 60 "${prog[@]}" --mode podcast --rate 48000 </ >"$work/out" 2>"$work/err"
rc=$?
err=$(tr -d '\r' <"$work/err")
if [ "$rc" = 3 ] && [ "$err" = "vantle-tonbrel: read failed" ] && [ ! -s "$work/out" ]; then ok; else
  bad "read error: rc=$rc stderr=[$err]"; fi

# Output must never reach the ceiling of -0.1 dBFS, whatever the input.
python3 - "$work/loud" <<'PY'
import struct, sys, random
random.seed(7)
vals = [random.choice([8.0, -8.0, random.uniform(-30, 30)]) for _ in range(96000)]
open(sys.argv[1], 'wb').write(struct.pack('<%df' % len(vals), *vals))
PY
for mode in podcast stream limiter; do
  run "$work/loud" --mode "$mode" --rate 48000 --adapt 100 --input-db 24
  peak=$(python3 - "$work/out" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
v = struct.unpack('<%df' % (len(d) // 4), d)
print(max(abs(x) for x in v))
PY
)
  if [ "$rc" = 0 ] && python3 -c "import sys; sys.exit(0 if $peak < 0.9885530946569389 else 1)"; then ok; else
    bad "ceiling $mode: rc=$rc peak=$peak"; fi
done

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
