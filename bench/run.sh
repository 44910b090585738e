#!/bin/bash
# Quillmere's benchmarks in one command: installs what is missing, builds both editions, the UI test
# driver and the bench programs, sets up a test bed of its own (Wine prefix trusting a throwaway CA,
# Xvfb, the bed's HTTPS server) plus an nginx on 127.0.0.1 with the bed's certificate, runs
# bench/bench.py, prints the table and tears everything down again. The native Linux edition runs
# in a mount namespace of its own where the system's certificate bundle also holds the bed's CA,
# as in the Linux tests; nothing outside the run trusts it.
#
# Usage: bench/run.sh [--linux-only] [BUILD_DIR] [-- BENCH_OPTIONS...]
#   --linux-only  the Linux edition alone (throughput, memory, Cancel; a few minutes): the Windows
#               edition and Wine are neither built nor started, and the bed is the Linux tests' own
#               (tests/linux/bed.sh with its Xvfb), with the same nginx on its certificate.
#   BUILD_DIR   the Windows edition's build, default: build/ in the source tree; configured as a
#               Release build with the tests when it has not been configured yet. The Linux
#               edition is built in BUILD_DIR-linux (a Release build without the tests).
#   BENCH_OPTIONS are passed to bench.py (--rounds N, --cancel-trials N, ...)
# The table and the raw figures land in BUILD_DIR/bench-out (report.txt, results.json).

set -euo pipefail

SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LINUX_ONLY=
if [ "${1:-}" = --linux-only ]; then
    LINUX_ONLY=1
    shift
fi
BUILD=$SRC/build
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
    BUILD=$1
    shift
fi
[ "${1:-}" = "--" ] && shift
mkdir -p "$BUILD"
BUILD=$(cd "$BUILD" && pwd)
BED=$BUILD/bench-bed
OUT=$BUILD/bench-out
NGINX_DIR=$BED/nginx
PY=/usr/bin/python3

say() { printf 'bench: %s\n' "$*"; }

NGINX_PID=
stop_nginx() {
    if [ -n "$NGINX_PID" ] && kill -0 "$NGINX_PID" 2>/dev/null; then
        kill -TERM "$NGINX_PID" 2>/dev/null || true
        for _ in $(seq 1 50); do kill -0 "$NGINX_PID" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$NGINX_PID" 2>/dev/null || true
    fi
    rm -rf "$NGINX_DIR"
}

# nginx on 127.0.0.1 with the bed's certificate ($QM_BED_DIR/certs); sets NGINX_PORT, or leaves it
# empty when nginx is missing or does not answer.
start_nginx() {
    NGINX_PORT=
    if ! command -v nginx >/dev/null; then
        say "nginx is not installed; only the bed's Python server is measured"
        return
    fi
    rm -rf "$NGINX_DIR"
    mkdir -p "$NGINX_DIR/www" "$NGINX_DIR/logs" "$NGINX_DIR/tmp"
    # Sparse bodies: reading them costs nginx no disk time.
    truncate -s 1073741824 "$NGINX_DIR/www/1g.bin"
    truncate -s 10485760 "$NGINX_DIR/www/10m.bin"
    NGINX_PORT=$("$PY" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat >"$NGINX_DIR/nginx.conf" <<EOF
# One process of our own (no daemon, no workers), on 127.0.0.1 only, with the bed's certificate.
daemon off;
master_process off;
worker_processes 1;
pid $NGINX_DIR/nginx.pid;
error_log $NGINX_DIR/logs/error.log warn;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $NGINX_DIR/tmp/body;
    proxy_temp_path $NGINX_DIR/tmp/proxy;
    fastcgi_temp_path $NGINX_DIR/tmp/fastcgi;
    uwsgi_temp_path $NGINX_DIR/tmp/uwsgi;
    scgi_temp_path $NGINX_DIR/tmp/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$NGINX_PORT ssl;
        server_name localhost;
        ssl_certificate $QM_BED_DIR/certs/localhost.pem;
        ssl_certificate_key $QM_BED_DIR/certs/localhost.key;
        root $NGINX_DIR/www;
    }
}
EOF
    setsid nginx -p "$NGINX_DIR" -c "$NGINX_DIR/nginx.conf" </dev/null >"$NGINX_DIR/logs/stdout.log" 2>&1 &
    NGINX_PID=$!
    for _ in $(seq 1 50); do
        if curl -s --cacert "$QM_CA_PEM" -o /dev/null "https://localhost:$NGINX_PORT/10m.bin"; then break; fi
        sleep 0.1
    done
    if ! curl -s --fail --cacert "$QM_CA_PEM" -o /dev/null "https://localhost:$NGINX_PORT/10m.bin"; then
        say "nginx did not answer; only the bed's Python server is measured"
        cat "$NGINX_DIR/logs/"*.log >&2 || true
        NGINX_PORT=
    else
        say "nginx (pid $NGINX_PID) on https://localhost:$NGINX_PORT/"
    fi
}

# ---- the Linux edition alone, inside the Linux tests' bed (run.sh runs itself there) -----------
if [ "${QM_BENCH_IN_LINUX_BED:-}" = 1 ]; then
    NGINX_DIR=$QM_BED_DIR/nginx
    export QM_CA_PEM=$QM_BED_DIR/certs/ca.pem
    trap 'rc=$?; stop_nginx; rm -rf "$QM_BED_DIR/work"; exit $rc' EXIT
    trap 'exit 130' INT TERM
    start_nginx
    LINUX_BUILD=${BUILD}-linux
    QM_BENCH_WORK=$QM_BED_DIR/work QM_LINUX_APP="$LINUX_BUILD/quillmere" \
        QM_LINUX_BENCH_DIR="$LINUX_BUILD/bench/linux" QM_BENCH_NGINX_PORT="$NGINX_PORT" \
        PYTHONDONTWRITEBYTECODE=1 timeout 3600 "$PY" "$SRC/bench/bench.py" --linux-only \
        --out "$OUT" --build-type Release "$@"
    exit
fi

# ---- packages -------------------------------------------------------------------------------
"$SRC/tools/install-deps.sh" test
for package in nginx-light curl libx11-dev; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' &&
        ! { [ "$package" = nginx-light ] && command -v nginx >/dev/null; }; then
        say "installing $package"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$package" ||
            { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
                  --no-install-recommends "$package"; } ||
            say "could not install $package"
    fi
done

# ---- build ----------------------------------------------------------------------------------
if [ -n "$LINUX_ONLY" ]; then
    : # the Windows edition is not built
elif [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
          -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-w64-x86_64.cmake"
elif grep -q '^BUILD_TESTING:BOOL=OFF' "$BUILD/CMakeCache.txt"; then
    # The driver that works the window is built with the tests.
    cmake -S "$SRC" -B "$BUILD" -DBUILD_TESTING=ON
fi
if [ -z "$LINUX_ONLY" ]; then
    cmake --build "$BUILD" -j"$(nproc)" --target quillmere qmdriver qmhook trustca qmbench
    BUILD_TYPE=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$BUILD/CMakeCache.txt")
    find_built() { find "$BUILD" -name "$1" -not -path '*/CMakeFiles/*' | head -n 1; }
    APP=$BUILD/quillmere.exe
    DRIVER=$(find_built qmdriver.exe)
    TRUSTCA=$(find_built trustca.exe)
    BENCH_BIN=$(dirname "$(find_built qmbench_observer.exe)")
    for f in "$APP" "$DRIVER" "$TRUSTCA" "$BENCH_BIN/qmbench_winhttp_loop.exe"; do
        [ -f "$f" ] || { echo "bench: $f was not built" >&2; exit 1; }
    done
fi

LINUX_BUILD=${BUILD}-linux
if [ ! -f "$LINUX_BUILD/CMakeCache.txt" ]; then
    cmake -S "$SRC" -B "$LINUX_BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
fi
cmake --build "$LINUX_BUILD" -j"$(nproc)" --target quillmere qmbench
LINUX_APP=$LINUX_BUILD/quillmere
LINUX_BENCH_BIN=$LINUX_BUILD/bench/linux
for f in "$LINUX_APP" "$LINUX_BENCH_BIN/qmbench_linux_window" \
         "$LINUX_BENCH_BIN/qmbench_x11_startup"; do
    [ -f "$f" ] || { echo "bench: $f was not built" >&2; exit 1; }
done

if [ -n "$LINUX_ONLY" ]; then
    exec "$SRC/tests/linux/bed.sh" --x11 "$BUILD/bench-bed-linux" env QM_BENCH_IN_LINUX_BED=1 \
        "$SRC/bench/run.sh" "$BUILD" -- "$@"
fi

# ---- bed and servers ------------------------------------------------------------------------
finish() {
    local rc=$?
    stop_nginx
    "$SRC/tests/bed/cleanup.sh" "$BED" >/dev/null 2>&1 || true
    rm -rf "$BED/wineprefix/drive_c/qmbench"
    exit "$rc"
}
trap finish EXIT
trap 'exit 130' INT TERM

"$SRC/tests/bed/setup.sh" "$BED" "$TRUSTCA"
# shellcheck disable=SC1091
. "$BED/env.sh"

start_nginx

# ---- run ------------------------------------------------------------------------------------
# The bed's CA joins the system bundle that libcurl reads, inside this run's mount namespace only.
cat /etc/ssl/certs/ca-certificates.crt "$QM_CA_PEM" >"$BED/ca-bundle.crt"
timeout 3600 unshare --mount --propagation private \
    sh -c 'mount --bind "$0" /etc/ssl/certs/ca-certificates.crt && shift && exec "$@"' \
    "$BED/ca-bundle.crt" - "$SRC/tests/bed/in_bed.sh" "$BED" env \
    QM_APP="$APP" QM_DRIVER="$DRIVER" QM_UI_OUT="$OUT/wine-logs" QM_BENCH_DIR="$BENCH_BIN" \
    QM_LINUX_APP="$LINUX_APP" QM_LINUX_BENCH_DIR="$LINUX_BENCH_BIN" \
    QM_BENCH_NGINX_PORT="$NGINX_PORT" PYTHONDONTWRITEBYTECODE=1 \
    "$PY" "$SRC/bench/bench.py" --out "$OUT" --build-type "$BUILD_TYPE" "$@"
