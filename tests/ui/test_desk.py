#!/usr/bin/python3
"""Quillmere on a Windows desk as it is rather than as the bed first had it, end to end on the real
executable under Wine: the proxy the user chose in Windows' settings, and ports that the system's
URL splitter would wrap around. Each test sets its condition up in the bed's Wine prefix and
takes it away again, so that the other tests see the bed unchanged."""

import os
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import expected as E  # noqa: E402
import qmui  # noqa: E402

LANG = qmui.language()
T = lambda key: E.text(key, LANG)  # noqa: E731
OUTCOMES = ("completed", "cancelled", "failed")
HERE = os.path.dirname(os.path.abspath(__file__))
PROXY_SERVER = os.path.join(HERE, "..", "bed", "proxy_server.py")
CONNECTIONS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"

driver = None


def setUpModule():
    global driver
    # Nothing that an interrupted earlier run left in the prefix counts.
    clear_user_proxy()
    clear_windows_version()
    driver = qmui.Driver()


def tearDownModule():
    if driver:
        driver.close()


def request_lines():
    """Every request line the bed's HTTPS server has logged so far."""
    try:
        with open(qmui.REQUEST_LOG, "rb") as log:
            return log.read().count(b"\n")
    except FileNotFoundError:
        return 0


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


class Desk(unittest.TestCase):
    """A fresh run of the program for each test."""

    def setUp(self):
        self.app = qmui.App(driver)

    def tearDown(self):
        if self.app.running():
            for _ in range(3):
                if not driver.raw("msgbox", "--timeout", 200).get("ok"):
                    break
            driver.raw("save-dialog-cancel", 200)
        self.app.stop()

    def name(self, stem):
        return "%s-%s-%s" % (LANG, self._testMethodName.replace("test_", ""), stem)

    def remove(self, file_name):
        path = qmui.ntfs_linux_path(file_name)
        if os.path.exists(path):
            os.remove(path)
        return path

    def choose(self, path):
        driver.click("browse")
        answer = driver.save_dialog(path)
        self.assertTrue(answer["closed"], answer)

    def download(self, link, file_name):
        """Downloads the link to a new file on N: and returns the final status."""
        self.remove(file_name)
        driver.set_url(link)
        self.choose(qmui.ntfs_path(file_name))
        driver.click("download")
        watch = driver.watch_status(until=[T(k) for k in OUTCOMES], timeout_ms=60000)
        return watch["changes"][-1]["text"]

    def assert_error_box(self, text):
        box = driver.msgbox()
        self.assertEqual(box["box"]["text"], text)
        self.assertEqual(box["box"]["icon"], E.MB_ICON_ERROR)

    def assert_body(self, linux_path, size):
        with open(linux_path, "rb") as f:
            self.assertTrue(f.read() == qmui.body_bytes(size), "the file's bytes differ")

    def assert_nothing_written(self, file_name):
        self.assertFalse(os.path.exists(qmui.ntfs_linux_path(file_name)))
        left = [f for f in os.listdir(qmui.NTFS_MOUNT) if f.endswith(".part")]
        self.assertEqual(left, [], "staging files left behind")


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
        before = request_lines()
        file_name = self.name("via-proxy.bin")
        self.assertEqual(self.download(qmui.url("/ok/70000"), file_name), T("completed"))
        self.assert_body(qmui.ntfs_linux_path(file_name), 70000)
        self.assertEqual(self.proxy.lines(),
                         ["CONNECT localhost:%s HTTP/1.1" % qmui.HTTPS_PORT])
        self.assertEqual(request_lines(), before + 1, "the server answered the one request")

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
        before = request_lines()
        file_name = self.name("refused.bin")
        self.assertEqual(self.download(qmui.url("/ok/100"), file_name), T("failed"))
        self.assert_error_box(REFUSED_TEXT)
        self.assertEqual(self.refusing.lines(),
                         ["CONNECT localhost:%s HTTP/1.1" % qmui.HTTPS_PORT])
        self.assertEqual(request_lines(), before, "nothing reached the server")
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
        before = request_lines()
        for digits in (str(port + 65536), str(port + 65536 * 65536),
                       str(2 ** 64 - 65536 + port), "65536", "65979", "4294967297",
                       "12345678901234567890"):
            with self.subTest(port=digits):
                driver.set_url("https://localhost:%s/ok/10" % digits)
                driver.click("download")
                self.assert_error_box(T("enter_valid_https_url"))
                self.assertEqual(driver.status(), T("failed"))
        self.assertEqual(request_lines(), before, "no request may be sent")
        self.assert_nothing_written(file_name)


class DeskTls(Desk):
    """WinHTTP on Windows 7 is asked for TLS 1.1 and 1.2 on top of what it would offer; every other
    Windows keeps its own choice. Wine plays the Windows version that the prefix names for
    quillmere.exe (Windows 7 when none is named), and its WinHTTP trace shows the options the
    program sets."""

    def setUp(self):
        self.app = None

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
        self.assertRegex(options, r"WinHttpSetOption \w+, 88,", "no trace of WinHTTP's options")
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
