"""Reads the version resource and the manifest back from NorvaAudit.exe.

Usage: check_pe.py NorvaAudit.exe VERSION [SOURCE_DATE_EPOCH]   (Debian's python3-pefile)
The PE header's time stamp is 0, or SOURCE_DATE_EPOCH when it is given.
"""
import sys
import xml.etree.ElementTree as ElementTree

import pefile

RT_MANIFEST = 24
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10/11",
}


def fail(message):
    print(f"check_pe: {message}")
    sys.exit(1)


def version_resource(pe, version):
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = tuple(int(part) for part in version.split("."))
    for what, high, low in (("file", fixed.FileVersionMS, fixed.FileVersionLS),
                            ("product", fixed.ProductVersionMS, fixed.ProductVersionLS)):
        found = (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
        if found != numbers:
            fail(f"fixed {what} version {found}, not {numbers}")
    strings, translations = {}, []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        if info.Key == b"VarFileInfo":
            translations += [var.entry.get(b"Translation") for var in info.Var]
    expected = {"FileVersion": version, "ProductVersion": version, "OriginalFilename": "NorvaAudit.exe",
                "InternalName": "NorvaAudit", "ProductName": "NorvaAudit"}
    for key, value in expected.items():
        if strings.get(key) != value:
            fail(f"{key} is {strings.get(key)!r}, not {value!r}")
    for key in ("CompanyName", "FileDescription", "LegalCopyright"):
        if not strings.get(key):
            fail(f"{key} is missing")
    if translations != ["0x0409 0x04b0"]:
        fail(f"translations {translations}")
    return strings


def manifest(pe):
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == RT_MANIFEST:
            entry = kind.directory.entries[0].directory.entries[0].data.struct
            return pe.get_data(entry.OffsetToData, entry.Size)
    fail("no manifest")


def check_manifest(text):
    root = ElementTree.fromstring(text)
    levels = [e.get("level") for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
    if levels != ["asInvoker"]:
        fail(f"execution levels {levels}")
    supported = {e.get("Id").lower() for e in root.iter() if e.tag.endswith("supportedOS")}
    if supported != set(SUPPORTED_OS):
        fail(f"supported OS {sorted(supported)}")
    aware = [e.text for e in root.iter() if e.tag.endswith("longPathAware")]
    if aware != ["true"]:
        fail(f"longPathAware {aware}")
    return [SUPPORTED_OS[i] for i in SUPPORTED_OS]


def main(path, version, epoch="0"):
    pe = pefile.PE(path)
    strings = version_resource(pe, version)
    systems = check_manifest(manifest(pe))
    if pe.FILE_HEADER.TimeDateStamp not in (0, int(epoch)):
        fail(f"the PE header is stamped {pe.FILE_HEADER.TimeDateStamp:#x}")
    for key in sorted(strings):
        print(f"{key}: {strings[key]}")
    print(f"manifest: asInvoker, longPathAware, Windows {', '.join(systems)}")


if __name__ == "__main__":
    main(*sys.argv[1:])
