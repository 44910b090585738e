#!/usr/bin/python3
"""Quillmere's benchmarks under Wine (Python 3 standard library only), run by bench/run.sh inside
a test bed of its own. Every figure is a ratio or a distribution measured side by side in this one
run, contenders alternating, because the machines are shared and noisy.

The program is driven through its real window by the UI test driver (qmdriver.exe: type the link,
Browse, the Save As dialog, Download, Cancel); the driver's recorder logs, inside the program's
process, the moment each status text is set, which times the program's own work. The bench
observer (qmbench_observer.exe) times WM_NULL round trips, reads memory counters and times
start-ups; the bare WinHTTP loop (qmbench_winhttp_loop.exe) is the yardstick for throughput.
The native Linux edition runs in the same rounds (linux_edition.py), against curl writing to the
same disk.

Environment: the bed's (WINEPREFIX, DISPLAY, QM_HTTPS_PORT, QM_CA_PEM, ...) plus QM_APP,
QM_DRIVER, QM_UI_OUT, QM_BENCH_DIR (the folder of the bench programs) and QM_BENCH_NGINX_PORT
(when nginx runs)."""

import argparse
import datetime
import json
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "ui"))

import linux_edition as linux  # noqa: E402
import qmui  # noqa: E402

GIB = 1 << 30
BIG = GIB
SMALL = 10 << 20
CHUNK = 65536
TICK_MS = 250.0
# The system timer's resolution on Windows (1/64 s): "one tick" of slack around the 250 ms timer.
TIMER_RESOLUTION_MS = 15.625

COMPLETED = "Download completed."
CANCELLED = "Download cancelled."
FAILED = "Download failed."
CONNECTING = "Connecting\u2026"
CANCELLING = "Cancelling\u2026"
RECEIVED = "Received: "

BENCH_DIR = os.environ.get("QM_BENCH_DIR", "")
OBSERVER = os.path.join(BENCH_DIR, "qmbench_observer.exe")
LOOP = os.path.join(BENCH_DIR, "qmbench_winhttp_loop.exe")
MINIMAL = os.path.join(BENCH_DIR, "qmbench_minimal_window.exe")
CA_PEM = os.environ.get("QM_CA_PEM", "")
PREFIX = os.environ.get("WINEPREFIX", "")
WORK_WIN = "C:\\qmbench"
# Where the Linux edition runs alone there is no prefix: QM_BENCH_WORK names a folder on the disk.
WORK_LINUX = os.environ.get("QM_BENCH_WORK") or os.path.join(PREFIX, "drive_c", "qmbench")


def log(*parts):
    print("bench:", *parts, flush=True)


def win_path(linux_path):
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


def wine(*args, timeout=300):
    return linux.run_json(["wine", *args], timeout, qmui.wine_env("C.UTF-8"))


def remove_work_files():
    if os.path.isdir(WORK_LINUX):
        for name in os.listdir(WORK_LINUX):
            os.remove(os.path.join(WORK_LINUX, name))


def percentile(values, p):
    """Nearest-rank percentile (p in 0..100) of a non-empty list."""
    ordered = sorted(values)
    rank = max(1, int(-(-p * len(ordered) // 100)))
    return ordered[min(rank, len(ordered)) - 1]


def mib(n):
    return n / (1 << 20)


# ---- The program, through its window ---------------------------------------------------------

class Program:
    """One fresh run of quillmere.exe with a destination chosen through Browse and Save As."""

    def __init__(self, driver, url, target_name):
        self.driver = driver
        self.app = qmui.App(driver, "en_US.UTF-8")
        self.target_linux = os.path.join(WORK_LINUX, target_name)
        driver.set_url(url)
        driver.click("browse")
        answer = driver.save_dialog(WORK_WIN + "\\" + target_name)
        if not answer.get("closed"):
            raise RuntimeError("the Save As dialog did not close: %s" % answer)

    def start(self):
        self.driver("record", "start")
        self.driver.click("download")

    def wait(self, texts, timeout_ms, interval_ms=200):
        """Waits for one of texts, looking at the status line only every interval_ms so that the
        watching costs the program next to nothing; the recorder has the exact times."""
        watch = self.driver.watch_status(until=texts, timeout_ms=timeout_ms,
                                         interval_ms=interval_ms)
        return watch["changes"][-1]["text"]

    def status_events(self):
        return [(e["t"], e["text"]) for e in self.driver("record", "read")["events"]
                if e["kind"] == "text" and (e["text"].startswith(RECEIVED) or e["text"] in (
                    CONNECTING, CANCELLING, COMPLETED, CANCELLED, FAILED))]

    def stop(self):
        self.app.stop()


def time_between(events, first, last):
    start = next(t for t, text in events if text == first)
    end = next(t for t, text in reversed(events) if text == last)
    return end - start


def progress_spacing(events):
    times = [t for t, text in events if text.startswith(RECEIVED)]
    return [b - a for a, b in zip(times, times[1:])]


def program_download(driver, url, size, with_ping=False):
    """Downloads url through the window into C:; returns the program's time (from "Connecting…"
    to "Download completed.", as set inside the process), memory counters and status events."""
    remove_work_files()
    program = Program(driver, url, "app.bin")
    try:
        before = wine(OBSERVER, "mem")["mem"]
        ping = None
        if with_ping:
            ping = subprocess.Popen(["wine", OBSERVER, "ping", "--until", COMPLETED, "--until",
                                     FAILED, "--interval", "10", "--timeout", "300000"],
                                    env=qmui.wine_env("C.UTF-8"), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            ready = ping.stdout.readline()
            if b"ready" not in ready:
                raise RuntimeError("the observer is not ready: %r" % ready)
        program.start()
        outcome = program.wait([COMPLETED, CANCELLED, FAILED], timeout_ms=300000,
                               interval_ms=200 if not with_ping else 1000)
        ping_result = None
        if ping:
            out, _ = ping.communicate(timeout=120)
            ping_result = json.loads(out.decode().strip().splitlines()[-1])
        if outcome != COMPLETED:
            raise RuntimeError("the download ended with %r" % outcome)
        events = program.status_events()
        after = wine(OBSERVER, "mem")["mem"]
        size_on_disk = os.path.getsize(program.target_linux)
        if size_on_disk != size:
            raise RuntimeError("the downloaded file has %d bytes, not %d" % (size_on_disk, size))
    finally:
        program.stop()
        remove_work_files()
    return {"ms": time_between(events, CONNECTING, COMPLETED), "before": before, "after": after,
            "events": events, "ping": ping_result}


# ---- The yardsticks --------------------------------------------------------------------------

def loop_download(url, write):
    remove_work_files()
    try:
        if write:
            answer = wine(LOOP, url, "--out", WORK_WIN + "\\loop.bin")
        else:
            answer = wine(LOOP, url, "--discard")
    finally:
        remove_work_files()
    if answer["bytes"] != BIG:
        raise RuntimeError("the loop read %d bytes" % answer["bytes"])
    return answer["ms"]


def curl_download(url):
    done = subprocess.run(["curl", "-s", "-S", "--fail", "--cacert", CA_PEM, "-o", "/dev/null",
                           "-w", "%{time_total} %{size_download}", url],
                          stdout=subprocess.PIPE, check=True, timeout=300)
    seconds, size = done.stdout.decode().split()
    if int(size) != BIG:
        raise RuntimeError("curl read %s bytes" % size)
    return float(seconds) * 1000.0


# ---- The parts of the run --------------------------------------------------------------------

def choose_server(servers, rounds):
    """Measures each candidate server with curl and the bare WinHTTP loop (discarding), in turn;
    the one the loop reads faster is used for everything after."""
    figures = {name: {"curl": [], "loop": []} for name in servers}
    for r in range(rounds):
        order = list(servers) if r % 2 == 0 else list(reversed(list(servers)))
        for name in order:
            figures[name]["curl"].append(curl_download(servers[name]["big"]))
            figures[name]["loop"].append(loop_download(servers[name]["big"], write=False))
    for name, f in figures.items():
        log("server %-6s curl %s ms, WinHTTP loop %s ms" % (
            name, [round(x) for x in f["curl"]], [round(x) for x in f["loop"]]))
    best = min(figures, key=lambda n: statistics.median(figures[n]["loop"]))
    return best, figures


def throughput(driver, server, rounds):
    """Without a driver, the Linux edition's contenders only."""
    results = []
    for r in range(rounds):
        row = {}
        # The program and the writing loop alternate which goes first, and the Linux edition,
        # curl and the two dd runs writing to the same disk take turns at going first.
        pair = ["program", "loop"] if r % 2 == 0 else ["loop", "program"]
        windows = pair + ["discard"] if driver else []
        linux_pair = ["linux", "dd_direct", "curl_fsync", "dd_fsync"]
        linux_pair = linux_pair[r % 4:] + linux_pair[:r % 4]
        for who in windows + ["curl"] + (linux_pair if linux.available() else []):
            if who == "linux":
                remove_work_files()
                row["linux"] = linux.download(server["big"], BIG, WORK_LINUX)
            elif who == "dd_direct":
                remove_work_files()
                row["dd_direct"], row["dd_direct_flush"] = linux.dd_direct(BIG, WORK_LINUX)
            elif who == "curl_fsync":
                remove_work_files()
                row["curl_fsync"] = linux.curl_fsync(server["big"], BIG, CA_PEM, WORK_LINUX)
            elif who == "dd_fsync":
                remove_work_files()
                row["dd_fsync"] = linux.dd_fsync(BIG, WORK_LINUX)
            elif who == "program":
                row["program"] = program_download(driver, server["big"], BIG)
            elif who == "loop":
                row["loop"] = loop_download(server["big"], write=True)
            elif who == "discard":
                row["discard"] = loop_download(server["big"], write=False)
            else:
                row["curl"] = curl_download(server["big"])
        if "program" in row:
            log("round %d: program %.0f ms, loop (write) %.0f ms, loop (discard) %.0f ms, "
                "curl %.0f ms, ratio %.3f" % (r + 1, row["program"]["ms"], row["loop"],
                                              row["discard"], row["curl"],
                                              row["loop"] / row["program"]["ms"]))
        if "linux" in row:
            run = row["linux"]
            log("round %d: Linux edition %.0f ms (flush %.0f ms, rename %.2f ms), dd direct %.0f "
                "ms (then fsync %.0f ms), ratio %.3f, curl to /dev/null %.0f ms, curl -o + fsync "
                "%.0f ms, dd + fsync %.0f ms, peak RSS %.1f MiB" % (
                    r + 1, run["ms"], run["flush_end"] - run["flush_start"], run["rename_ms"],
                    row["dd_direct"], row["dd_direct_flush"], row["dd_direct"] / run["ms"],
                    row["curl"], row["curl_fsync"], row["dd_fsync"], mib(run["peak"])))
        results.append(row)
    return results


def small_downloads(driver, server, rounds):
    results = []
    for r in range(rounds):
        results.append(program_download(driver, server["small"], SMALL) if driver else {})
        if driver:
            log("10 MiB download %d: peak working set %.1f MiB" % (
                r + 1, mib(results[-1]["after"]["peak_working_set"])))
        if linux.available():
            remove_work_files()
            results[-1]["linux"] = linux.download(server["small"], SMALL, WORK_LINUX)
            log("10 MiB download %d, Linux edition: peak RSS %.1f MiB" % (
                r + 1, mib(results[-1]["linux"]["peak"])))
    return results


def responsiveness(driver, server, rounds):
    results = []
    for r in range(rounds):
        run = program_download(driver, server["big"], BIG, with_ping=True)
        ping = run["ping"]
        changes = ping["changes"]
        begin = next(t for t, text in changes if text != changes[0][1])
        end = next(t for t, text in changes if text == COMPLETED)
        latencies = [lat for t, lat in ping["samples"] if begin <= t <= end]
        log("responsiveness run %d: %d round trips during %.0f ms, p50 %.2f ms, p99 %.2f ms, "
            "max %.2f ms" % (r + 1, len(latencies), end - begin, percentile(latencies, 50),
                             percentile(latencies, 99), max(latencies)))
        run["latencies"] = latencies
        # Seen from outside, a tick shows only when its text differs from the last one: count the
        # spacing between texts that both carry a byte count above zero.
        outside = [t for t, text in changes
                   if text.startswith(RECEIVED) and not text.startswith(RECEIVED + "0 ")]
        run["outside_spacing"] = [b - a for a, b in zip(outside, outside[1:])]
        if linux.available():
            remove_work_files()
            run["linux"] = linux_responsiveness(server, r)
        results.append(run)
    return results


def linux_responsiveness(server, r):
    run = linux.download(server["big"], BIG, WORK_LINUX, ping_ms=10)
    begin = run["changes"][0][0]
    latencies = [ms for t, ms in run["samples"] if t >= begin]
    log("responsiveness run %d, Linux edition: %d round trips during %.0f ms, p50 %.2f ms, "
        "p99 %.2f ms, max %.2f ms" % (r + 1, len(latencies), run["ms"] - begin,
                                      percentile(latencies, 50), percentile(latencies, 99),
                                      max(latencies)))
    run["latencies"] = latencies
    return run


def cancellations(driver, server, trials):
    remove_work_files()
    program = Program(driver, server["big"], "cancel.bin")
    results = []
    try:
        for n in range(trials):
            program.start()
            # Until bytes arrive, then a little longer, at a different moment each time.
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                status = driver.status()
                if status.startswith(RECEIVED) and not status.startswith(RECEIVED + "0 "):
                    break
                time.sleep(0.02)
            else:
                raise RuntimeError("no progress before cancelling: %r" % driver.status())
            time.sleep(random.uniform(0.1, 1.0))
            driver.click("cancel")
            outcome = program.wait([CANCELLED, COMPLETED, FAILED], timeout_ms=60000,
                                   interval_ms=20)
            if outcome != CANCELLED:
                raise RuntimeError("the cancelled download ended with %r" % outcome)
            events = program.status_events()
            latency = time_between(events, CANCELLING, CANCELLED)
            received = [text for _, text in events if text.startswith(RECEIVED)]
            left = os.listdir(WORK_LINUX) if os.path.isdir(WORK_LINUX) else []
            if left:
                raise RuntimeError("files left behind after a cancellation: %s" % left)
            results.append({"ms": latency, "last_progress": received[-1] if received else ""})
            log("cancel %d: %d ms (last progress shown: %s)" % (
                n + 1, latency, received[-1] if received else "none"))
    finally:
        program.stop()
        remove_work_files()
    return results


def startup(rounds):
    answer = wine(OBSERVER, "startup", str(rounds), win_path(qmui.APP), "QuillmereMainWindow",
                  win_path(MINIMAL), "QuillmereBenchMinimalWindow", timeout=600)
    ratios = [a / b for a, b in zip(answer["a"], answer["b"])]
    log("start-up: program %s ms, minimal %s ms" % (
        [round(x) for x in answer["a"]], [round(x) for x in answer["b"]]))
    result = {"program": answer["a"], "minimal": answer["b"], "ratios": ratios}
    if linux.available():
        result["x11"] = linux.startups(rounds, qmui.APP, qmui.wine_env("C.UTF-8"), log)
        result["x11"]["linux_app_bytes"] = os.path.getsize(linux.APP)
    return result


def executable_size():
    size = os.path.getsize(qmui.APP)
    stripped = None
    strip = shutil.which("x86_64-w64-mingw32-strip")
    if strip:
        with tempfile.TemporaryDirectory() as folder:
            copy = os.path.join(folder, "quillmere.exe")
            shutil.copy(qmui.APP, copy)
            subprocess.run([strip, copy], check=True)
            stripped = os.path.getsize(copy)
    return {"bytes": size, "stripped": stripped}


# ---- The report ------------------------------------------------------------------------------

def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    wine_version = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL).stdout.decode().strip() \
        if shutil.which("wine") else "no Wine"
    return {"cpus": os.cpu_count(), "cpu": model, "kernel": platform.release(),
            "wine": wine_version,
            "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")}


def table(rows):
    """The lines of a Markdown table of (figure, value, target, verdict) rows, columns aligned."""
    header = ("Figure", "Value", "Target", "")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(4)]
    line = lambda cells: "| " + " | ".join(  # noqa: E731
        c.ljust(w) for c, w in zip(cells, widths)) + " |"
    return [line(header), "|" + "|".join("-" * (w + 2) for w in widths) + "|"] + [
        line(r) for r in rows]


def verdict(ok):
    return "met" if ok else "MISSED"


def report(m, server_name, server_figures, through, small, resp, cancel, start, size, build_type):
    if not any("program" in r for r in through):
        return "\n".join(["Quillmere benchmarks, the Linux edition only, %s; %d CPUs, %s; Linux %s; "
                          "server %s" % (m["date"], m["cpus"], m["cpu"], m["kernel"], server_name),
                          ""] + linux_rows(through, small, resp, cancel, start))
    rows = []

    def row(what, figure, target, ok):
        rows.append((what, figure, target, "" if ok is None else verdict(ok)))

    ratios = [r["loop"] / r["program"]["ms"] for r in through]
    program_ms = statistics.median(r["program"]["ms"] for r in through)
    loop_ms = statistics.median(r["loop"] for r in through)
    discard_ms = statistics.median(r["discard"] for r in through)
    curl_ms = statistics.median(r["curl"] for r in through)
    rate = lambda ms: "%.0f MiB/s" % (1024 * 1000.0 / ms)  # noqa: E731
    ratio = statistics.median(ratios)
    row("Throughput, 1 GiB to C: (program / WinHTTP loop writing, median of %d)" % len(ratios),
        "%.3f (%.2f-%.2f)" % (ratio, min(ratios), max(ratios)), ">= 0.97", ratio >= 0.97)
    row("  ratio of the medians", "%.3f" % (loop_ms / program_ms), "", None)
    row("  program", "%.0f ms, %s" % (program_ms, rate(program_ms)), "", None)
    row("  WinHTTP loop, writing to C: and flushing", "%.0f ms, %s" % (loop_ms, rate(loop_ms)),
        "", None)
    row("  WinHTTP loop, discarding (the HTTP stack alone)",
        "%.0f ms, %s" % (discard_ms, rate(discard_ms)), "", None)
    row("  native curl, discarding", "%.0f ms, %s" % (curl_ms, rate(curl_ms)), "", None)

    peak_small = statistics.median(r["after"]["peak_working_set"] for r in small)
    peak_big = statistics.median(r["program"]["after"]["peak_working_set"] for r in through)
    before_big = statistics.median(r["program"]["before"]["peak_working_set"] for r in through)
    private_small = statistics.median(r["after"]["pagefile"] for r in small)
    private_big = statistics.median(r["program"]["after"]["pagefile"] for r in through)
    growth = peak_big - peak_small
    row("Peak working set, 10 MiB download (median of %d)" % len(small),
        "%.1f MiB" % mib(peak_small), "", None)
    row("Peak working set, 1 GiB download (median of %d)" % len(through),
        "%.1f MiB (%+.2f MiB)" % (mib(peak_big), mib(growth)),
        "no growth (< 1 MiB, 64 B a chunk)", growth < 1 << 20)
    row("  peak before the download (after Browse, 1 GiB runs)", "%.1f MiB" % mib(before_big),
        "", None)
    row("  private bytes after 10 MiB / 1 GiB", "%.1f / %.1f MiB" % (
        mib(private_small), mib(private_big)), "", None)

    latencies = [x for r in resp for x in r["latencies"]]
    p99 = percentile(latencies, 99)
    row("WM_NULL round trip during 1 GiB, p50 / p99 / max (%d samples)" % len(latencies),
        "%.2f / %.2f / %.2f ms" % (percentile(latencies, 50), p99, max(latencies)),
        "p99 < 50 ms", p99 < 50)
    timeouts = sum(r["ping"]["timeouts"] for r in resp)
    if timeouts:
        row("  round trips that timed out (5 s)", str(timeouts), "0", False)
    big_runs = [r["program"] for r in through] + resp
    spacing = [s for r in big_runs for s in progress_spacing(r["events"])]
    low, high = TICK_MS - TIMER_RESOLUTION_MS, TICK_MS + TIMER_RESOLUTION_MS
    outliers = sorted((s for s in spacing if not low <= s <= high), key=lambda s: abs(s - TICK_MS))
    inside = 1 - len(outliers) / len(spacing)
    row("Status-line updates, spacing p1 / p50 / p99 (%d, as set in-process)" % len(spacing),
        "%.0f / %.0f / %.0f ms" % (percentile(spacing, 1), percentile(spacing, 50),
                                   percentile(spacing, 99)),
        "250 ms +- one tick (%.1f ms)" % TIMER_RESOLUTION_MS, inside >= 0.95)
    row("  within 250 +- %.1f ms" % TIMER_RESOLUTION_MS, "%.1f %%%s" % (
        100 * inside, " (outside: %s ms)" % ", ".join("%.0f" % s for s in outliers[-6:])
        if outliers else ""), ">= 95 %", None)
    outside = [s for r in resp for s in r["outside_spacing"]]
    if outside:
        row("  as seen from outside (WM_GETTEXT every 10 ms), p1 / p50 / p99",
            "%.0f / %.0f / %.0f ms" % (percentile(outside, 1), percentile(outside, 50),
                                       percentile(outside, 99)), "", None)

    cancel_ms = [c["ms"] for c in cancel if not c.get("linux")]
    chunk_ms = CHUNK * program_ms / BIG
    bound = TICK_MS + chunk_ms
    p95 = percentile(cancel_ms, 95)
    row("Cancel to \"Download cancelled.\", p50 / p95 / max (%d)" % len(cancel_ms),
        "%.0f / %.0f / %.0f ms" % (percentile(cancel_ms, 50), p95, max(cancel_ms)),
        "<= %.0f ms (tick + one chunk, %.2f ms)" % (bound, chunk_ms), p95 <= bound)

    start_ratio = statistics.median(start["ratios"])
    row("Start-up to visible window (program / minimal window, median of %d)"
        % len(start["ratios"]),
        "%.2f (%.0f ms / %.0f ms)" % (start_ratio, statistics.median(start["program"]),
                                      statistics.median(start["minimal"])),
        "<= 1.2", start_ratio <= 1.2)
    row("Executable size (%s build)" % (build_type or "default"),
        "%d bytes%s" % (size["bytes"], ", %d stripped" % size["stripped"]
                        if size["stripped"] else ""), "", None)

    out = ["Quillmere benchmarks, %s; %d CPUs, %s; Linux %s, %s; server %s" % (
        m["date"], m["cpus"], m["cpu"], m["kernel"], m["wine"], server_name), ""]
    out += table(rows)
    out.append("")
    out.append("Server choice (median ms for 1 GiB; curl / WinHTTP loop discarding): " + ", ".join(
        "%s %.0f / %.0f" % (name, statistics.median(f["curl"]), statistics.median(f["loop"]))
        for name, f in server_figures.items()))
    if any("linux" in r for r in through):
        out += ["", "The native Linux edition (Qt 6 on the real X11 platform under Xvfb, libcurl), "
                "same run, server and disk:", ""]
        out += linux_rows(through, small, resp, cancel, start)
    return "\n".join(out)


def linux_rows(through, small, resp, cancel, start):
    rows = []

    def row(what, figure, target="", ok=None):
        rows.append((what, figure, target, "" if ok is None else verdict(ok)))

    rate = lambda ms: "%.0f MiB/s" % (1024 * 1000.0 / ms)  # noqa: E731
    paired = [r for r in through if "linux" in r]
    linux_ms = statistics.median(r["linux"]["ms"] for r in paired)
    # The disk's own limit: the same size written straight to the device, no network at all.
    direct = [r for r in paired if "dd_direct" in r]
    if direct:
        ratios = [r["dd_direct"] / r["linux"]["ms"] for r in direct]
        ratio = statistics.median(ratios)
        row("Throughput, 1 GiB: Linux edition / the disk's limit (dd oflag=direct of the same "
            "size, same disk; median of %d)" % len(ratios),
            "%.3f (%.2f-%.2f)" % (ratio, min(ratios), max(ratios)), ">= 0.95", ratio >= 0.95)
    row("  Linux edition (click to \"Download completed.\")", "%.0f ms, %s" % (
        linux_ms, rate(linux_ms)))
    if direct:
        direct_ms = statistics.median(r["dd_direct"] for r in direct)
        row("  dd if=/dev/zero bs=8M oflag=direct (the disk's own sustained write)",
            "%.0f ms, %s (ratio of the medians %.3f)" % (direct_ms, rate(direct_ms),
                                                         direct_ms / linux_ms))
        flushed = [r["dd_direct_flush"] for r in direct if "dd_direct_flush" in r]
        if flushed:
            row("  an fsync of dd's file right after it (what dd leaves the disk to do)",
                "%.0f ms (%.0f-%.0f)" % (statistics.median(flushed), min(flushed), max(flushed)))
    network_ms = statistics.median(r["curl"] for r in paired)
    row("  curl to /dev/null from the same server (the network alone)", "%.0f ms, %s" % (
        network_ms, rate(network_ms)))
    timed = [r["linux"] for r in paired if r["linux"].get("flush_end", -1) >= 0]
    if timed:
        med = lambda key: statistics.median(key(run) for run in timed)  # noqa: E731
        row("  in the program: click to its first write / the flush (fsync) / the rename",
            "%.0f / %.0f / %.2f ms" % (med(lambda x: x["first_write"]),
                                        med(lambda x: x["flush_end"] - x["flush_start"]),
                                        med(lambda x: x["rename_ms"])))
        row("  in the program: the flush's end to \"Download completed.\" (zone mark, rename, "
            "folder flush, hand-over)", "%.0f ms" % med(lambda x: x["ms"] - x["flush_end"]))
    ratios = [r["curl_fsync"] / r["linux"]["ms"] for r in paired]
    ratio = statistics.median(ratios)
    curl_ms = statistics.median(r["curl_fsync"] for r in paired)
    row("Throughput, 1 GiB: Linux edition / curl -o FILE + fsync, same disk (median of %d)"
        % len(ratios), "%.3f (%.2f-%.2f)" % (ratio, min(ratios), max(ratios)), ">= 0.9",
        ratio >= 0.9)
    row("  curl -o FILE, then fsync", "%.0f ms, %s" % (curl_ms, rate(curl_ms)))
    # The disk alone, no network: how close the download comes to what the disk can take.
    dd_ratios = [r["dd_fsync"] / r["linux"]["ms"] for r in paired]
    dd_ms = statistics.median(r["dd_fsync"] for r in paired)
    row("  dd of zeros to the same disk, 1 MiB blocks, fsync (Linux edition / dd %.3f)"
        % statistics.median(dd_ratios), "%.0f ms, %s" % (dd_ms, rate(dd_ms)))
    if all("program" in r for r in paired):
        wine_ms = statistics.median(r["program"]["ms"] for r in paired)
        row("  Windows edition under Wine, same rounds", "%.0f ms, %s" % (wine_ms, rate(wine_ms)))

    peak_small = statistics.median(r["linux"]["peak"] for r in small if "linux" in r)
    peak_big = statistics.median(r["linux"]["peak"] for r in paired)
    growth = peak_big - peak_small
    row("Peak resident memory (VmHWM), 10 MiB / 1 GiB download",
        "%.1f / %.1f MiB (%+.2f MiB)" % (mib(peak_small), mib(peak_big), mib(growth)),
        "no growth (< 1 MiB)", growth < 1 << 20)

    latencies = [x for r in resp if "linux" in r for x in r["linux"]["latencies"]]
    if latencies:
        p99 = percentile(latencies, 99)
        row("Window's answer to a blocking call every 10 ms during 1 GiB, p50 / p99 / max (%d)"
            % len(latencies), "%.2f / %.2f / %.2f ms" % (percentile(latencies, 50), p99,
                                                          max(latencies)), "p99 < 20 ms",
            p99 < 20)
    spacing = []
    for run in [r["linux"] for r in paired] + [r["linux"] for r in resp if "linux" in r]:
        times = [t for t, text in run["changes"] if text.startswith(RECEIVED)]
        spacing += [b - a for a, b in zip(times, times[1:])]
    if spacing:
        row("Status-line updates, spacing p1 / p50 / p99 (%d, read every 1 ms)" % len(spacing),
            "%.0f / %.0f / %.0f ms" % (percentile(spacing, 1), percentile(spacing, 50),
                                       percentile(spacing, 99)), "250 ms")

    cancel_ms = [c["ms"] for c in cancel if c.get("linux")]
    if cancel_ms:
        row("Cancel to \"Download cancelled.\" while data flows, p50 / p95 / max (%d)"
            % len(cancel_ms), "%.0f / %.0f / %.0f ms" % (
                percentile(cancel_ms, 50), percentile(cancel_ms, 95), max(cancel_ms)))

    x11 = (start or {}).get("x11")
    if x11:
        ratios = [a / b for a, b in zip(x11["linux"], x11["minimal"])]
        row("Start-up to mapped window: Linux edition / minimal Qt window with a label "
            "(median of %d)" % len(ratios), "%.2f (%.0f ms / %.0f ms)" % (
                statistics.median(ratios), statistics.median(x11["linux"]),
                statistics.median(x11["minimal"])))
        row("  Windows edition under Wine, timed the same way",
            "%.0f ms" % statistics.median(x11["wine"]))
        row("Executable size (dynamically linked to Qt and libcurl)",
            "%d bytes" % x11["linux_app_bytes"])
    return table(rows)


def render(results):
    r = results
    return report(r["machine"], r["server"], r["servers"], r["throughput"], r["small"],
                  r["responsiveness"], r["cancel"], r["startup"], r["size"], r["build_type"])


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--report":
        with open(sys.argv[2]) as saved:
            print(render(json.load(saved)))
        return
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n")[0],
        epilog="bench.py --report results.json prints the table of an earlier run again.")
    parser.add_argument("--rounds", type=int, default=13, help="throughput rounds")
    parser.add_argument("--small-rounds", type=int, default=3, help="10 MiB downloads")
    parser.add_argument("--ping-rounds", type=int, default=3, help="responsiveness runs")
    parser.add_argument("--cancel-trials", type=int, default=15)
    parser.add_argument("--startup-rounds", type=int, default=15)
    parser.add_argument("--server-rounds", type=int, default=2)
    parser.add_argument("--build-type", default="")
    parser.add_argument("--out", required=True, help="folder for results.json and report.txt")
    parser.add_argument("--linux-only", action="store_true",
                        help="the Linux edition's throughput, memory and Cancel only, no Wine")
    args = parser.parse_args()
    if args.linux_only:
        return main_linux_only(args)

    qmui.require_bed()
    os.makedirs(args.out, exist_ok=True)
    os.makedirs(WORK_LINUX, exist_ok=True)
    remove_work_files()
    t0 = time.monotonic()

    port = os.environ["QM_HTTPS_PORT"]
    servers = {"python": {"big": "https://localhost:%s/ok/%d" % (port, BIG),
                          "small": "https://localhost:%s/ok/%d" % (port, SMALL)}}
    nginx_port = os.environ.get("QM_BENCH_NGINX_PORT")
    if nginx_port:
        servers["nginx"] = {"big": "https://localhost:%s/1g.bin" % nginx_port,
                            "small": "https://localhost:%s/10m.bin" % nginx_port}
    m = machine()
    log("machine: %d CPUs, %s, %s" % (m["cpus"], m["cpu"], m["wine"]))

    log("start-up, %d rounds of each" % args.startup_rounds)
    start = startup(args.startup_rounds)

    log("choosing the server")
    server_name, server_figures = choose_server(servers, args.server_rounds)
    server = servers[server_name]
    log("using %s: %s" % (server_name, server["big"]))

    driver = qmui.Driver()
    try:
        log("throughput and memory, %d rounds of 1 GiB" % args.rounds)
        through = throughput(driver, server, args.rounds)
        log("memory, %d downloads of 10 MiB" % args.small_rounds)
        small = small_downloads(driver, server, args.small_rounds)
        log("responsiveness, %d downloads of 1 GiB" % args.ping_rounds)
        resp = responsiveness(driver, server, args.ping_rounds)
        log("cancel latency, %d trials" % args.cancel_trials)
        cancel = cancellations(driver, server, args.cancel_trials)
        if linux.available():
            log("cancel latency, Linux edition, %d trials" % args.cancel_trials)
            remove_work_files()
            for trial in linux.cancellations(server["big"], args.cancel_trials, WORK_LINUX):
                cancel.append(dict(trial, linux=True))
                log("cancel, Linux edition: %d ms (last progress shown: %s)" % (
                    trial["ms"], trial["last_progress"]))
    finally:
        driver.close()
    results = {"machine": m, "server": server_name, "servers": server_figures,
               "throughput": through, "small": small, "responsiveness": resp, "cancel": cancel,
               "startup": start, "size": executable_size(), "build_type": args.build_type}
    publish(args, results, t0)


def publish(args, results, t0):
    """Writes the raw figures and the table into args.out and prints the table."""
    with open(os.path.join(args.out, "results.json"), "w") as out:
        json.dump(results, out, indent=1)
    text = render(results)
    with open(os.path.join(args.out, "report.txt"), "w") as out:
        out.write(text + "\n")
    print()
    print(text)
    print()
    log("done in %.0f s; raw figures in %s" % (time.monotonic() - t0, args.out))


def main_linux_only(args):
    """The Linux edition's rounds without the Windows edition: throughput against the same
    yardsticks, memory, and Cancel, from nginx when it runs, else from the bed's server."""
    if not linux.available():
        raise SystemExit("bench: the Linux edition's bench programs are not built")
    os.makedirs(args.out, exist_ok=True)
    os.makedirs(WORK_LINUX, exist_ok=True)
    remove_work_files()
    t0 = time.monotonic()
    nginx_port = os.environ.get("QM_BENCH_NGINX_PORT")
    port, big, small_path = (nginx_port, "/1g.bin", "/10m.bin") if nginx_port else (
        os.environ["QM_HTTPS_PORT"], "/ok/%d" % BIG, "/ok/%d" % SMALL)
    server = {"big": "https://localhost:%s%s" % (port, big),
              "small": "https://localhost:%s%s" % (port, small_path)}
    server_name = "nginx" if nginx_port else "python"
    m = machine()
    log("machine: %d CPUs, %s; the Linux edition only, from %s" % (m["cpus"], m["cpu"],
                                                                    server["big"]))
    log("throughput and memory, %d rounds of 1 GiB" % args.rounds)
    through = throughput(None, server, args.rounds)
    small = small_downloads(None, server, args.small_rounds)
    log("cancel latency, %d trials" % args.cancel_trials)
    cancel = []
    for trial in linux.cancellations(server["big"], args.cancel_trials, WORK_LINUX):
        cancel.append(dict(trial, linux=True))
        log("cancel: %d ms (last progress shown: %s)" % (trial["ms"], trial["last_progress"]))
    results = {"machine": m, "server": server_name, "servers": {}, "throughput": through,
               "small": small, "responsiveness": [], "cancel": cancel, "startup": None,
               "size": None, "build_type": args.build_type}
    publish(args, results, t0)


if __name__ == "__main__":
    main()
