#!/usr/bin/python3
"""Checks the built ZEQHealth.exe with binutils: PE32 for i386, Windows GUI
subsystem, Windows 7 (6.1) as minimum OS and subsystem version, imports only
from DLLs every Windows 7 to 11 carries, the oleaut32 functions and
IsUserAnAdmin bound by ordinal, the manifest below as its one and only
resource, and its size. Prints the figures it checks.

Usage: check_executable.py OBJDUMP EXE
"""
import os
import re
import struct
import subprocess
import sys

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
                "ole32.dll", "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "winhttp.dll",
                "msvcrt.dll"}
# SysAllocString, SysFreeString, VariantInit, VariantClear, VariantChangeType.
OLEAUT32_ORDINALS = {2, 6, 8, 9, 12}
SHELL32_IS_USER_AN_ADMIN = 680
BY_ORDINAL_ONLY = ["SysAllocString", "SysFreeString", "VariantInit", "VariantClear",
                   "VariantChangeType", "IsUserAnAdmin"]
RT_MANIFEST = 24
MANIFEST_ID = 1
LANG_EN_US = 1033
MAX_SIZE = 128 * 1024

# The manifest, byte for byte: a UTF-8 byte-order mark, the XML declaration and
# CR LF, then the root element on one line, every element closed explicitly.
EXPECTED_MANIFEST = (
    b'\xef\xbb\xbf<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
    b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">'
    b'<assemblyIdentity version="1.0.0.0" processorArchitecture="x86" name="Ulbrena.ZEQHealth"'
    b' type="win32"></assemblyIdentity>'
    b'<description>ZEQ Health portable diagnostics</description>'
    b'<dependency><dependentAssembly>'
    b'<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'
    b' processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*">'
    b'</assemblyIdentity>'
    b'</dependentAssembly></dependency>'
    b'<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>'
    b'<requestedExecutionLevel level="asInvoker" uiAccess="false"></requestedExecutionLevel>'
    b'</requestedPrivileges></security></trustInfo>'
    b'<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1"><application>'
    b'<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"></supportedOS>'
    b'<supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"></supportedOS>'
    b'<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"></supportedOS>'
    b'<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"></supportedOS>'
    b'</application></compatibility>'
    b'</assembly>')

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def objdump(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def header_value(text, name):
    match = re.search(r"^%s\s+([0-9a-fA-F]+)" % re.escape(name), text, re.M)
    return int(match.group(1), 16) if match else None


def parse_imports(text):
    """{dll (lower case): {"names": set, "ordinals": set}} from objdump -p."""
    imports = {}
    current = None
    for line in text.splitlines():
        dll = re.match(r"^\s*DLL Name: (\S+)", line)
        if dll:
            current = imports.setdefault(dll.group(1).lower(), {"names": set(), "ordinals": set()})
            continue
        if current is None:
            continue
        if not line.strip():
            continue
        entry = re.match(r"^\t([0-9a-f]+)\t\s*(\d+)\s+(\S+)", line)
        if entry:
            thunk = int(entry.group(1), 16)
            if thunk & 0x80000000:
                current["ordinals"].add(int(entry.group(2)))
            else:
                current["names"].add(entry.group(3))
        elif not line.startswith("\t") and not line.startswith(" 0"):
            current = None
    return imports


def section_bytes(tool, exe, name):
    """(vma, bytes) of one section, read from objdump -s."""
    dump = objdump(tool, "-s", "-j", name, exe)
    start = None
    data = bytearray()
    for line in dump.splitlines():
        match = re.match(r"^ ([0-9a-f]+) ((?:[0-9a-f]{2,8} ?){1,4})", line)
        if not match:
            continue
        address = int(match.group(1), 16)
        if start is None:
            start = address
        check(address == start + len(data), "gap in the dump of %s" % name)
        data += bytes.fromhex(match.group(2).replace(" ", ""))
    return start, bytes(data)


def resource_leaves(rsrc):
    """Every (type, id, language, data RVA, size) in a resource directory."""
    def entries(offset):
        named, ids = struct.unpack_from("<HH", rsrc, offset + 12)
        for i in range(named + ids):
            key, value = struct.unpack_from("<II", rsrc, offset + 16 + 8 * i)
            yield (None if key & 0x80000000 else key), value

    leaves = []
    for rtype, type_dir in entries(0):
        for rid, id_dir in entries(type_dir & 0x7FFFFFFF):
            for lang, leaf in entries(id_dir & 0x7FFFFFFF):
                if not (type_dir & id_dir & 0x80000000) or leaf & 0x80000000:
                    leaves.append((rtype, rid, lang, None, None))
                    continue
                rva, size = struct.unpack_from("<II", rsrc, leaf)
                leaves.append((rtype, rid, lang, rva, size))
    return leaves


def main():
    tool, exe = sys.argv[1:3]
    headers = objdump(tool, "-p", exe)

    check(re.search(r"file format pei-i386", headers), "not a pei-i386 file")
    check(re.search(r"^Magic\s+010b\s+\(PE32\)", headers, re.M), "not PE32")
    subsystem = header_value(headers, "Subsystem")
    check(subsystem == 2, "subsystem %s, expected 2 (Windows GUI)" % subsystem)
    versions = {name: header_value(headers, name) for name in (
        "MajorOSystemVersion", "MinorOSystemVersion",
        "MajorSubsystemVersion", "MinorSubsystemVersion")}
    check(list(versions.values()) == [6, 1, 6, 1], "OS/subsystem versions %s" % versions)
    print("machine i386 PE32, subsystem %s, OS %s.%s, subsystem %s.%s" % (
        subsystem, *versions.values()))

    imports = parse_imports(headers)
    print("imported DLLs: %s" % ", ".join(sorted(imports)))
    check(imports and set(imports) <= ALLOWED_DLLS,
          "DLLs outside the allowed set: %s" % sorted(set(imports) - ALLOWED_DLLS))
    oleaut = imports.get("oleaut32.dll", {"names": set(), "ordinals": set()})
    check(oleaut["ordinals"] == OLEAUT32_ORDINALS and not oleaut["names"],
          "oleaut32 imports: ordinals %s, names %s" % (sorted(oleaut["ordinals"]),
                                                      sorted(oleaut["names"])))
    shell = imports.get("shell32.dll", {"names": set(), "ordinals": set()})
    check(shell["ordinals"] == {SHELL32_IS_USER_AN_ADMIN},
          "shell32 ordinal imports %s" % sorted(shell["ordinals"]))
    check("CommandLineToArgvW" in shell["names"], "CommandLineToArgvW not imported")
    check("InitCommonControlsEx" in imports.get("comctl32.dll", {"names": set()})["names"],
          "InitCommonControlsEx not imported from comctl32")
    with open(exe, "rb") as f:
        image = f.read()
    for name in BY_ORDINAL_ONLY:
        check(name.encode() not in image, "%s appears by name in the executable" % name)
    print("oleaut32 by ordinal %s, shell32 by ordinal %s" % (
        sorted(oleaut["ordinals"]), sorted(shell["ordinals"])))

    sections = objdump(tool, "-h", exe)
    check(re.search(r"^\s*\d+ \.rsrc\s", sections, re.M), "no .rsrc section")
    base, rsrc = section_bytes(tool, exe, ".rsrc")
    image_base = header_value(headers, "ImageBase")
    leaves = resource_leaves(rsrc)
    print("resources (type, id, language, size): %s" % [(t, i, l, s) for t, i, l, _, s in leaves])
    if check(len(leaves) == 1, "expected exactly one resource, found %d" % len(leaves)):
        rtype, rid, lang, rva, size = leaves[0]
        check((rtype, rid, lang) == (RT_MANIFEST, MANIFEST_ID, LANG_EN_US),
              "resource is type %s id %s language %s" % (rtype, rid, lang))
        offset = image_base + rva - base
        check(rsrc[offset:offset + size] == EXPECTED_MANIFEST,
              "the manifest resource differs from the expected bytes")

    size = os.path.getsize(exe)
    print("size: %d bytes (%.1f KiB; limit %d)" % (size, size / 1024, MAX_SIZE))
    check(size <= MAX_SIZE, "executable is %d bytes over the limit" % (size - MAX_SIZE))

    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
