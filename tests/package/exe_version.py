#!/usr/bin/env python3
"""Prints the version resource of Windows programs, read straight from the PE
file: per program one line "NAME FIXED PRODUCT_VERSION FILE_VERSION ICONS
DESCRIPTION", where FIXED is the four numbers of the fixed part, ICONS the
count of icon groups (- for a missing field). Exit 1 when a file has no
version resource.

Usage: exe_version.py PROGRAM.exe...
"""
import struct
import sys

RT_ICON_GROUP = 14
RT_VERSION = 16


def sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size
    found = []
    for i in range(count):
        virtual_size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        found.append((rva, max(virtual_size, raw_size), raw))
    return resource_rva, found


def to_offset(found, rva):
    for start, size, raw in found:
        if start <= rva < start + size:
            return raw + rva - start
    raise ValueError("address outside every section")


def entries(data, base, offset):
    named, numbered = struct.unpack_from("<HH", data, offset + 12)
    for i in range(named + numbered):
        name, target = struct.unpack_from("<II", data, offset + 16 + 8 * i)
        yield name, target


def resources(data, kind):
    """The raw bytes of every resource of one type."""
    resource_rva, found = sections(data)
    if resource_rva == 0:
        return []
    base = to_offset(found, resource_rva)
    out = []
    for type_id, type_target in entries(data, base, base):
        if type_id != kind or not type_target & 0x80000000:
            continue
        for _, name_target in entries(data, base, base + (type_target & 0x7FFFFFFF)):
            for _, language_target in entries(data, base, base + (name_target & 0x7FFFFFFF)):
                rva, size = struct.unpack_from("<II", data, base + language_target)
                start = to_offset(found, rva)
                out.append(data[start:start + size])
    return out


def version_strings(block):
    """The fixed version and the StringFileInfo values of a VS_VERSIONINFO."""
    values = {}
    fixed = None

    def walk(offset, end):
        nonlocal fixed
        while offset + 6 <= end:
            length, value_length, kind = struct.unpack_from("<HHH", block, offset)
            if length == 0:
                break
            key_end = offset + 6
            while block[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = block[offset + 6:key_end].decode("utf-16-le")
            value_at = (key_end + 2 + 3) & ~3
            if key == "VS_VERSION_INFO" and value_length >= 52:
                ms, ls = struct.unpack_from("<II", block, value_at + 8)
                fixed = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
                walk((value_at + value_length + 3) & ~3, offset + length)
            elif key in ("StringFileInfo",) or (len(key) == 8 and value_length == 0):
                walk(value_at, offset + length)
            elif kind == 1 and value_length > 0:
                text = block[value_at:value_at + 2 * value_length].decode("utf-16-le")
                values[key] = text.rstrip("\0")
            offset = (offset + length + 3) & ~3

    walk(0, len(block))
    return fixed, values


def main():
    if len(sys.argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    status = 0
    for path in sys.argv[1:]:
        with open(path, "rb") as file:
            data = file.read()
        name = path.replace("\\", "/").rsplit("/", 1)[-1]
        blocks = resources(data, RT_VERSION)
        icons = len(resources(data, RT_ICON_GROUP))
        if not blocks:
            print(f"{name} - - - {icons} -")
            status = 1
            continue
        fixed, values = version_strings(blocks[0])
        print(name, fixed or "-", values.get("ProductVersion", "-"),
              values.get("FileVersion", "-"), icons, values.get("FileDescription", "-"))
    return status


if __name__ == "__main__":
    sys.exit(main())
