#!/usr/bin/env python3
"""Makes an MSI's bytes depend on its contents alone: wixl stamps the build
time into the summary information (created, last saved) and a random
package code (revision number). This sets both times to SOURCE_DATE_EPOCH
and the package code to a UUID made from the package's other bytes, so that
another package gets another code, as Windows Installer needs, and the same
package the same one. The stream is patched in place inside the compound
file; its size does not change.
Usage: SOURCE_DATE_EPOCH=... msi_summary.py FILE.msi"""
import hashlib
import os
import struct
import sys
import uuid

FREE, END = 0xFFFFFFFF, 0xFFFFFFFE
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 0x1E, 0x40


class Compound:
    """The sector chains of a compound file (the MSI's container)."""

    def __init__(self, data):
        if data[:8] != bytes.fromhex("D0CF11E0A1B11AE1"):
            raise ValueError("not a compound file")
        self.data = data
        self.size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini = 1 << struct.unpack_from("<H", data, 0x20)[0]
        fat_count, self.dir_start = struct.unpack_from("<II", data, 0x2C)
        self.cutoff, self.minifat_start = struct.unpack_from("<II", data, 0x38)
        if struct.unpack_from("<I", data, 0x48)[0] != 0:
            raise ValueError("FAT beyond the header's 109 sectors")
        self.fat = []
        for sector in struct.unpack_from("<109I", data, 0x4C)[:fat_count]:
            self.fat += struct.unpack_from(f"<{self.size // 4}I", data, self.offset(sector))
        self.minifat = [v for s in self.chain(self.minifat_start)
                        for v in struct.unpack_from(f"<{self.size // 4}I", data, self.offset(s))]

    def offset(self, sector):
        return (sector + 1) * self.size

    def chain(self, start):
        sectors = []
        while start not in (FREE, END):
            sectors.append(start)
            start = self.fat[start]
            if len(sectors) > len(self.fat):
                raise ValueError("a sector chain loops")
        return sectors

    def entries(self):
        directory = b"".join(self.data[self.offset(s):self.offset(s) + self.size]
                             for s in self.chain(self.dir_start))
        for at in range(0, len(directory), 128):
            name_len, = struct.unpack_from("<H", directory, at + 0x40)
            name = directory[at:at + max(name_len - 2, 0)].decode("utf-16-le")
            start, size = struct.unpack_from("<II", directory, at + 0x74)
            yield name, start, size

    def pieces(self, name):
        """(file offset, length) of each piece of a stream, in order."""
        entries = list(self.entries())
        _, root_start, _ = entries[0]
        for entry, start, size in entries[1:]:
            if entry != name:
                continue
            if size >= self.cutoff:
                return [(self.offset(s), self.size) for s in self.chain(start)], size
            root = self.chain(root_start)
            pieces, sector = [], start
            while sector not in (FREE, END):
                at = sector * self.mini
                pieces.append((self.offset(root[at // self.size]) + at % self.size, self.mini))
                sector = self.minifat[sector]
            return pieces, size
        raise ValueError(f"no stream {name!r}")


def properties(stream):
    """Offsets in the stream of each property's type field, by id."""
    sections, = struct.unpack_from("<I", stream, 24)
    if sections < 1:
        raise ValueError("the summary information has no section")
    section, = struct.unpack_from("<I", stream, 28 + 16)
    count, = struct.unpack_from("<I", stream, section + 4)
    found = {}
    for i in range(count):
        pid, at = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        found[pid] = section + at
    return found


def main(path):
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    data = bytearray(open(path, "rb").read())
    pieces, size = Compound(data).pieces("\x05SummaryInformation")
    stream = bytearray(b"".join(data[at:at + n] for at, n in pieces)[:size])
    found = properties(stream)
    filetime = (epoch + 11644473600) * 10_000_000
    for pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
        at = found[pid]
        if struct.unpack_from("<I", stream, at)[0] != VT_FILETIME:
            raise ValueError(f"property {pid} is not a time")
        struct.pack_into("<Q", stream, at + 4, filetime)
    at = found[PID_REVNUMBER]
    kind, length = struct.unpack_from("<II", stream, at)
    if kind != VT_LPSTR or length != 39:
        raise ValueError("the package code is not a braced UUID")
    field = slice(at + 8, at + 8 + 38)

    def write():
        pos = 0
        for offset, n in pieces:
            n = min(n, size - pos)
            data[offset:offset + n] = stream[pos:pos + n]
            pos += n

    stream[field] = b"{" + b"0" * 36 + b"}"
    write()
    code = uuid.UUID(bytes=hashlib.sha256(data).digest()[:16], version=4)
    stream[field] = ("{%s}" % str(code).upper()).encode("ascii")
    write()
    open(path, "wb").write(data)


if __name__ == "__main__":
    try:
        main(sys.argv[1])
    except (OSError, KeyError, ValueError, struct.error, IndexError) as error:
        sys.exit(f"msi_summary: {error}")
