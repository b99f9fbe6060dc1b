#!/bin/sh
# Builds the meta-database reader's libFuzzer target with clang. The reader runs inside the whole content
# store, so the target links the platform library and the client's modules (all but the program entry).
# Usage: fuzz/build_vfsmeta.sh [output directory]   then e.g.  <out>/vfsmeta_fuzz -max_total_time=600 <corpus dir>
# The target works in a temporary directory of its own, so give the corpus directory as an absolute path.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/build-fuzz"}
rm -rf "$out/vfsmeta-objects"
mkdir -p "$out/vfsmeta-objects"
CXX=${CXX:-clang++}
flags="-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -mcx16 -I$root -fmacro-prefix-map=$root/="
cd "$root"
find platformlib client -name '*.cpp' ! -path client/main.cpp | while read -r src; do
    echo "$src"
done | xargs -P "$(nproc)" -I{} sh -c "$CXX $flags -c {} -o \"$out/vfsmeta-objects/\$(echo {} | tr / _).o\""
"$CXX" $flags -fsanitize=fuzzer "$root/fuzz/vfsmeta_fuzz.cpp" "$out"/vfsmeta-objects/*.o \
    $(pkg-config --libs glfw3 glew libcurl gl) -lpthread -ldl -latomic -o "$out/vfsmeta_fuzz"
echo "$out/vfsmeta_fuzz"
