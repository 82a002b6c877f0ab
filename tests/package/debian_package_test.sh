#!/usr/bin/env bash
# The Debian package as a user gets it: built by cpack from a configured Linux
# build, checked by lintian (no errors; warnings are printed), installed on
# this machine with apt-get, each installed thing used once, then purged, and
# nothing of it may be left. Needs root (it installs and removes a package).
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

step "cpack"
rm -f "$build"/packages/vantle_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/packages/vantle_*_amd64.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single vantle_*_amd64.deb"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "vantle_${version}_amd64.deb" ] || fail "package file name $(basename "$deb")"
dpkg-deb -c "$deb"

step "lintian"
report=$(lintian --allow-root -L '>=info' "$deb" 2>&1 || true)
[ -z "$report" ] || echo "$report"
if grep -q '^E: ' <<<"$report"; then fail "lintian reports errors"; fi

step "apt-get install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
[ "$(dpkg-query -W -f '${Status}' vantle)" = "install ok installed" ] || fail "not installed"
mapfile -t installed < <(dpkg-query -L vantle)

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

step "apt-get purge"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq vantle >/dev/null
if dpkg-query -W -f '${Status}' vantle 2>/dev/null | grep -q installed; then fail "still installed"; fi
for path in "${installed[@]}"; do
  if [ -f "$path" ] || [ -L "$path" ]; then fail "left behind: $path"; fi
done
[ ! -e /usr/share/doc/vantle ] || fail "left behind: /usr/share/doc/vantle"

echo "debian package test: ${#installed[@]} paths installed and purged, $((SECONDS - started)) s"
echo "1 passed, 0 failed"
