#!/usr/bin/env bash
# Builds the native Linux edition (Qt 6, libcurl) and starts it. Installs what is missing first:
# only the compiler, CMake, the Qt, libcurl and libproxy development packages, the icon renderer,
# Qt's Wayland platform and GTK and desktop-portal themes, and libproxy's desktop plugins from
# Debian. The Windows edition under Wine is started by tools/run-windows.sh.
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${QUILLMERE_LINUX_BUILD_DIR:-$source_dir/build-linux}

"$source_dir/tools/install-deps.sh" linux
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build "$build_dir" -j"$(nproc)" --target quillmere
echo "Built $build_dir/quillmere"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display is available (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot be shown here." >&2
    echo "Run this command from a desktop session; the program is $build_dir/quillmere." >&2
    exit 2
fi
exec "$build_dir/quillmere"
