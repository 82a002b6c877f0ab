#!/usr/bin/env bash
# Builds vantle-tonbrel and runs it on a programme it makes itself: speech with
# pauses (espeak-ng) followed by a music-like passage (sox), through each of
# the three modes; then vantle-master takes the same programme to a podcast
# delivery file. Leaves playable files, a summary, vantle-master's report and
# its loudness plot in out/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh native master demo
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"${JOBS:-2}" --target vantle-tonbrel vantle-master >/dev/null
tool=build/tool/vantle-tonbrel
out=out/demo
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

rate=48000
as48k() { sox -q "$1" -r $rate -c 2 -b 32 -e floating-point "$2" "${@:3}"; }

# Speech, quietish, with a pause between sentences.
espeak-ng -w "$tmp/s1.wav" "Welcome back to the show. Today we talk about levels, loudness and why your listeners keep reaching for the volume knob."
espeak-ng -w "$tmp/s2.wav" -p 30 "After a short pause, a second voice comes in, a little lower and a little louder than the first."
as48k "$tmp/s1.wav" "$tmp/s1f.wav" gain -9 pad 0 1.5
as48k "$tmp/s2.wav" "$tmp/s2f.wav" gain -3 pad 0 1
# A music-like passage: plucked chords over a bass line, with some width.
sox -q -n -r $rate -c 2 -b 32 -e floating-point "$tmp/music.wav" \
  synth 6 pluck A2 pluck E3 pluck C4 pluck E4 remix 1,3 2,4 \
  repeat 1 tremolo 2 40 gain -4
sox -q "$tmp/s1f.wav" "$tmp/s2f.wav" "$tmp/music.wav" "$tmp/programme.wav"
sox -q "$tmp/programme.wav" -t raw -e floating-point -b 32 -L "$tmp/programme.f32"
sox -q "$tmp/programme.wav" -b 16 -e signed-integer "$out/input.wav"

for mode in podcast stream limiter; do
  "$tool" --mode "$mode" --rate $rate --channels 2 --adapt 50 <"$tmp/programme.f32" >"$tmp/$mode.f32"
  sox -q -t raw -r $rate -c 2 -e floating-point -b 32 -L "$tmp/$mode.f32" \
    -b 16 -e signed-integer "$out/$mode.wav"
done

python3 - "$tmp" "$out" $rate <<'PY' | tee "$out/summary.txt"
import math, struct, sys
tmp, out, rate = sys.argv[1], sys.argv[2], int(sys.argv[3])
print(f"{'file':<22}{'duration':>10}{'sample peak':>14}")
for name, raw in [("input.wav", "programme.f32"), ("podcast.wav", "podcast.f32"),
                  ("stream.wav", "stream.f32"), ("limiter.wav", "limiter.f32")]:
    data = open(f"{tmp}/{raw}", "rb").read()
    values = struct.unpack("<%df" % (len(data) // 4), data)
    peak = max(abs(v) for v in values) if values else 0.0
    db = 20 * math.log10(peak) if peak > 0 else float("-inf")
    print(f"{out + '/' + name:<22}{len(values) / 2 / rate:>9.2f}s{db:>10.2f} dBFS")
PY

echo
echo "vantle-master, podcast delivery (-16 LUFS, -1 dBTP) as MP3:"
build/master/vantle-master -y --target podcast --report "$out/master-report.json" \
  --plot "$out/master-plot.svg" "$out/input.wav" "$out/podcast-delivery.mp3" 2>&1 |
  tee -a "$out/summary.txt"
echo "report: $out/master-report.json, plot: $out/master-plot.svg, file: $out/podcast-delivery.mp3"
