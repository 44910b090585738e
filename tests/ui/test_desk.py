#!/usr/bin/python3
"""What a real Windows desk has that a bare test bed does not, end to end on the real executable
under Wine: files that another program (a virus scanner, the search indexer, Explorer's preview,
or the user's own program) holds open for a while, and destinations past the old 260-character
path limit. qmprobe.exe (QM_PROBE) plays the other program: a real second process whose open
handle Wine's sharing rules weigh against the program's rename and delete."""

import json
import os
import select
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import expected as E  # noqa: E402
import qmui  # noqa: E402
import test_journey  # noqa: E402

LANG = qmui.language()
T = lambda key: E.text(key, LANG)  # noqa: E731
PROBE = os.environ.get("QM_PROBE", "")
ERROR_SHARING_VIOLATION = 32

driver = None


def setUpModule():
    global driver
    driver = test_journey.driver = qmui.Driver()


def tearDownModule():
    if driver:
        driver.close()


def probe(*words):
    """Runs qmprobe.exe once and returns its last JSON line."""
    if not PROBE:
        raise RuntimeError("QM_PROBE is not set")
    done = subprocess.run(["wine", PROBE] + [str(w) for w in words], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, env=qmui.wine_env("C.UTF-8"), timeout=60)
    return json.loads(done.stdout.decode("ascii").strip().splitlines()[-1])


def system_text(code):
    return probe("message", code)["text"]


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


class Desk(test_journey.Journey):
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

    def staging_names(self, folder, file_name):
        return [n for n in os.listdir(folder)
                if n.startswith(file_name + ".quillmere-") and n.endswith(".part")]

    def start_paced(self, file_name, pieces):
        """A paced download to N:, once a staging file of an earlier, broken run is out of the way."""
        for name in self.staging_names(qmui.NTFS_MOUNT, file_name):
            os.remove(os.path.join(qmui.NTFS_MOUNT, name))
        super().start_paced(file_name, pieces=pieces)


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
        self.assertEqual(driver.lines(), [])
        self.assert_no_staging_files()

    def test_staging_file_is_not_shared_while_written(self):
        file_name = self.name("unshared.bin")
        self.start_paced(file_name, pieces=60)
        staging = self.staging_names(qmui.NTFS_MOUNT, file_name)
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
            for name in self.staging_names(qmui.NTFS_MOUNT, file_name):
                os.remove(os.path.join(qmui.NTFS_MOUNT, name))
            if old_file:
                with open(linux, "wb") as f:
                    f.write(b"the user's old file")
                self.choose_existing(qmui.ntfs_path(file_name))
            else:
                self.choose(qmui.ntfs_path(file_name))
            driver.set_url(qmui.url("/paced/%d?ms=100" % (30 * test_journey.PIECE)))
            driver.click("download")
            for _ in range(200):
                staging = self.staging_names(qmui.NTFS_MOUNT, file_name)
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
        self.assert_body(qmui.ntfs_linux_path(file_name), 30 * test_journey.PIECE)
        self.assert_no_staging_files()

    def test_staging_file_held_past_the_retries_goes_once_let_go(self):
        # Held past the rename's retries, let go while the clean-up still tries to delete it.
        file_name, holder, outcome = self.scanned_download("scanned-long", 6500, old_file=True)
        self.assertEqual(outcome, T("failed"))
        self.assert_error_box(system_text(ERROR_SHARING_VIOLATION))
        self.assertTrue(holder.released())
        with open(qmui.ntfs_linux_path(file_name), "rb") as f:
            self.assertEqual(f.read(), b"the user's old file")
        self.assertEqual(driver.lines(), [])
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
        driver.set_url(qmui.url("/paced/%d?ms=100" % (60 * test_journey.PIECE)))
        driver.click("download")
        for _ in range(100):
            if self.staging_names(folder, file_name):
                break
            time.sleep(0.05)
        self.assertEqual(len(self.staging_names(folder, file_name)), 1)
        driver.click("cancel")
        self.assertEqual(self.wait_outcome(), T("cancelled"))
        self.assertEqual(os.listdir(folder), [file_name])
        self.assert_body(linux, 70000)


if __name__ == "__main__":
    qmui.run_tests()
