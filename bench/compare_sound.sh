#!/usr/bin/env bash
# Does the working tree's vantle-tonbrel still sound like a git revision's?
#
#   bench/compare_sound.sh REV [--quick] [--seconds S] [--bound 1e-6] [--exact] [--windows]
#
# e.g. bench/compare_sound.sh HEAD --quick
#
# Builds REV (in build-compare/, reused later) and the working tree, runs both
# programs on the same inputs and compares their outputs sample by sample.
# The cases cover every axis in full without taking the whole product:
#   - programme at 48 kHz: every mode x every adapt (0 10 25 35 50 51 65 80
#     100) x mono and stereo;
#   - programme at every rate (8000 to 384000 Hz): every mode x mono and
#     stereo, the adapt taking turns;
#   - hostile signals (white noise at and over full scale, square waves, a
#     sweep to Nyquist, impulses, DC, NaN/inf/1e30, subnormals, silence after
#     loud programme): every mode x mono and stereo, rate and adapt taking turns.
# Each case lasts 6 s (--seconds); --quick makes it 2 s and keeps only stereo
# in the first group and one channel count per case in the others.
#
# Prints per mode the cases, the samples compared, how many differ, how many
# by more than the bound and the largest difference, whether limiter mode is
# bit-identical, and the worst cases. Exits 1 when a difference exceeds the
# bound, when the lengths differ, when a program fails, or with --exact when
# any bit differs.
#
# --windows also runs the working tree's Windows build under Wine on every
# case and compares it with the working tree's Linux build in the same way
# (there every bit must agree: the two builds compute the same numbers).
set -euo pipefail
# shellcheck source=bench/revision.sh
source "$(dirname "$0")/revision.sh"

usage() {
  sed -n '4p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

[ $# -ge 1 ] || usage
rev=$1
shift
quick=0
seconds=""
bound=1e-6
exact=0
windows=0
list_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --seconds) seconds=${2:?}; shift ;;
    --bound) bound=${2:?}; shift ;;
    --exact) exact=1 ;;
    --windows) windows=1 ;;
    --list) list_only=1 ;;
    -h | --help) usage ;;
    *) echo "compare_sound.sh: unknown option $1" >&2; usage ;;
  esac
  shift
done
[ -n "$seconds" ] || seconds=$([ "$quick" = 1 ] && echo 2 || echo 6)
[[ "$seconds" =~ ^[0-9]+(\.[0-9]+)?$ ]] || die "--seconds wants a number"
[[ "$bound" =~ ^[0-9.eE+-]+$ ]] || die "--bound wants a number"

modes=(podcast stream limiter)
adapts=(0 10 25 35 50 51 65 80 100)
rates=(8000 11025 22050 44100 48000 96000 192000 384000)
hostile=(noise hot-noise square sweep impulses dc nonfinite denormal loud-silence)

# The cases, one a line: signal rate channels mode adapt. Consecutive cases
# share their input where they can.
list_cases() {
  local i=0 r m s mode channels
  for channels in 2 1; do
    [ "$quick" = 0 ] || [ "$channels" = 2 ] || continue
    for mode in "${modes[@]}"; do
      for adapt in "${adapts[@]}"; do
        echo "programme 48000 $channels $mode $adapt"
      done
    done
  done
  # --quick keeps, of each rate (or signal) and mode, mono or stereo in turn.
  for r in "${!rates[@]}"; do
    for channels in 1 2; do
      for m in "${!modes[@]}"; do
        i=$((i + 1))
        [ "$quick" = 0 ] || [ $(((r + m) % 2 + 1)) = "$channels" ] || continue
        echo "programme ${rates[r]} $channels ${modes[m]} ${adapts[i % ${#adapts[@]}]}"
      done
    done
  done
  i=0
  for s in "${!hostile[@]}"; do
    for channels in 2 1; do
      for m in "${!modes[@]}"; do
        i=$((i + 1))
        [ "$quick" = 0 ] || [ $(((s + m) % 2 + 1)) = "$channels" ] || continue
        echo "${hostile[s]} ${rates[i % ${#rates[@]}]} $channels ${modes[m]} ${adapts[i * 4 % ${#adapts[@]}]}"
      done
    done
  done
}

if [ "$list_only" = 1 ]; then
  list_cases
  exit 0
fi

hash=$(resolve_revision "$rev")
echo "REV           $rev = $(describe_revision "$hash")"
echo "working tree  $(describe_worktree)"
echo "building (logs in build-compare/logs/) ..."
work_linux=$(build_worktree native)
rev_linux=$(build_revision "$hash" native)
work_windows=""
[ "$windows" = 0 ] || work_windows=$(build_worktree windows)
signal=$(signal_program)
pcm_diff=$(diff_program)

scratch=$(mktemp -d)
trap 'stop_wine; rm -rf "$scratch"' EXIT
[ "$windows" = 0 ] || start_wine
results="$scratch/results"
: >"$results"

# run_case SIGNAL RATE CHANNELS MODE ADAPT: runs the programs in parallel,
# appends the comparisons to the results and prints one progress character:
# . identical, d differs within the bound, X a failure.
input_key=""
run_case() {
  local kind=$1 rate=$2 channels=$3 mode=$4 adapt=$5
  local input="$scratch/input.f32"
  if [ "$input_key" != "$kind $rate $channels" ]; then
    "$signal" "$kind" "$rate" "$channels" "$seconds" >"$input"
    input_key="$kind $rate $channels"
  fi
  local args=(--mode "$mode" --rate "$rate" --channels "$channels" --adapt "$adapt")
  local rev_status=0 work_status=0 win_status=0 rev_pid work_pid win_pid=""
  "$rev_linux" "${args[@]}" <"$input" >"$scratch/rev.out" 2>/dev/null &
  rev_pid=$!
  "$work_linux" "${args[@]}" <"$input" >"$scratch/work.out" 2>/dev/null &
  work_pid=$!
  if [ "$windows" = 1 ]; then
    timeout 600 wine "$work_windows" "${args[@]}" <"$input" >"$scratch/win.out" 2>/dev/null &
    win_pid=$!
  fi
  wait "$rev_pid" || rev_status=$?
  wait "$work_pid" || work_status=$?
  [ -z "$win_pid" ] || wait "$win_pid" || win_status=$?
  local line mark="." case="$mode $adapt $rate $channels $kind"
  line="rev $case $rev_status $work_status $("$pcm_diff" --bound "$bound" "$scratch/rev.out" "$scratch/work.out")"
  echo "$line" >>"$results"
  classify "$line"
  if [ "$windows" = 1 ]; then
    line="win $case $work_status $win_status $("$pcm_diff" --bound "$bound" "$scratch/work.out" "$scratch/win.out")"
    echo "$line" >>"$results"
    classify "$line"
  fi
  printf '%s' "$mark"
}

# Sets mark from one result line (a failure wins over a difference).
classify() {
  local fields
  read -r -a fields <<<"$1"
  if [ "${fields[6]}" != 0 ] || [ "${fields[7]}" != 0 ] || [ "${fields[8]#*=}" != "${fields[9]#*=}" ] ||
    [ "${fields[12]#*=}" != 0 ]; then
    mark=X
  elif [ "${fields[11]#*=}" != 0 ] && [ "$mark" = . ]; then
    mark=d
  fi
}

started=$SECONDS
mapfile -t cases < <(list_cases)
echo
echo "${#cases[@]} cases of $seconds s; . identical, d differs within $bound, X failure"
count=0
for c in "${cases[@]}"; do
  # shellcheck disable=SC2086  # the fields of a case
  run_case $c
  count=$((count + 1))
  [ $((count % 60)) != 0 ] || printf ' %d\n' "$count"
done
echo
echo "($((SECONDS - started)) s)"

python3 - "$results" "$bound" "$exact" "$rev (${hash:0:7})" <<'PY'
import sys

path, bound, exact, rev_label = sys.argv[1], float(sys.argv[2]), sys.argv[3] == "1", sys.argv[4]
rows = {"rev": [], "win": []}
for line in open(path):
    f = line.split()
    values = dict(item.split("=") for item in f[8:])
    rows[f[0]].append({
        "mode": f[1], "adapt": f[2], "rate": int(f[3]), "channels": int(f[4]), "signal": f[5],
        "status": (int(f[6]), int(f[7])),
        "bytes": (int(values["bytes_a"]), int(values["bytes_b"])),
        "samples": int(values["samples"]), "differing": int(values["differing"]),
        "over": int(values["over"]), "max": float(values["max"]),
        "first": int(values["first"]), "worst": int(values["worst"]),
    })

def where(r, index):
    frame, channel = divmod(index, r["channels"])
    side = "" if r["channels"] == 1 else (" left", " right")[channel]
    return f"{frame / r['rate']:.4f} s{side}"

def name(r):
    layout = "stereo" if r["channels"] == 2 else "mono"
    return f"{r['mode']:7} adapt {r['adapt']:>3}, {r['rate']:>6} Hz {layout:6} {r['signal']}"

def report(title, rows, names, exact_counts):
    if not rows:
        return []
    print(f"\n== {title}")
    print(f"{'mode':8} {'cases':>5} {'samples':>12} {'differing':>10} {'over ' + format(bound, 'g'):>10}"
          f" {'largest |difference|':>21}")
    for mode in ("podcast", "stream", "limiter"):
        of = [r for r in rows if r["mode"] == mode]
        if not of:
            continue
        differing = sum(r["differing"] for r in of)
        note = ""
        if mode == "limiter":
            note = "   bit-identical: " + ("yes" if differing == 0 and
                                           all(r["bytes"][0] == r["bytes"][1] for r in of) else "no")
        print(f"{mode:8} {len(of):5} {sum(r['samples'] for r in of):12} {differing:10}"
              f" {sum(r['over'] for r in of):10} {max(r['max'] for r in of):21.3g}{note}")
    failures = []
    for r in rows:
        if r["status"] != (0, 0):
            failures.append(f"{name(r)}: exit status {names[0]} {r['status'][0]}, "
                            f"{names[1]} {r['status'][1]}")
        elif r["bytes"][0] != r["bytes"][1]:
            failures.append(f"{name(r)}: lengths differ, {names[0]} {r['bytes'][0]} bytes, "
                            f"{names[1]} {r['bytes'][1]} bytes")
        elif r["over"]:
            failures.append(f"{name(r)}: {r['over']} samples differ by more than {bound:g}")
        elif exact_counts and r["differing"]:
            failures.append(f"{name(r)}: {r['differing']} samples differ (--exact)")
    worst = sorted((r for r in rows if r["differing"]), key=lambda r: (-r["max"], -r["differing"]))
    if worst:
        print(f"cases that differ: {len(worst)} of {len(rows)}; the largest differences:")
        for r in worst[:8]:
            print(f"  {name(r)}: {r['differing']} samples, largest {r['max']:.3g} at "
                  f"{where(r, r['worst'])}, first at {where(r, r['first'])}")
    return failures

failures = report(f"working tree against {rev_label}", rows["rev"], (rev_label, "working tree"), exact)
failures += report("Windows build under Wine against the Linux build (working tree)", rows["win"],
                   ("Linux", "Windows"), True)
print()
if failures:
    print(f"FAILED: {len(failures)} cases")
    for line in failures[:20]:
        print("  " + line)
    if len(failures) > 20:
        print(f"  ... and {len(failures) - 20} more")
    sys.exit(1)
print("passed: no difference above %g%s, all lengths equal" %
      (bound, ", no bit differs" if exact else ""))
PY
