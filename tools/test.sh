#!/usr/bin/env bash
# Builds Quillmere and its tests and runs every test under Wine. Installs what is missing first.
# The build goes to build/ beside this repository's sources (or $QUILLMERE_BUILD_DIR).
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${QUILLMERE_BUILD_DIR:-$source_dir/build}

"$source_dir/tools/install-deps.sh" test
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake"
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure
