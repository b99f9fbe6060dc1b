#!/bin/sh
# Builds the file-list reader's libFuzzer target with clang. The reader lives in the content update, which
# calls into the whole client, so the target links the platform library and the client's modules (all but
# the program entry).
# Usage: fuzz/build_filelist.sh [output directory]   then e.g.  <out>/filelist_fuzz -max_total_time=600 <corpus dir>
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/build-fuzz"}
objects="$out/filelist-objects"
rm -rf "$objects"
mkdir -p "$objects"
CXX=${CXX:-clang++}
flags="-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -mcx16 -I$root -fmacro-prefix-map=$root/="
cd "$root"
find platformlib client -name '*.cpp' ! -path client/main.cpp |
    xargs -P "$(nproc)" -I{} sh -c "$CXX $flags -c {} -o \"$objects/\$(echo {} | tr / _).o\""
"$CXX" $flags -fsanitize=fuzzer "$root/fuzz/filelist_fuzz.cpp" "$objects"/*.o \
    $(pkg-config --libs glfw3 glew libcurl gl libpng zlib openal vorbisfile) -lpthread -ldl -latomic -o "$out/filelist_fuzz"
echo "$out/filelist_fuzz"
