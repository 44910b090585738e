#!/usr/bin/env bash
# Builds the published release of the checked-out commit into dist/ (Debian, as root; installs what
# is missing first):
#   quillmere-VERSION-win64.zip        quillmere.exe, README.md and LICENSE
#   quillmere-VERSION-win64.exe.debug  the executable's symbols, named by its .gnu_debuglink
#   SHA256SUMS                         for everything in dist/, checkable with sha256sum -c
# The build is reproducible: the same commit gives the same bytes in any folder at any time (the
# commit date stands in for every date). With --pfx the executable is signed (Authenticode,
# SHA-256) before it is archived and summed.
#
# Usage: tools/release.sh [--pfx FILE --pfx-password-file FILE [--timestamp URL]]
#                         [--out DIR] [--build-dir DIR]
set -euo pipefail
umask 022
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out_dir=$source_dir/dist
build_dir=$source_dir/build-release
pfx= pfx_password_file= timestamp_url=

usage() {
    sed -n '/^# Usage:/,/^set /p' "${BASH_SOURCE[0]}" | sed '$d' >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
        --pfx) pfx=${2:?}; shift 2 ;;
        --pfx-password-file) pfx_password_file=${2:?}; shift 2 ;;
        --timestamp) timestamp_url=${2:?}; shift 2 ;;
        --out) out_dir=${2:?}; shift 2 ;;
        --build-dir) build_dir=${2:?}; shift 2 ;;
        *) usage ;;
    esac
done
if [ "${pfx:+1}" != "${pfx_password_file:+1}" ]; then
    echo "--pfx and --pfx-password-file go together" >&2
    exit 2
fi
if [ -n "$timestamp_url" ] && [ -z "$pfx" ]; then
    echo "--timestamp needs --pfx" >&2
    exit 2
fi

"$source_dir/tools/install-deps.sh" release

# The one date of the release: the commit's, unless the caller sets SOURCE_DATE_EPOCH (a source
# tree without its history).
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    if ! SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null); then
        echo "No git history here: set SOURCE_DATE_EPOCH to the commit date (git log -1 --format=%ct)." >&2
        exit 1
    fi
    if [ -n "$(git -C "$source_dir" status --porcelain --untracked-files=no)" ]; then
        echo "Warning: the working tree has uncommitted changes; this is not a build of commit" \
             "$(git -C "$source_dir" rev-parse --short HEAD)." >&2
    fi
fi
export SOURCE_DATE_EPOCH

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
      -DQUILLMERE_RELEASE=ON -DQUILLMERE_SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH"
cmake --build "$build_dir" -j"$(nproc)" --target quillmere

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
name=quillmere-$version-win64
if ! grep -qF "$name.zip" "$source_dir/README.md"; then
    echo "README.md does not name $name.zip: update its Release section to version $version." >&2
    exit 1
fi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$build_dir/quillmere.exe" "$stage/quillmere.exe"
if [ -n "$pfx" ]; then
    sign=(osslsigncode sign -pkcs12 "$pfx" -readpass "$pfx_password_file" -h sha256 -n Quillmere)
    if [ -n "$timestamp_url" ]; then
        sign+=(-ts "$timestamp_url")
    fi
    "${sign[@]}" -in "$build_dir/quillmere.exe" -out "$stage/quillmere.exe.signed"
    mv "$stage/quillmere.exe.signed" "$stage/quillmere.exe"
fi

mkdir -p "$out_dir"
rm -f "$out_dir"/quillmere-*-win64.zip "$out_dir"/quillmere-*-win64.exe.debug "$out_dir/SHA256SUMS"
cp "$build_dir/$name.exe.debug" "$out_dir/$name.exe.debug"
chmod 644 "$out_dir/$name.exe.debug"

# The archive: fixed member order, the commit date (UTC) on every member, fixed Unix modes.
python3 - "$out_dir/$name.zip" "$SOURCE_DATE_EPOCH" \
    "$stage/quillmere.exe=quillmere.exe=755" \
    "$source_dir/README.md=README.md=644" \
    "$source_dir/LICENSE=LICENSE=644" <<'EOF'
import sys, time, zipfile

archive, epoch, members = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
date_time = time.gmtime(max(epoch, 315532800))[:6]  # zip dates begin in 1980
with zipfile.ZipFile(archive, "w") as z:
    for member in members:
        path, name, mode = member.split("=")
        info = zipfile.ZipInfo(name, date_time)
        info.create_system = 3  # Unix, so that the modes below are read
        info.external_attr = (0o100000 | int(mode, 8)) << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(path, "rb") as f:
            z.writestr(info, f.read(), compresslevel=9)
EOF

(cd "$out_dir" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | LC_ALL=C sort |
    xargs -d '\n' sha256sum -- > SHA256SUMS)
echo "Release $version of $(git -C "$source_dir" rev-parse --short HEAD 2>/dev/null || echo 'this tree')" \
     "in $out_dir:"
(cd "$out_dir" && cat SHA256SUMS)
