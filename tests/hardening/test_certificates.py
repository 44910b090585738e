#!/usr/bin/python3
"""Untrustworthy server certificates, end to end on the real quillmere.exe under Wine: a
self-signed certificate, an expired one, one issued for another host name and one from a CA the
prefix does not trust. Each download must fail with the error box ("Error 12157", or the system's
text for that code where it has one), caption Quillmere and the error icon; no request may reach
the server, nothing may be written to N:, and the destination (an existing file whose replacement
was confirmed, or a new name) must be as it was.

And the HTTPS stack itself: a winhttp.dll planted beside the executable must not be loaded."""

import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import hardlib as H  # noqa: E402
from hardlib import setUpModule, tearDownModule  # noqa: E402,F401

ERROR_WINHTTP_SECURE_FAILURE = 12157
PORTS = ("QM_PORT_SELFSIGNED", "QM_PORT_EXPIRED", "QM_PORT_WRONGHOST", "QM_PORT_UNTRUSTED")
OLD = b"the file that was here before the download\r\n"


class Certificates(H.HardeningTest):

    def download_refused(self, port_variable, name, replace):
        port = os.environ[port_variable]
        driver = H.driver
        driver.set_url("https://localhost:%s/ok/100000" % port)
        self.choose(name, replace=replace)
        before = self.snapshot()
        requests = len(H.request_log_lines())
        driver.click("download")
        self.assert_error_box([H.error_text(ERROR_WINHTTP_SECURE_FAILURE)])
        self.assertEqual(driver.status(), H.T("failed"))
        self.assertEqual(driver.text("target"), self.win(name), "the destination is kept")
        self.assertEqual(driver.lines(), [], "a failure adds nothing to the session list")
        self.assert_idle()
        self.assertEqual(self.snapshot(), before, "something was written on N:")
        sent = [r for r in H.request_log_lines()[requests:] if r["port"] == int(port)]
        self.assertEqual(sent, [], "a request went out over the untrusted connection")

    def test_each_bad_certificate_onto_an_existing_file(self):
        for port in PORTS:
            with self.subTest(port=port):
                name = "existing-%s.bin" % port[8:].lower()
                self.make_file(name, OLD)
                self.download_refused(port, name, replace=True)
                with open(self.linux(name), "rb") as f:
                    self.assertEqual(f.read(), OLD, "the confirmed destination was touched")

    def test_each_bad_certificate_onto_a_new_name(self):
        for port in PORTS:
            with self.subTest(port=port):
                name = "new-%s.bin" % port[8:].lower()
                self.download_refused(port, name, replace=False)
                self.assertFalse(os.path.exists(self.linux(name)))

    def test_the_trusted_server_still_works_after_refusals(self):
        # The same run, refused once and then pointed at the trusted port, downloads: a refusal
        # leaves the program able to work (and proves the bed's own certificate is good).
        self.download_refused("QM_PORT_EXPIRED", "then-good.bin", replace=False)
        H.driver.set_url(H.qmui.url("/ok/100000"))
        H.driver.click("download")
        self.assertEqual(self.wait_outcome(), H.T("completed"))
        self.assert_body("then-good.bin", 100000)
        self.assert_no_staging()


class PlantedLibrary(H.HardeningTest):
    """The executable run from a folder (think Downloads) that also holds a winhttp.dll which
    leaves a marker when loaded and cannot download. Wine is told to prefer such a native copy,
    the way Windows treats every library that is no KnownDLL, so only the program's restriction
    of library loading to the system folder keeps it out."""

    def start_app(self):
        self.exe_dir = os.path.join(H.qmui.OUT_DIR, "planted")
        shutil.rmtree(self.exe_dir, ignore_errors=True)
        os.makedirs(self.exe_dir)
        program = os.path.join(self.exe_dir, "quillmere.exe")
        try:
            os.link(H.qmui.APP, program)  # the executable is over 100 MiB
        except OSError:
            shutil.copyfile(H.qmui.APP, program)
        shutil.copyfile(os.environ["QM_PLANTED_WINHTTP"],
                        os.path.join(self.exe_dir, "winhttp.dll"))
        overrides = [os.environ.get("WINEDLLOVERRIDES", ""), "winhttp=n,b"]
        return H.qmui.App(H.driver, program=program,
                          env={"WINEDLLOVERRIDES": ";".join(filter(None, overrides))})

    def tearDown(self):
        super().tearDown()
        shutil.rmtree(self.exe_dir, ignore_errors=True)

    def test_a_winhttp_dll_beside_the_executable_is_not_loaded(self):
        H.driver.set_url(H.qmui.url("/ok/100000"))
        self.choose("planted.bin")
        H.driver.click("download")
        outcome = self.wait_outcome()
        self.assertFalse(os.path.exists(os.path.join(self.exe_dir, "winhttp.dll.loaded")),
                         "the winhttp.dll beside the executable was loaded; %r" % outcome)
        self.assertEqual(outcome, H.T("completed"))
        self.assert_body("planted.bin", 100000)


if __name__ == "__main__":
    H.run_tests()
