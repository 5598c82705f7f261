#!/usr/bin/env python3
"""The release folder's programs run from a folder of their own on any Windows 10 or later: every DLL they import
must come with Windows, none from the build (mingw's runtime, OpenSSL, GLib...).

usage: system_dlls_test.py OBJDUMP PROGRAM.exe..."""
import re
import subprocess
import sys

# What every Windows 10 or later has in System32 (names compared without case).
SYSTEM = {"advapi32", "bcrypt", "crypt32", "d3d11", "dnsapi", "dxgi", "gdi32", "gdiplus", "iphlpapi", "kernel32",
          "mf", "mfplat", "mfreadwrite", "msvcrt", "ntdll", "ole32", "oleaut32", "secur32", "shell32", "shlwapi",
          "user32", "userenv", "windowscodecs", "winmm", "ws2_32"}


def imports(objdump, program):
    dump = subprocess.run([objdump, "-p", program], capture_output=True, text=True, check=True).stdout
    return {name.lower().removesuffix(".dll") for name in re.findall(r"DLL Name: (\S+)", dump)}


def main(objdump, programs):
    failed = False
    for program in programs:
        found = imports(objdump, program)
        foreign = sorted(found - SYSTEM)
        print(f"{program}: {' '.join(sorted(found))}")
        if not found or foreign:
            print(f"  not a system DLL: {' '.join(foreign) or '(no imports read)'}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
