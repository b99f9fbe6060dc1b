#!/bin/sh
# Builds the libFuzzer targets with clang (separate from the CMake build, which needs only g++).
# Usage: fuzz/build.sh [output directory]   then e.g.  <out>/json_fuzz -max_total_time=600 <corpus dir>
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/build-fuzz"}
mkdir -p "$out"
CXX=${CXX:-clang++}
"$CXX" -std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root" "$root/platformlib/json/parser.cpp" "$root/fuzz/json_fuzz.cpp" -o "$out/json_fuzz"
echo "$out/json_fuzz"
