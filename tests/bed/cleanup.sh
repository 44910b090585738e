#!/bin/bash
# Tears down the test bed that setup.sh made in BED_DIR: ends the prefix's
# Wine processes, stops the HTTPS server and Xvfb by their recorded pids and
# unmounts the NTFS volume.  Whatever is already gone is skipped; it always
# exits 0 so that it never fails a run on its own.
#
# Usage: cleanup.sh BED_DIR

set -u
if [ $# -lt 1 ] || [ -z "$1" ]; then
    echo "usage: $0 BED_DIR" >&2
    exit 0
fi
BED_DIR=$1
[ -d "$BED_DIR" ] || { echo "bed: nothing to clean up, $BED_DIR does not exist"; exit 0; }
BED_DIR=$(cd "$BED_DIR" && pwd)
say() { printf 'bed: %s\n' "$*"; }

QM_XVFB_PID='' QM_SERVER_PID=''
# state.sh is written step by step while setting up, so it also covers a
# set-up that failed half-way; env.sh is only there after a complete one.
for f in "$BED_DIR/state.sh" "$BED_DIR/env.sh"; do
    # shellcheck disable=SC1090
    [ -f "$f" ] && . "$f"
done
PREFIX=$BED_DIR/wineprefix
NTFS_MNT=$BED_DIR/ntfs

# alive PID: the process exists and is not a zombie waiting to be reaped.
alive() {
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# stop_pid PID WORD: ends PID if its command line still contains WORD (the
# number may belong to someone else by now), TERM first, then KILL.
stop_pid() {
    local pid=$1 word=$2 what=$3
    if [ -z "$pid" ] || ! alive "$pid"; then
        return 0
    fi
    if ! tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "$word"; then
        say "pid $pid is no longer the $what; left alone"
        return 0
    fi
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 1 100); do
        alive "$pid" || { say "stopped the $what (pid $pid)"; return 0; }
        sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null
    say "killed the $what (pid $pid), it ignored SIGTERM"
}

if [ -d "$PREFIX" ]; then
    WINEPREFIX=$PREFIX WINEDEBUG=-all wineserver -k </dev/null >/dev/null 2>&1 \
        && say "ended the Wine processes of $PREFIX"
    # Wait (briefly) until the prefix's server has really gone.
    for _ in $(seq 1 50); do
        WINEPREFIX=$PREFIX WINEDEBUG=-all wineserver -k </dev/null >/dev/null 2>&1 || break
        sleep 0.1
    done
fi

stop_pid "$QM_SERVER_PID" https_server.py "HTTPS server"
stop_pid "$QM_XVFB_PID" Xvfb "Xvfb"

if mountpoint -q "$NTFS_MNT" 2>/dev/null; then
    for _ in $(seq 1 20); do
        umount "$NTFS_MNT" 2>/dev/null || fusermount -u "$NTFS_MNT" 2>/dev/null
        mountpoint -q "$NTFS_MNT" || break
        sleep 0.25
    done
    if mountpoint -q "$NTFS_MNT"; then
        umount -l "$NTFS_MNT" 2>/dev/null && say "lazily unmounted $NTFS_MNT (it was busy)"
    else
        say "unmounted $NTFS_MNT"
    fi
fi
rm -f "$PREFIX/dosdevices/n:" 2>/dev/null
exit 0
