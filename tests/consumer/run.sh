#!/usr/bin/env bash
# Installs the build into a fresh prefix, makes a scene with the installed
# morvex-sample, builds the consumer program against the prefix once through
# the CMake package and once through pkg-config, and checks that both print
# the tool's score line for the scene.
#   run.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
"$work/prefix/bin/morvex-sample" "$work/scene" --size 200x120 >/dev/null
args=()
for f in left right depth_left_a depth_right_a depth_left_b depth_right_b; do args+=("$work/scene/$f.png"); done
args+=("$work/scene/camera.txt")
expected=$("$build/morvex" "${args[@]}" | sed -n 1p)

cmake -S "$here" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
with_package=$("$work/cmake-build/consumer" "${args[@]}")

libdir=$(dirname "$(find "$work/prefix" -name morvex.pc)")
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs morvex)
# shellcheck disable=SC2086
g++ -std=c++17 "$here/consumer.cpp" -o "$work/consumer-pc" $flags -lopencv_imgcodecs
with_pkg_config=$("$work/consumer-pc" "${args[@]}")

echo "tool: $expected; CMake package: $with_package; pkg-config: $with_pkg_config"
[ "$with_package" = "$expected" ] && [ "$with_pkg_config" = "$expected" ]
