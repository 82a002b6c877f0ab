#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests or the demo
# need and this machine lacks. Usage: deps.sh native|plugin|master|windows|package|fuzz|demo ...
set -euo pipefail
need=()
have() { command -v "$1" >/dev/null 2>&1; }
for what in "$@"; do
  case "$what" in
    native)
      have cmake || need+=(cmake)
      have g++ || need+=(g++)
      have python3 || need+=(python3)
      [ -d /usr/src/googletest ] || need+=(googletest)
      [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
      ;;
    plugin)
      # The LV2 plugin, its schemas and validator, the hosts it is tested
      # in, and pkg-config for the library's test.
      [ -f /usr/include/lv2/core/lv2.h ] || need+=(lv2-dev)
      [ -f /usr/include/lilv-0/lilv/lilv.h ] || need+=(liblilv-dev)
      have lv2apply || need+=(lilv-utils)
      have sord_validate || need+=(sordi)
      have ffmpeg || need+=(ffmpeg)
      have pkg-config || need+=(pkg-config)
      have cc || need+=(gcc)
      ;;
    master)
      # vantle-master: the FFmpeg libraries, libebur128, the ffmpeg program
      # its tests make files with and measure them by, the renderer its plot
      # is drawn with in the tests, and GNU parallel for batches.
      for lib in libavformat libavcodec libswresample libavutil; do
        [ -f "/usr/include/x86_64-linux-gnu/$lib/version.h" ] || [ -f "/usr/include/$lib/version.h" ] ||
          need+=("$lib-dev")
      done
      [ -f /usr/include/ebur128.h ] || need+=(libebur128-dev)
      have pkg-config || need+=(pkg-config)
      have ffmpeg || need+=(ffmpeg)
      have rsvg-convert || need+=(librsvg2-bin)
      have parallel || need+=(parallel)
      ;;
    windows)
      have x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix)
      have wine || need+=(wine wine64)
      have Xvfb || need+=(xvfb)
      have xdotool || need+=(xdotool)
      [ -d /usr/src/googletest ] || need+=(googletest)
      ;;
    fuzz)
      have clang++ || need+=(clang)
      compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null ||
        need+=(libclang-rt-14-dev)
      ;;
    package)
      have scdoc || need+=(scdoc)
      have lintian || need+=(lintian)
      have man || need+=(man-db)
      have dpkg-shlibdeps || need+=(dpkg-dev)
      have file || need+=(file)
      ;;
    demo)
      have espeak-ng || need+=(espeak-ng)
      have sox || need+=(sox)
      ;;
  esac
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
