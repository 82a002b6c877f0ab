#!/usr/bin/env bash
# Speed of the working tree's vantle-tonbrel against a git revision's:
#
#   bench/compare.sh REV [--seconds 60] [--runs 3] [--modes podcast,stream,limiter]
#                        [--adapts 0,50,100] [--windows | --windows-only | --linux-only]
#
# e.g. bench/compare.sh HEAD~1 --runs 5
#
# Builds REV (in build-compare/, reused later) and the working tree, makes a
# 48 kHz stereo programme (speech with pauses, dense music, loud noise,
# silence), then for every mode and adapt times the whole process
#   vantle-tonbrel --mode M --rate 48000 --adapt A < programme > /dev/null
# N times per program, REV and working tree taking turns. Prints the realtime
# factor (audio seconds per CPU second, user + sys) from the best and from the
# median run of each, and working tree / REV (above 1: the working tree is
# faster). --windows adds the same for the two Windows builds under Wine, whose
# start-up is part of every process; its CPU cost is printed too (`--version`).
# --windows-only times only those, --linux-only (the default) only the Linux ones.
set -euo pipefail
# shellcheck source=bench/revision.sh
source "$(dirname "$0")/revision.sh"

usage() {
  sed -n '4,5p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

[ $# -ge 1 ] || usage
rev=$1
shift
seconds=60
runs=3
modes=podcast,stream,limiter
adapts=0,50,100
linux=1
windows=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=${2:?}; shift ;;
    --runs) runs=${2:?}; shift ;;
    --modes) modes=${2:?}; shift ;;
    --adapts) adapts=${2:?}; shift ;;
    --windows) linux=1; windows=1 ;;
    --windows-only) linux=0; windows=1 ;;
    --linux-only) linux=1; windows=0 ;;
    -h | --help) usage ;;
    *) echo "compare.sh: unknown option $1" >&2; usage ;;
  esac
  shift
done
[[ "$seconds" =~ ^[0-9]+(\.[0-9]+)?$ ]] || die "--seconds wants a number"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || die "--runs wants a positive whole number"

hash=$(resolve_revision "$rev")
echo "REV           $rev = $(describe_revision "$hash")"
echo "working tree  $(describe_worktree)"
echo "building (logs in build-compare/logs/) ..."
work_linux=$(build_worktree native)
rev_linux=""
[ "$linux" = 0 ] || rev_linux=$(build_revision "$hash" native)
if [ "$windows" = 1 ]; then
  rev_windows=$(build_revision "$hash" windows)
  work_windows=$(build_worktree windows)
fi

scratch=$(mktemp -d)
trap 'stop_wine; rm -rf "$scratch"' EXIT
programme="$scratch/programme.f32"
"$(signal_program)" programme 48000 2 "$seconds" >"$programme"

timing=(--input "$programme" --seconds "$seconds" --rate 48000 --runs "$runs"
  --modes "$modes" --adapts "$adapts")
rev_label="$rev (${hash:0:7})"
echo
echo "$seconds s of 48 kHz stereo programme; runs of each program: $runs, taking turns."
echo "Realtime factor = audio seconds / CPU seconds (user + sys of the process), from"
echo "the best and from the median run; ratio = working tree / REV (above 1: faster)."
if [ "$linux" = 1 ]; then
  echo
  echo "== Linux"
  python3 "$bench_root/bench/cpu_times.py" "${timing[@]}" --startup \
    "$rev_label=$rev_linux" "working tree=$work_linux"
fi
if [ "$windows" = 1 ]; then
  start_wine
  echo
  echo "== Windows x64 under Wine (Wine's start-up included in every run)"
  python3 "$bench_root/bench/cpu_times.py" "${timing[@]}" --startup --wine \
    "$rev_label=$rev_windows" "working tree=$work_windows"
fi
