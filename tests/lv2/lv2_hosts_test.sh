#!/usr/bin/env bash
# The plugin in real hosts: its descriptions validated against the LV2
# schemas, then run by lv2apply and by ffmpeg's lv2 filter on generated
# programme, each output compared bit for bit with vantle-tonbrel's.
# Usage: lv2_hosts_test.sh BUNDLE_PARENT VANTLE_TONBREL VANTLE_SIGNAL
set -euo pipefail
lv2dir="$(cd "$1" && pwd)" tool="$2" signal="$3"
uri="https://vantle.example.com/plugins/tonbrel"
export LV2_PATH="$lv2dir"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

echo "-- descriptions against the LV2 schemas"
if ! lv2_validate "$lv2dir"/vantle-tonbrel.lv2/*.ttl >"$work/validate.log" 2>&1 ||
  ! grep -q 'Found 0 errors' "$work/validate.log"; then
  grep -v '^Skipping' "$work/validate.log"
  fail "lv2_validate"
fi

# The samples as ffmpeg reads and writes them, exactly: raw 32-bit float.
raw_args() { echo "-f f32le -ar $1 -ac $2"; }

# case: rate channels mode adapt [input_db]; the plugin's mode is a number.
run_case() {
  local rate="$1" channels="$2" mode="$3" adapt="$4" gain="${5:-}"
  local name="$rate-$channels-$mode-$adapt${gain:+-$gain}"
  local variant=stereo number=0 cli_gain=() controls=()
  [ "$channels" = 1 ] && variant=mono
  case "$mode" in stream) number=1 ;; limiter) number=2 ;; esac
  controls=(mode "$number" adapt "$adapt")
  if [ -n "$gain" ]; then
    cli_gain=(--input-db "$gain")
    controls+=(input_db "$gain")
  fi
  local in="$work/in-$rate-$channels.f32"
  [ -f "$in" ] || "$signal" programme "$rate" "$channels" 6 >"$in"
  "$tool" --mode "$mode" --rate "$rate" --channels "$channels" --adapt "$adapt" \
    "${cli_gain[@]}" <"$in" >"$work/cli.f32"

  # lv2apply reads and writes sound files: float WAV both ways.
  ffmpeg -v error -y $(raw_args "$rate" "$channels") -i "$in" -c:a pcm_f32le "$work/in.wav"
  local c=() i
  for ((i = 0; i < ${#controls[@]}; i += 2)); do c+=(-c "${controls[i]}" "${controls[i + 1]}"); done
  rm -f "$work/lv2apply.wav"
  if lv2apply -i "$work/in.wav" -o "$work/lv2apply.wav" "${c[@]}" "$uri/$variant" >"$work/host.log" 2>&1; then
    ffmpeg -v error -y -i "$work/lv2apply.wav" -f f32le -c:a pcm_f32le "$work/lv2apply.f32"
    cmp -s "$work/cli.f32" "$work/lv2apply.f32" || fail "$name: lv2apply differs from vantle-tonbrel"
  else
    cat "$work/host.log"
    fail "$name: lv2apply failed"
  fi

  local joined="" sep=""
  for ((i = 0; i < ${#controls[@]}; i += 2)); do
    joined+="$sep${controls[i]}=${controls[i + 1]}"
    sep="|"
  done
  if ffmpeg -v error -y $(raw_args "$rate" "$channels") -i "$in" -af "lv2=p='${uri/:/\\:}/$variant':c=$joined" \
    -f f32le -c:a pcm_f32le "$work/ffmpeg.f32" 2>"$work/host.log"; then
    cmp -s "$work/cli.f32" "$work/ffmpeg.f32" || fail "$name: ffmpeg's lv2 filter differs from vantle-tonbrel"
  else
    cat "$work/host.log"
    fail "$name: ffmpeg's lv2 filter failed"
  fi
  echo "$name: $(stat -c %s "$work/cli.f32") bytes compared"
}

echo "-- lv2apply and ffmpeg against vantle-tonbrel"
run_case 48000 2 podcast 0
run_case 48000 2 stream 50
run_case 48000 2 limiter 100
run_case 44100 2 stream 100 6
run_case 44100 1 podcast 30
run_case 96000 1 limiter 0 -3.5
run_case 48000 2 stream 0 2.5

[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
echo "all hosts agree with vantle-tonbrel"
