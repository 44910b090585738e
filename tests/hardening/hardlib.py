"""Shared helpers of the hardening tests (Python 3 standard library only): they drive the real
quillmere.exe through tests/ui's driver (qmui) the way a user does, and look at what is left on the
bed's NTFS drive and in the server's request log. qmprobe.exe (QM_PROBE) reads the program's handles
and memory from outside and the system's text for an error code.

Every test works in a folder of its own on N:, so "nothing left behind" is a comparison of that
whole folder (names, sizes, bytes) before and after."""

import hashlib
import json
import os
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "ui"))

import expected as E  # noqa: E402
import qmui  # noqa: E402

PROBE = os.environ.get("QM_PROBE", "")
LANG = qmui.language()
PIECE = 65536
OUTCOMES = ("completed", "cancelled", "failed")
IDLE = {"window": True, "url": True, "target": True, "browse": True, "download": True,
        "cancel": False, "status": True, "list": True}


def T(key):
    return E.text(key, LANG)


def probe(*words):
    """Runs qmprobe.exe and returns its JSON answer."""
    if not PROBE:
        raise RuntimeError("QM_PROBE is not set")
    done = subprocess.run(["wine", PROBE] + [str(w) for w in words], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, env=qmui.wine_env("C.UTF-8"), timeout=60)
    answer = json.loads(done.stdout.decode("ascii").strip().splitlines()[-1])
    if not answer.get("ok"):
        raise AssertionError("qmprobe %s: %s" % (" ".join(map(str, words)), answer.get("error")))
    return answer


_system_texts = {}


def error_text(code):
    """What the error box must say for a system or WinHTTP code: the system's own text for it,
    whole, or "Error " and the number where the system has none."""
    if code not in _system_texts:
        _system_texts[code] = probe("message", code)["text"]
    text = _system_texts[code]
    return text if text is not None else "Error %d" % code


def note(text):
    """A measured figure, for the test's log."""
    sys.stderr.write("  [measured] %s\n" % text)
    sys.stderr.flush()


def request_log_lines():
    try:
        with open(qmui.REQUEST_LOG, "rb") as log:
            return [json.loads(line) for line in log.read().splitlines() if line.strip()]
    except FileNotFoundError:
        return []


def snapshot(linux_dir):
    """Every entry of a folder: name -> (size, sha256 of the bytes); folders as None."""
    out = {}
    for name in sorted(os.listdir(linux_dir)):
        path = os.path.join(linux_dir, name)
        if os.path.isdir(path):
            out[name] = None
            continue
        with open(path, "rb") as f:
            data = f.read()
        out[name] = (len(data), hashlib.sha256(data).hexdigest())
    return out


driver = None


def setUpModule():
    global driver
    driver = qmui.Driver()


def tearDownModule():
    if driver:
        driver.close()


class HardeningTest(unittest.TestCase):
    """A fresh run of the program per test and a fresh folder on N: named after the test."""

    def setUp(self):
        self.folder = "hard-%s-%s" % (LANG.split(".")[0], self.id().split(".", 1)[1].replace(".", "-"))
        self.linux_dir = qmui.ntfs_linux_path(self.folder)
        shutil.rmtree(self.linux_dir, ignore_errors=True)
        os.makedirs(self.linux_dir)
        self.app = self.start_app()
        self.browses = 0

    def start_app(self):
        return qmui.App(driver)

    def tearDown(self):
        if self.app.running():
            for _ in range(3):
                if not driver.raw("msgbox", "--timeout", 200).get("ok"):
                    break
            driver.raw("save-dialog-cancel", 200)
        self.app.stop()

    # ---- paths ---------------------------------------------------------------------------

    def win(self, name):
        return qmui.ntfs_path(self.folder + "\\" + name)

    def linux(self, name):
        return os.path.join(self.linux_dir, name)

    def snapshot(self):
        return snapshot(self.linux_dir)

    # ---- what a user does ----------------------------------------------------------------

    def choose(self, name, replace=False):
        """Browse, type the name into the Save As dialog and press Save; for an existing file,
        confirm that it may be replaced."""
        driver.click("browse")
        answer = driver.save_dialog(self.win(name))
        self.browses += 1
        if replace:
            self.assertFalse(answer["closed"], "the dialog must ask before replacing a file")
            self.assertTrue(driver("confirm-overwrite", "yes")["dialog_closed"])
        else:
            self.assertTrue(answer["closed"], answer)
        self.assertEqual(driver.text("target"), self.win(name))

    def wait_outcome(self, timeout_ms=60000):
        watch = driver.watch_status(until=[T(k) for k in OUTCOMES], timeout_ms=timeout_ms,
                                    interval_ms=20)
        return watch["changes"][-1]["text"]

    def wait_progress(self, timeout_s=20):
        """Waits until the status line shows bytes arriving."""
        prefix = T("received_prefix")
        deadline = time.monotonic() + timeout_s
        while time.monotonic() < deadline:
            status = driver.status()
            if status.startswith(prefix) and not status.startswith(prefix + "0"):
                return status
            time.sleep(0.02)
        self.fail("no progress shown: %r" % driver.status())

    # ---- what a user sees ----------------------------------------------------------------

    def assert_error_box(self, accepted, timeout_ms=15000):
        """The failure's message box: caption, one of the accepted texts, error icon, one
        button, modal to the main window; pressed away. Returns the box."""
        answer = driver.msgbox(timeout_ms=timeout_ms)
        box = answer["box"]
        self.assertEqual(box["caption"], E.APP_TITLE)
        self.assertIn(box["text"], accepted)
        self.assertEqual(box["icon"], E.MB_ICON_ERROR)
        self.assertEqual(len(box["buttons"]), 1, box["buttons"])
        self.assertEqual(box["owner"], self.app.main["hwnd"])
        self.assertFalse(answer["main_enabled"], "the box is modal to the main window")
        return box

    def assert_idle(self):
        self.assertEqual(driver.enabled(), IDLE)

    def assert_no_staging(self):
        left = [n for n in os.listdir(self.linux_dir) if n.endswith(".part") or ":" in n]
        self.assertEqual(left, [], "staging files left behind")

    def assert_body(self, name, size):
        with open(self.linux(name), "rb") as f:
            data = f.read()
        self.assertEqual(len(data), size, name)
        self.assertTrue(data == qmui.body_bytes(size), "%s: the bytes differ from the body" % name)

    def make_file(self, name, content):
        with open(self.linux(name), "wb") as f:
            f.write(content)


def run_tests():
    unittest.main(module="__main__", verbosity=2)
