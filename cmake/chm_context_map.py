#!/usr/bin/env python3
"""Writes the context map of a help project into a compiled .chm, the way
Microsoft's compiler names its topics: each context id of the project's
[MAP] opens its [ALIAS] page at the root of the file ("upload-window.htm").

chmcmd 3.2.2 names those topics by the project folder's absolute path, which
would put a folder of the build machine into the file and open nothing. So
the project is compiled without [ALIAS] and [MAP], and this script adds the
map: #IVB (pairs of context id and #STRINGS offset) and #STRINGS (the page
names), stored uncompressed at the end of the file, with their directory
entries in place of the empty #STRINGS chmcmd wrote.
Usage: chm_context_map.py FILE.chm PROJECT.hhp"""
import re
import struct
import sys

from chm_clear_times import encint


def project_map(hhp):
    """(context id, page) pairs from the project's [ALIAS] and [MAP]."""
    section, aliases, ids = None, {}, {}
    for raw in open(hhp, encoding="latin-1").read().splitlines():
        line = raw.split(";", 1)[0].strip()
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1].upper()
        elif section == "ALIAS" and "=" in line:
            name, page = (part.strip() for part in line.split("=", 1))
            aliases[name] = page.replace("\\", "/").lstrip("/")
        elif section == "MAP" and (match := re.match(r"#define\s+(\S+)\s+(\S+)$", line, re.I)):
            ids[match.group(1)] = int(match.group(2), 0)
    missing = sorted(set(ids) - set(aliases))
    if missing or not ids:
        raise ValueError(f"{hhp}: [MAP] names without a page in [ALIAS]: {missing}" if missing
                         else f"{hhp}: no [MAP]")
    return sorted((ids[name], aliases[name]) for name in ids)


def map_streams(pairs):
    """#IVB and #STRINGS for the pairs; #STRINGS opens with an empty string."""
    strings, offsets = bytearray(b"\0"), {}
    for _, page in pairs:
        if page not in offsets:
            offsets[page] = len(strings)
            strings += page.encode("latin-1") + b"\0"
    ivb = struct.pack("<I", 8 * len(pairs))
    ivb += b"".join(struct.pack("<II", cid, offsets[page]) for cid, page in pairs)
    return ivb, bytes(strings)


def encode(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def read_chunk(data, chunk, size):
    free_space, = struct.unpack_from("<I", data, chunk + 4)
    pos, end, entries = chunk + 0x14, chunk + size - free_space, []
    while pos < end:
        name_len, pos = encint(data, pos)
        name = data[pos:pos + name_len].decode("utf-8")
        pos += name_len
        fields = []
        for _ in range(3):
            value, pos = encint(data, pos)
            fields.append(value)
        entries.append((name, *fields))
    return entries


def write_chunk(header, entries, size, density):
    """A listing chunk as chmcmd writes it: entries, then from the end the
    entry count and the offsets of every (1 + 2**density)th entry, last first."""
    body, starts = bytearray(), []
    for name, section, offset, length in entries:
        starts.append(len(body))
        raw = name.encode("utf-8")
        body += encode(len(raw)) + raw + encode(section) + encode(offset) + encode(length)
    step = 1 + (1 << density)
    quickref = [starts[i] for i in range(step - 1, len(entries), step)]
    tail = b"".join(struct.pack("<H", q) for q in reversed(quickref)) + struct.pack("<H", len(entries))
    if 0x14 + len(body) + len(tail) > size:
        raise ValueError("the directory chunk has no room for the context map")
    free_space = size - 0x14 - len(body)
    chunk = bytearray(header[:0x14]) + body
    struct.pack_into("<I", chunk, 4, free_space)
    return bytes(chunk + bytes(size - len(chunk) - len(tail)) + tail)


def main(path, hhp):
    data = bytearray(open(path, "rb").read())
    if data[:4] != b"ITSF":
        raise ValueError(f"{path} is not a compiled help file")
    header0, = struct.unpack_from("<Q", data, 0x38)
    dir_offset, = struct.unpack_from("<Q", data, 0x48)
    header_len, = struct.unpack_from("<I", data, dir_offset + 8)
    chunk_size, density = struct.unpack_from("<II", data, dir_offset + 0x10)
    chunks, = struct.unpack_from("<I", data, dir_offset + 0x2C)
    if chunks != 1:
        raise ValueError(f"{path}: {chunks} directory chunks; only one is handled")
    chunk = dir_offset + header_len
    entries = read_chunk(data, chunk, chunk_size)
    content_offset, = struct.unpack_from("<Q", data, 0x58)
    ivb, strings = map_streams(project_map(hhp))
    if any(name == "/#IVB" for name, *_ in entries):
        raise ValueError(f"{path} has a context map already: compile without [ALIAS] and [MAP]")

    end = len(data) - content_offset
    added = {"/#IVB": (0, end, len(ivb)), "/#STRINGS": (0, end + len(ivb), len(strings))}
    kept = [entry for entry in entries if entry[0] not in added]
    entries = sorted(kept + [(name, *fields) for name, fields in added.items()],
                     key=lambda entry: entry[0].lower())
    data[chunk:chunk + chunk_size] = write_chunk(data[chunk:chunk + 0x14], entries, chunk_size, density)
    data += ivb + strings
    struct.pack_into("<Q", data, header0 + 8, len(data))
    open(path, "wb").write(data)


if __name__ == "__main__":
    try:
        main(sys.argv[1], sys.argv[2])
    except (OSError, ValueError, struct.error, IndexError, UnicodeDecodeError) as error:
        sys.exit(f"chm_context_map: {error}")
