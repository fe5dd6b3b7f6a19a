#!/bin/sh
# Installs the build into a temporary prefix, checks that the library exports the C interface
# alone, then builds the examples against the installed package, once through pkg-config and
# once through find_package, and runs them on the simulated camera.
#
#     consumer_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
export XDG_CONFIG_HOME="$work/config"

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in include/bayercam/bayercam.h include/bayercam/bayercam.hpp bin/bayercam \
    lib/udev/rules.d/60-bayercam.rules; do
    [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done

PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name bayercam.pc)")
export PKG_CONFIG_PATH
libdir=$(pkg-config --variable=libdir bayercam)
library=$libdir/libbayercam.so.0
[ -e "$library" ] || { echo "no $library"; exit 1; }
others=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TDBRVW]$/ && $3 !~ /^bayercam_/')
[ -z "$others" ] || { echo "exported beyond the C interface:"; echo "$others" | head; exit 1; }

# pkg-config, the C example.
cc -std=c99 -Wall -Wextra -Werror "$source/examples/grab.c" $(pkg-config --cflags --libs bayercam) \
    -o "$work/grab"
LD_LIBRARY_PATH=$libdir "$work/grab" "sim:fps=0" "$work/frame.ppm"
[ "$(head -c 2 "$work/frame.ppm")" = "P6" ] || { echo "grab wrote no PPM"; exit 1; }

# find_package, both examples.
cmake -S "$source/examples" -B "$work/examples" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/examples" >/dev/null
"$work/examples/bayercam-grab" "sim:fps=0" "$work/second.ppm"
"$work/examples/bayercam-stream" sim 12 >"$work/stream.txt"
grep -q "^Exposure" "$work/stream.txt" || { echo "stream listed no controls"; exit 1; }
[ "$(grep -c '^frame ' "$work/stream.txt")" -eq 12 ] || { echo "stream gave too few frames"; exit 1; }
echo "installed package: headers, library, tool, rule, pkg-config and CMake package all usable"
