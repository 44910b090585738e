#!/usr/bin/python3
"""What a real Windows desk does to a download, brought into the test bed and checked end to end on
the real window: the proxy the user chose in Windows' settings, ports that the system's URL
splitter would wrap around, TLS on Windows 7, files that another program (a virus scanner, the search indexer, Explorer's
preview, or the user's own program) holds open for a while, destinations past the old
260-character path limit, a logoff or shutdown while a download runs, a user who works with the
keyboard, and what the Save As dialog hands over when the user picks a shortcut.

The cases reuse the journey's helpers (a fresh run of the program per test, the recorder on).
qmprobe.exe (QM_PROBE) plays the other program: a real second process whose open handle Wine's
sharing rules weigh against the program's rename and delete. Each test that changes the bed's Wine
prefix (the user's proxy, the Windows version) takes its change away again."""

import json
import os
import select
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import expected as E  # noqa: E402
import qmui  # noqa: E402
import test_journey as J  # noqa: E402

LANG = qmui.language()
T = J.T
PIECE = J.PIECE
PROBE = os.environ.get("QM_PROBE", "")
ERROR_SHARING_VIOLATION = 32
OUTCOMES = J.OUTCOMES
HERE = os.path.dirname(os.path.abspath(__file__))
PROXY_SERVER = os.path.join(HERE, "..", "bed", "proxy_server.py")
CONNECTIONS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"

# The control indexes, in creation order, that the keyboard can reach.
URL_EDIT, TARGET_EDIT, BROWSE, DOWNLOAD, CANCEL = 1, 3, 4, 5, 6

driver = None


def setUpModule():
    global driver
    # Nothing that an interrupted earlier run left in the prefix counts.
    clear_user_proxy()
    clear_windows_version()
    driver = qmui.Driver()
    J.driver = driver


def tearDownModule():
    if driver:
        driver.close()


def wine_reg(*words):
    subprocess.run(["wine", "reg"] + list(words), check=True, env=qmui.wine_env("C.UTF-8"),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def set_user_proxy(proxy, bypass="", config_url=""):
    """The user's choice in Windows' settings, in the layout Windows writes: version, counter,
    flags (1 direct, 2 named proxy, 4 configuration script), then each text with its length."""
    flags = 1 | (2 if proxy else 0) | (4 if config_url else 0)
    data = struct.pack("<III", 0x46, 1, flags)
    for text in (proxy, bypass, config_url):
        raw = text.encode("ascii")
        data += struct.pack("<I", len(raw)) + raw
    data += bytes(32)
    wine_reg("add", CONNECTIONS, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
             "/d", data.hex(), "/f")


def clear_user_proxy():
    subprocess.run(["wine", "reg", "delete", CONNECTIONS, "/v", "DefaultConnectionSettings", "/f"],
                   env=qmui.wine_env("C.UTF-8"), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


APP_VERSION = r"HKCU\Software\Wine\AppDefaults\quillmere.exe"


def clear_windows_version():
    subprocess.run(["wine", "reg", "delete", APP_VERSION, "/f"], env=qmui.wine_env("C.UTF-8"),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Proxy:
    """One proxy_server.py on localhost for a test class, with its own log."""

    def __init__(self, name, refuse=False):
        os.makedirs(qmui.OUT_DIR, exist_ok=True)
        self.log = os.path.join(qmui.OUT_DIR, "proxy-%s-%s.log" % (name, LANG))
        port_file = self.log + ".port"
        for path in (self.log, port_file):
            if os.path.exists(path):
                os.remove(path)
        open(self.log, "w").close()
        self.proc = subprocess.Popen(
            [sys.executable, PROXY_SERVER, "--log", self.log, "--port-file", port_file]
            + (["--refuse"] if refuse else []),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            if os.path.exists(port_file) or self.proc.poll() is not None:
                break
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read())
        self.address = "127.0.0.1:%d" % self.port

    def lines(self):
        with open(self.log, encoding="utf-8") as f:
            return [line.rstrip("\n") for line in f]


    def clear(self):
        open(self.log, "w").close()

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def probe(*words, locale="C.UTF-8"):
    """Runs qmprobe.exe and returns its last JSON line."""
    if not PROBE:
        raise RuntimeError("QM_PROBE is not set")
    # Now and then, while the program and a holder run in the same prefix, Wine starts the probe
    # and ends it without a word; the probe is only the test's dictionary, so it is asked again.
    for _ in range(3):
        done = subprocess.run(["wine", PROBE] + [str(w) for w in words], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=qmui.wine_env(locale), timeout=60)
        lines = done.stdout.decode("ascii").strip().splitlines()
        if lines:
            return json.loads(lines[-1])
    raise RuntimeError("qmprobe %s said nothing (exit status %d): %s"
                       % (" ".join(map(str, words)), done.returncode,
                          done.stderr.decode("utf-8", "replace")[-500:]))


def system_text(code):
    """The system's text for the code in the language the program runs in."""
    return probe("message", code, locale=qmui.LANG)["text"]


class Holder:
    """qmprobe.exe holding a file open without letting others rename or delete it."""

    def __init__(self, path, hold_ms, wait_ms=None):
        words = ["wine", PROBE, "hold", path, hold_ms] + ([wait_ms] if wait_ms else [])
        self.proc = subprocess.Popen([str(w) for w in words], stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, env=qmui.wine_env("C.UTF-8"))
        self.buffer = b""

    def line(self, timeout=60):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("the holder said nothing within %d s" % timeout)
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 4096)
                if not chunk:
                    raise AssertionError("the holder ended (exit %s)" % self.proc.poll())
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line.decode("ascii"))

    def held(self, timeout=60):
        return self.line(timeout)

    def released(self, timeout=60):
        answer = self.line(timeout)
        self.proc.wait(timeout=10)
        return answer.get("released", False)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()


def staging_files(file_name, folder=None):
    """The staging files of a destination in a folder, N: by default (whatever other runs left
    there)."""
    return [f for f in os.listdir(folder or qmui.NTFS_MOUNT)
            if f.startswith(file_name + ".quillmere-") and f.endswith(".part")]


class Desk(J.Journey):
    """A fresh run of the program per test, as in the journey, and holders ended after each."""

    def setUp(self):
        super().setUp()
        self.holders = []

    def tearDown(self):
        for holder in self.holders:
            holder.stop()
        super().tearDown()

    def hold(self, path, hold_ms, wait_ms=None):
        holder = Holder(path, hold_ms, wait_ms)
        self.holders.append(holder)
        return holder

    def choose_existing(self, path):
        """Browse to a file that exists and agree to replace it."""
        driver.click("browse")
        self.assertFalse(driver.save_dialog(path)["closed"], "an existing file needs confirmation")
        self.assertTrue(driver("confirm-overwrite", "yes")["dialog_closed"])
        self.assertEqual(driver.text("target"), path)

    def start_paced(self, file_name, pieces):
        """A paced download to N:, once a staging file of an earlier, broken run is out of the way."""
        for name in staging_files(file_name):
            os.remove(os.path.join(qmui.NTFS_MOUNT, name))
        super().start_paced(file_name, pieces=pieces)

    def download(self, link, file_name):
        """Downloads the link to a new file on N: and returns the final status."""
        self.remove(file_name)
        driver.set_url(link)
        self.choose(qmui.ntfs_path(file_name))
        driver.click("download")
        watch = driver.watch_status(until=[T(k) for k in OUTCOMES], timeout_ms=60000)
        return watch["changes"][-1]["text"]

    def assert_nothing_written(self, file_name):
        self.assertFalse(os.path.exists(qmui.ntfs_linux_path(file_name)))
        left = [f for f in os.listdir(qmui.NTFS_MOUNT) if f.endswith(".part")]
        self.assertEqual(left, [], "staging files left behind")




class DeskLogoff(Desk):
    """Logoff or shutdown while a download runs: the program asks Windows to wait and says why;
    if the session ends anyway, it cancels and returns once the staging file is gone, or after a
    short bound when the network holds the worker."""

    def setUp(self):
        super().setUp()
        driver("watch-reason")

    def reasons(self):
        return [(e["kind"], e.get("text")) for e in self.events()
                if e["kind"] in ("reason", "reason-end")]

    def choose_existing(self, file_name, contents):
        linux = self.remove(file_name)
        with open(linux, "wb") as f:
            f.write(contents)
        super().choose_existing(qmui.ntfs_path(file_name))
        return linux

    def start(self, path):
        driver.set_url(qmui.url(path))
        driver.click("download")
        self.wait_for_bytes()

    def test_logoff_waits_then_cancels_cleanly(self):
        self.assertEqual(driver("end-session", "query")["answer"], 1, "idle: logoff may go on")
        old = b"the file the user had before"
        file_name = self.name("kept.bin")
        linux = self.choose_existing(file_name, old)
        self.start("/paced/%d?ms=100" % (200 * PIECE))
        self.assertEqual(driver("end-session", "query")["answer"], 0,
                         "busy: Windows must be asked to wait")
        self.assertEqual(self.reasons(), [("reason", T("download_in_progress"))])
        # Another program refused the logoff: the session goes on, and so does the download.
        driver("end-session", "end", "false")
        time.sleep(0.4)
        self.assertTrue(driver.status().startswith(T("received_prefix")), driver.status())
        self.assertEqual(driver.enabled(), J.BUSY)
        self.assertNotEqual(staging_files(file_name), [], "the download goes on into its staging file")

        ended = driver("end-session", "end", "true")
        # By the time WM_ENDSESSION returns, the staging file is gone and nothing was replaced.
        self.assertEqual(staging_files(file_name), [], "staging file left at the end of the session")
        with open(linux, "rb") as f:
            self.assertEqual(f.read(), old, "the destination changed")
        self.assertLess(ended["elapsed_ms"], 4000, ended)
        self.assertEqual(driver.status(), T("cancelled"))
        self.assert_idle()
        texts = [e["text"] for e in self.status_events()]
        self.assertEqual(texts[-2:], [T("cancelling"), T("cancelled")])
        self.assertEqual(self.reasons(), [("reason", T("download_in_progress")),
                                          ("reason-end", None)])
        self.assertEqual(driver("end-session", "query")["answer"], 1, "idle again")
        driver.no_msgbox(300)

    def test_end_of_session_waits_only_so_long(self):
        # The server sends one piece and then nothing: the worker sits in a read that only its
        # receive time-out ends, longer than Windows waits for a program at logoff.
        file_name = self.name("stalled.bin")
        self.remove(file_name)
        self.choose(qmui.ntfs_path(file_name))
        self.start("/stall/%d" % (4 * PIECE))
        ended = driver("end-session", "end", "true", timeout=90)
        self.assertGreaterEqual(ended["elapsed_ms"], 2500, ended)
        self.assertLess(ended["elapsed_ms"], 6000, "WM_ENDSESSION must return within a few seconds")
        self.assertEqual(driver.status(), T("cancelling"))
        self.assertEqual(driver.enabled(), J.BUSY)
        self.assertNotEqual(staging_files(file_name), [], "the worker is still held by the read")
        # The worker still ends as a cancelled download and cleans up behind itself.
        self.assertEqual(self.wait_outcome(40000), T("cancelled"))
        self.assertEqual(staging_files(file_name), [])
        self.assertFalse(os.path.exists(qmui.ntfs_linux_path(file_name)))
        self.assertEqual(self.reasons()[-1], ("reason-end", None))
        self.assertEqual(driver("end-session", "query")["answer"], 1)


class DeskKeyboard(J.Journey):
    """Real key presses: Enter means Download wherever no button has the focus, a focused button
    is pressed by Enter or Space, and the focus never stays on a control that was disabled."""

    def focused(self):
        focus = driver("focus")["focus"]
        return None if focus is None else focus["index"]

    def focus_on(self, index):
        for _ in range(6):
            driver("key", "tab")
            if self.focused() == index:
                return
        self.fail("Tab never reached control %d" % index)

    def wait_busy(self):
        for _ in range(100):
            if driver.enabled()["cancel"]:
                return
            time.sleep(0.05)
        self.fail("the download did not start: %r" % driver.status())

    def start_with_space(self, name):
        """A paced download to `name`, started with Space on the focused Download button; the
        keyboard is then on Cancel. Returns the destination's Linux path."""
        linux = self.remove(self.name(name))
        driver.set_url(qmui.url("/paced/%d?ms=100" % (16 * PIECE)))
        self.choose(qmui.ntfs_path(self.name(name)))
        self.focus_on(DOWNLOAD)
        driver("key", "space")
        self.wait_busy()
        self.assertEqual(self.focused(), CANCEL)
        return linux

    def switch(self, where):
        """Alt+Tab to another program or back; the control that has the focus then."""
        focus = driver("switch", where)["focus"]
        return None if focus is None else focus["index"]

    def test_focus_comes_back_from_another_program(self):
        # Each time on another control than the time before, so that none is given back stale.
        self.focus_on(BROWSE)
        driver("syscommand", "minimize")
        driver("syscommand", "restore")
        self.assertEqual(self.focused(), BROWSE, "minimised and restored")
        self.focus_on(URL_EDIT)
        self.assertIsNone(self.switch("away"), "the other program did not take the keyboard")
        self.assertEqual(self.switch("back"), URL_EDIT)
        # Minimised while away, then brought back as the taskbar does: made active, then restored.
        self.focus_on(BROWSE)
        self.switch("away")
        self.assertTrue(driver("syscommand", "minimize")["window"]["iconic"])
        self.switch("back")
        driver("syscommand", "restore")
        self.assertEqual(self.focused(), BROWSE, "restored from the taskbar")
        # Cancel has the keyboard when the user leaves, and the download ends meanwhile: back
        # in the window, the keyboard is on Download, which started it, and Tab and Enter work.
        linux = self.start_with_space("away.bin")
        self.assertIsNone(self.switch("away"))
        self.assertEqual(self.wait_outcome(), T("completed"))
        self.assertEqual(self.switch("back"), DOWNLOAD)
        self.assert_body(linux, 16 * PIECE)
        driver("key", "tab")
        self.assertEqual(self.focused(), URL_EDIT, "Tab passes the disabled Cancel")
        # The destination went with the completed download: Enter (Download) asks for one.
        driver("key", "enter")
        self.assert_info_box()

    def test_enter_in_the_link_box(self):
        # Without a destination, Enter in the link box is Download: the box asks for one, and
        # the user can go on typing afterwards.
        self.focus_on(URL_EDIT)
        driver.set_url(qmui.url("/paced/%d?ms=100" % (100 * PIECE)))
        driver("key", "enter")
        self.assert_info_box()
        self.assertEqual(self.focused(), URL_EDIT)
        file_name = self.name("enter.bin")
        self.remove(file_name)
        self.choose(qmui.ntfs_path(file_name))
        self.focus_on(URL_EDIT)
        driver("key", "enter")
        self.wait_busy()
        self.assertEqual(self.focused(), CANCEL, "the keyboard goes to Cancel while busy")
        # Enter on the focused Cancel button cancels; the keyboard returns to the link box.
        driver("key", "enter")
        self.assertEqual(self.wait_outcome(), T("cancelled"))
        self.assertEqual(self.focused(), URL_EDIT)
        self.assertEqual(staging_files(file_name), [])
        # A failure's error box, too, gives the keyboard back to the link box.
        driver.set_url(qmui.url("/status/404"))
        driver("key", "enter")
        self.assert_error_box(T("server_returned_http") + "404.")
        self.assertEqual(self.focused(), URL_EDIT)
        # Typing goes on where it left off.
        driver("key", "end")
        driver("key", "a")
        self.assertEqual(driver.text("url"), qmui.url("/status/404") + "a")
        # Escape while idle does nothing, and the window stays open.
        driver("key", "escape")
        self.assertEqual(driver.status(), T("failed"))
        self.assertEqual(self.focused(), URL_EDIT)
        # While a download runs, Escape is Cancel, wherever the keyboard is.
        driver.set_url(qmui.url("/paced/%d?ms=100" % (100 * PIECE)))
        driver("key", "enter")
        self.wait_busy()
        driver("mouse-click", "target")
        driver("key", "escape")
        self.assertEqual(self.wait_outcome(), T("cancelled"))
        self.assertEqual(staging_files(file_name), [])

    def test_download_button_and_other_places(self):
        # Space on the focused Download button; the focus comes back to it at the end.
        linux = self.start_with_space("space.bin")
        self.assertEqual(self.wait_outcome(), T("completed"))
        self.assertEqual(self.focused(), DOWNLOAD)
        self.assert_body(linux, 16 * PIECE)
        # Enter in the read-only destination box is Download too; that box stays usable, so the
        # focus stays there.
        file_name = self.name("target-box.bin")
        linux = self.remove(file_name)
        self.choose(qmui.ntfs_path(file_name))
        driver("mouse-click", "target")
        self.assertEqual(self.focused(), TARGET_EDIT)
        driver("key", "enter")
        self.wait_busy()
        self.assertEqual(self.wait_outcome(), T("completed"))
        self.assertEqual(self.focused(), TARGET_EDIT)
        self.assert_body(linux, 16 * PIECE)
        # Enter on the focused Browse button opens the dialog, as a pressed button does.
        self.focus_on(BROWSE)
        driver("key", "enter")
        self.assertEqual(driver.save_dialog()["dialog"]["file_name"], "download.bin")
        driver("save-dialog-cancel")
        self.assertEqual(self.focused(), BROWSE)
        self.assertEqual(driver.lines(), [E.list_line(self.name("space.bin"), ".bin", 16 * PIECE,
                                                      LANG),
                                          E.list_line(file_name, ".bin", 16 * PIECE, LANG)])


class DeskSaveAs(J.Journey):
    """What the Save As dialog hands over is what the download replaces: a shortcut picked in
    the dialog's folder is replaced itself, never the file it points to elsewhere."""

    def test_a_picked_shortcut_is_the_destination(self):
        folder = self.name("links")
        linux_folder = qmui.ntfs_linux_path(folder)
        os.makedirs(linux_folder, exist_ok=True)
        for name in os.listdir(linux_folder):
            os.remove(os.path.join(linux_folder, name))
        target = os.path.join(linux_folder, "b-target.bin")
        with open(target, "wb") as f:
            f.write(b"the shortcut's target")
        link = qmui.ntfs_path(folder + "\\a-shortcut.lnk")
        driver("shortcut", qmui.hex_arg(link), qmui.hex_arg(qmui.ntfs_path(folder + "\\b-target.bin")))
        with open(os.path.join(linux_folder, "a-shortcut.lnk"), "rb") as f:
            self.assertTrue(f.read().startswith(b"L\0\0\0"), "not a shell link")

        # Open the folder in the dialog, then double-click the shortcut, its first item.
        driver.click("browse")
        driver.raw("save-dialog", qmui.hex_arg(qmui.ntfs_path(folder) + "\\"), "--timeout", 1500)
        dialog = [w for w in driver("dialogs")["windows"] if w["window"]["owner"] ==
                  self.app.main["hwnd"]][0]
        view = [c for c in dialog["controls"] if c["class"] == "SHELLDLL_DefView"][0]["screen"]
        driver("mouse", "double-click", view["x"] + 30, view["y"] + 8)
        self.assertTrue(driver("confirm-overwrite", "yes")["dialog_closed"])
        self.assertEqual(driver.text("target"), link)

        driver.set_url(qmui.url("/ok/3000"))
        driver.click("download")
        self.assertEqual(self.wait_outcome(), T("completed"))
        self.assert_body(os.path.join(linux_folder, "a-shortcut.lnk"), 3000)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"the shortcut's target", "the shortcut's target changed")


class DeskHeldFiles(Desk):
    """A destination or staging file that another program holds open for a while."""

    def old_destination(self, stem):
        file_name = self.name(stem)
        linux = self.remove(file_name)
        with open(linux, "wb") as f:
            f.write(b"the user's old file")
        self.choose_existing(qmui.ntfs_path(file_name))
        return file_name, linux

    def test_destination_held_for_a_moment_is_replaced_once_let_go(self):
        file_name, linux = self.old_destination("held-moment.bin")
        holder = self.hold(qmui.ntfs_path(file_name), 1500)
        self.assertTrue(holder.held()["held"])
        driver.set_url(qmui.url("/ok/30000"))
        started = time.monotonic()
        driver.click("download")
        self.assertEqual(self.wait_outcome(), T("completed"))
        self.assertGreater(time.monotonic() - started, 0.8, "the rename waited for the holder")
        self.assertTrue(holder.released())
        driver.no_msgbox(300)
        self.assert_body(linux, 30000)
        self.assertEqual(driver.lines(), [E.list_line(file_name, ".bin", 30000, LANG)])
        self.assert_no_staging_files()

    def test_destination_held_past_the_retries_stays_as_it_was(self):
        file_name, linux = self.old_destination("held-long.bin")
        holder = self.hold(qmui.ntfs_path(file_name), 9000)
        self.assertTrue(holder.held()["held"])
        driver.set_url(qmui.url("/ok/30000"))
        started = time.monotonic()
        driver.click("download")
        # Wine reports the rename onto a held file as "access denied" (5).
        self.assert_error_box(system_text(5))
        self.assertGreater(time.monotonic() - started, 4.0, "given up only after some seconds")
        self.assertEqual(driver.status(), T("failed"))
        self.assertTrue(holder.released())
        with open(linux, "rb") as f:
            self.assertEqual(f.read(), b"the user's old file")
        # An earlier try that lost the race to the holder completed and is listed; this one not.
        self.assertEqual([line for line in driver.lines() if line.startswith(file_name)], [])
        self.assert_no_staging_files()

    def test_staging_file_is_not_shared_while_written(self):
        file_name = self.name("unshared.bin")
        self.start_paced(file_name, pieces=60)
        staging = staging_files(file_name)
        self.assertEqual(len(staging), 1, staging)
        # Opened the way a scanner opens a file, sharing everything: still refused.
        answer = probe("open", qmui.ntfs_path(staging[0]))
        self.assertEqual((answer["opened"], answer["code"]), (False, ERROR_SHARING_VIOLATION))
        driver.click("cancel")
        self.assertEqual(self.wait_outcome(), T("cancelled"))
        self.assert_no_staging_files()

    def scanned_download(self, stem, hold_ms, old_file=False):
        """A paced download whose staging file a holder takes the moment the program closes it,
        just before the rename, as a virus scanner does. The holder keeps trying while the
        program writes (and is refused), and holds the file from the first moment it can. Should
        the rename still come first, which the system's scheduling allows, the download is run
        again. Returns the file name, the holder, what it reported and the outcome."""
        for attempt in range(3):
            file_name = self.name("%s-%d.bin" % (stem, attempt))
            linux = self.remove(file_name)
            for name in staging_files(file_name):
                os.remove(os.path.join(qmui.NTFS_MOUNT, name))
            if old_file:
                with open(linux, "wb") as f:
                    f.write(b"the user's old file")
                self.choose_existing(qmui.ntfs_path(file_name))
            else:
                self.choose(qmui.ntfs_path(file_name))
            driver.set_url(qmui.url("/paced/%d?ms=100" % (30 * PIECE)))
            driver.click("download")
            for _ in range(200):
                staging = staging_files(file_name)
                if staging:
                    break
                time.sleep(0.05)
            self.assertEqual(len(staging), 1, staging)
            holder = self.hold(qmui.ntfs_path(staging[0]), hold_ms, 30000)
            held = holder.held()
            outcome = self.wait_outcome()
            if held["held"] or attempt == 2:
                break
        self.assertTrue(held["held"], "the holder never got the staging file: %s" % held)
        self.assertEqual(list(held["codes"]), [str(ERROR_SHARING_VIOLATION)],
                         "refused only for sharing while the program wrote: %s" % held)
        return file_name, holder, outcome

    def test_staging_file_held_for_a_moment_is_renamed_once_let_go(self):
        file_name, holder, outcome = self.scanned_download("scanned", 1500)
        self.assertEqual(outcome, T("completed"))
        self.assertTrue(holder.released())
        self.assert_body(qmui.ntfs_linux_path(file_name), 30 * PIECE)
        self.assert_no_staging_files()

    def test_staging_file_held_past_the_retries_goes_once_let_go(self):
        # Held past the rename's retries, let go while the clean-up still tries to delete it.
        file_name, holder, outcome = self.scanned_download("scanned-long", 6500, old_file=True)
        self.assertEqual(outcome, T("failed"))
        self.assert_error_box(system_text(ERROR_SHARING_VIOLATION))
        self.assertTrue(holder.released())
        with open(qmui.ntfs_linux_path(file_name), "rb") as f:
            self.assertEqual(f.read(), b"the user's old file")
        # An earlier try that lost the race to the holder completed and is listed; this one not.
        self.assertEqual([line for line in driver.lines() if line.startswith(file_name)], [])
        self.assert_no_staging_files()


class DeskLongPaths(Desk):
    """A destination the Save As dialog accepts whose staging name is far past 260 characters."""

    def test_destination_past_the_old_path_limit(self):
        # Wine's own Save As dialog breaks down on names past 260 characters (the program's
        # window vanishes), so the destination stays just below that and only the staging name
        # goes past it, which is where the program met the limit on Windows.
        parts = ["%s-long" % LANG, "a" * 80, "b" * 80, "c" * 65]
        folder = os.path.join(qmui.NTFS_MOUNT, *parts)
        os.makedirs(folder, exist_ok=True)
        file_name = "report.final.pdf"
        linux = os.path.join(folder, file_name)
        for name in os.listdir(folder):
            os.remove(os.path.join(folder, name))
        target = qmui.ntfs_path("\\".join(parts + [file_name]))
        self.assertEqual(len(target), 255)
        self.assertGreater(len(target) + len(".quillmere-0-0.part"), 270)
        driver.set_url(qmui.url("/ok/70000"))
        self.choose(target)
        driver.click("download")
        self.assertEqual(self.wait_outcome(), T("completed"))
        driver.no_msgbox(300)
        self.assertEqual(driver.lines(), [E.list_line(file_name, ".pdf", 70000, LANG)])
        self.assert_body(linux, 70000)
        with open(linux + ":Zone.Identifier", "rb") as f:
            self.assertEqual(f.read(), b"[ZoneTransfer]\r\nZoneId=3\r\n")
        self.assertEqual(os.listdir(folder), [file_name])

        # Cancelled on the same long path: the long-named staging file goes too.
        self.choose_existing(target)
        driver.set_url(qmui.url("/paced/%d?ms=100" % (60 * PIECE)))
        driver.click("download")
        for _ in range(100):
            if staging_files(file_name, folder):
                break
            time.sleep(0.05)
        self.assertEqual(len(staging_files(file_name, folder)), 1)
        driver.click("cancel")
        self.assertEqual(self.wait_outcome(), T("cancelled"))
        self.assertEqual(os.listdir(folder), [file_name])
        self.assert_body(linux, 70000)


class DeskProxy(Desk):
    """The proxy the user set in Windows' settings carries the download; the TLS session inside
    the tunnel still runs to the server, whose certificate is checked as without a proxy."""

    @classmethod
    def setUpClass(cls):
        cls.proxy = Proxy("tunnel")
        cls.refusing = Proxy("refusing", refuse=True)

    @classmethod
    def tearDownClass(cls):
        clear_user_proxy()
        cls.proxy.stop()
        cls.refusing.stop()

    def setUp(self):
        self.proxy.clear()
        self.refusing.clear()
        super().setUp()

    def tearDown(self):
        super().tearDown()
        clear_user_proxy()

    def test_download_goes_through_the_users_proxy(self):
        set_user_proxy(self.proxy.address, "*.example.invalid;10.*")
        before = J.request_count()
        file_name = self.name("via-proxy.bin")
        self.assertEqual(self.download(qmui.url("/ok/70000"), file_name), T("completed"))
        self.assert_body(qmui.ntfs_linux_path(file_name), 70000)
        self.assertEqual(self.proxy.lines(),
                         ["CONNECT localhost:%s HTTP/1.1" % qmui.HTTPS_PORT])
        self.assertEqual(J.request_count(), before + 1, "the server answered the one request")

    def test_certificate_is_checked_through_the_proxy(self):
        set_user_proxy(self.proxy.address)
        file_name = self.name("bad-cert.bin")
        port = os.environ["QM_PORT_SELFSIGNED"]
        link = "https://localhost:%s/ok/100" % port
        self.assertEqual(self.download(link, file_name), T("failed"))
        self.assert_error_box("Error 12157")
        self.assertEqual(self.proxy.lines(), ["CONNECT localhost:%s HTTP/1.1" % port])
        self.assert_nothing_written(file_name)

    def test_a_proxy_that_refuses_fails_the_download_with_the_systems_text(self):
        set_user_proxy(self.refusing.address)
        before = J.request_count()
        file_name = self.name("refused.bin")
        self.assertEqual(self.download(qmui.url("/ok/100"), file_name), T("failed"))
        self.assert_error_box(REFUSED_TEXT)
        self.assertEqual(self.refusing.lines(),
                         ["CONNECT localhost:%s HTTP/1.1" % qmui.HTTPS_PORT])
        self.assertEqual(J.request_count(), before, "nothing reached the server")
        self.assert_nothing_written(file_name)

    def test_a_host_on_the_bypass_list_goes_direct(self):
        for bypass in ("<local>", "*.example.invalid; LOCALHOST"):
            with self.subTest(bypass=bypass):
                set_user_proxy(self.proxy.address, bypass)
                file_name = self.name("direct.bin")
                self.assertEqual(self.download(qmui.url("/ok/3000"), file_name), T("completed"))
                self.assert_body(qmui.ntfs_linux_path(file_name), 3000)
                self.assertEqual(self.proxy.lines(), [], "the proxy saw nothing")

    def test_an_automatic_configuration_script_names_the_proxy(self):
        script = "http://%s/proxy.pac" % self.proxy.address
        set_user_proxy("", config_url=script)
        file_name = self.name("via-script.bin")
        self.assertEqual(self.download(qmui.url("/ok/3000"), file_name), T("completed"))
        self.assert_body(qmui.ntfs_linux_path(file_name), 3000)
        self.assertEqual(self.proxy.lines(), ["GET /proxy.pac HTTP/1.1",
                                              "CONNECT localhost:%s HTTP/1.1" % qmui.HTTPS_PORT])

    def test_a_script_that_says_direct_outweighs_the_named_proxy(self):
        set_user_proxy(self.refusing.address, config_url="http://%s/direct.pac" % self.proxy.address)
        file_name = self.name("direct-script.bin")
        self.assertEqual(self.download(qmui.url("/ok/3000"), file_name), T("completed"))
        self.assertEqual(self.proxy.lines(), ["GET /direct.pac HTTP/1.1"])
        self.assertEqual(self.refusing.lines(), [])

    def test_without_a_users_proxy_http_proxy_still_applies(self):
        # Wine's WinHTTP takes the machine's proxy from http_proxy; a user without a proxy of
        # their own keeps it.
        self.app.stop()
        os.environ["http_proxy"] = "http://%s" % self.proxy.address
        try:
            self.app = qmui.App(driver)
        finally:
            del os.environ["http_proxy"]
        file_name = self.name("machine-proxy.bin")
        self.assertEqual(self.download(qmui.url("/ok/3000"), file_name), T("completed"))
        self.assertEqual(self.proxy.lines(),
                         ["CONNECT localhost:%s HTTP/1.1" % qmui.HTTPS_PORT])


# Wine's WinHTTP reports a tunnel that the proxy refused as a failed secure channel (12157), a
# code for which Wine has no text.
REFUSED_TEXT = "Error 12157"


class DeskPorts(Desk):
    """Ports past 65535 that the system's URL splitter would wrap around to the bed server's own
    port are refused with the URL text, and no request goes out."""

    def test_ports_out_of_range_are_refused(self):
        port = int(qmui.HTTPS_PORT)
        file_name = self.name("port.bin")
        self.remove(file_name)
        self.choose(qmui.ntfs_path(file_name))
        before = J.request_count()
        for digits in (str(port + 65536), str(port + 65536 * 65536),
                       str(2 ** 64 - 65536 + port), "65536", "65979", "4294967297",
                       "12345678901234567890"):
            with self.subTest(port=digits):
                driver.set_url("https://localhost:%s/ok/10" % digits)
                driver.click("download")
                self.assert_error_box(T("enter_valid_https_url"))
                self.assertEqual(driver.status(), T("failed"))
        self.assertEqual(J.request_count(), before, "no request may be sent")
        self.assert_nothing_written(file_name)


class DeskTls(Desk):
    """WinHTTP on Windows 7 is asked for TLS 1.1 and 1.2 on top of what it would offer; every other
    Windows keeps its own choice. Wine plays the Windows version that the prefix names for
    quillmere.exe (Windows 7 when none is named), and its WinHTTP trace shows the options the
    program sets."""

    def setUp(self):
        # Each test starts the program itself, once the Windows version it plays is set.
        self.app = None
        self.holders = []
        self.suspended = False

    def tearDown(self):
        if self.app:
            super().tearDown()
        clear_windows_version()

    def traced_download(self, windows_version):
        wine_reg("add", APP_VERSION, "/v", "Version", "/t", "REG_SZ",
                     "/d", windows_version, "/f")
        log = os.path.join(qmui.OUT_DIR, "wine-app.log")
        start = os.path.getsize(log) if os.path.exists(log) else 0
        os.environ["WINEDEBUG"] = "trace+winhttp"
        try:
            self.app = qmui.App(driver)
        finally:
            os.environ["WINEDEBUG"] = "-all"
        file_name = self.name("tls.bin")
        self.assertEqual(self.download(qmui.url("/ok/3000"), file_name), T("completed"))
        self.assert_body(qmui.ntfs_linux_path(file_name), 3000)
        self.app.stop()
        with open(log, "rb") as f:
            f.seek(start)
            trace = f.read().decode("utf-8", "replace")
        # Only the options the program set, and what WinHTTP made of them.
        options = "".join(line[line.find("trace:"):] + "\n" for line in trace.splitlines()
                          if "WinHttpSetOption" in line or "session_set_option" in line)
        # 63: the request's option that turns WinHTTP's own redirects off, set on every request.
        self.assertRegex(options, r"WinHttpSetOption \w+, 63,", "no trace of WinHTTP's options")
        return options

    def test_windows_7_adds_tls_1_1_and_1_2(self):
        trace = self.traced_download("win7")
        self.assertRegex(trace, r"WinHttpSetOption \w+, 84, \w+, 4\n")
        # Wine cannot say what it would offer, so the program adds them to Windows 7's own TLS 1.0.
        self.assertIn("session_set_option 0xa80\n", trace)

    def test_other_windows_keep_their_own_choice(self):
        trace = self.traced_download("win10")
        self.assertNotRegex(trace, r"WinHttpSetOption \w+, 84,")


if __name__ == "__main__":
    qmui.run_tests()
