#!/usr/bin/env python3
"""Shows that check_pe.py finds the faults it is there to find: each case
damages one field of a copy of the built program and expects the matching
FAIL line, and the undamaged file passes.

usage: check_pe_faults.py EXE --machine {i386,amd64}
"""
import argparse
import os
import struct
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_pe  # noqa: E402  (exits with a FAIL line if pefile is missing)
import pefile  # noqa: E402


def resource_entry(pe, type_id):
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if rtype.id == type_id:
            return rtype
    raise LookupError(f'no resource type {type_id}')


def group_offset(pe):
    group = resource_entry(pe, check_pe.RT_GROUP_ICON).directory.entries[0]
    return pe.get_offset_from_rva(group.directory.entries[0].data.struct.OffsetToData)


def first_icon_offset(pe):
    icon = resource_entry(pe, check_pe.RT_ICON).directory.entries[0]
    return pe.get_offset_from_rva(icon.directory.entries[0].data.struct.OffsetToData)


def put(data, offset, fmt, value):
    struct.pack_into(fmt, data, offset, value)


def other_machine(pe, data):
    other = 0x8664 if pe.FILE_HEADER.Machine == 0x14C else 0x14C
    put(data, pe.FILE_HEADER.get_file_offset() + 0, '<H', other)


def console_subsystem(pe, data):
    put(data, pe.OPTIONAL_HEADER.get_file_offset() + 68, '<H', 3)


def c_runtime_import(pe, data):
    # Same length, so the import table stays well formed.
    at = data.find(b'USER32.dll\0')
    assert at > 0 and data.find(b'USER32.dll\0', at + 1) < 0
    data[at:at + 10] = b'msvcrt.dll'


def retype_icon_group(type_id):
    def damage(pe, data):
        entry = resource_entry(pe, check_pe.RT_GROUP_ICON)
        put(data, entry.struct.get_file_offset(), '<I', type_id)
    return damage


def rename_icon_group(pe, data):
    at = data.find('DEFAULT_ICON'.encode('utf-16-le'))
    assert at > 0
    data[at:at + 2] = 'X'.encode('utf-16-le')


def group_bit_count(pe, data):
    put(data, group_offset(pe) + 6 + 6, '<H', 8)  # first entry's wBitCount


def group_size(pe, data):
    data[group_offset(pe) + 6] = 64  # first entry's bWidth
    data[group_offset(pe) + 7] = 64  # and bHeight


def bitmap_bit_count(pe, data):
    put(data, first_icon_offset(pe) + 14, '<H', 8)  # biBitCount


def bitmap_as_png(pe, data):
    data[first_icon_offset(pe):first_icon_offset(pe) + 8] = b'\x89PNG\r\n\x1a\n'


def one_byte_more(pe, data):
    data.append(0)


CASES = [
    ('other machine type', other_machine, 'machine type is'),
    ('console subsystem', console_subsystem, 'subsystem is 3'),
    ('imports msvcrt.dll', c_runtime_import, "imported DLLs are ['ADVAPI32.dll', 'KERNEL32.dll', 'msvcrt.dll']"),
    ('icon group turned into a manifest', retype_icon_group(check_pe.RT_MANIFEST), 'has a manifest resource'),
    ('icon group turned into a version resource', retype_icon_group(check_pe.RT_VERSION), 'has a version resource'),
    ('icon group under another name', rename_icon_group, "icon groups are ['XEFAULT_ICON']"),
    ('group lists a 256-colour image', group_bit_count, '8 bits a pixel'),
    ('group lists a 64x64 image', group_size, 'icon sizes are'),
    ('bitmap of 8 bits a pixel', bitmap_bit_count, 'bitmap has 1 planes, 8 bits a pixel'),
    ('image stored as PNG', bitmap_as_png, 'BITMAPINFOHEADER'),
    ('one byte over the size limit', one_byte_more, 'limit'),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('exe')
    parser.add_argument('--machine', choices=sorted(check_pe.MACHINES), required=True)
    args = parser.parse_args()

    original = open(args.exe, 'rb').read()
    limit = len(original)
    errors = []
    failures = check_pe.check(args.exe, args.machine, limit)
    if failures:
        errors.append(f'the undamaged file fails: {failures}')
    with tempfile.TemporaryDirectory() as tmp:
        for name, damage, expected in CASES:
            data = bytearray(original)
            damage(pefile.PE(data=original), data)
            path = os.path.join(tmp, 'damaged.exe')
            with open(path, 'wb') as f:
                f.write(data)
            try:
                failures = check_pe.check(path, args.machine, limit)
            except pefile.PEFormatError as error:
                failures = [f'not a PE file: {error}']
            if any(expected in failure for failure in failures):
                print(f'ok: {name}: {[f for f in failures if expected in f][0]}')
            else:
                errors.append(f'{name}: expected a failure with "{expected}", got {failures}')
    for error in errors:
        print(f'FAIL: {error}')
    sys.exit(1 if errors else 0)


if __name__ == '__main__':
    main()
