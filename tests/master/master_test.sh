#!/usr/bin/env bash
# vantle-master on real files made here with the ffmpeg program: every input
# kind a podcaster has, the float output against vantle-tonbrel bit for bit,
# delivery targets checked by an independent meter (ffmpeg's ebur128 filter
# with true peak), and failures that leave no file behind.
# Usage: master_test.sh VANTLE_MASTER VANTLE_TONBREL VANTLE_SIGNAL
set -euo pipefail
master="$1" tool="$2" signal="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ff() { ffmpeg -nostdin -v error -y "$@"; }
frames() { ffprobe -v error -select_streams a:0 -count_packets -show_entries stream=sample_rate,channels -of csv=p=0 "$1"; }
decoded_frames() {  # frames of the first audio stream, decoded
  local ch
  ch=$(ffprobe -v error -select_streams a:0 -show_entries stream=channels -of csv=p=0 "$1")
  [ "$ch" -gt 2 ] && ch=2
  echo $(($(ffmpeg -nostdin -v error -i "$1" -map 0:a:0 -ac "$ch" -f f32le - | wc -c) / 4 / ch))
}
# One run, and the output's rate and channels checked: false when it failed.
converts() {  # INPUT OUTPUT RATE CHANNELS
  rm -f "$2"
  if ! "$master" -q "$1" "$2" 2>err.txt; then
    fail "$1 -> $2: $(cat err.txt)"
    return 1
  fi
  local got
  got=$(frames "$2")
  [ "$got" = "$3,$4" ] || fail "$1 -> $2: rate,channels $got, expected $3,$4"
}
json() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2], {}, {'d': d}))" "$@"; }

"$signal" programme 48000 2 12 >prog48.f32
"$signal" programme 44100 1 12 >prog44m.f32
"$signal" programme 96000 2 8 >prog96.f32

echo "-- float WAV output equals vantle-tonbrel's with the latency removed"
for c in "48000 2 prog48.f32 stream 60" "44100 1 prog44m.f32 limiter 100" "96000 2 prog96.f32 podcast 0"; do
  read -r rate ch raw mode adapt <<<"$c"
  ff -f f32le -ar "$rate" -ac "$ch" -i "$raw" -c:a pcm_f32le in.wav
  "$master" -q --float --mode "$mode" --adapt "$adapt" --report r.json in.wav out.wav
  latency=$(json r.json "d['latency_frames']")
  # The program's output trails by the latency: feed it as many frames of
  # silence more and drop as many at the start.
  { cat "$raw"; head -c $((latency * ch * 4)) /dev/zero; } |
    "$tool" --mode "$mode" --adapt "$adapt" --rate "$rate" --channels "$ch" |
    tail -c +$((latency * ch * 4 + 1)) >expected.f32
  ff -i out.wav -f f32le -c:a pcm_f32le got.f32
  if cmp -s expected.f32 got.f32; then
    echo "$mode/$adapt $rate Hz x$ch: equal ($(stat -c %s got.f32) bytes, latency $latency frames removed)"
  else
    fail "$mode/$adapt $rate Hz x$ch: differs from vantle-tonbrel"
  fi
  rm -f in.wav out.wav
done

echo "-- every input kind: rate and channels kept (or brought into range), duration kept"
ff -f f32le -ar 48000 -ac 2 -i prog48.f32 -t 6 base48.wav
ff -f f32le -ar 44100 -ac 1 -i prog44m.f32 -t 6 base44m.wav
ff -f f32le -ar 96000 -ac 2 -i prog96.f32 -t 6 base96.wav
ff -i base48.wav -c:a pcm_s16le in-s16.wav
ff -i base48.wav -c:a pcm_s24le in-s24.wav
ff -i base48.wav -c:a pcm_f32le in-f32.wav
ff -i base48.wav -c:a flac in.flac
ff -i base48.wav -c:a libmp3lame -b:a 192k in.mp3
ff -i base48.wav -c:a aac -b:a 192k in.m4a
ff -i base48.wav -c:a libopus -b:a 128k in.opus
ff -f lavfi -i testsrc=size=160x120:rate=10 -i base48.wav -c:v mpeg4 -c:a aac -shortest in-video.mp4
ff -i base44m.wav -c:a pcm_s16le in-mono44.wav
ff -i base96.wav -c:a flac in-96k.flac
ff -i base48.wav -af "pan=5.1|FL=c0|FR=c1|FC=c0|LFE=c1|BL=c0|BR=c1" -c:a pcm_s16le in-5.1.wav
ff -i base48.wav -ar 4000 -c:a pcm_s16le in-4k.wav
# input: expected output rate and channels
while read -r input rate ch; do
  for out in out.wav out.flac; do
    converts "$input" "$out" "$rate" "$ch" || continue
    want=$(decoded_frames "$input")
    have=$(decoded_frames "$out")
    if [ "$rate" = 48000 ] && [ "$input" = in-4k.wav ]; then want=$((want * 12)); fi
    [ "$have" = "$want" ] || fail "$input -> $out: $have frames, the input has $want"
  done
  echo "$input: wav and flac, $rate Hz x$ch, $(decoded_frames out.flac) frames"
  said=$("$master" -y "$input" out.flac 2>&1)
  case "$input" in
    in-5.1.wav) grep -q '^note: mixed down from 6 channels to stereo' <<<"$said" ||
      fail "$input: no note of the mix-down" ;;
    in-4k.wav) grep -q '^note: resampled from 4000 Hz to 48000 Hz' <<<"$said" ||
      fail "$input: no note of the resampling" ;;
    *) ! grep -q '^note:' <<<"$said" || fail "$input: a note where nothing changed" ;;
  esac
done <<'LIST'
in-s16.wav 48000 2
in-s24.wav 48000 2
in-f32.wav 48000 2
in.flac 48000 2
in.mp3 48000 2
in.m4a 48000 2
in.opus 48000 2
in-video.mp4 48000 2
in-mono44.wav 44100 1
in-96k.flac 96000 2
in-5.1.wav 48000 2
in-4k.wav 48000 2
LIST

echo "-- lossy outputs: the codec's rate, the channels kept, the duration kept to a codec frame"
while read -r input out rate ch; do
  converts "$input" "$out" "$rate" "$ch" || continue
  seconds_in=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$input")
  seconds_out=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$out")
  python3 -c "import sys; sys.exit(abs($seconds_in - $seconds_out) > 0.05)" ||
    fail "$input -> $out: $seconds_out s, the input has $seconds_in s"
  echo "$input -> $out: $rate Hz x$ch, $seconds_out s"
done <<'LIST'
in-f32.wav out.mp3 48000 2
in-f32.wav out.m4a 48000 2
in-f32.wav out.opus 48000 2
in-mono44.wav out.mp3 44100 1
in-mono44.wav out.opus 48000 1
LIST

echo "-- delivery targets, checked with ffmpeg's ebur128 filter (true peak on)"
ff -f f32le -ar 48000 -ac 2 -i prog48.f32 -c:a pcm_f32le loud.wav
ff -f f32le -ar 48000 -ac 2 -i prog48.f32 -af volume=-30dB -c:a pcm_f32le quiet.wav
while read -r input mode target limit out; do
  args=(--mode "$mode" --target "$target")
  [ "$limit" = - ] || args+=(--true-peak "$limit")
  [ "$limit" = - ] && limit=-1
  "$master" -q -y "${args[@]}" --report r.json "$input" "$out"
  meter=$(ffmpeg -nostdin -hide_banner -nostats -i "$out" -af ebur128=peak=true -f null - 2>&1)
  integrated=$(grep -A1 'Integrated loudness' <<<"$meter" | sed -n 's/.*I: *\(-\?[0-9.]*\) LUFS/\1/p' | tail -1)
  peak=$(grep -A1 'True peak' <<<"$meter" | sed -n 's/.*Peak: *\(-\?[0-9.]*\) dBFS/\1/p' | tail -1)
  decided=$(json r.json "d['decided_by']")
  case "$target" in podcast) lufs=-16 ;; stream) lufs=-14 ;; broadcast) lufs=-23 ;; *) lufs=$target ;; esac
  # MP3 and AAC quantise their level and add overs that jump with the
  # smallest change of gain, and have no fine gain of their own: a file of
  # theirs that the limit decides is under it, not always within 0.1 dB.
  near=0.1
  case "$out" in *.mp3 | *.m4a) near=0.5 ;; esac
  verdict=$(python3 -c "
i, p, t, l, near = $integrated, $peak, $lufs, $limit, $near
if p > l + 0.05: print('true peak %.1f above the limit %.1f' % (p, l))
elif abs(i - t) <= 0.5: print('ok')
elif round(abs(p - l), 6) <= near: print('ok')  # the meter prints one decimal
else: print('%.1f LUFS and %.1f dBTP: neither on target nor at the limit' % (i, p))")
  if [ "$verdict" = ok ]; then
    echo "$input -> $out, $mode --target $target: $integrated LUFS, $peak dBTP ($decided, $(json r.json "d['encodings_tried']") encoding(s))"
  else
    fail "$input -> $out, $mode --target $target: $verdict"
  fi
done <<'LIST'
loud.wav podcast podcast - out.flac
loud.wav stream stream - out.flac
loud.wav podcast broadcast - out.wav
loud.wav limiter -20 - out.flac
quiet.wav podcast podcast - out.flac
loud.wav stream -6 -2 out.flac
loud.wav podcast podcast - out.mp3
loud.wav stream stream - out.m4a
loud.wav podcast podcast - out.opus
loud.wav stream -6 -2 out.mp3
loud.wav stream -6 -1 out.m4a
loud.wav stream -6 -1 out.opus
loud.wav podcast -10 -1.5 out.opus
LIST

echo "-- progress: one redrawn line on a terminal, nothing on a pipe or with --quiet"
script -qec "'$master' -y --target podcast loud.wav out.flac" /dev/null >tty.txt
"$master" -y --target podcast loud.wav out.flac 2>pipe.txt
script -qec "'$master' -q -y --target podcast loud.wav out.flac" /dev/null >quiet.txt
if grep -q $'\rpass 1 of 2 .*% .*realtime .* left' tty.txt && grep -q $'\rpass 2 of 2 ' tty.txt &&
  grep -q 'integrated' tty.txt && ! grep -q 'pass' pipe.txt && grep -q 'integrated' pipe.txt &&
  [ ! -s quiet.txt ]; then
  echo "progress: on the terminal, not on the pipe; the summary on both; nothing with --quiet"
else
  fail "progress: terminal '$(tr '\r' '|' <tty.txt | head -c 200)', pipe '$(head -c 200 pipe.txt)', quiet '$(head -c 100 quiet.txt)'"
fi

echo "-- the plot renders with a real renderer"
"$master" -q -y --target podcast --plot plot.svg --report r.json loud.wav out.flac
if rsvg-convert plot.svg -o plot.png && [ "$(python3 -c "
import struct; d = open('plot.png', 'rb').read(24); print(d[:8] == b'\x89PNG\r\n\x1a\n', *struct.unpack('>II', d[16:24]))")" = "True 960 420" ] &&
  [ "$(grep -c '<polyline' plot.svg)" = 2 ] && grep -q 'target -16.0 LUFS' plot.svg &&
  grep -q 'true-peak limit -1.0 dBTP' plot.svg && grep -q '>0:10<' plot.svg; then
  echo "plot: rendered 960x420, before and after, target and limit, time in minutes:seconds"
else
  fail "the plot did not render or lacks a part"
fi

echo "-- a recording too quiet for the chain gets more input gain, unless the user gave one"
"$signal" impulses 48000 2 8 >impulses.f32
ff -f f32le -ar 48000 -ac 2 -i impulses.f32 -af volume=-40dB -c:a pcm_f32le faint.wav
"$master" -q -y --target podcast --report auto.json faint.wav out.flac
"$master" -q -y --target podcast --input-db 3.5 --report fixed.json faint.wav out.flac
auto=$(json auto.json "d['settings']['input_db']")
fixed=$(json fixed.json "d['settings']['input_db']")
auto_loud=$(json auto.json "d['after']['integrated_lufs']")
fixed_loud=$(json fixed.json "d['after']['integrated_lufs']")
python3 -c "import sys; sys.exit(not ($auto > 3.5 and $fixed == 3.5 and $auto_loud > $fixed_loud))" ||
  fail "input gain: automatic $auto dB ($auto_loud LUFS), given $fixed dB ($fixed_loud LUFS)"
echo "faint impulses: input gain $auto dB gives $auto_loud LUFS; the given 3.5 dB gives $fixed_loud LUFS"

echo "-- pass two gives the same file whether it reads back pass one's output or runs the chain again"
# Pass one keeps the chain's output (4 bytes a sample) beside OUTPUT; a
# file-size limit under that size but over the delivered file's refuses it,
# and pass two then runs the chain again.
for out in kept.flac kept.mp3; do
  "$master" -q -y --target podcast loud.wav "$out"
  limit_kb=$(($(stat -c %s loud.wav) / 1024 / 2))
  (ulimit -f "$limit_kb" && "$master" -q -y --target podcast loud.wav "again-$out") ||
    fail "$out: no output when pass one's output could not be kept"
  cmp -s "$out" "again-$out" || fail "$out: differs when pass two runs the chain again"
  leftovers=$(find . -maxdepth 1 -name '*partial*' | tr '\n' ' ')
  [ -z "$leftovers" ] || fail "$out: left $leftovers"
  echo "$out: the same either way ($(stat -c %s "$out") bytes), nothing left behind"
done

echo "-- a batch through GNU parallel gives each file exactly what a single run gives"
mkdir -p episodes batch single
cp in-s16.wav episodes/one.wav
cp in.mp3 episodes/two.mp3
cp in-mono44.wav episodes/three.wav
parallel --will-cite -j2 "$master" -q --target podcast {} batch/{/.}.flac ::: episodes/*
for f in episodes/*; do
  name=$(basename "${f%.*}")
  "$master" -q --target podcast "$f" "single/$name.flac"
  cmp -s "batch/$name.flac" "single/$name.flac" || fail "batch: $name.flac differs from a single run"
done
echo "batch: $(ls batch | wc -l) files, each byte-identical to a single run"

echo "-- failures: a clear message, the right exit code, no file left behind"
printf 'not audio\n' >text.wav
cp loud.wav keep.flac
ff -f f32le -ar 48000 -ac 2 -i prog48.f32 -af aloop=loop=20:size=576000 -c:a pcm_f32le long.wav
existing_sum=$(md5sum keep.flac)
while read -r expect args; do
  rm -f out.* .out.*
  # shellcheck disable=SC2086
  "$master" -q $args >/dev/null 2>err.txt && status=0 || status=$?
  line=$(head -1 err.txt)
  [ "$status" = "$expect" ] || fail "vantle-master $args: exit $status, expected $expect ($line)"
  case "$line" in vantle-master:*) ;; *) fail "vantle-master $args: no message ($line)" ;; esac
  leftovers=$(find . -maxdepth 1 -name '*partial*' -o -maxdepth 1 -name 'out.*' | tr '\n' ' ')
  [ -z "$leftovers" ] || fail "vantle-master $args: left $leftovers"
  echo "exit $status: $line"
done <<'LIST'
3 missing.wav out.wav
3 text.wav out.wav
2 loud.wav out.xyz
2 loud.wav
2 --adapt 101 loud.wav out.wav
2 loud.wav keep.flac
2 keep.flac keep.flac
LIST
[ "$(md5sum keep.flac)" = "$existing_sum" ] || fail "an existing OUTPUT was changed"

# No room for the output: a file-size limit, and (where this machine lets us
# mount one) a full file system.
(ulimit -f 64 && "$master" -q loud.wav out.flac 2>err.txt) && status=0 || status=$?
leftovers=$(find . -maxdepth 1 -name '*partial*' -o -maxdepth 1 -name 'out.*' | tr '\n' ' ')
[ "$status" = 3 ] && [ -z "$leftovers" ] || fail "file-size limit: exit $status, left '$leftovers'"
echo "file-size limit: exit $status, $(head -1 err.txt)"
mkdir -p full
if mount -t tmpfs -o size=256k tmpfs full 2>/dev/null; then
  "$master" -q loud.wav full/out.flac 2>err.txt && status=0 || status=$?
  leftovers=$(ls -A full)
  umount full
  [ "$status" = 3 ] && [ -z "$leftovers" ] || fail "full disk: exit $status, left '$leftovers'"
  echo "full disk: exit $status, $(head -1 err.txt)"
else
  echo "full disk: no tmpfs can be mounted here (not root); the file-size limit stands in"
fi

# Interrupted in mid-run.
"$master" -q --target podcast long.wav out.flac 2>err.txt &
pid=$!
sleep 1
kill -INT "$pid"
wait "$pid" && status=0 || status=$?
[ "$status" = 130 ] || fail "interrupted run: exit $status"
leftovers=$(find . -maxdepth 1 -name '*partial*' -o -maxdepth 1 -name 'out.*' | tr '\n' ' ')
[ -z "$leftovers" ] || fail "interrupted run left $leftovers"
echo "interrupted: exit $status, $(head -1 err.txt)"

[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
echo "vantle-master test: all passed"
