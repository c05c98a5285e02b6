#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need, when they are missing.
# Safe to run again: it only calls apt-get when something is absent.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libopenimageio-dev openimageio-tools ffmpeg opencv-doc
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 libxml2-utils
  clang libclang-rt-14-dev clang-format
  libdeflate-dev pngcheck libcli11-dev dpkg-dev help2man
  libopencolorio-dev libopencv-dev
)
# The plate benchmark (bench/plate-bench.sh) also times peers, and the divergence study
# (bench/divergence-study.py) scores plates with numpy; only `setup.sh --bench` adds them.
if [[ "${1:-}" == "--bench" ]]; then packages+=(hyperfine ffmpeg imagemagick time python3-numpy); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
else
  echo "setup: all packages present"
fi
