#!/usr/bin/env bash
# Builds the Windows edition, quillmere.exe, and starts it under Wine, in the user's own Wine prefix.
# Installs what is missing first.
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${QUILLMERE_BUILD_DIR:-$source_dir/build}

"$source_dir/tools/install-deps.sh" build
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake"
cmake --build "$build_dir" -j"$(nproc)" --target quillmere
echo "Built $build_dir/quillmere.exe"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display is available (DISPLAY is not set), so the window cannot be shown here." >&2
    echo "Run this command from a desktop session, or copy quillmere.exe to Windows and start it there." >&2
    exit 2
fi
export WINEDEBUG=${WINEDEBUG:--all}
exec wine "$build_dir/quillmere.exe"
