# Shared by bench/compare.sh and bench/compare_sound.sh (sourced, not run):
# builds vantle-tonbrel of a git revision and of the working tree, natively
# and for Windows, and runs Windows programs under Wine.
#
# Everything lives in build-compare/ at the top of the working tree:
#   build-compare/<commit>/src        the revision's files (git archive)
#   build-compare/<commit>/build      its native Release build
#   build-compare/<commit>/build-win  its Windows x64 build
#   build-compare/worktree[-win]      the working tree's builds
#   build-compare/logs/               the build logs
#   build-compare/wineprefix          the Wine prefix of these scripts
# A revision's files never change, so a later call reuses its build as it is;
# the working tree's builds are brought up to date on every call. Remove
# build-compare/ to start afresh: nothing outside it refers to it.
# shellcheck shell=bash

bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
compare_dir="$bench_root/build-compare"
build_jobs="${JOBS:-2}"

die() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

# The commit REV names, as a full hash.
resolve_revision() {
  git -C "$bench_root" rev-parse --verify --quiet "$1^{commit}" || die "not a commit: $1"
}

# One line saying what REV is: short hash and subject.
describe_revision() {
  git -C "$bench_root" log -1 --format='%h %s' "$1" | cut -c1-72
}

# What the working tree is: its commit, and whether files differ from it.
describe_worktree() {
  local dirty=""
  [ -z "$(git -C "$bench_root" status --porcelain --untracked-files=no)" ] ||
    dirty=" + uncommitted changes"
  echo "$(git -C "$bench_root" log -1 --format=%h HEAD)$dirty"
}

# logged LOG COMMAND...: runs a build step with its output in LOG; on failure
# shows the end of the log and stops.
logged() {
  local log=$1
  shift
  if ! "$@" >>"$log" 2>&1; then
    tail -n 25 "$log" >&2
    die "failed: $* (whole log: $log)"
  fi
}

# cmake_build SOURCE BUILD LOG windows|native TARGET...: configures once,
# then builds the targets.
cmake_build() {
  local source=$1 build=$2 log=$3 platform=$4
  shift 4
  local configure=(-DCMAKE_BUILD_TYPE=Release -DVANTLE_TESTS=OFF)
  if [ "$platform" = windows ]; then
    command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
      die "no mingw-w64 compiler: scripts/deps.sh windows installs it"
    local toolchain="$source/cmake/mingw-w64-x86_64.cmake"
    # A revision from before the toolchain file builds with today's.
    [ -f "$toolchain" ] || toolchain="$bench_root/cmake/mingw-w64-x86_64.cmake"
    configure+=("-DCMAKE_TOOLCHAIN_FILE=$toolchain")
  fi
  [ -f "$build/CMakeCache.txt" ] || logged "$log" cmake -S "$source" -B "$build" "${configure[@]}"
  logged "$log" cmake --build "$build" -j"$build_jobs" --target "$@"
}

# build_revision HASH native|windows: builds the revision's vantle-tonbrel and
# prints the program's path. Two scripts building the same revision at once
# take turns.
build_revision() {
  local hash=$1 platform=$2
  local dir="$compare_dir/$hash"
  local build="$dir/build" program="$dir/build/tool/vantle-tonbrel"
  if [ "$platform" = windows ]; then
    build="$dir/build-win"
    program="$dir/build-win/tool/vantle-tonbrel.exe"
  fi
  mkdir -p "$compare_dir/logs"
  local log="$compare_dir/logs/$hash-$platform.log"
  (
    flock 9
    if [ ! -f "$dir/src/.exported" ]; then
      rm -rf "$dir/src"
      mkdir -p "$dir/src"
      git -C "$bench_root" archive "$hash" | tar -x -C "$dir/src" || die "cannot export $hash"
      echo "$hash" >"$dir/src/.exported"
    fi
    cmake_build "$dir/src" "$build" "$log" "$platform" vantle-tonbrel
  ) 9>"$dir.lock" || exit 1
  [ -x "$program" ] || die "the build of $hash left no $program"
  echo "$program"
}

# build_worktree native|windows: builds the working tree's vantle-tonbrel
# (and natively the signal and comparison helpers) and prints the program's
# path; the helpers are beside it in .../bench/.
build_worktree() {
  local platform=$1
  mkdir -p "$compare_dir/logs"
  local log="$compare_dir/logs/worktree-$platform.log"
  : >"$log"
  if [ "$platform" = windows ]; then
    cmake_build "$bench_root" "$compare_dir/worktree-win" "$log" windows vantle-tonbrel
    echo "$compare_dir/worktree-win/tool/vantle-tonbrel.exe"
  else
    cmake_build "$bench_root" "$compare_dir/worktree" "$log" native \
      vantle-tonbrel vantle-signal vantle-pcm-diff
    echo "$compare_dir/worktree/tool/vantle-tonbrel"
  fi
}

# The helpers built by build_worktree native.
signal_program() { echo "$compare_dir/worktree/bench/vantle-signal"; }
diff_program() { echo "$compare_dir/worktree/bench/vantle-pcm-diff"; }

# start_wine: prepares Wine for direct `wine PROGRAM.exe` calls. The settings
# are those of scripts/wine-run.sh, which creates the prefix and starts the
# server; calling `wine` directly afterwards keeps the wrapper's own start-up
# steps out of timings. The server is stopped on exit unless the caller chose
# the prefix (VANTLE_WINEPREFIX), which may then be shared.
wine_owned=0
start_wine() {
  command -v wine >/dev/null || die "no Wine: scripts/deps.sh windows installs it"
  if [ -z "${VANTLE_WINEPREFIX:-}" ]; then
    export VANTLE_WINEPREFIX="$compare_dir/wineprefix"
    wine_owned=1
  fi
  export WINEPREFIX="$VANTLE_WINEPREFIX" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" LANG=C.UTF-8 LC_ALL=C.UTF-8
  timeout 300 "$bench_root/scripts/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 ||
    die "Wine does not start (prefix $VANTLE_WINEPREFIX)"
}

stop_wine() {
  if [ "$wine_owned" = 1 ]; then
    wineserver -k >/dev/null 2>&1 || true
    wine_owned=0
  fi
}
