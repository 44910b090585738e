#!/usr/bin/env bash
# Builds both editions of Quillmere with their tests and runs every test: the Windows edition under
# Wine, the Linux edition natively (plainly and under the sanitizers). Installs what is missing
# first. The builds go to build/ and build-linux/ beside this repository's sources (or
# $QUILLMERE_BUILD_DIR and $QUILLMERE_LINUX_BUILD_DIR).
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${QUILLMERE_BUILD_DIR:-$source_dir/build}
linux_build_dir=${QUILLMERE_LINUX_BUILD_DIR:-$source_dir/build-linux}

"$source_dir/tools/install-deps.sh" test
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
      -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake"
cmake --build "$build_dir" -j"$(nproc)"
cmake -S "$source_dir" -B "$linux_build_dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON
cmake --build "$linux_build_dir" -j"$(nproc)"

# Both suites run even when the first fails; the run fails if either did.
status=0
echo "== Linux edition"
ctest --test-dir "$linux_build_dir" --output-on-failure -j2 || status=1
echo "== Windows edition (under Wine)"
ctest --test-dir "$build_dir" --output-on-failure || status=1
exit "$status"
