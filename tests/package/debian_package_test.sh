#!/usr/bin/env bash
# The Debian packages as a user gets them (vantle with the program and the
# LV2 plugin, libvantle-tonbrel1, libvantle-tonbrel-dev and, where the build
# has it, vantle-master): built by cpack
# from a configured Linux build, checked by lintian (no errors; warnings are
# printed), installed on this machine with apt-get, each installed thing used
# once, then purged, and nothing of them may be left. Needs root (it installs
# and removes packages).
#
#   tests/package/debian_package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: debian_package_test.sh BUILD_DIR}" && pwd)
started=$SECONDS
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "-- $*"; }

packages=(vantle libvantle-tonbrel1 libvantle-tonbrel-dev)
[ ! -x "$build/master/vantle-master" ] || packages+=(vantle-master)
step "cpack"
rm -f "$build"/packages/*.deb
(cd "$build" && cpack -G DEB >/dev/null 2>&1)
version=$(sed -n 's/^#define VANTLE_VERSION "\(.*\)"$/\1/p' "$build/generated/vantle_version.h")
debs=()
for p in "${packages[@]}"; do
  deb="$build/packages/${p}_${version}_amd64.deb"
  [ -f "$deb" ] || fail "cpack made no $(basename "$deb")"
  echo "$(basename "$deb"):"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print "   " $6}'
  debs+=("$deb")
done
[ "$(find "$build/packages" -name '*.deb' | wc -l)" = "${#packages[@]}" ] ||
  fail "cpack made other packages too"

step "lintian"
# Info: the .comment sections GCC writes, which Debian's own builds strip.
report=$(lintian --allow-root -L '>=info' "${debs[@]}" 2>&1 | grep -v 'unneeded-section.* \.comment' || true)
[ -z "$report" ] || echo "$report"
if grep -q '^E: ' <<<"$report"; then fail "lintian reports errors"; fi

step "apt-get install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${debs[@]}" >/dev/null
installed=()
for p in "${packages[@]}"; do
  [ "$(dpkg-query -W -f '${Status}' "$p")" = "install ok installed" ] || fail "$p not installed"
  mapfile -t -O "${#installed[@]}" installed < <(dpkg-query -L "$p")
done

step "vantle-tonbrel --version"
line=$(/usr/bin/vantle-tonbrel --version)
[ "$line" = "vantle-tonbrel $version" ] || fail "version line '$line', package $version"

step "one second of audio"
python3 - <<'PY'
import math, struct, subprocess
frames = 48000
samples = [1.4 * math.sin(2 * math.pi * 997 * n / 48000) for n in range(frames) for _ in range(2)]
raw = struct.pack("<%df" % len(samples), *samples)
out = subprocess.run(["vantle-tonbrel", "--mode", "stream", "--rate", "48000"], input=raw,
                     capture_output=True, check=True).stdout
assert len(out) == len(raw), (len(out), len(raw))
peak = max(abs(x) for x in struct.unpack("<%df" % len(samples), out))
assert 0.1 < peak < 0.98855, peak
print("   %d frames in, %d out, peak %.5f" % (frames, len(out) // 8, peak))
PY

step "man -w vantle-tonbrel"
page=$(man -w vantle-tonbrel)
[ "$page" = /usr/share/man/man1/vantle-tonbrel.1.gz ] || fail "man page at '$page'"
man -P cat vantle-tonbrel 2>/dev/null | grep -q -- "--adapt" || fail "man page does not render"

step "bash completion"
words=$(bash -c 'source /usr/share/bash-completion/completions/vantle-tonbrel
COMP_WORDS=(vantle-tonbrel --mode ""); COMP_CWORD=2; _vantle_tonbrel; echo "${COMPREPLY[*]}"')
[ "$words" = "podcast stream limiter" ] || fail "completion after --mode gives '$words'"

step "docs"
for f in README.md copyright changelog.gz; do
  [ -s "/usr/share/doc/vantle/$f" ] || fail "no /usr/share/doc/vantle/$f"
done
for p in libvantle-tonbrel1 libvantle-tonbrel-dev; do
  for f in copyright changelog.gz; do
    [ -s "/usr/share/doc/$p/$f" ] || fail "no /usr/share/doc/$p/$f"
  done
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
python3 -c "
import math, struct, sys
s = [1.2 * math.sin(2 * math.pi * 331 * n / 48000) * math.sin(n / 9000) for n in range(96000)]
sys.stdout.buffer.write(struct.pack('<%df' % len(s), *s))" >"$scratch/in.f32"
vantle-tonbrel --mode stream --adapt 40 --rate 48000 <"$scratch/in.f32" >"$scratch/cli.f32"

step "the plugin, found by the hosts where the package puts it"
uri=https://vantle.example.com/plugins/tonbrel/stereo
lv2ls | grep -qx "$uri" || fail "lv2ls does not list $uri"
(unset LV2_PATH; ffmpeg -v error -f f32le -ar 48000 -ac 2 -i "$scratch/in.f32" \
  -af "lv2=p='${uri/:/\\:}':c=mode=1|adapt=40" -f f32le "$scratch/lv2.f32") || fail "ffmpeg's lv2 filter"
cmp -s "$scratch/cli.f32" "$scratch/lv2.f32" || fail "the installed plugin differs from vantle-tonbrel"

step "a C program built with pkg-config against the installed library"
cat >"$scratch/app.c" <<'C'
#include <stdio.h>
#include <vantle-tonbrel.h>
int main(void) {
  static float buffer[2 * 1000];
  vantle_tonbrel* stream = vantle_tonbrel_create(48000.0);
  if (!stream || vantle_tonbrel_apply(stream, VANTLE_TONBREL_STREAM, 40.0, 0.0) != VANTLE_TONBREL_OK) return 1;
  size_t n;
  while ((n = fread(buffer, 8, 1000, stdin)) > 0) {
    if (vantle_tonbrel_process(stream, buffer, n, 2) != VANTLE_TONBREL_OK) return 2;
    fwrite(buffer, 8, n, stdout);
  }
  vantle_tonbrel_destroy(stream);
  return 0;
}
C
# shellcheck disable=SC2046
cc -o "$scratch/app" "$scratch/app.c" $(pkg-config --cflags --libs vantle-tonbrel) || fail "cc app.c"
"$scratch/app" <"$scratch/in.f32" >"$scratch/app.f32" || fail "the C program failed"
cmp -s "$scratch/cli.f32" "$scratch/app.f32" || fail "the installed library differs from vantle-tonbrel"

if [[ " ${packages[*]} " == *" vantle-master "* ]]; then
  step "vantle-master: its man page, and a WAV delivered as FLAC at the podcast target"
  [ "$(vantle-master --version)" = "vantle-master $version" ] || fail "vantle-master --version"
  man -P cat vantle-master 2>/dev/null | grep -q -- "--true-peak" || fail "vantle-master's man page"
  for f in copyright changelog.gz; do
    [ -s "/usr/share/doc/vantle-master/$f" ] || fail "no /usr/share/doc/vantle-master/$f"
  done
  ffmpeg -v error -f f32le -ar 48000 -ac 2 -i "$scratch/in.f32" -c:a pcm_s16le "$scratch/in.wav"
  vantle-master -q --target podcast --report "$scratch/r.json" "$scratch/in.wav" \
    "$scratch/out.flac" || fail "vantle-master failed"
  python3 -c "import json, sys; d = json.load(open(sys.argv[1])); sys.exit(abs(d['after']['integrated_lufs'] + 16) > 0.5 and d['decided_by'] != 'true-peak limit')" \
    "$scratch/r.json" || fail "vantle-master missed the podcast target"
fi

step "apt-get purge"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null
for p in "${packages[@]}"; do
  if dpkg-query -W -f '${Status}' "$p" 2>/dev/null | grep -q installed; then fail "$p still installed"; fi
  [ ! -e "/usr/share/doc/$p" ] || fail "left behind: /usr/share/doc/$p"
done
for path in "${installed[@]}"; do
  if [ -f "$path" ] || [ -L "$path" ]; then fail "left behind: $path"; fi
done

echo "debian package test: ${#installed[@]} paths in ${#packages[@]} packages installed and purged, $((SECONDS - started)) s"
echo "1 passed, 0 failed"
