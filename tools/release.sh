#!/usr/bin/env bash
# Builds the published release of the checked-out commit into dist/ (Debian, as root; installs what
# is missing first):
#   quillmere-VERSION-win64.zip        quillmere.exe, README.md, the images README.md shows, LICENSE
#   quillmere-VERSION-win64.exe.debug  the executable's symbols, named by its .gnu_debuglink
#   quillmere-VERSION-win64.msi        the per-user installer of the same executable
#                                      (windows/installer/)
#   Quillmere.Quillmere*.yaml          the Windows Package Manager's manifests (MSI and zip) and
#   quillmere.json                     Scoop's (zip), naming the files under the download URL
#   quillmere_VERSION_ARCH.deb         the Linux edition for Debian 12, built natively and
#                                      installed by `cmake --install` (prefix /usr), packaged
#   SHA256SUMS                         for everything in dist/, checkable with sha256sum -c
# The build is reproducible: the same commit gives the same bytes in any folder at any time (the
# commit date stands in for every date). With --pfx the executable is signed (Authenticode,
# SHA-256) before it is archived and summed, and so is the MSI.
#
# Usage: tools/release.sh [--pfx FILE --pfx-password-file FILE [--timestamp URL]]
#                         [--download-url URL] [--out DIR] [--build-dir DIR]
set -euo pipefail
umask 022
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out_dir=$source_dir/dist
build_dir=$source_dir/build-release
pfx= pfx_password_file= timestamp_url= download_url=

usage() {
    sed -n '/^# Usage:/,/^set /p' "${BASH_SOURCE[0]}" | sed '$d' >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
        --pfx) pfx=${2:?}; shift 2 ;;
        --pfx-password-file) pfx_password_file=${2:?}; shift 2 ;;
        --timestamp) timestamp_url=${2:?}; shift 2 ;;
        --download-url) download_url=${2:?}; shift 2 ;;
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
for published in "$name.zip" "$name.msi" "quillmere_${version}_$(dpkg --print-architecture).deb"; do
    if ! grep -qF "$published" "$source_dir/README.md"; then
        echo "README.md does not name $published: update it to version $version." >&2
        exit 1
    fi
done

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

# The images README.md shows from the tree (its screenshots), shipped beside it in the archive and
# in the package at the same relative paths, so that the README shows there what it shows here.
readme_files=()
while IFS= read -r file; do
    if [ ! -f "$source_dir/$file" ] || [[ "$file" == /* || "$file" == *../* ]]; then
        echo "README.md refers to $file, which is not a file of the tree." >&2
        exit 1
    fi
    readme_files+=("$file")
done < <(grep -oE '!\[[^]]*\]\([^)[:space:]]+\)' "$source_dir/README.md" |
         sed -E 's/^.*\]\((.*)\)$/\1/' | grep -vE '^([a-zA-Z][a-zA-Z+.-]*:|#)' | LC_ALL=C sort -u)

mkdir -p "$out_dir"
rm -f "$out_dir"/quillmere-*-win64.zip "$out_dir"/quillmere-*-win64.exe.debug \
      "$out_dir"/quillmere-*-win64.msi "$out_dir"/Quillmere.Quillmere*.yaml \
      "$out_dir/quillmere.json" \
      "$out_dir"/quillmere_*.deb "$out_dir/SHA256SUMS"
cp "$build_dir/$name.exe.debug" "$out_dir/$name.exe.debug"
chmod 644 "$out_dir/$name.exe.debug"

readme_members=()
for file in "${readme_files[@]}"; do
    readme_members+=("$source_dir/$file=$file=644")
done
# The archive: fixed member order, the commit date (UTC) on every member, fixed Unix modes.
python3 - "$out_dir/$name.zip" "$SOURCE_DATE_EPOCH" \
    "$stage/quillmere.exe=quillmere.exe=755" \
    "$source_dir/README.md=README.md=644" \
    "$source_dir/LICENSE=LICENSE=644" \
    "${readme_members[@]}" <<'EOF'
import sys, time, zipfile

archive, epoch, members = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
date_time = time.gmtime(max(epoch, 315532800))[:6]  # zip dates begin in 1980
with zipfile.ZipFile(archive, "w") as z:
    for member in members:
        path, name, mode = member.rsplit("=", 2)
        info = zipfile.ZipInfo(name, date_time)
        info.create_system = 3  # Unix, so that the modes below are read
        info.external_attr = (0o100000 | int(mode, 8)) << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(path, "rb") as f:
            z.writestr(info, f.read(), compresslevel=9)
EOF

# The installer, of the same (signed) executable, and the package managers' manifests of it and of
# the zip, which name the files where they are published.
"$source_dir/windows/installer/build_msi.sh" "$version" "$stage/quillmere.exe" "$out_dir/$name.msi"
if [ -n "$pfx" ]; then
    "${sign[@]}" -in "$out_dir/$name.msi" -out "$stage/$name.msi"
    mv "$stage/$name.msi" "$out_dir/$name.msi"
fi
chmod 644 "$out_dir/$name.msi"
python3 "$source_dir/windows/installer/manifests.py" "$version" \
    "$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)" \
    "${download_url:-https://quillmere.org/download/$version/}" \
    "$out_dir/$name.msi" "$out_dir/$name.zip" "$out_dir"

# The Debian package of the Linux edition: a native build in its own folder, installed as
# `cmake --install` installs it (prefix /usr), plus what Debian asks of a package. The same bytes
# in any folder at any time: no build paths in the objects (reproducible.cmake), resources and every
# member dated at the commit, members sorted, owners root, single-threaded xz.
linux_build_dir=$build_dir/linux
cmake -S "$source_dir" -B "$linux_build_dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_PROJECT_INCLUDE="$source_dir/linux/deb/reproducible.cmake"
cmake --build "$linux_build_dir" -j"$(nproc)" --target quillmere

# dpkg-shlibdeps reads debian/control and wants the files under debian/PACKAGE.
deb_work=$stage/deb
root=$deb_work/debian/quillmere
mkdir -p "$root/DEBIAN"
: > "$deb_work/debian/control"
DESTDIR=$root cmake --install "$linux_build_dir" > /dev/null
# As Debian's own packages are stripped (dh_strip): no symbols, no compiler notes.
while IFS= read -r -d '' file; do
    if readelf -h "$file" > /dev/null 2>&1; then
        strip --remove-section=.comment --remove-section=.note --strip-unneeded "$file"
    fi
done < <(find "$root" -type f -print0)
if [ -d "$root/usr/share/man" ]; then
    find "$root/usr/share/man" -type f ! -name '*.gz' -exec gzip -9n {} +
fi

doc=$root/usr/share/doc/quillmere
mkdir -p "$doc"
cp "$source_dir/README.md" "$doc/README.md"
for file in "${readme_files[@]}"; do
    mkdir -p "$(dirname "$doc/$file")"
    cp "$source_dir/$file" "$doc/$file"
done
# The copyright file in Debian's machine-readable form, from LICENSE (the MIT licence, which Debian
# calls Expat).
if [ "$(head -n 1 "$source_dir/LICENSE")" != "MIT License" ]; then
    echo "LICENSE is no longer the MIT licence: update the package's copyright file here." >&2
    exit 1
fi
{
    echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
    echo "Upstream-Name: Quillmere"
    echo
    echo "Files: *"
    echo "Copyright: $(sed -n 's/^Copyright (c) //p' "$source_dir/LICENSE")"
    echo "License: Expat"
    echo
    echo "License: Expat"
    sed -n '/^Permission/,$p' "$source_dir/LICENSE" | sed 's/^$/./; s/^/ /'
} > "$doc/copyright"
# A native package's changelog (its version has no Debian revision): one entry for this release,
# dated at the commit and signed by the maintainer.
maintainer=$(sed -n 's/^Maintainer: //p' "$source_dir/linux/deb/control")
{
    echo "quillmere ($version) bookworm; urgency=medium"
    echo
    echo "  * Release $version: the Linux edition, see /usr/share/doc/quillmere/README.md."
    echo
    echo " -- $maintainer  $(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n > "$doc/changelog.gz"

# Dependencies: the libraries the executable links, then what Qt loads at run time: the Wayland
# platform and the platform themes that give the desktop's own file dialog, and xdg-open, which
# opens a downloaded file with the desktop's default program (extend this line).
runtime_depends=(qt6-wayland qt6-xdgdesktopportal-platformtheme qt6-gtk-platformtheme xdg-utils)
recommends=
if readelf -d "$root/usr/bin/quillmere" | grep -q 'NEEDED.*\[libproxy\.so'; then
    # libproxy reads GNOME's and KDE's proxy settings through its plugins. Its runner of proxy
    # configuration scripts brings a whole JavaScript engine (about 32 MB), which a minimal
    # installation may leave out: recommended, so apt installs it unless told not to.
    runtime_depends+=(libproxy1-plugin-gsettings libproxy1-plugin-kconfig)
    recommends=libproxy1-plugin-webkit
fi
shlibs=$(cd "$deb_work" && dpkg-shlibdeps -O -edebian/quillmere/usr/bin/quillmere |
         sed -n 's/^shlibs:Depends=//p')
depends=$shlibs$(printf ', %s' "${runtime_depends[@]}")
architecture=$(dpkg --print-architecture)

# Every file root's, at fixed modes and the commit date; then the sums and the control file.
find "$root" -type d -exec chmod 755 {} +
find "$root" -type f -perm /111 -exec chmod 755 {} +
find "$root" -type f ! -perm /111 -exec chmod 644 {} +
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z |
    xargs -0 md5sum --) > "$root/DEBIAN/md5sums"
# As dpkg-gencontrol counts it: 1 KiB a directory or link, each file's size rounded up.
installed_size=$(cd "$root" && find . -path ./DEBIAN -prune -o ! -path . -printf '%y %s\n' |
                 awk '{ total += ($1 == "f") ? int(($2 + 1024) / 1024) : 1 } END { print total }')
sed -e '/^#/d' -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$architecture/" \
    -e "s/@INSTALLED_SIZE@/$installed_size/" -e "s/@DEPENDS@/$depends/" \
    -e "${recommends:+s/@RECOMMENDS@/$recommends/}" -e '/@RECOMMENDS@/d' \
    "$source_dir/linux/deb/control" > "$root/DEBIAN/control"
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
deb=quillmere_${version}_$architecture.deb
dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$root" "$out_dir/$deb" > /dev/null

(cd "$out_dir" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | LC_ALL=C sort |
    xargs -d '\n' sha256sum -- > SHA256SUMS)
echo "Release $version of $(git -C "$source_dir" rev-parse --short HEAD 2>/dev/null || echo 'this tree')" \
     "in $out_dir:"
(cd "$out_dir" && cat SHA256SUMS)
