#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, headless, with the
# settings that keep Wine quiet and predictable:
#   - a prefix of our own (VANTLE_WINEPREFIX, or one per user under /tmp),
#     created once and kept warm by a persistent wineserver;
#   - no debugger popping up for a crashing child (winedbg disabled), no
#     .NET or HTML engine installs;
#   - a UTF-8 locale, without which non-ASCII arguments are mangled.
set -u
prefix="${VANTLE_WINEPREFIX:-/tmp/vantle-wine-$(id -u)}"
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
if [ ! -f "$prefix/.vantle-ready" ]; then
  mkdir -p "$prefix"
  (
    flock 9
    if [ ! -f "$prefix/.vantle-ready" ]; then
      wineboot -i >/dev/null 2>&1
      wineserver -w
      touch "$prefix/.vantle-ready"
    fi
  ) 9>"$prefix.lock"
fi
# Keep the server alive between calls so each call takes a fraction of a second.
wineserver -p </dev/null >/dev/null 2>&1
# The first program after a server start also starts Wine's background
# services, which inherit that program's stdout and stderr: a caller reading
# them through a pipe would then wait for ever. A throw-away call with quiet
# descriptors starts them first (about 0.1 s when they are already up).
wine cmd /c exit </dev/null >/dev/null 2>&1
exec wine "$@"
