#!/usr/bin/env python3
"""Checks the shipped VantleCast.exe without running it: a GUI program that
imports only system DLLs, with its version resource and a manifest that asks
for nothing but asInvoker, and an https installer address with no test hook."""

import argparse
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "shlwapi.dll", "comctl32.dll",
               "urlmon.dll", "msvcrt.dll", "ole32.dll", "advapi32.dll", "gdi32.dll"}
VERSION_STRINGS = {
    "FileVersion": "2.0.0.6", "ProductVersion": "2.0.0", "FileDescription": "VANTLE Reda",
    "ProductName": "VANTLE Reda", "InternalName": "VantleCast",
    "OriginalFilename": "VantleCast.exe",
}
ADDRESS = re.compile(rb"https://[a-z.]*example\.(com|org|net)/[ -~]*"
                     rb"releases/download/runtime-3\.14/Korvane-Runtime-Setup\.exe\0")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--test-exe", required=True)
    parser.add_argument("--windres", required=True)
    parser.add_argument("--objdump", required=True)
    options = parser.parse_args()
    problems = []

    headers = subprocess.run([options.objdump, "-p", options.exe], capture_output=True,
                             text=True, check=True).stdout
    if not re.search(r"Subsystem\s+00000002", headers):
        problems.append("not a Windows GUI program")
    dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", headers)}
    if not dlls or not dlls <= SYSTEM_DLLS:
        problems.append("imports beyond the system DLLs: %s" % sorted(dlls - SYSTEM_DLLS))

    rc = subprocess.run([options.windres, "-i", options.exe, "-O", "rc"], capture_output=True,
                        text=True, check=True).stdout
    for pattern in (r"FILEVERSION 2, 0, 0, 6", r"PRODUCTVERSION 2, 0, 0, 6"):
        if not re.search(pattern, rc):
            problems.append("version resource lacks %s" % pattern)
    for key, value in VERSION_STRINGS.items():
        if 'VALUE "%s", "%s"' % (key, value) not in rc:
            problems.append("version string %s is not %r" % (key, value))
    if not re.search(r'VALUE "CompanyName", "[^"]+"', rc):
        problems.append("no CompanyName")
    manifest = "".join(re.findall(r'^\s*"(.*)"\s*$', rc.split("RT_MANIFEST", 1)[-1], re.M))
    manifest = manifest.replace('""', '"').replace("\\n", "\n")
    elements = re.findall(r"<([A-Za-z]+)", manifest)
    if elements != ["assembly", "trustInfo", "security", "requestedPrivileges",
                    "requestedExecutionLevel"]:
        problems.append("manifest declares more than the execution level: %s" % elements)
    if 'level="asInvoker"' not in manifest or 'uiAccess="false"' not in manifest:
        problems.append("manifest does not ask for asInvoker without UI access")

    with open(options.exe, "rb") as f:
        shipped = f.read()
    with open(options.test_exe, "rb") as f:
        test_copy = f.read()
    if not ADDRESS.search(shipped):
        problems.append("no https installer address on an example domain")
    if b"VANTLE_E2E_INSTALLER_ADDRESS" in shipped:
        problems.append("the shipped program reads the tests' installer address")
    if b"VANTLE_E2E_INSTALLER_ADDRESS" not in test_copy:
        problems.append("the test copy cannot be pointed at a loopback server")

    for problem in problems:
        print("FAIL: " + problem)
    print("%s: %s" % (options.exe, "bad" if problems else "ok"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
