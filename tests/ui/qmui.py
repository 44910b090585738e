"""Helpers for the end-to-end tests of Quillmere's window (Python 3 standard library only).

Runs the real quillmere.exe under Wine inside the test bed and talks to it through the test
driver qmdriver.exe ("serve" mode: one command per line in, one JSON object per line out).
Configuration comes from the environment that tests/ui/ui.cmake and the bed set:
  QM_APP, QM_DRIVER, QM_UI_OUT, QM_UI_LANG     from ui.cmake
  WINEPREFIX, DISPLAY, QM_HTTPS_PORT, QM_NTFS_DRIVE, QM_NTFS_MOUNT, QM_REQUEST_LOG   from the bed
"""

import json
import os
import select
import subprocess
import time
import unittest

APP = os.environ.get("QM_APP", "")
DRIVER = os.environ.get("QM_DRIVER", "")
OUT_DIR = os.environ.get("QM_UI_OUT", os.path.join(os.getcwd(), "ui-out"))
LANG = os.environ.get("QM_UI_LANG", "en_US.UTF-8")
HTTPS_PORT = os.environ.get("QM_HTTPS_PORT", "")
NTFS_DRIVE = os.environ.get("QM_NTFS_DRIVE", "N:")
NTFS_MOUNT = os.environ.get("QM_NTFS_MOUNT", "")
REQUEST_LOG = os.environ.get("QM_REQUEST_LOG", "")

# Which interface each locale must give (by the primary language of the UI language id that
# Wine derives from it: 0x0419 and 0x0819 are Russian, 0x0409 and 0x0422 are not).
LANGUAGE_OF_LOCALE = {
    "en_US.UTF-8": "en",
    "uk_UA.UTF-8": "en",
    "ru_RU.UTF-8": "ru",
    "ru_MD.UTF-8": "ru",
}


def language():
    return LANGUAGE_OF_LOCALE[LANG]


def require_bed(test_case=None):
    missing = [name for name, value in (("QM_APP", APP), ("QM_DRIVER", DRIVER),
                                        ("WINEPREFIX", os.environ.get("WINEPREFIX", "")),
                                        ("DISPLAY", os.environ.get("DISPLAY", "")))
               if not value]
    if missing:
        raise RuntimeError("not inside the test bed: %s unset" % ", ".join(missing))


def hex_arg(text):
    """A driver argument that carries any text exactly: UTF-16 code units in hex."""
    data = text.encode("utf-16-le")
    return "hex:" + "".join("%02x%02x" % (data[i + 1], data[i]) for i in range(0, len(data), 2))


def url(path):
    return "https://localhost:%s%s" % (HTTPS_PORT, path)


def ntfs_path(name):
    """The Windows path of a file on the bed's NTFS drive."""
    return NTFS_DRIVE + "\\" + name


def ntfs_linux_path(name):
    return os.path.join(NTFS_MOUNT, name)


def body_bytes(n):
    """The body the bed's server sends for /ok/<n>: byte i is (i*131+7) % 256."""
    pattern = bytes((i * 131 + 7) % 256 for i in range(256))
    return (pattern * (n // 256 + 1))[:n]


def wine_env(locale):
    env = dict(os.environ)
    env["LANG"] = locale
    env["LC_ALL"] = locale
    env.setdefault("WINEDEBUG", "-all")
    return env


class DriverError(AssertionError):
    pass


class Driver:
    """One qmdriver.exe in serve mode for the whole test script."""

    def __init__(self):
        require_bed()
        self.proc = subprocess.Popen(["wine", DRIVER, "serve"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     env=wine_env("C.UTF-8"))
        self.buffer = b""

    def _read_line(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise DriverError("the driver did not answer within %.0f s" % timeout)
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 65536)
                if not chunk:
                    raise DriverError("the driver ended (exit %s)" % self.proc.poll())
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("ascii")

    def raw(self, *words, timeout=60):
        """Runs a command; returns its answer whether it succeeded or not."""
        line = " ".join(str(w) for w in words)
        self.proc.stdin.write(line.encode("ascii") + b"\n")
        self.proc.stdin.flush()
        return json.loads(self._read_line(timeout))

    def __call__(self, *words, timeout=60):
        """Runs a command that must succeed; returns its answer."""
        answer = self.raw(*words, timeout=timeout)
        if not answer.get("ok"):
            raise DriverError("driver command %r failed: %s" % (" ".join(map(str, words)),
                                                               answer.get("error")))
        return answer

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.flush()
                self.proc.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()

    # Shorthands for the commands the tests use most.
    def inspect(self):
        return self("inspect")

    def status(self):
        return self("status")["status"]

    def lines(self):
        return self("list")["lines"]

    def enabled(self):
        return self("enabled")["enabled"]

    def text(self, control):
        return self("text", control)["text"]

    def set_url(self, text):
        return self("set-url", hex_arg(text))["text"]

    def click(self, button):
        return self("click", button)

    def wait_status(self, text, timeout_ms=15000):
        return self("wait-status", hex_arg(text), timeout_ms, timeout=timeout_ms / 1000 + 30)

    def watch_status(self, until=(), for_ms=None, timeout_ms=30000, interval_ms=5):
        words = ["watch-status"]
        for text in until:
            words += ["--until", hex_arg(text)]
        if for_ms is not None:
            words += ["--for", for_ms]
        words += ["--timeout", timeout_ms, "--interval", interval_ms]
        limit = (for_ms if for_ms is not None else timeout_ms) / 1000 + 30
        return self(*words, timeout=limit)

    def msgbox(self, keep=False, timeout_ms=15000):
        words = ["msgbox", "--timeout", timeout_ms] + (["--keep"] if keep else [])
        return self(*words, timeout=timeout_ms / 1000 + 30)

    def no_msgbox(self, for_ms=500):
        return self("msgbox", "--none", for_ms)

    def save_dialog(self, path=None):
        words = ["save-dialog"] + ([hex_arg(path)] if path is not None else [])
        return self(*words)


class App:
    """One run of quillmere.exe under Wine with the interface language of a locale; program and
    extra environment variables for Wine may replace QM_APP and add to the bed's environment."""

    def __init__(self, driver, locale=None, program=None, env=None):
        require_bed()
        self.driver = driver
        self.locale = locale or LANG
        os.makedirs(OUT_DIR, exist_ok=True)
        self.log = open(os.path.join(OUT_DIR, "wine-app.log"), "ab")
        env = dict(wine_env(self.locale), **(env or {}))
        self.proc = subprocess.Popen(["wine", program or APP], env=env,
                                     stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        self.main = driver("wait-main", 20000, timeout=40)

    def running(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout=15):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        """Ends this run if a test left it open: closes the window, else ends the process."""
        if self.running():
            self.driver.raw("close")
            if self.wait_exit(5) is None:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


def screenshot(driver, name, window=None):
    """Saves the main window (or the given top-level window's rectangle united with the main
    window's) as OUT_DIR/name.png and returns the path."""
    os.makedirs(OUT_DIR, exist_ok=True)
    main = driver("inspect")["window"]["outer"]
    left, top = main["x"], main["y"]
    right, bottom = left + main["width"], top + main["height"]
    if window:
        left, top = min(left, window["x"]), min(top, window["y"])
        right = max(right, window["x"] + window["width"])
        bottom = max(bottom, window["y"] + window["height"])
    left, top = max(left, 0), max(top, 0)
    path = os.path.join(OUT_DIR, name + ".png")
    time.sleep(0.3)  # let the last paint reach the X server
    subprocess.run(["import", "-window", "root", "-crop",
                    "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage", path],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def run_tests():
    """unittest.main with verbose output; the exit code tells ctest the result."""
    unittest.main(verbosity=2)
