#!/usr/bin/python3
"""Fails unless every DLL in the executable's static import table is a Windows KnownDLL.

A static import of any other library (winhttp.dll above all) is loaded before wWinMain runs
and is looked for first in the executable's own folder, where a planted copy would win.
WinHTTP is bound late instead; its name must still be in the file, or the engine is missing.

Usage: check_imports.py OBJDUMP EXE
"""
import re
import subprocess
import sys

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of Windows 10 and 11, plus
# ntdll.dll, which the loader maps into every process first.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
    "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll",
    "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "wldap32.dll", "ws2_32.dll", "ntdll.dll",
}


def main():
    objdump, exe = sys.argv[1], sys.argv[2]
    out = subprocess.run([objdump, "-p", exe], check=True, capture_output=True,
                         text=True).stdout
    names = [m.group(1).strip() for m in re.finditer(r"^\s*DLL Name:\s*(\S+)", out, re.M)]
    if not names:
        print("no import table found in", exe)
        return 1
    print("imports:", ", ".join(names))
    unknown = [n for n in names if n.lower() not in KNOWN_DLLS]
    if unknown:
        print("not KnownDLLs, loaded from the executable's folder first:", ", ".join(unknown))
        return 1
    with open(exe, "rb") as f:
        if b"winhttp.dll" not in f.read().lower():
            print("winhttp.dll is not referenced at all: is the download engine linked?")
            return 1
    print("winhttp.dll is bound at first use, not imported")
    return 0


if __name__ == "__main__":
    sys.exit(main())
