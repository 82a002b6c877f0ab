#!/usr/bin/env bash
# The Windows zip as a user gets it: built by cpack from the configured
# Windows cross build, holding the two programs, the C library's DLL and
# header, and the README and the licence as Windows text files; both
# programs' version resources give the project version, and the DLL exports
# the library's calls and needs nothing but Windows itself.
#
#   tests/package/windows_zip_test.sh BUILD_WIN_DIR
set -euo pipefail
build=$(cd "${1:?usage: windows_zip_test.sh BUILD_WIN_DIR}" && pwd)
windres=${WINDRES:-x86_64-w64-mingw32-windres}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
version=$(sed -n 's/^#define VANTLE_VERSION "\(.*\)"$/\1/p' "$build/generated/vantle_version.h")
[ -n "$version" ] || fail "no project version in $build/generated/vantle_version.h"
IFS=. read -r major minor patch <<<"$version"

rm -f "$build"/packages/vantle-*-win64.zip
(cd "$build" && cpack -G ZIP >/dev/null)
zip="$build/packages/vantle-$version-win64.zip"
[ -f "$zip" ] || fail "cpack made no $(basename "$zip")"

# Contents, line ends, and the programs themselves out of the zip.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
python3 - "$zip" "vantle-$version-win64" "$scratch" <<'PY'
import sys, zipfile
path, folder, out = sys.argv[1:]
with zipfile.ZipFile(path) as z:
    names = sorted(n for n in z.namelist() if not n.endswith("/"))
    for info in z.infolist():
        print("   %8d  %s" % (info.file_size, info.filename))
    want = sorted("%s/%s" % (folder, n) for n in
                  ("LICENSE.txt", "README.txt", "VantleCast.exe", "vantle-tonbrel.exe",
                   "vantle-tonbrel.dll", "vantle-tonbrel.h"))
    assert names == want, names
    for name in ("README.txt", "LICENSE.txt"):
        text = z.read("%s/%s" % (folder, name))
        assert text.count(b"\n") > 3 and text.count(b"\n") == text.count(b"\r\n"), name
    z.extractall(out)
PY

for exe in vantle-tonbrel.exe VantleCast.exe; do
  rc=$("$windres" -i "$scratch/vantle-$version-win64/$exe" -O rc)
  grep -q "FILEVERSION $major, $minor, $patch, " <<<"$rc" || fail "$exe: file version is not $version"
  grep -q "VALUE \"ProductVersion\", \"$version\"" <<<"$rc" || fail "$exe: product version is not $version"
  grep -q "VALUE \"FileVersion\", \"$version\.[0-9]*\"" <<<"$rc" || fail "$exe: file version text"
done
dll="$scratch/vantle-$version-win64/vantle-tonbrel.dll"
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
exports=$(grep -o '\] vantle_tonbrel_[a-z_]*' <<<"$dump" | sed 's/^\] //' | sort | tr '\n' ' ')
header=$(grep -o '^VANTLE_TONBREL_API [^(]*(' "$scratch/vantle-$version-win64/vantle-tonbrel.h" |
  grep -o 'vantle_tonbrel_[a-z_]*' | sort | tr '\n' ' ')
[ -n "$exports" ] && [ "$exports" = "$header" ] || fail "the DLL exports '$exports', the header declares '$header'"
imports=$(grep 'DLL Name:' <<<"$dump" | awk '{print $3}' | sort | tr '\n' ' ')
[ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "the DLL needs more than Windows: $imports"

echo "windows zip test: $(basename "$zip") holds the programs of version $version"
echo "1 passed, 0 failed"
