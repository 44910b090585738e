#!/bin/bash
# Runs one Linux engine test program inside a bed of its own: the bed's HTTPS server on localhost
# with a throwaway CA, that CA trusted only inside this run (a private mount namespace in which the
# system's certificate bundle also holds it), a small NTFS volume mounted with ntfs-3g, and a
# Russian locale for the system's Russian error texts. Everything ends with the run: the namespace
# takes its mounts with it, and the server is stopped by its pid. Needs root and /dev/fuse.
#
# Usage: bed.sh [--x11] [--wayland] [--session-bus] BED_DIR PROGRAM [ARGS...]
# With --x11 the program draws on a real X server of its own: an Xvfb display started for this run
# (on the first free display number, which Xvfb itself picks) with Qt's X11 platform, stopped by its
# pid at the end. With --wayland it draws on a Wayland compositor of its own instead: a headless
# weston on a socket of the bed's, with Qt's Wayland platform and no X display. With both, both run
# (Wayland is Qt's choice then) and the program picks with QT_QPA_PLATFORM. With --session-bus it
# also has a private session bus with the desktop's services as stand-ins (python3-dbusmock's
# notification daemon, desktop_standin.py's file manager and listener), whose record of what the
# program asked of them is the file QM_DESKTOP_LOG, and a recorder as the default program for
# every file in the bed's own XDG_DATA_HOME, which adds the paths it opens to that record.
# Inside, the program sees QM_BED_DIR, QM_HTTPS_PORT, QM_PORT_SELFSIGNED, QM_REQUEST_LOG,
# QM_NTFS_MOUNT and QM_NTFS_REMOUNT (a command: "$QM_NTFS_REMOUNT windows|xattr" mounts the NTFS
# volume again with that streams interface), QM_EXFAT_MOUNT (exFAT through FUSE) and
# QM_SMALL_MOUNT (a tmpfs of 4 MiB).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ "${1:-}" = --remount ]; then
    # $2 the bed, $3 the streams interface.
    fusermount -u "$2/ntfs" 2>/dev/null || umount "$2/ntfs"
    exec ntfs-3g -o "streams_interface=$3" "$2/ntfs.img" "$2/ntfs"
fi
if [ "${QM_LINUX_BED_INSIDE:-}" != 1 ]; then
    exec unshare --mount --propagation private env QM_LINUX_BED_INSIDE=1 "$0" "$@"
fi

x11= wayland= session_bus=
while [ "${1:-}" = --x11 ] || [ "${1:-}" = --wayland ] || [ "${1:-}" = --session-bus ]; do
    case $1 in --x11) x11=1 ;; --wayland) wayland=1 ;; *) session_bus=1 ;; esac
    shift
done
bed=$1
shift
mkdir -p "$bed"
bed=$(cd "$bed" && pwd)
certs=$bed/certs
log=$bed/bed.log
: >"$log"

# Certificates: a CA, a server certificate for localhost that it signs, and a self-signed one that
# nothing trusts. Made once per bed and reused while they stay valid for a week.
if ! openssl x509 -checkend 604800 -noout -in "$certs/localhost.pem" >/dev/null 2>&1; then
    rm -rf "$certs" && mkdir -p "$certs"
    {
        openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days 30 \
            -keyout "$certs/ca.key" -out "$certs/ca.pem" \
            -subj "/CN=Quillmere Linux Bed CA $(date -u +%Y%m%d%H%M%S)" \
            -addext "basicConstraints=critical,CA:TRUE" \
            -addext "keyUsage=critical,keyCertSign,cRLSign"
        openssl req -new -newkey rsa:2048 -nodes -keyout "$certs/localhost.key" \
            -out "$certs/localhost.csr" -subj "/CN=localhost"
        printf '%s\n' "basicConstraints=critical,CA:FALSE" \
            "keyUsage=critical,digitalSignature,keyEncipherment" \
            "extendedKeyUsage=serverAuth" "subjectAltName=DNS:localhost" >"$certs/server.ext"
        openssl x509 -req -in "$certs/localhost.csr" -CA "$certs/ca.pem" -CAkey "$certs/ca.key" \
            -CAcreateserial -days 30 -sha256 -extfile "$certs/server.ext" \
            -out "$certs/localhost.pem"
        openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days 30 \
            -keyout "$certs/selfsigned.key" -out "$certs/selfsigned.pem" -subj "/CN=localhost" \
            -addext "subjectAltName=DNS:localhost" -addext "extendedKeyUsage=serverAuth"
    } >>"$log" 2>&1 || { cat "$log"; echo "bed: certificate generation failed" >&2; exit 1; }
fi

# The CA is trusted here only: the bundle libcurl reads is replaced in this namespace alone.
system_bundle=/etc/ssl/certs/ca-certificates.crt
cat "$system_bundle" "$certs/ca.pem" >"$bed/ca-bundle.crt"
mount --bind "$bed/ca-bundle.crt" "$system_bundle"

# The Russian locale, for the system's Russian error texts, in a folder of the bed's own.
if [ ! -d "$bed/locale/ru_RU.UTF-8" ]; then
    mkdir -p "$bed/locale"
    localedef -i ru_RU -f UTF-8 "$bed/locale/ru_RU.UTF-8" >>"$log" 2>&1 || true
fi
export LOCPATH=$bed/locale

# A fresh NTFS volume, mounted with the default streams interface, where user.* attributes are the
# file's named streams.
rm -f "$bed/ntfs.img"
truncate -s 64M "$bed/ntfs.img"
mkntfs -F -Q -q -L QMLINUX "$bed/ntfs.img" >>"$log" 2>&1
mkdir -p "$bed/ntfs"
ntfs-3g "$bed/ntfs.img" "$bed/ntfs"

# A fresh exFAT volume through FUSE, as exfat-fuse mounts a USB stick: no hard links, no rename
# without replacement, no user attributes. Run as root, exfat-fuse asks for a block device, so the
# image goes through a loop device of its own, given back at the end.
rm -f "$bed/exfat.img"
truncate -s 32M "$bed/exfat.img"
mkfs.exfat -L QMEXFAT "$bed/exfat.img" >>"$log" 2>&1
exfat_device=$(losetup --find --show "$bed/exfat.img")
mkdir -p "$bed/exfat"
mount.exfat-fuse "$exfat_device" "$bed/exfat" >>"$log" 2>&1

# A disk of 4 MiB, too small for some bodies.
mkdir -p "$bed/small"
mount -t tmpfs -o size=4m tmpfs "$bed/small"

rm -f "$bed/ports.txt"
: >"$bed/requests.jsonl"
/usr/bin/python3 "$here/../bed/https_server.py" --log "$bed/requests.jsonl" \
    --port-file "$bed/ports.txt" \
    --listen "ok:0:$certs/localhost.pem:$certs/localhost.key" \
    --listen "selfsigned:0:$certs/selfsigned.pem:$certs/selfsigned.key" \
    </dev/null >>"$log" 2>&1 &
server=$!
xvfb= weston= bus= notifier= standin=
finish() {
    for pid in $standin $notifier $bus $server $xvfb $weston; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    fusermount -u "$bed/ntfs" 2>/dev/null || umount "$bed/ntfs" 2>/dev/null || true
    if [ -n "$weston" ]; then rm -rf "$XDG_RUNTIME_DIR"; fi
    umount "$bed/exfat" 2>/dev/null || true
    losetup --detach "$exfat_device" 2>/dev/null || true
    umount "$bed/small" 2>/dev/null || true
}
trap finish EXIT
for _ in $(seq 1 200); do
    if [ -f "$bed/ports.txt" ] || ! kill -0 "$server" 2>/dev/null; then break; fi
    sleep 0.05
done
[ -f "$bed/ports.txt" ] || { cat "$log"; echo "bed: the HTTPS server did not start" >&2; exit 1; }
port_of() { awk -v n="$1" '$1 == n { print $2 }' "$bed/ports.txt"; }

if [ -n "$x11" ]; then
    # Xvfb writes the display's number once it accepts clients.
    rm -f "$bed/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$bed/display" </dev/null \
        >>"$log" 2>&1 &
    xvfb=$!
    for _ in $(seq 1 200); do
        if grep -q '^[0-9]' "$bed/display" 2>/dev/null || ! kill -0 "$xvfb" 2>/dev/null; then
            break
        fi
        sleep 0.05
    done
    grep -q '^[0-9]' "$bed/display" || { cat "$log"; echo "bed: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=:$(head -n1 "$bed/display") QT_QPA_PLATFORM=xcb
fi
if [ -n "$wayland" ]; then
    # weston wants a private runtime folder, short enough for a socket's path; it makes its socket
    # there once it accepts clients.
    XDG_RUNTIME_DIR=$(mktemp -d /tmp/quillmere-bed.XXXXXX)
    export XDG_RUNTIME_DIR WAYLAND_DISPLAY=wayland-quillmere
    weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 --no-config \
        </dev/null >>"$log" 2>&1 &
    weston=$!
    for _ in $(seq 1 200); do
        if [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] || ! kill -0 "$weston" 2>/dev/null; then
            break
        fi
        sleep 0.05
    done
    [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] || { cat "$log"; echo "bed: weston did not start" >&2; exit 1; }
    # weston offers text input but, headless, no seat, and Qt 6.4's Wayland text input then
    # crashes on the first key; a desktop always has a seat. Qt's compose input, as on X11.
    export QT_QPA_PLATFORM=wayland QT_IM_MODULE=compose
    [ -n "$x11" ] || unset DISPLAY
fi

if [ -n "$session_bus" ]; then
    # The bus forks once it accepts clients; the stand-in says "ready" once the notification
    # daemon is on it too.
    { read -r DBUS_SESSION_BUS_ADDRESS; read -r bus; } < <(dbus-daemon --session --fork \
        --print-address=1 --print-pid=1 </dev/null 2>>"$log")
    export DBUS_SESSION_BUS_ADDRESS QM_DESKTOP_LOG=$bed/desktop.log
    /usr/bin/python3 -m dbusmock --template notification_daemon </dev/null >>"$log" 2>&1 &
    notifier=$!
    : >"$QM_DESKTOP_LOG"
    /usr/bin/python3 "$here/desktop_standin.py" </dev/null >>"$QM_DESKTOP_LOG" 2>>"$log" &
    standin=$!
    for _ in $(seq 1 200); do
        if grep -q '^ready$' "$QM_DESKTOP_LOG" || ! kill -0 "$standin" 2>/dev/null; then break; fi
        sleep 0.05
    done
    grep -q '^ready$' "$QM_DESKTOP_LOG" || { cat "$log"; echo "bed: no session bus" >&2; exit 1; }
    # The desktop's default program for every file and folder, in the bed's own XDG data folder,
    # records each path it is given to open.
    mkdir -p "$bed/xdg/applications"
    printf '#!/bin/sh\nprintf "Opened\\t%%s\\n" "$1" >>%s\n' "$QM_DESKTOP_LOG" >"$bed/xdg/recorder"
    chmod +x "$bed/xdg/recorder"
    printf '[Desktop Entry]\nType=Application\nName=Recorder\nExec=%s %%f\n' "$bed/xdg/recorder" \
        >"$bed/xdg/applications/recorder.desktop"
    printf '[Default Applications]\n%s=recorder.desktop\n%s=recorder.desktop\n' \
        application/octet-stream inode/directory >"$bed/xdg/applications/mimeapps.list"
    export XDG_DATA_HOME=$bed/xdg
fi

# No proxy of the caller's may come between the program and the bed's server, nor the proxy of the
# caller's desktop (libproxy follows GNOME's or KDE's settings when these variables name them).
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
unset GNOME_DESKTOP_SESSION_ID DESKTOP_SESSION KDE_FULL_SESSION
export QM_BED_DIR=$bed QM_HTTPS_PORT QM_PORT_SELFSIGNED QM_REQUEST_LOG=$bed/requests.jsonl
export QM_NTFS_MOUNT=$bed/ntfs QM_NTFS_REMOUNT="$0 --remount $bed"
export QM_EXFAT_MOUNT=$bed/exfat QM_SMALL_MOUNT=$bed/small
QM_HTTPS_PORT=$(port_of ok)
QM_PORT_SELFSIGNED=$(port_of selfsigned)
set +e
"$@"
status=$?
set -e
exit "$status"
