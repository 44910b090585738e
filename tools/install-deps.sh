#!/usr/bin/env bash
# Installs the Debian packages that building (and, with "test", testing, the release test included)
# Quillmere needs, but only those that are missing. Usage: tools/install-deps.sh
# build|test|release|linux (linux: only what the native Linux edition needs to be built and started)
set -euo pipefail

# Building both editions. The Linux edition's icon sizes are rendered at build time.
build_packages=(cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
                wine wine64 fonts-wine g++ pkg-config libcurl4-openssl-dev qt6-base-dev
                qt6-translations-l10n libproxy-dev librsvg2-bin)
# The Linux edition built and run: Qt's Wayland platform, the GTK and desktop-portal themes for the
# desktop's file dialog, libproxy with its GNOME, KDE and configuration-script plugins, and
# xdg-open, through which Qt opens a downloaded file with the desktop's default program.
linux_runtime=(qt6-wayland qt6-gtk-platformtheme qt6-xdgdesktopportal-platformtheme libproxy1v5
               libproxy1-plugin-gsettings libproxy1-plugin-kconfig libproxy1-plugin-webkit
               xdg-utils)
linux_packages=(cmake make g++ pkg-config libcurl4-openssl-dev qt6-base-dev qt6-translations-l10n
                libproxy-dev librsvg2-bin "${linux_runtime[@]}")
# The tests: the Wine bed, the Linux bed's mounts (NTFS, exFAT through FUSE), Wayland (weston), a
# private session bus with stand-ins for the desktop portal, the notification daemon
# (python3-dbusmock) and the file manager, GNOME's settings in dconf, file(1) for xdg-open's
# guess of a file's type, and the desktop's validators for the installed files.
test_packages=(googletest xvfb imagemagick x11-utils ntfs-3g fuse3 icoutils openssl python3 osslsigncode
               locales util-linux fonts-dejavu-core "${linux_runtime[@]}" exfat-fuse exfatprogs
               weston dbus-daemon python3-dbus python3-gi python3-dbusmock dconf-service
               dconf-gsettings-backend libglib2.0-bin file desktop-file-utils appstream man-db
               python3-jsonschema python3-yaml)
# The release: the Windows zip's signing tools, the MSI's (msitools' wixl and msibuild, with
# faketime for its dates), and for the Debian package the Linux edition's build, dpkg-shlibdeps
# (dpkg-dev), xz, and lintian with apt for the release test's checks.
release_packages=(python3 osslsigncode wixl msitools faketime "${linux_runtime[@]}" dpkg-dev xz-utils
                  lintian apt)

packages=("${build_packages[@]}")
case "${1:-build}" in
    linux) packages=("${linux_packages[@]}") ;;
    test) packages+=("${test_packages[@]}" "${release_packages[@]}") ;;
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
