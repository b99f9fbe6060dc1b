#!/bin/sh
# Builds the libFuzzer targets (fuzz/*_fuzz.cpp) with clang, with the address and undefined-behaviour
# sanitizers, in a tree of their own; the normal build needs only g++.
# Usage: fuzz/build.sh [build directory]   then e.g.  <dir>/fuzz/json_fuzz -max_total_time=600 <corpus dir>
# The image target's seed corpus (one valid image of each kind) is written to <dir>/image-corpus, the web
# engine's (pages with @import cycles and fan-outs among others) to <dir>/webengine-corpus with its
# dictionary <dir>/webengine-corpus.dict (-dict=...). Give corpus directories as absolute paths: some
# targets work in a temporary directory of their own.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/build-fuzz"}
cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DTAVRIX_SANITIZE=address,undefined -DTAVRIX_FUZZ=ON >/dev/null
targets=$(cd "$root/fuzz" && ls *_fuzz.cpp | sed 's/\.cpp$//')
cmake --build "$out" --target $targets
python3 "$root/fuzz/image_seeds.py" "$out/image-corpus"
python3 "$root/fuzz/webengine_seeds.py" "$out/webengine-corpus"
for t in $targets; do echo "$out/fuzz/$t"; done
