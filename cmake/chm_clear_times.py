#!/usr/bin/env python3
"""Clears the two build times chmcmd writes into a .chm, so that the same
pages always give the same bytes: the ITSF header's time stamp and the
#SYSTEM file's entry 10. Usage: chm_clear_times.py FILE.chm"""
import struct
import sys


def encint(data, pos):
    """The directory's variable-length integers: 7 bits a byte, high bit set
    on every byte but the last."""
    value = 0
    while True:
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if byte < 0x80:
            return value, pos


def find_entry(data, name):
    """Section, offset and length of a file in the directory's listing chunks."""
    dir_offset = struct.unpack_from("<Q", data, 0x48)[0]
    if data[dir_offset:dir_offset + 4] != b"ITSP":
        raise ValueError("no ITSP directory header")
    header_len, = struct.unpack_from("<I", data, dir_offset + 8)
    chunk_size, = struct.unpack_from("<I", data, dir_offset + 0x10)
    chunks, = struct.unpack_from("<I", data, dir_offset + 0x2C)
    first = dir_offset + header_len
    for index in range(chunks):
        chunk = first + index * chunk_size
        if data[chunk:chunk + 4] != b"PMGL":
            continue
        free_space, = struct.unpack_from("<I", data, chunk + 4)
        pos, end = chunk + 0x14, chunk + chunk_size - free_space
        while pos < end:
            name_len, pos = encint(data, pos)
            entry = data[pos:pos + name_len].decode("utf-8", "replace")
            pos += name_len
            section, pos = encint(data, pos)
            offset, pos = encint(data, pos)
            length, pos = encint(data, pos)
            if entry == name:
                return section, offset, length
    raise ValueError(f"no {name} in the directory")


def main(path):
    data = bytearray(open(path, "rb").read())
    if data[:4] != b"ITSF":
        raise ValueError(f"{path} is not a compiled help file")
    content_offset, = struct.unpack_from("<Q", data, 0x58)
    struct.pack_into("<I", data, 0x10, 0)
    section, offset, length = find_entry(data, "/#SYSTEM")
    if section != 0:
        raise ValueError("#SYSTEM is not stored uncompressed")
    pos, end = content_offset + offset + 4, content_offset + offset + length
    while pos + 4 <= end:
        code, size = struct.unpack_from("<HH", data, pos)
        if code == 10 and size == 4:
            struct.pack_into("<I", data, pos + 4, 0)
            break
        pos += 4 + size
    else:
        raise ValueError("#SYSTEM has no time entry")
    open(path, "wb").write(data)


if __name__ == "__main__":
    try:
        main(sys.argv[1])
    except (OSError, ValueError, struct.error, IndexError) as error:
        sys.exit(f"chm_clear_times: {error}")
