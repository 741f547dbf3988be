"""Sets an MSI's package code and its summary times in place.

wixl gives every package a random package code and the wall clock's time;
this writes a package code derived from the package's own content and the
times of SOURCE_DATE_EPOCH, so that one commit gives one MSI. The values keep
their sizes, so the stream is rewritten without moving anything.

Usage: msi_summary.py PACKAGE.msi EPOCH
"""
import hashlib
import struct
import sys
import uuid

import olefile

STREAM = "\x05SummaryInformation"
REVISION_NUMBER, CREATED, LAST_SAVED = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
# Fixed, so that the same content always gives the same package code.
PACKAGE_NAMESPACE = uuid.UUID("9a3c5f0e-6a43-4b7e-9d0b-2f1c7e5b8a61")
FILETIME_OF_UNIX_EPOCH = 116444736000000000


def properties(stream):
    """Yields (id, type, offset of the value) of the single section."""
    (section,) = struct.unpack_from("<I", stream, 44)
    _, count = struct.unpack_from("<II", stream, section)
    for index in range(count):
        ident, offset = struct.unpack_from("<II", stream, section + 8 + 8 * index)
        (kind,) = struct.unpack_from("<I", stream, section + offset)
        yield ident, kind, section + offset + 4


def content_digest(package):
    """The digest of every stream but the summary, in a fixed order."""
    digest = hashlib.sha256()
    for path in sorted(package.listdir(streams=True, storages=False)):
        if path == [STREAM]:
            continue
        digest.update("/".join(path).encode("utf-8") + b"\0")
        digest.update(package.openstream(path).read())
    return digest.hexdigest()


def main(path, epoch):
    package = olefile.OleFileIO(path, write_mode=True)
    stream = bytearray(package.openstream(STREAM).read())
    code = "{%s}" % str(uuid.uuid5(PACKAGE_NAMESPACE, content_digest(package))).upper()
    filetime = struct.pack("<Q", FILETIME_OF_UNIX_EPOCH + int(epoch) * 10_000_000)
    for ident, kind, value in properties(stream):
        if ident == REVISION_NUMBER and kind == VT_LPSTR:
            (size,) = struct.unpack_from("<I", stream, value)
            text = code.encode("ascii") + b"\0"
            if size != len(text):
                sys.exit("msi_summary: the package code takes %d bytes, not %d" % (size, len(text)))
            stream[value + 4:value + 4 + size] = text
        elif ident in (CREATED, LAST_SAVED) and kind == VT_FILETIME:
            stream[value:value + 8] = filetime
    package.write_stream(STREAM, bytes(stream))
    package.close()
    print(code)


if __name__ == "__main__":
    main(*sys.argv[1:])
