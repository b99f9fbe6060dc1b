#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the client need.
# Quick when all of them are present already.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git
  # windowing, OpenGL, images, sound, HTTP
  libglfw3-dev libglew-dev libpng-dev zlib1g-dev libglm-dev
  libopenal-dev libopenal1 libvorbis-dev libcurl4-openssl-dev libx11-dev
  # the web engine: HTML and CSS layout, drawing, font rasterising, the system's fonts, and the fonts its
  # tests read and it falls back to
  liblitehtml-dev libgumbo-dev libcairo2-dev libfreetype-dev libfontconfig-dev fonts-liberation
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev rapidjson-dev libcpp-httplib-dev
  # the network namespace the tests of the fixed ports run in
  iproute2
  # running under a virtual display, screenshots, clicks through the input test extension, the local asset
  # server
  xvfb xauth libgl1-mesa-dri x11-apps imagemagick python3 libxtst-dev
  # the user interface's fonts, copied into content/data/ui/shared/font/ from this package
  fonts-liberation
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
