#!/usr/bin/python3
"""The published release, made by tools/release.sh as a user would run it, then read from outside.

Builds the release of this source tree, and again from a copy of the sources in a folder with a
longer path (both with the same commit date), and once more signed with a throwaway code-signing
certificate. Then checks the executable in the archive: hardening flags, relocations, sections,
stack protector calls, import table, stripped symbols and debug link, no build paths, the version
block; the archive's members and dates; SHA256SUMS; that both builds are byte for byte the same;
and that the signature verifies and removing it gives back the unsigned executable. The MSI under
Wine, and the package managers' manifests. The Debian package of the Linux edition: its members
against what `cmake --install` installs, their owners and dates, no build paths, lintian, and that
apt can install it here.

Environment: QM_SOURCE (source tree), QM_WORK (scratch folder in the build tree), QM_OBJDUMP,
QM_DEV_EXE (the developer build, whose import table the release must keep), QM_VERSION (the
project version), QM_DRIVER (the UI tests' driver). QM_RELEASE_ONE_BUILD=1 skips the second build.
"""
import datetime
import getpass
import hashlib
import json
import os
import pathlib
import re
import shutil
import struct
import subprocess
import unittest
import zipfile
import zlib

SOURCE = os.environ["QM_SOURCE"]
WORK = os.environ["QM_WORK"]
OBJDUMP = os.environ["QM_OBJDUMP"]
DEV_EXE = os.environ["QM_DEV_EXE"]
VERSION = os.environ["QM_VERSION"]
DRIVER = os.environ["QM_DRIVER"]
NAME = f"quillmere-{VERSION}-win64"
DEB = f"quillmere_{VERSION}_amd64.deb"
RELEASE = os.path.join(SOURCE, "tools", "release.sh")
MANIFESTS = ["Quillmere.Quillmere.yaml", "Quillmere.Quillmere.installer.yaml",
             "Quillmere.Quillmere.locale.en-US.yaml", "quillmere.json"]

SCN_MEM_EXECUTE, SCN_MEM_WRITE = 0x20000000, 0x80000000
HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT = 0x20, 0x40, 0x100


def run(*command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs).stdout


def commit_date():
    try:
        return run("git", "-C", SOURCE, "log", "-1", "--format=%ct").strip()
    except (OSError, subprocess.CalledProcessError):
        return "1796688000"  # a source tree without history: any fixed date will do


def release(source, build, out, *options):
    """Runs the release script; returns the folder it wrote."""
    env = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH)
    result = subprocess.run([os.path.join(source, "tools", "release.sh"), "--build-dir", build,
                             "--out", out, *options], env=env, capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"release.sh failed:\n{result.stdout[-3000:]}\n{result.stderr[-3000:]}")
    return out


def copy_sources(target):
    """The source tree as the checkout has it (tracked files), without builds or history, and with
    the file times of a fresh clone (now)."""
    try:
        files = run("git", "-C", SOURCE, "ls-files", "-z", "--cached", "--others",
                    "--exclude-standard").split("\0")
    except (OSError, subprocess.CalledProcessError):
        shutil.copytree(SOURCE, target, ignore=shutil.ignore_patterns("build*", "dist", ".git"),
                        copy_function=shutil.copy)
        return
    for name in filter(None, files):
        if os.path.isfile(os.path.join(SOURCE, name)):
            os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
            shutil.copy(os.path.join(SOURCE, name), os.path.join(target, name))


def readme_images():
    """The images README.md shows from the tree, in the order the release adds them."""
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
        return sorted(set(re.findall(r"!\[[^]]*\]\(([^):]+)\)", f.read())))


def msi_property(msi, name):
    return re.search(rf"^{name}\t(.*)$", run("msiinfo", "export", msi, "Property"), re.M).group(1)


def zip_member(dist, member):
    with zipfile.ZipFile(os.path.join(dist, NAME + ".zip")) as z:
        return z.read(member)


class Pe:
    """The parts of a PE32+ image these tests read."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
        (self.machine, count, self.timestamp, self.symbol_table, self.symbol_count,
         optional_size) = struct.unpack_from("<HHIIIH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i)
                            for i in range(16)]
        strings = self.symbol_table + 18 * self.symbol_count
        self.sections = []
        for i in range(count):
            at = optional + optional_size + 40 * i
            raw_name = data[at:at + 8].rstrip(b"\0").decode()
            if raw_name.startswith("/"):  # a long name, kept in the COFF string table
                start = strings + int(raw_name[1:])
                raw_name = data[start:data.index(b"\0", start)].decode()
            size, rva, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
            flags = struct.unpack_from("<I", data, at + 36)[0]
            self.sections.append(dict(name=raw_name, size=size, rva=rva, raw_size=raw_size,
                                      raw_at=raw_at, flags=flags))

    def section(self, name):
        return next((s for s in self.sections if s["name"] == name), None)

    def content(self, name):
        s = self.section(name)
        return self.data[s["raw_at"]:s["raw_at"] + min(s["size"], s["raw_size"])]


def imported_dlls(path):
    out = run(OBJDUMP, "-p", path)
    return [m.group(1).lower() for m in re.finditer(r"^\s*DLL Name:\s*(\S+)", out, re.M)]


def calls_to(pe, targets):
    """How many call rel32 instructions in .text go to one of the given addresses (RVAs)."""
    text = pe.section(".text")
    code = pe.content(".text")
    count = 0
    for m in re.finditer(b"\xe8", code):
        at = m.start()
        if at + 5 <= len(code):
            rel = struct.unpack_from("<i", code, at + 1)[0]
            count += (text["rva"] + at + 5 + rel) in targets
    return count


def global_functions(debug_file, pe):
    """Name -> RVA of the global symbols in the .debug file's symbol table."""
    out = run(OBJDUMP, "-t", debug_file)
    symbols = {}
    for m in re.finditer(r"\(sec\s+(\d+)\).*\(scl\s+2\).*0x([0-9a-f]+) (\S+)$", out, re.M):
        section = int(m.group(1))
        if 1 <= section <= len(pe.sections):
            symbols[m.group(3)] = pe.sections[section - 1]["rva"] + int(m.group(2), 16)
    return symbols


def setUpModule():
    global EPOCH, DIST_A, DIST_B, DIST_SIGNED, SIGNING, BUILD_A
    EPOCH = commit_date()
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    BUILD_A = os.path.join(WORK, "a", "build")
    DIST_A = release(SOURCE, BUILD_A, os.path.join(WORK, "a", "dist"))
    DIST_B = None
    if os.environ.get("QM_RELEASE_ONE_BUILD") != "1":
        # Another folder, another path length, another time: the same bytes.
        copy = os.path.join(WORK, "b", "a-copy-of-the-sources-in-a-folder-with-a-longer-name")
        copy_sources(copy)
        DIST_B = release(copy, os.path.join(copy, "build-release"), os.path.join(WORK, "b", "dist"))
    SIGNING = os.path.join(WORK, "signing")
    make_signing_certificate(SIGNING)
    DIST_SIGNED = release(SOURCE, BUILD_A, os.path.join(WORK, "signed", "dist"),
                          "--pfx", os.path.join(SIGNING, "signer.pfx"),
                          "--pfx-password-file", os.path.join(SIGNING, "password"))


def make_signing_certificate(folder):
    """A throwaway CA and a code-signing certificate it issued, as a password-protected PFX."""
    os.makedirs(folder)

    def in_folder(*command):
        run(*command, cwd=folder)

    in_folder("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
              "-out", "ca.pem", "-days", "2", "-subj", "/CN=Quillmere throwaway signing CA",
              "-addext", "basicConstraints=critical,CA:TRUE",
              "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    in_folder("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key",
              "-out", "signer.csr", "-subj", "/CN=Quillmere throwaway signer")
    with open(os.path.join(folder, "signer.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    in_folder("openssl", "x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
              "-CAcreateserial", "-days", "2", "-extfile", "signer.ext", "-out", "signer.pem")
    with open(os.path.join(folder, "password"), "w") as f:
        f.write("throwaway " + os.urandom(8).hex())
    in_folder("openssl", "pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem",
              "-certfile", "ca.pem", "-passout", "file:password", "-out", "signer.pfx")


class ReleaseExecutable(unittest.TestCase):
    """The executable as published, inside the archive."""

    @classmethod
    def setUpClass(cls):
        cls.exe_path = os.path.join(WORK, "quillmere.exe")
        with open(cls.exe_path, "wb") as f:
            f.write(zip_member(DIST_A, "quillmere.exe"))
        with open(cls.exe_path, "rb") as f:
            cls.pe = Pe(f.read())
        cls.debug_path = os.path.join(DIST_A, NAME + ".exe.debug")

    def test_address_space_layout_randomisation_and_nx(self):
        pe = self.pe
        self.assertEqual((pe.machine, pe.magic), (0x8664, 0x20B), "not a PE32+ x86-64 image")
        for flag, name in ((DYNAMIC_BASE, "DYNAMIC_BASE"), (HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA"),
                           (NX_COMPAT, "NX_COMPAT")):
            self.assertTrue(pe.dll_characteristics & flag, f"{name} is not set")
        # ASLR can move the image only if its base relocations are there.
        reloc_rva, reloc_size = pe.directories[5]
        self.assertTrue(reloc_rva and reloc_size, "no base relocation directory")
        self.assertIsNotNone(pe.section(".reloc"), "no .reloc section")
        for s in pe.sections:
            self.assertFalse(s["flags"] & SCN_MEM_WRITE and s["flags"] & SCN_MEM_EXECUTE,
                             f"section {s['name']} is writable and executable")

    def test_stripped_with_a_debug_link_to_the_symbols(self):
        pe = self.pe
        debug_sections = [s["name"] for s in pe.sections if s["name"].startswith(".debug")]
        self.assertEqual(debug_sections, [], "debug sections left in the executable")
        self.assertEqual(pe.symbol_count, 0, "COFF symbols left in the executable")
        self.assertEqual(pe.directories[6], (0, 0), "a debug directory in the executable")
        link = pe.content(".gnu_debuglink")
        file_name = link[:link.index(b"\0")].decode()
        crc = struct.unpack_from("<I", link, len(link) - 4)[0]
        self.assertEqual(file_name, NAME + ".exe.debug")
        with open(self.debug_path, "rb") as f:
            debug = f.read()
        self.assertEqual(crc, zlib.crc32(debug), "the debug link's CRC does not match the symbols")
        self.assertTrue(Pe(debug).section(".debug_info"), "the symbols' file has no .debug_info")

    def test_stack_protector_and_checked_copies(self):
        symbols = global_functions(self.debug_path, self.pe)
        self.assertIn("__stack_chk_fail", symbols)
        protected = calls_to(self.pe, {symbols["__stack_chk_fail"]})
        print(f"calls to __stack_chk_fail: {protected}")
        self.assertGreaterEqual(protected, 5, "few or no functions carry the stack protector")
        with open(os.path.join(BUILD_A, "CMakeCache.txt")) as f:
            fortify = re.search(r"^QUILLMERE_HAVE_FORTIFY:INTERNAL=1$", f.read(), re.M)
        checked = {rva for name, rva in symbols.items()
                   if re.fullmatch(r"__\w+_chk", name) and not name.startswith("__stack")}
        checked_calls = calls_to(self.pe, checked)
        names = ", ".join(sorted(n for n, rva in symbols.items() if rva in checked))
        print(f"_FORTIFY_SOURCE supported: {bool(fortify)}; calls to checked copies "
              f"({names}): {checked_calls}")
        if fortify:
            self.assertGreater(checked_calls, 0, "_FORTIFY_SOURCE is supported but not in effect")

    def test_import_table_as_in_the_developer_build(self):
        release_dlls = imported_dlls(self.exe_path)
        self.assertEqual(release_dlls, imported_dlls(DEV_EXE))
        self.assertNotIn("libssp-0.dll", release_dlls)
        for late in (b"winhttp.dll", b"comdlg32.dll"):
            self.assertNotIn(late.decode(), release_dlls)
            self.assertIn(late, self.pe.data.lower(), f"{late.decode()} is not bound at all")

    def test_no_build_path_or_build_time(self):
        self.assertEqual(self.pe.timestamp, int(EPOCH), "PE timestamp is not the commit date")
        with open(self.debug_path, "rb") as f:
            self.assertEqual(Pe(f.read()).timestamp, int(EPOCH))
        for path in (self.exe_path, self.debug_path):
            with open(path, "rb") as f:
                data = f.read()
            for folder in (SOURCE, WORK):
                for encoded in (folder.encode(), folder.encode("utf-16-le")):
                    self.assertFalse(encoded in data,
                                     f"{folder} appears in {os.path.basename(path)}")

    def test_version_block_follows_the_project_version(self):
        data = self.pe.data
        fixed = data.index(struct.pack("<I", 0xFEEF04BD))
        numbers = [int(n) for n in VERSION.split(".")] + [0]
        ms, ls = (numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3]
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", data, fixed + 8)
        self.assertEqual((file_ms, file_ls, product_ms, product_ls), (ms, ls, ms, ls))
        text = ".".join(map(str, numbers))
        for key in ("FileVersion", "ProductVersion"):
            self.assertIn(f"{key}\0".encode("utf-16-le"), data)
            at = data.index(f"{key}\0".encode("utf-16-le"))
            self.assertIn(f"{text}\0".encode("utf-16-le"), data[at:at + 80], f"{key} is not {text}")
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        self.assertIn(f"The current version is {VERSION}.", readme)
        self.assertIn(NAME + ".zip", readme)


class ReleaseFiles(unittest.TestCase):
    def test_archive_members_dates_and_sums(self):
        self.assertEqual(sorted(os.listdir(DIST_A)), sorted([NAME + ".zip", NAME + ".exe.debug",
                                                             NAME + ".msi", DEB, "SHA256SUMS"] +
                                                            MANIFESTS))
        when = datetime.datetime.fromtimestamp(int(EPOCH), datetime.timezone.utc)
        shown = readme_images()
        self.assertGreaterEqual(len(shown), 16, "README.md shows fewer screenshots than it did")
        with zipfile.ZipFile(os.path.join(DIST_A, NAME + ".zip")) as z:
            self.assertEqual([i.filename for i in z.infolist()],
                             ["quillmere.exe", "README.md", "LICENSE"] + shown)
            for info in z.infolist():  # zip times count in steps of two seconds
                self.assertEqual(info.date_time, when.timetuple()[:5] + (when.second // 2 * 2,),
                                 info.filename)
            for name in ["README.md", "LICENSE"] + shown:
                with open(os.path.join(SOURCE, name), "rb") as f:
                    self.assertEqual(z.read(name), f.read(), name)
        with open(os.path.join(SOURCE, "LICENSE"), encoding="utf-8") as f:
            licence = f.read()
        self.assertIn("MIT License", licence)
        self.assertIn("The Quillmere developers", licence)
        for dist in filter(None, (DIST_A, DIST_B, DIST_SIGNED)):
            out = run("sha256sum", "-c", "--strict", "SHA256SUMS", cwd=dist)
            self.assertEqual(sorted(line.split(":")[0] for line in out.splitlines()),
                             sorted(n for n in os.listdir(dist) if n != "SHA256SUMS"))

    @unittest.skipIf(os.environ.get("QM_RELEASE_ONE_BUILD") == "1", "one build only")
    def test_two_builds_in_different_folders_are_identical(self):
        differ = []
        for name in sorted(os.listdir(DIST_A)):
            with open(os.path.join(DIST_A, name), "rb") as a, open(os.path.join(DIST_B, name),
                                                                    "rb") as b:
                data_a = a.read()
                if data_a != b.read():
                    differ.append(name)
            print(f"{hashlib.sha256(data_a).hexdigest()}  {name}")
        self.assertEqual(differ, [], "these differ between the two builds")

    def test_signature_verifies_and_removing_it_gives_the_unsigned_executable(self):
        signed = os.path.join(WORK, "signed.exe")
        with open(signed, "wb") as f:
            f.write(zip_member(DIST_SIGNED, "quillmere.exe"))
        out = run("osslsigncode", "verify", "-CAfile", os.path.join(SIGNING, "ca.pem"),
                  "-in", signed)
        self.assertIn("Signature verification: ok", out)
        self.assertIn("sha256", out.lower())
        unsigned = os.path.join(WORK, "signature-removed.exe")
        if os.path.exists(unsigned):
            os.remove(unsigned)
        run("osslsigncode", "remove-signature", "-in", signed, "-out", unsigned)
        with open(unsigned, "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).hexdigest(),
                             hashlib.sha256(zip_member(DIST_A, "quillmere.exe")).hexdigest(),
                             "signed executable without its signature is not the unsigned one")
        self.assertIn("Signature verification: ok", run("osslsigncode", "verify", "-CAfile",
                      f"{SIGNING}/ca.pem", "-in", f"{DIST_SIGNED}/{NAME}.msi"), "the MSI's")
        # The symbols do not change with signing.
        with open(os.path.join(DIST_SIGNED, NAME + ".exe.debug"), "rb") as s, \
                open(os.path.join(DIST_A, NAME + ".exe.debug"), "rb") as u:
            self.assertEqual(s.read(), u.read())


class WindowsInstaller(unittest.TestCase):
    """The MSI as a user meets it, under Wine in a fresh prefix on an X display of its own (as the
    test bed makes them): installed, started, upgraded, not downgraded, removed."""

    @classmethod
    def setUpClass(cls):
        # No Mono or Gecko installers, and no menu entries in $HOME for the prefix's shortcuts.
        cls.prefix = os.path.join(WORK, "wineprefix")
        cls.env = dict(os.environ, WINEPREFIX=cls.prefix, WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        display, into = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(into), "-nolisten", "tcp"],
                                pass_fds=[into], stderr=subprocess.DEVNULL, start_new_session=True)
        cls.addClassCleanup(lambda: (xvfb.kill(), xvfb.wait()))
        cls.env["DISPLAY"] = ":" + os.read(display, 16).decode().strip()
        cls.addClassCleanup(cls.wine, "wineserver", "-k")
        # The server lives on after these two (with -p for the run): it must not hold our pipes.
        for command in (["wineboot", "-i"], ["wineserver", "-p"]):
            subprocess.run(command, env=cls.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)

    @classmethod
    def wine(cls, *command):
        return subprocess.run(command, env=cls.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, errors="replace")

    def msiexec(self, *arguments):
        return self.wine("wine", "msiexec", *arguments, "/qn").returncode

    def entry(self, code):
        """A product's values in Installed apps (Windows keeps a per-user package's under HKCU,
        Wine under HKLM)."""
        key = r"\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + code
        text = "".join(self.wine("wine", "reg", "query", hive + key).stdout
                       for hive in ("HKCU", "HKLM"))
        return dict(re.findall(r"^ +(\w+) +REG_\w+ +(.*?)\r?$", text, re.M))

    def test_installed_started_upgraded_not_downgraded_and_removed(self):
        msi, exe = os.path.join(DIST_A, NAME + ".msi"), os.path.join(WORK, "installer-input.exe")
        words = re.search(r"^Source: (\d+)", run("msiinfo", "suminfo", msi), re.M)  # word count
        self.assertTrue(int(words.group(1)) & 8, "the package asks for an administrator")
        with open(exe, "wb") as f:
            f.write(zip_member(DIST_A, "quillmere.exe"))
        next_version = re.sub(r"\d+$", lambda m: str(int(m.group()) + 1), VERSION)
        next_msi = os.path.join(WORK, "next.msi")
        run(f"{SOURCE}/windows/installer/build_msi.sh", next_version, exe, next_msi,
            env=dict(os.environ, SOURCE_DATE_EPOCH=EPOCH))
        codes = [msi_property(msi, "ProductCode"), msi_property(next_msi, "ProductCode")]
        tree = lambda: {f"{d}/{n}" for d, ds, fs in os.walk(f"{self.prefix}/drive_c")
                        for n in ds + fs}
        linux = lambda path: os.path.join(self.prefix, "drive_c", *path[3:].split("\\"))
        content = lambda path: pathlib.Path(path).read_bytes()
        before = tree()

        self.assertEqual(self.msiexec("/i", msi), 0)
        home = r"C:\users" + "\\" + getpass.getuser()
        program = home + r"\AppData\Local\Programs\Quillmere\quillmere.exe"
        shortcut = home + r"\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\Quillmere.lnk"
        self.assertEqual(content(linux(program)), content(exe))
        link = content(linux(shortcut))
        self.assertTrue(program.encode() in link, "the shortcut's target")
        icon = re.search(rb"C\0:\0(?:[^\0]\0)+?\.\0i\0c\0o\0", link).group().decode("utf-16-le")
        self.assertEqual(content(linux(icon)), content(f"{SOURCE}/resources/quillmere.ico"))
        entry = self.entry(codes[0])
        self.assertEqual([entry.get(n) for n in ("DisplayName", "DisplayVersion", "Publisher",
                                                 "InstallLocation")],
                         ["Quillmere", VERSION, "The Quillmere developers", program[:-13]])
        self.assertTrue(f"ProductIcon    REG_SZ    {icon}" in self.wine(
            "wine", "reg", "query", r"HKCU\Software\Microsoft\Installer\Products", "/s").stdout,
                        "Installed apps' icon")

        # Started from its shortcut, the program shows its window and ends at a close with 0.
        started = subprocess.Popen(["wine", "start", "/wait", shortcut], env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for command in (["wait-main", "20000"], ["close"], ["wait-gone", "10000"]):
            self.assertIn('"ok":true', self.wine("wine", DRIVER, *command).stdout, command)
        self.assertEqual(started.wait(timeout=30), 0)

        self.assertEqual(self.msiexec("/i", next_msi), 0)
        self.assertEqual([self.entry(c).get("DisplayVersion") for c in codes], [None, next_version])
        self.assertTrue(os.path.isfile(linux(program)))
        # ERROR_INSTALL_FAILURE (1603), of which wine hands on the low byte.
        self.assertEqual(self.msiexec("/i", msi), 1603 % 256, "the downgrade was not refused")

        self.assertEqual(self.msiexec("/x", codes[1]), 0)
        self.wine("wineserver", "-k")  # which writes the registry out to its files
        # Windows Installer's own folders, which every Windows has, may stay (empty).
        self.assertEqual({p for p in tree() - before if not p.endswith("Installer")}, set())
        registry = content(f"{self.prefix}/user.reg") + content(f"{self.prefix}/system.reg")
        self.assertFalse(b"quillmere" in registry.lower(), "a registry value stays")


class PackageManifests(unittest.TestCase):
    def test_valid_and_naming_each_file_with_its_hash(self):
        import jsonschema
        import yaml

        def read(path, load=lambda f: f.read()):
            with open(path, "rb") as f:
                return load(f)

        schemas = [f"winget-manifest.{kind}.1.10.0.json" for kind in
                   ("version", "installer", "defaultLocale")] + ["scoop-manifest.schema.json"]
        loaded = [read(f"{DIST_A}/{name}", yaml.safe_load) for name in MANIFESTS]  # JSON is YAML
        for manifest, schema in zip(loaded, schemas):
            jsonschema.validate(manifest, read(f"{SOURCE}/../shared/schemas/{schema}", json.load),
                                format_checker=jsonschema.FormatChecker())
        msi, portable = loaded[1]["Installers"]
        scoop = loaded[3]["architecture"]["64bit"]
        for name, url, digest in ((NAME + ".msi", msi["InstallerUrl"], msi["InstallerSha256"]),
                                  (NAME + ".zip", portable["InstallerUrl"],
                                   portable["InstallerSha256"]),
                                  (NAME + ".zip", scoop["url"], scoop["hash"])):
            self.assertEqual(digest.lower(), hashlib.sha256(read(f"{DIST_A}/{name}")).hexdigest())
            self.assertTrue(url.endswith("/" + name), url)
        self.assertEqual([m.get("PackageVersion", m.get("version")) for m in loaded], [VERSION] * 4)
        self.assertEqual(msi["ProductCode"], msi_property(f"{DIST_A}/{NAME}.msi", "ProductCode"))


class DebianPackage(unittest.TestCase):
    """The Linux edition's package: what it holds against what `cmake --install` installs, lintian,
    and whether apt can install it here."""

    @classmethod
    def setUpClass(cls):
        cls.deb = os.path.join(DIST_A, DEB)
        cls.root = os.path.join(WORK, "deb-extracted")
        shutil.rmtree(cls.root, ignore_errors=True)
        run("dpkg-deb", "--extract", cls.deb, cls.root)

    def test_holds_the_install_tree_and_its_documents(self):
        staging = os.path.join(WORK, "cmake-install")
        shutil.rmtree(staging, ignore_errors=True)
        run("cmake", "--install", os.path.join(BUILD_A, "linux"),
            env=dict(os.environ, DESTDIR=staging))
        installed = set()
        for folder, _, files in os.walk(staging):
            for name in files:  # manual pages go in compressed, as in every Debian package
                path = os.path.relpath(os.path.join(folder, name), staging)
                installed.add(path + ".gz" if path.startswith("usr/share/man/") else path)
        self.assertIn("usr/bin/quillmere", installed)
        doc = "usr/share/doc/quillmere/"
        installed |= {doc + name for name in ["README.md", "changelog.gz", "copyright"] +
                      readme_images()}
        members = run("dpkg-deb", "--contents", self.deb,
                      env=dict(os.environ, TZ="UTC0")).splitlines()
        names = [m.split(None, 5)[5].removeprefix("./") for m in members]
        self.assertEqual(names, sorted(names), "members not in sorted order")
        self.assertEqual({n for n, m in zip(names, members) if m.startswith("-")}, installed)
        when = datetime.datetime.fromtimestamp(int(EPOCH), datetime.timezone.utc)
        for member in members:
            self.assertIn(" root/root ", member)
            self.assertIn(when.strftime(" %Y-%m-%d %H:%M "), member)
        for name in ["README.md"] + readme_images():
            with open(os.path.join(SOURCE, name), "rb") as f, \
                    open(os.path.join(self.root, doc, name), "rb") as g:
                self.assertEqual(f.read(), g.read(), name)
        with open(os.path.join(self.root, doc, "copyright"), encoding="utf-8") as f, \
                open(os.path.join(SOURCE, "LICENSE"), encoding="utf-8") as g:
            licence = g.read().split("\n\n", 2)[2].splitlines()
            self.assertIn("".join(f" {line or '.'}\n" for line in licence), f.read())
        # Stripped, and no path of either build's folders anywhere in the package.
        executable = os.path.join(self.root, "usr/bin/quillmere")
        self.assertFalse(".symtab" in run("readelf", "-S", "-W", executable), "not stripped")
        self.assertEqual(run(executable, "--version"), f"Quillmere {VERSION}\n")
        for folder, _, files in os.walk(self.root):
            for name in files:
                with open(os.path.join(folder, name), "rb") as f:
                    data = f.read()
                for path in (SOURCE, WORK):
                    self.assertFalse(path.encode() in data, f"{path} in {folder}/{name}")

    def test_control_lintian_and_apt(self):
        control = run("dpkg-deb", "--field", self.deb)
        self.assertIn(f"Version: {VERSION}\n", control)
        depends = re.search(r"^Depends: (.*)$", control, re.M).group(1).split(", ")
        for package in ("libqt6widgets6", "libcurl4", "qt6-wayland",
                        "qt6-xdgdesktopportal-platformtheme", "qt6-gtk-platformtheme"):
            self.assertTrue(any(d.split()[0] == package for d in depends), package)
        self.assertIn("\nRecommends: libproxy1-plugin-webkit\n", control)
        result = subprocess.run(["lintian", "--fail-on", "error", "--info", self.deb],
                                capture_output=True, text=True)
        print(f"lintian: {result.stdout.strip() or 'no tags'}")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotRegex(result.stdout, r"(?m)^E: ")
        apt = subprocess.run(["apt-get", "install", "--simulate", "--no-install-recommends",
                              self.deb], capture_output=True, text=True)
        self.assertEqual(apt.returncode, 0, apt.stdout + apt.stderr)
        self.assertRegex(apt.stdout, rf"(?m)^(Inst|Conf) quillmere \({re.escape(VERSION)} |"
                                     r"^quillmere is already the newest version")


if __name__ == "__main__":
    unittest.main(verbosity=2)
