#!/bin/bash
# Installs the Linux edition into a staging folder, as the package does, and checks what the
# desktop reads with its own validators; then the program's options without a display; then, on the
# bed's displays (bed.sh --x11 --wayland), that the window tells each what matches it to its desktop
# entry: on X11 its icon and the class that StartupWMClass names, on Wayland the app id.
# Usage: install_check.sh BUILD_DIR APP_ID VERSION
set -euo pipefail
build=$1 id=$2 version=$3
stage=$build/install-check
rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
root=$stage/usr share=$stage/usr/share
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

sizes="16 24 32 48 64 128 256"
expected=$( { echo bin/quillmere share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/man/man1/quillmere.1 share/icons/hicolor/scalable/apps/$id.svg
    for s in $sizes; do echo share/icons/hicolor/${s}x$s/apps/$id.png; done; } | tr ' ' '\n' | sort)
actual=$(cd "$root" && find . -type f -printf '%P\n' | sort)
[ "$actual" = "$expected" ] || fail "installed files differ:$(diff <(echo "$expected") <(echo "$actual"))"

desktop=$share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
for line in "Categories=Network;FileTransfer;Qt;" "Icon=$id" "Exec=quillmere" "Name[ru]=" \
            "Comment[ru]=" "StartupWMClass=quillmere"; do
    grep -qF -- "$line" "$desktop" || fail "desktop entry lacks $line"
done
metainfo=$share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -q "<id>$id</id>" "$metainfo" && grep -q "<launchable type=\"desktop-id\">$id.desktop<" \
    "$metainfo" && grep -q '<p xml:lang="ru">' "$metainfo" || fail "metainfo id or Russian text"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$share/man/man1/quillmere.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page warnings: $warnings"
page=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$share/man/man1/quillmere.1" 2>/dev/null)
for section in OPTIONS "EXIT STATUS" ENVIRONMENT FILES --version https_proxy; do
    grep -q -- "$section" <<<"$page" || fail "man page lacks $section"
done
for s in $sizes; do
    # IHDR: width and height (big-endian) at bytes 16..23, then bit depth 8 and colour type 6.
    read -r -a b <<<"$(od -An -tu1 -j16 -N10 "$share/icons/hicolor/${s}x$s/apps/$id.png")"
    [ "$(((b[2] << 8) + b[3])) $(((b[6] << 8) + b[7])) ${b[8]} ${b[9]}" = "$s $s 8 6" ] ||
        fail "icon ${s}x$s: IHDR ${b[*]}"
done

# The options: answered before Qt is, so no display is needed.
app=$root/bin/quillmere
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
out=$("${nodisplay[@]}" "$app" --help) || fail "--help exit $?"
grep -q -- "--version" <<<"$out" && grep -q "^Usage: quillmere" <<<"$out" || fail "--help: $out"
out=$("${nodisplay[@]}" "$app" --version) || fail "--version exit $?"
[ "$out" = "Quillmere $version" ] || fail "--version: $out"
for refused in --bogus "--help --version" -platform; do
    set +e
    # shellcheck disable=SC2086
    out=$("${nodisplay[@]}" "$app" $refused 2>"$build/install-check.stderr")
    status=$?
    set -e
    [ "$status" = 2 ] && [ -z "$out" ] && grep -q "^Usage: quillmere" "$build/install-check.stderr" ||
        fail "$refused: exit $status, stdout '$out', stderr '$(cat "$build/install-check.stderr")'"
done

# The window on X: its icon, and the class the desktop entry's StartupWMClass names; and it asks
# for the desktop portal's theme (the desktop's dialog where the portal runs).
if [ -n "${DISPLAY:-}" ]; then
    QT_QPA_PLATFORM=xcb QT_DEBUG_PLUGINS=1 "$app" 2>"$build/install-check.x11" &
    pid=$!
    window=
    for _ in $(seq 1 100); do
        window=$(xwininfo -root -tree | awk '/"Quillmere": \("quillmere"/ { print $1; exit }')
        [ -n "$window" ] && break
        sleep 0.1
    done
    class=$(xprop -id "${window:-0}" WM_CLASS 2>&1)
    [ "$class" = 'WM_CLASS(STRING) = "quillmere", "quillmere"' ] || fail "X11 class: $class"
    icons=$(xprop -len 10000000 -id "${window:-0}" _NET_WM_ICON 2>&1 |
            grep -o 'Icon ([0-9]* x [0-9]*)' | grep -o '^Icon ([0-9]*' | grep -o '[0-9]*$' | sort -n || true)
    [ "$(echo $icons)" = "$sizes" ] || fail "X11 window icon sizes: $(echo $icons)"
    grep -q 'libqxdgdesktopportal.so" loaded' "$build/install-check.x11" || fail "no portal theme"
    kill "$pid" && wait "$pid" 2>/dev/null || true
fi
# On Wayland: the app id, as the program's side of the protocol shows it.
if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    rm -f "$build/install-check.wayland"
    WAYLAND_DEBUG=client QT_QPA_PLATFORM=wayland "$app" 2>"$build/install-check.wayland" &
    pid=$!
    for _ in $(seq 1 100); do
        grep -qs 'set_app_id' "$build/install-check.wayland" && break
        sleep 0.1
    done
    grep -q "xdg_toplevel@[0-9]*\.set_app_id(\"$id\")" "$build/install-check.wayland" ||
        fail "Wayland app id: $(grep -o 'set_app_id(.*)' "$build/install-check.wayland")"
    kill "$pid" && wait "$pid" 2>/dev/null || true
fi

[ "$failures" = 0 ] && echo "install check passed" || exit 1
