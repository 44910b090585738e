#!/usr/bin/env bash
# Installs the Debian packages that building (and, with "test", testing) Quillmere needs, but only
# those that are missing. Usage: tools/install-deps.sh build|test|release|linux (linux: only what the
# native Linux edition needs to be built and started)
set -euo pipefail

build_packages=(cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
                wine wine64 fonts-wine g++ pkg-config libcurl4-openssl-dev qt6-base-dev
                qt6-translations-l10n)
test_packages=(googletest xvfb imagemagick x11-utils ntfs-3g fuse3 icoutils openssl python3 osslsigncode
               locales util-linux fonts-dejavu-core)
release_packages=(python3 osslsigncode)
linux_packages=(cmake make g++ pkg-config libcurl4-openssl-dev qt6-base-dev
                qt6-translations-l10n)
# The Linux edition as a desktop program: its icon's PNG sizes are rendered at build time; it runs
# on Wayland, and uses the desktop's file dialog through Qt's GTK and desktop-portal themes.
build_packages+=(librsvg2-bin)
linux_packages+=(librsvg2-bin qt6-wayland qt6-gtk-platformtheme qt6-xdgdesktopportal-platformtheme)
# Its tests: the installed files against the desktop's validators; the journey on a Wayland
# compositor.
test_packages+=(desktop-file-utils appstream man-db weston qt6-wayland)
# The Debian package: the Linux edition's build, dpkg-shlibdeps (dpkg-dev), xz, and lintian with
# apt for the release test's checks of the package.
release_packages+=("${linux_packages[@]}" dpkg-dev xz-utils lintian apt)

packages=("${build_packages[@]}")
case "${1:-build}" in
    linux) packages=("${linux_packages[@]}") ;;
    test) packages+=("${test_packages[@]}") ;;
    release) packages+=("${release_packages[@]}") ;;
esac

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
