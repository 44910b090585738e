#!/bin/bash
# Sets up one test run's bed for Quillmere: a Wine prefix with a trusted
# throwaway CA, an Xvfb display, a real NTFS volume as drive N: and the
# bed's HTTPS server on localhost, then writes BED_DIR/env.sh for in_bed.sh.
#
# Usage: setup.sh BED_DIR [TRUSTCA_EXE]
#   BED_DIR      the run's bed folder, e.g. <build>/testbed (created if need be)
#   TRUSTCA_EXE  the bed's trustca.exe (built by bed.cmake); when omitted,
#                $QM_TRUSTCA, then BED_DIR/../tests/trustca.exe and
#                BED_DIR/../trustca.exe are tried.
#
# Re-runs reuse a complete Wine prefix and still-valid certificates; anything
# a previous run left running in BED_DIR is stopped first (cleanup.sh).
# On failure it says which step failed, shows the step's log, stops what it
# started and exits non-zero.

set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PY=/usr/bin/python3
T0=$(date +%s%N)

say() { printf 'bed: %s\n' "$*"; }
elapsed() { local ms=$(( ($(date +%s%N) - T0) / 1000000 )); printf '%d.%d' $((ms / 1000)) $((ms % 1000 / 100)); }

if [ $# -lt 1 ] || [ -z "$1" ]; then
    echo "usage: $0 BED_DIR [TRUSTCA_EXE]" >&2
    exit 2
fi
mkdir -p "$1"
BED_DIR=$(cd "$1" && pwd)
LOGS=$BED_DIR/logs
CERTS=$BED_DIR/certs
STATE=$BED_DIR/state.sh

CURRENT_STEP=start
CURRENT_LOG=
fail() {
    echo "bed: FAILED at step '$CURRENT_STEP': $*" >&2
    if [ -n "$CURRENT_LOG" ] && [ -s "$CURRENT_LOG" ]; then
        echo "bed: ---- last lines of $CURRENT_LOG ----" >&2
        tail -n 30 "$CURRENT_LOG" >&2
        echo "bed: ----" >&2
    fi
    exit 1
}
on_exit() {
    local rc=$?
    if [ "$rc" -ne 0 ]; then
        echo "bed: set-up failed (exit $rc) after $(elapsed) s; stopping what was started" >&2
        "$HERE/cleanup.sh" "$BED_DIR" >&2 || true
        rm -f "$BED_DIR/env.sh"
    fi
}
trap on_exit EXIT
trap 'fail "command failed (line $LINENO): $BASH_COMMAND"' ERR

step() { CURRENT_STEP=$1; CURRENT_LOG=${2:-}; say "[$(elapsed) s] $1"; }

# Remembers a variable for cleanup.sh right away, so a failed set-up can
# still be torn down.
remember() { printf 'export %s=%q\n' "$1" "$2" >>"$STATE"; }

# Runs a command with no terminal input and its output in a log file, so that
# nothing started in the background holds the caller's pipes (ctest waits for
# them to close).
quiet() { local log=$1; shift; "$@" </dev/null >>"$log" 2>&1; }

# ---------------------------------------------------------------------------
step "checking tools"
for tool in wine wineserver wineboot Xvfb openssl mkntfs ntfs-3g mountpoint truncate setsid; do
    command -v "$tool" >/dev/null || fail "'$tool' is not installed"
done
[ -x "$PY" ] || fail "$PY is missing"
[ -e /dev/fuse ] || fail "/dev/fuse is missing (ntfs-3g needs it)"

TRUSTCA=${2:-${QM_TRUSTCA:-}}
if [ -z "$TRUSTCA" ]; then
    for c in "$BED_DIR/../tests/trustca.exe" "$BED_DIR/../trustca.exe"; do
        if [ -f "$c" ]; then TRUSTCA=$c; break; fi
    done
fi
[ -n "$TRUSTCA" ] && [ -f "$TRUSTCA" ] || fail "trustca.exe not found (pass it as the second argument)"
TRUSTCA=$(cd "$(dirname "$TRUSTCA")" && pwd)/$(basename "$TRUSTCA")

# ---------------------------------------------------------------------------
step "stopping anything a previous run left in $BED_DIR"
rm -rf "$LOGS"
mkdir -p "$LOGS"
"$HERE/cleanup.sh" "$BED_DIR" >"$LOGS/cleanup-before.log" 2>&1 || true
rm -f "$BED_DIR/env.sh" "$STATE"
: >"$STATE"
remember QM_BED_DIR "$BED_DIR"

export WINEPREFIX=$BED_DIR/wineprefix
export WINEDEBUG=-all
# No Mono or Gecko: their installers would wait for a click on the display.
export WINEDLLOVERRIDES="mscoree,mshtml="
remember WINEPREFIX "$WINEPREFIX"

# ---------------------------------------------------------------------------
step "starting Xvfb" "$LOGS/xvfb.log"
XVFB_PID=
DISPLAY_NUM=
for n in $(seq 90 160); do
    if [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then continue; fi
    # setsid: keep the display out of the caller's process group.  It does
    # not fork here (a background job is no group leader), so $! is Xvfb.
    setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$LOGS/xvfb.log" 2>&1 &
    pid=$!
    # Ours once its socket is there and the lock file names our pid (another
    # run may have taken the same number a moment earlier).
    mine=
    for _ in $(seq 1 100); do
        if [ -S "/tmp/.X11-unix/X$n" ] && [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$pid" ]; then
            mine=1
            break
        fi
        state=$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null) || state=
        if [ -z "$state" ] || [ "$state" = Z ]; then break; fi
        sleep 0.05
    done
    if [ -n "$mine" ]; then
        XVFB_PID=$pid
        DISPLAY_NUM=$n
        break
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
done
[ -n "$XVFB_PID" ] || fail "could not start Xvfb on any display from :90 to :160"
grep -q Xvfb "/proc/$XVFB_PID/cmdline" || fail "pid $XVFB_PID is not Xvfb"
remember QM_XVFB_PID "$XVFB_PID"
export DISPLAY=:$DISPLAY_NUM
say "  Xvfb on $DISPLAY (pid $XVFB_PID)"

# ---------------------------------------------------------------------------
WINE_ID="$(wine --version 2>/dev/null) $(uname -m)"
MARKER=$WINEPREFIX/.quillmere-bed-prefix
if [ -f "$MARKER" ] && [ "$(cat "$MARKER")" = "$WINE_ID" ] \
   && [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/user.reg" ] \
   && [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; then
    step "reusing the Wine prefix $WINEPREFIX"
else
    step "creating the Wine prefix $WINEPREFIX (about 15 s)" "$LOGS/wineboot.log"
    rm -rf "$WINEPREFIX"
    quiet "$LOGS/wineboot.log" wineboot -i || fail "wineboot -i failed"
    quiet "$LOGS/wineboot.log" wineserver -w || true
    [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] \
        || fail "wineboot left an incomplete prefix"
    echo "$WINE_ID" >"$MARKER"
fi

step "starting a persistent wineserver for the prefix" "$LOGS/wineserver.log"
# -p: stay alive between programs, so each start costs about 0.1 s.
quiet "$LOGS/wineserver.log" setsid wineserver -p || fail "wineserver -p failed"

step "setting HKCU\\Software\\Wine\\X11 Driver Managed=N" "$LOGS/wine.log"
quiet "$LOGS/wine.log" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    || fail "reg add failed"
quiet "$LOGS/wine.log" wine reg query 'HKCU\Software\Wine\X11 Driver' /v Managed || fail "reg query failed"
grep -Eq 'Managed[[:space:]]+REG_SZ[[:space:]]+N' "$LOGS/wine.log" || fail "Managed=N did not stick"

# ---------------------------------------------------------------------------
cert_ok() {
    [ -f "$CERTS/.complete" ] || return 1
    local f
    for f in ca.pem ca.der localhost.pem selfsigned.pem wronghost.pem untrusted-ca.pem untrusted.pem expired.pem; do
        [ -s "$CERTS/$f" ] || return 1
    done
    # Still valid for a week: reuse.
    openssl x509 -checkend 604800 -noout -in "$CERTS/ca.pem" >/dev/null &&
        openssl x509 -checkend 604800 -noout -in "$CERTS/localhost.pem" >/dev/null
}

# sign NAME CA_BASENAME SAN STARTDATE ENDDATE: NAME.key/.pem signed by CA.
sign() {
    local name=$1 ca=$2 san=$3 start=$4 end=$5 cn=${3#DNS:}
    local db=$CERTS/db-$ca
    mkdir -p "$db" || return 1
    [ -f "$db/index.txt" ] || : >"$db/index.txt"
    [ -f "$db/serial" ] || openssl rand -hex 8 >"$db/serial"
    cat >"$CERTS/$name.cnf" <<EOF
[ca]
default_ca = bed
[bed]
database = $db/index.txt
serial = $db/serial
new_certs_dir = $db
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
[server]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $san
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
    openssl req -new -newkey rsa:2048 -nodes -keyout "$CERTS/$name.key" \
        -out "$CERTS/$name.csr" -subj "/CN=$cn" || return 1
    openssl ca -batch -notext -config "$CERTS/$name.cnf" -extensions server \
        -cert "$CERTS/$ca.pem" -keyfile "$CERTS/$ca.key" \
        -startdate "$start" -enddate "$end" \
        -in "$CERTS/$name.csr" -out "$CERTS/$name.pem"
}

make_ca() {
    local name=$1 cn=$2
    openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days 3650 \
        -keyout "$CERTS/$name.key" -out "$CERTS/$name.pem" -subj "/CN=$cn" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -addext "subjectKeyIdentifier=hash"
}

# Each command is checked on its own: 'set -e' does not reach into a
# function that is called on the left of '||'.
make_certs() {
    rm -rf "$CERTS" && mkdir -p "$CERTS" || return 1
    local start end
    start=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ) || return 1
    end=$(date -u -d '+825 days' +%Y%m%d%H%M%SZ) || return 1
    make_ca ca "Quillmere Bed Test CA $(date -u +%Y%m%d%H%M%S)" || return 1
    openssl x509 -in "$CERTS/ca.pem" -outform DER -out "$CERTS/ca.der" || return 1
    make_ca untrusted-ca "Quillmere Bed Untrusted CA" || return 1
    sign localhost ca DNS:localhost "$start" "$end" || return 1
    sign expired ca DNS:localhost 20200101000000Z 20210101000000Z || return 1
    sign wronghost ca DNS:example.invalid "$start" "$end" || return 1
    sign untrusted untrusted-ca DNS:localhost "$start" "$end" || return 1
    openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days 825 \
        -keyout "$CERTS/selfsigned.key" -out "$CERTS/selfsigned.pem" -subj "/CN=localhost" \
        -addext "subjectAltName=DNS:localhost" -addext "extendedKeyUsage=serverAuth" || return 1
    # Each one must be good or bad in the intended way.
    openssl verify -CAfile "$CERTS/ca.pem" "$CERTS/localhost.pem" || return 1
    openssl verify -CAfile "$CERTS/ca.pem" "$CERTS/wronghost.pem" || return 1
    openssl verify -CAfile "$CERTS/ca.pem" "$CERTS/expired.pem" && return 1
    openssl verify -CAfile "$CERTS/ca.pem" "$CERTS/untrusted.pem" && return 1
    openssl verify -CAfile "$CERTS/ca.pem" "$CERTS/selfsigned.pem" && return 1
    openssl verify -CAfile "$CERTS/untrusted-ca.pem" "$CERTS/untrusted.pem" || return 1
    openssl x509 -noout -checkend 0 -in "$CERTS/expired.pem" && return 1
    openssl x509 -noout -checkhost localhost -in "$CERTS/localhost.pem" | grep -q 'does match' || return 1
    openssl x509 -noout -checkhost localhost -in "$CERTS/wronghost.pem" | grep -q 'does NOT match' || return 1
    touch "$CERTS/.complete"
}

if cert_ok; then
    step "reusing the certificates in $CERTS"
else
    step "generating certificates in $CERTS" "$LOGS/openssl.log"
    make_certs </dev/null >>"$LOGS/openssl.log" 2>&1 || fail "certificate generation failed"
fi

step "trusting the bed CA inside the prefix" "$LOGS/trustca.log"
quiet "$LOGS/trustca.log" wine "$TRUSTCA" "$(printf 'Z:%s' "$CERTS/ca.der" | tr / '\\')" \
    || fail "trustca could not add the CA to LocalMachine\\Root"

# ---------------------------------------------------------------------------
NTFS_MNT=$BED_DIR/ntfs
NTFS_IMG=$BED_DIR/ntfs.img
step "making an NTFS volume at $NTFS_MNT as drive N:" "$LOGS/ntfs.log"
mkdir -p "$NTFS_MNT"
if mountpoint -q "$NTFS_MNT"; then fail "$NTFS_MNT is still mounted"; fi
rm -f "$NTFS_IMG"
truncate -s 256M "$NTFS_IMG"
quiet "$LOGS/ntfs.log" mkntfs -F -Q -q -L QMBED "$NTFS_IMG" || fail "mkntfs failed"
remember QM_NTFS_MOUNT "$NTFS_MNT"
quiet "$LOGS/ntfs.log" ntfs-3g -o streams_interface=windows "$NTFS_IMG" "$NTFS_MNT" || fail "ntfs-3g mount failed"
mountpoint -q "$NTFS_MNT" || fail "$NTFS_MNT is not a mount point after ntfs-3g"
ln -sfn "$NTFS_MNT" "$WINEPREFIX/dosdevices/n:"

step "checking alternate data streams on N:" "$LOGS/ntfs.log"
quiet "$LOGS/ntfs.log" wine "$TRUSTCA" --stream-probe 'N:\bedprobe.txt' \
    || fail "the stream probe on N: failed"
[ -f "$NTFS_MNT/bedprobe.txt.moved" ] || fail "N:\\bedprobe.txt.moved is not at $NTFS_MNT"
[ ! -e "$NTFS_MNT/bedprobe.txt" ] || fail "the renamed probe file is still there"
for f in "$NTFS_MNT"/* "$NTFS_MNT"/.*; do
    case $(basename "$f") in *:*) fail "a file named '$(basename "$f")' appeared, streams are not real" ;; esac
done
grep -q 'ZoneId=3' "$NTFS_MNT/bedprobe.txt.moved:Zone.Identifier" \
    || fail "the stream is not readable from Linux as FILE:Zone.Identifier"
rm -f "$NTFS_MNT/bedprobe.txt.moved"
[ ! -e "$NTFS_MNT/bedprobe.txt.moved:Zone.Identifier" ] || fail "deleting the file left its stream"

# ---------------------------------------------------------------------------
step "starting the HTTPS server" "$LOGS/https_server.log"
REQUEST_LOG=$BED_DIR/requests.jsonl
PORT_FILE=$BED_DIR/ports.txt
rm -f "$PORT_FILE"
: >"$REQUEST_LOG"
setsid "$PY" "$HERE/https_server.py" --log "$REQUEST_LOG" --port-file "$PORT_FILE" \
    --listen "ok:0:$CERTS/localhost.pem:$CERTS/localhost.key" \
    --listen "selfsigned:0:$CERTS/selfsigned.pem:$CERTS/selfsigned.key" \
    --listen "expired:0:$CERTS/expired.pem:$CERTS/expired.key" \
    --listen "wronghost:0:$CERTS/wronghost.pem:$CERTS/wronghost.key" \
    --listen "untrusted:0:$CERTS/untrusted.pem:$CERTS/untrusted.key" \
    </dev/null >"$LOGS/https_server.log" 2>&1 &
SERVER_PID=$!
remember QM_SERVER_PID "$SERVER_PID"
for _ in $(seq 1 200); do
    if [ -f "$PORT_FILE" ] || ! kill -0 "$SERVER_PID" 2>/dev/null; then break; fi
    sleep 0.05
done
kill -0 "$SERVER_PID" 2>/dev/null || fail "the HTTPS server exited"
[ -f "$PORT_FILE" ] || fail "the HTTPS server did not write its port file"
port_of() { awk -v n="$1" '$1 == n { print $2 }' "$PORT_FILE"; }
PORT_OK=$(port_of ok)
PORT_SELFSIGNED=$(port_of selfsigned)
PORT_EXPIRED=$(port_of expired)
PORT_WRONGHOST=$(port_of wronghost)
PORT_UNTRUSTED=$(port_of untrusted)
for p in "$PORT_OK" "$PORT_SELFSIGNED" "$PORT_EXPIRED" "$PORT_WRONGHOST" "$PORT_UNTRUSTED"; do
    [[ "$p" =~ ^[0-9]+$ ]] || fail "bad port file: $(cat "$PORT_FILE")"
done
say "  server pid $SERVER_PID; ports: ok $PORT_OK, self-signed $PORT_SELFSIGNED, expired $PORT_EXPIRED," \
    "wrong host $PORT_WRONGHOST, untrusted CA $PORT_UNTRUSTED"

step "checking the server from Linux with the bed CA" "$LOGS/https_server.log"
"$PY" - "$CERTS/ca.pem" "$PORT_OK" <<'EOF' || fail "the server does not answer correctly over TLS"
import http.client, ssl, sys
ctx = ssl.create_default_context(cafile=sys.argv[1])
c = http.client.HTTPSConnection("localhost", int(sys.argv[2]), context=ctx, timeout=10)
c.request("GET", "/ok/1000")
r = c.getresponse()
data = r.read()
assert r.status == 200, r.status
assert data == bytes((i * 131 + 7) % 256 for i in range(1000)), "body pattern"
EOF

step "checking WinHTTP under Wine against each port" "$LOGS/probe.log"
probe() {
    local port=$1 expect=$2 reason=$3
    : >"$LOGS/probe-one.log"
    WINEDEBUG=warn+winhttp wine "$TRUSTCA" --probe "https://localhost:$port/ok/100000" "$expect" \
        </dev/null >"$LOGS/probe-one.log" 2>&1 || {
        cat "$LOGS/probe-one.log" >>"$LOGS/probe.log"
        fail "WinHTTP probe of port $port did not give $expect"
    }
    cat "$LOGS/probe-one.log" >>"$LOGS/probe.log"
    if [ -n "$reason" ] && ! grep -q "cert verify failed: $reason" "$LOGS/probe-one.log"; then
        fail "port $port was refused, but not for reason $reason"
    fi
    grep 'trustca: probe' "$LOGS/probe-one.log" | sed 's/^/bed:   /'
}
probe "$PORT_OK" 200:100000 ""
probe "$PORT_SELFSIGNED" error:12157 12045
probe "$PORT_EXPIRED" error:12157 12037
probe "$PORT_WRONGHOST" error:12157 12038
probe "$PORT_UNTRUSTED" error:12157 12045
rm -f "$LOGS/probe-one.log"
# The checks' requests are not the tests' business.
: >"$REQUEST_LOG"

# ---------------------------------------------------------------------------
step "writing $BED_DIR/env.sh"
win_path() { printf 'Z:%s' "$1" | tr / '\\'; }
{
    echo "# Written by tests/bed/setup.sh for the bed in $BED_DIR; source it, or use in_bed.sh."
    printf 'export %s=%q\n' \
        WINEPREFIX "$WINEPREFIX" \
        WINEDEBUG "-all" \
        WINEDLLOVERRIDES "$WINEDLLOVERRIDES" \
        DISPLAY "$DISPLAY" \
        QM_BED_DIR "$BED_DIR" \
        QM_BED_WIN "$(win_path "$BED_DIR")" \
        QM_HTTPS_PORT "$PORT_OK" \
        QM_PORT_SELFSIGNED "$PORT_SELFSIGNED" \
        QM_PORT_EXPIRED "$PORT_EXPIRED" \
        QM_PORT_WRONGHOST "$PORT_WRONGHOST" \
        QM_PORT_UNTRUSTED "$PORT_UNTRUSTED" \
        QM_CA_PEM "$CERTS/ca.pem" \
        QM_NTFS_MOUNT "$NTFS_MNT" \
        QM_NTFS_DRIVE "N:" \
        QM_REQUEST_LOG "$REQUEST_LOG" \
        QM_REQUEST_LOG_WIN "$(win_path "$REQUEST_LOG")" \
        QM_PYTHON "$PY" \
        QM_XVFB_PID "$XVFB_PID" \
        QM_SERVER_PID "$SERVER_PID"
} >"$BED_DIR/env.sh.tmp"
mv "$BED_DIR/env.sh.tmp" "$BED_DIR/env.sh"

say "ready in $(elapsed) s: DISPLAY=$DISPLAY, https://localhost:$PORT_OK/, N: = $NTFS_MNT"
