#!/bin/bash
# Runs a command inside the test bed made by setup.sh: sources BED_DIR/env.sh
# (WINEPREFIX, DISPLAY, the server's ports, QM_* paths) and execs the command.
# Used as the emulator prefix for Windows test programs ("in_bed.sh;BED_DIR;wine")
# and to run the Python test scripts.
#
# Usage: in_bed.sh BED_DIR CMD [ARGS...]

if [ $# -lt 2 ]; then
    echo "usage: $0 BED_DIR CMD [ARGS...]" >&2
    exit 2
fi
BED_DIR=$1
shift
if [ ! -f "$BED_DIR/env.sh" ]; then
    echo "in_bed: $BED_DIR/env.sh is missing: the bed is not set up (run setup.sh, or the bed.setup test)" >&2
    exit 1
fi
# shellcheck disable=SC1091
. "$BED_DIR/env.sh"
# A bed whose server or display has died makes every test fail for a reason
# that has nothing to do with the test: say so plainly.
for pid in "$QM_XVFB_PID" "$QM_SERVER_PID"; do
    state=$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)
    if [ -z "$state" ] || [ "$state" = Z ]; then
        echo "in_bed: the bed in $BED_DIR is down (pid $pid has gone); run setup.sh again" >&2
        exit 1
    fi
done
if ! mountpoint -q "$QM_NTFS_MOUNT"; then
    echo "in_bed: the bed's NTFS volume $QM_NTFS_MOUNT is not mounted; run setup.sh again" >&2
    exit 1
fi
exec "$@"
