"""The Linux edition's part of the benchmarks (Python 3 standard library only), used by bench.py in
the same run, on the same server and the same disk as the Windows edition under Wine.

The program's own window is driven in process by qmbench_linux_window (the window exactly as the
program builds it, on the bed's X server), which times the status texts and round trips into the
UI thread. Start-ups of the Linux edition, a minimal Qt window and the Windows edition under Wine
are all timed by one X11 observer (qmbench_x11_startup), to the moment their window is mapped.

Environment: QM_LINUX_BENCH_DIR (the folder of the Linux bench programs), QM_LINUX_APP (the Linux
edition's executable), plus the bed's DISPLAY and QM_CA_PEM. The Linux edition trusts the bed's CA
because bench/run.sh runs everything in a mount namespace whose system bundle also holds it."""

import json
import os
import subprocess
import time

BENCH_DIR = os.environ.get("QM_LINUX_BENCH_DIR", "")
APP = os.environ.get("QM_LINUX_APP", "")
WINDOW = os.path.join(BENCH_DIR, "qmbench_linux_window")
MINIMAL = os.path.join(BENCH_DIR, "qmbench_linux_minimal_window")
STARTUP = os.path.join(BENCH_DIR, "qmbench_x11_startup")
TITLE = "Quillmere"


def available():
    return bool(BENCH_DIR) and all(os.path.isfile(p) for p in (APP, WINDOW, MINIMAL, STARTUP))


def env():
    e = dict(os.environ)
    e.update(QT_QPA_PLATFORM="xcb", LANG="C.UTF-8", LC_ALL="C.UTF-8")
    e.pop("LANGUAGE", None)
    return e


def run_json(args, timeout, environment=None):
    """Runs a bench program (under Wine when args start with "wine") and returns the last JSON
    line it printed, which must say ok."""
    done = subprocess.run(args, env=environment or env(), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
    name = os.path.basename(args[1] if args[0] == "wine" else args[0])
    lines = [line for line in done.stdout.decode("utf-8", "replace").splitlines()
             if line.startswith("{")]
    if not lines:
        raise RuntimeError("%s printed nothing (exit %d)" % (name, done.returncode))
    answer = json.loads(lines[-1])
    if not answer.get("ok"):
        raise RuntimeError("%s failed: %s" % (name, answer))
    return answer


def download(url, size, folder, ping_ms=0):
    """One fresh run of the Linux edition's window downloading url into folder: its time from
    the Download click to "Download completed.", peak resident memory, the status changes, the
    times of its first write, its flush and its rename and, with ping_ms, the round trips into
    the UI thread."""
    target = os.path.join(folder, "linux.bin")
    try:
        return run_json([WINDOW, "download", url, target, str(size), str(ping_ms)], timeout=600)
    finally:
        if os.path.exists(target):
            os.remove(target)


def fsync_file(path):
    """Flushes a file that another program wrote to the disk."""
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def curl_fsync(url, size, ca_pem, folder):
    """curl -o FILE to the same disk, then an fsync of that file: curl's own transfer time plus
    the time the fsync takes."""
    target = os.path.join(folder, "curl.bin")
    try:
        done = subprocess.run(["curl", "-s", "-S", "--fail", "--cacert", ca_pem, "-o", target,
                               "-w", "%{time_total} %{size_download}", url],
                              stdout=subprocess.PIPE, check=True, timeout=300)
        seconds, got = done.stdout.decode().split()
        if int(got) != size:
            raise RuntimeError("curl read %s bytes" % got)
        begin = time.monotonic()
        fsync_file(target)
        return float(seconds) * 1000.0 + (time.monotonic() - begin) * 1000.0
    finally:
        if os.path.exists(target):
            os.remove(target)


def dd_fsync(size, folder):
    """dd writing as many zero bytes to the same disk in 1 MiB blocks, flushed at the end
    (conv=fsync): what the disk alone takes for a file of this size, with no network at all."""
    target = os.path.join(folder, "dd.bin")
    try:
        begin = time.monotonic()
        subprocess.run(["dd", "if=/dev/zero", "of=" + target, "bs=1M", "count=%d" % (size >> 20),
                        "conv=fsync", "status=none"], check=True, timeout=300)
        return (time.monotonic() - begin) * 1000.0
    finally:
        if os.path.exists(target):
            os.remove(target)


def dd_direct(size, folder):
    """dd writing as many zero bytes to the same disk in 8 MiB blocks straight to the device
    (oflag=direct), past the page cache: the disk's own sustained write, the limit for any program
    that writes a file of this size there. Also times an fsync of the file right after, which
    dd never makes: what the disk still takes to make those writes durable (its own cache, the
    file's metadata). Returns both times in ms."""
    target = os.path.join(folder, "dd-direct.bin")
    try:
        begin = time.monotonic()
        subprocess.run(["dd", "if=/dev/zero", "of=" + target, "bs=8M", "count=%d" % (size >> 23),
                        "oflag=direct", "status=none"], check=True, timeout=300)
        written = time.monotonic()
        fsync_file(target)
        return (written - begin) * 1000.0, (time.monotonic() - written) * 1000.0
    finally:
        if os.path.exists(target):
            os.remove(target)


def cancellations(url, trials, folder):
    target = os.path.join(folder, "cancel.bin")
    answer = run_json([WINDOW, "cancel", url, target, str(trials)], timeout=600)
    left = os.listdir(folder)
    if left:
        raise RuntimeError("files left behind after the Linux edition's cancellations: %s" % left)
    return answer["trials"]


def startups(rounds, wine_app, wine_env, log):
    """The Linux edition, the minimal Qt window and the Windows edition under Wine, one after
    another in a rotating order, each timed to its mapped window by the same observer."""
    contenders = {
        "linux": ([STARTUP, TITLE, APP], env()),
        "minimal": ([STARTUP, TITLE, MINIMAL], env()),
        "wine": ([STARTUP, TITLE, "wine", wine_app], wine_env),
    }
    names = list(contenders)
    times = {name: [] for name in names}
    for r in range(rounds):
        for name in names[r % 3:] + names[:r % 3]:
            args, environment = contenders[name]
            times[name].append(run_json(args, timeout=120, environment=environment)["ms"])
    log("X11 start-up: Linux edition %s ms, minimal Qt window %s ms, Windows edition under Wine "
        "%s ms" % tuple([round(x) for x in times[n]] for n in names))
    return times
