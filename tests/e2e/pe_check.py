#!/usr/bin/env python3
"""Checks a built Windows program: an image of the given file format (a PE32
i686 image, or with --format pei-x86-64 a PE32+ x64 one) of the GUI subsystem
that imports system DLLs only, with an application manifest that asks for no
elevation, the given number of icons and no version block.

  pe_check.py [--objdump OBJDUMP] [--format FORMAT] --description TEXT [--icons N] PROGRAM.EXE

objdump reports the file format, the subsystem and the imported DLLs; the
resource section is read here. Every finding is printed; the exit code is 1
when any check fails.
"""
import argparse
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

# DLLs that every Windows since XP has; the C runtime is mingw's msvcrt.dll.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "mpr.dll",
    "msvcrt.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "version.dll", "winmm.dll", "ws2_32.dll",
}

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
SUBSYSTEM_WINDOWS_GUI = 2


class Findings:
    def __init__(self):
        self.failed = False

    def check(self, ok, text):
        print(("ok:   " if ok else "FAIL: ") + text)
        self.failed |= not ok


class NotAnImage(Exception):
    pass


def objdump(tool, flag, program):
    run = subprocess.run([tool, flag, program], capture_output=True, text=True)
    if run.returncode != 0:
        raise NotAnImage(f"{tool} {flag}: {run.stderr.strip()}")
    return run.stdout


def check_headers(tool, program, wanted_format, findings):
    file_format = re.search(r"file format (\S+)", objdump(tool, "-f", program))
    file_format = file_format.group(1) if file_format else "unknown"
    findings.check(file_format == wanted_format,
                   f"file format {file_format} (want {wanted_format})")

    private = objdump(tool, "-p", program)
    subsystem = re.search(r"^Subsystem\s+([0-9a-fA-F]+)", private, re.MULTILINE)
    subsystem = int(subsystem.group(1), 16) if subsystem else None
    findings.check(subsystem == SUBSYSTEM_WINDOWS_GUI,
                   f"subsystem {subsystem} (want {SUBSYSTEM_WINDOWS_GUI}, Windows GUI)")

    imports = re.findall(r"DLL Name: (\S+)", private)
    findings.check(bool(imports), "imports: " + ", ".join(imports))
    foreign = [name for name in imports if name.lower() not in SYSTEM_DLLS]
    findings.check(not foreign, "no DLL outside the system's: " + (", ".join(foreign) or "none"))


class Image:
    """The parts of a PE image that locate its resources."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise NotAnImage("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise NotAnImage("no PE signature")
        sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        # The data directories follow the fields of a PE32 or a PE32+ header.
        directories = {0x10B: 96, 0x20B: 112}.get(magic)
        if directories is None:
            raise NotAnImage(f"optional header magic {magic:#x}, neither PE32 nor PE32+")
        # Data directory 2: the resources.
        self.resource_rva, self.resource_size = struct.unpack_from(
            "<II", data, optional + directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for index in range(sections):
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from(
                "<IIII", data, table + 40 * index + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise NotAnImage(f"address {rva:#x} lies in no section")


def read_resources(image):
    """{type: {name: {language: bytes}}}; names and types are numbers or strings."""
    if image.resource_rva == 0:
        return {}
    base = image.offset(image.resource_rva)
    data = image.data

    def name_of(field):
        if field & 0x80000000:
            at = base + (field & 0x7FFFFFFF)
            length = struct.unpack_from("<H", data, at)[0]
            return data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        return field

    def directory(at, depth):
        named, numbered = struct.unpack_from("<12xHH", data, base + at)
        entries = {}
        for index in range(named + numbered):
            field, target = struct.unpack_from("<II", data, base + at + 16 + 8 * index)
            if target & 0x80000000:
                if depth == 2:
                    raise NotAnImage("resource directory deeper than type, name, language")
                entries[name_of(field)] = directory(target & 0x7FFFFFFF, depth + 1)
            else:
                rva, size = struct.unpack_from("<II", data, base + target)
                start = image.offset(rva)
                entries[name_of(field)] = data[start:start + size]
        return entries

    return directory(0, 0)


def check_manifest(resources, description, findings):
    manifests = resources.get(RT_MANIFEST, {})
    findings.check(list(manifests) == [1],
                   f"one manifest, resource 1 (found {sorted(manifests, key=str) or 'none'})")
    if 1 not in manifests:
        return
    if len(manifests[1]) != 1:
        findings.check(False, f"the manifest has one language (has {len(manifests[1])})")
        return
    text = next(iter(manifests[1].values()))
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        findings.check(False, f"the manifest is well-formed XML ({error})")
        return
    findings.check(root.tag == "{urn:schemas-microsoft-com:asm.v1}assembly",
                   f"the manifest is an assembly ({root.tag})")
    level = root.find(".//{*}requestedExecutionLevel")
    level = level.attrib if level is not None else {}
    findings.check(level.get("level") == "asInvoker",
                   f"execution level {level.get('level')} (want asInvoker)")
    findings.check(level.get("uiAccess") == "false",
                   f"uiAccess {level.get('uiAccess')} (want false)")
    found = root.find("{urn:schemas-microsoft-com:asm.v1}description")
    found = found.text if found is not None else None
    findings.check(found == description, f"description {found!r} (want {description!r})")


def check_icons(resources, wanted, findings):
    groups = resources.get(RT_GROUP_ICON, {})
    icons = resources.get(RT_ICON, {})
    findings.check(len(groups) == wanted, f"{len(groups)} icon resource(s) (want {wanted})")
    referenced = set()
    for name, languages in groups.items():
        for group in languages.values():
            reserved, kind, count = struct.unpack_from("<HHH", group, 0)
            findings.check(reserved == 0 and kind == 1 and count == 1 and len(group) == 6 + 14,
                           f"icon {name} holds one image (holds {count})")
            for index in range(count):
                size, image_id = struct.unpack_from("<IH", group, 6 + 14 * index + 8)
                image = next(iter(icons.get(image_id, {}).values()), None)
                findings.check(image is not None and len(image) == size,
                               f"icon {name} image {image_id} is present, {size} bytes")
                referenced.add(image_id)
    findings.check(set(icons) == referenced,
                   f"every icon image belongs to an icon ({sorted(icons, key=str)})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--format", default="pei-i386", help="objdump's name of the file format")
    parser.add_argument("--description", required=True, help="the manifest's description")
    parser.add_argument("--icons", type=int, default=1, help="icon resources wanted")
    parser.add_argument("program")
    options = parser.parse_args()

    findings = Findings()
    print(f"checking {options.program}")
    try:
        check_headers(options.objdump, options.program, options.format, findings)
        with open(options.program, "rb") as image_file:
            image = Image(image_file.read())
        resources = read_resources(image)
    except (NotAnImage, struct.error) as error:
        findings.check(False, f"a readable PE image ({error or 'truncated'})")
        return 1
    check_manifest(resources, options.description, findings)
    check_icons(resources, options.icons, findings)
    findings.check(RT_VERSION not in resources, "no version block")
    return 1 if findings.failed else 0


if __name__ == "__main__":
    sys.exit(main())
