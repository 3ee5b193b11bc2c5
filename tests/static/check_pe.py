#!/usr/bin/env python3
"""Checks the built program as a file: what Windows sees before it runs it.

- machine type (i386 for the shipped build, AMD64 for the 64-bit one);
- GUI subsystem;
- imported DLLs: exactly KERNEL32, USER32 and ADVAPI32, nothing delay-loaded
  (no C runtime, no libgcc, libstdc++ or winpthread);
- one icon group, DEFAULT_ICON, with three 16-colour images of 16x16, 32x32
  and 48x48 pixels, as listed in the group and as stored in the RT_ICON
  bitmaps themselves;
- no version resource and no manifest;
- optionally a size limit (the shipped i686 file stays within 8 KiB).

Every failed check prints one line starting with FAIL; the exit code is 1 if
any check failed.

usage: check_pe.py EXE --machine {i386,amd64} [--max-size BYTES]
"""
import argparse
import os
import struct
import sys

try:
    import pefile
except ImportError:
    sys.exit('FAIL: the Python module pefile is missing '
             '(Debian: apt-get install python3-pefile)')

MACHINES = {'i386': 0x014C, 'amd64': 0x8664}
SUBSYSTEM_WINDOWS_GUI = 2
EXPECTED_DLLS = {'KERNEL32.DLL', 'USER32.DLL', 'ADVAPI32.DLL'}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ICON_GROUP_NAME = 'DEFAULT_ICON'
ICON_SIZES = [16, 32, 48]
ICON_COLOURS, ICON_BITS = 16, 4


def resource_types(pe):
    """{type id or name: {entry id or name: [data entries, one a language]}}"""
    found = {}
    root = getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None)
    if root is None:
        return found
    for rtype in root.entries:
        key = rtype.id if rtype.name is None else str(rtype.name)
        names = found.setdefault(key, {})
        for entry in rtype.directory.entries:
            name = entry.id if entry.name is None else str(entry.name)
            names[name] = [lang.data for lang in entry.directory.entries]
    return found


def resource_bytes(pe, data):
    return pe.get_data(data.struct.OffsetToData, data.struct.Size)


def check_icons(pe, resources, fail):
    groups = resources.get(RT_GROUP_ICON, {})
    if list(groups) != [ICON_GROUP_NAME]:
        fail(f'icon groups are {sorted(map(str, groups))}, '
             f'expected exactly one named {ICON_GROUP_NAME}')
        if ICON_GROUP_NAME not in groups:
            return
    languages = groups[ICON_GROUP_NAME]
    if len(languages) != 1:
        fail(f'icon group {ICON_GROUP_NAME} exists in {len(languages)} languages, expected 1')
    group = resource_bytes(pe, languages[0])
    reserved, kind, count = struct.unpack_from('<HHH', group, 0)
    if (reserved, kind) != (0, 1):
        fail(f'icon group header is ({reserved}, {kind}), expected (0, 1) for an icon')
    if len(group) != 6 + 14 * count:
        fail(f'icon group is {len(group)} bytes for {count} entries, expected {6 + 14 * count}')
        return
    icons = resources.get(RT_ICON, {})
    if len(icons) != len(ICON_SIZES):
        fail(f'{len(icons)} RT_ICON images, expected {len(ICON_SIZES)}')
    sizes = []
    for i in range(count):
        width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from(
            '<BBBBHHIH', group, 6 + 14 * i)
        sizes.append(width)
        where = f'icon group entry {i} (RT_ICON {icon_id})'
        if width != height:
            fail(f'{where}: {width}x{height}, expected a square image')
        if (colours, planes, bits) != (ICON_COLOURS, 1, ICON_BITS):
            fail(f'{where}: {colours} colours, {planes} planes, {bits} bits a pixel; '
                 f'expected {ICON_COLOURS} colours, 1 plane, {ICON_BITS} bits a pixel')
        if icon_id not in icons:
            fail(f'{where}: no RT_ICON resource with that id')
            continue
        image = resource_bytes(pe, icons[icon_id][0])
        if len(image) != size:
            fail(f'{where}: the group says {size} bytes, the image has {len(image)}')
        if len(image) < 40:
            fail(f'{where}: {len(image)} bytes, too short for a BITMAPINFOHEADER')
            continue
        (header_size, bmp_width, bmp_height, bmp_planes, bmp_bits, compression,
         _, _, _, used, _) = struct.unpack_from('<IiiHHIIiiII', image, 0)
        if header_size != 40:
            fail(f'{where}: header of {header_size} bytes, expected a 40-byte '
                 f'BITMAPINFOHEADER (a PNG image or another format)')
            continue
        if (bmp_width, bmp_height) != (width, 2 * width):
            fail(f'{where}: bitmap is {bmp_width}x{bmp_height}, expected '
                 f'{width}x{2 * width} (image and mask) as the group says')
        if (bmp_planes, bmp_bits, compression) != (1, ICON_BITS, 0):
            fail(f'{where}: bitmap has {bmp_planes} planes, {bmp_bits} bits a pixel, '
                 f'compression {compression}; expected 1, {ICON_BITS}, 0')
        if used not in (0, ICON_COLOURS):
            fail(f'{where}: bitmap uses {used} palette colours, expected {ICON_COLOURS}')
        xor_stride = (width * ICON_BITS + 31) // 32 * 4
        and_stride = (width + 31) // 32 * 4
        expected = 40 + 4 * ICON_COLOURS + width * (xor_stride + and_stride)
        if len(image) != expected:
            fail(f'{where}: {len(image)} bytes, expected {expected} for a '
                 f'{width}x{width} 16-colour image with its mask')
    if sorted(sizes) != ICON_SIZES:
        fail(f'icon sizes are {sorted(sizes)}, expected {ICON_SIZES}')


def check(path, machine, max_size=None):
    """Returns the list of failures (empty when the file passes)."""
    failures = []
    fail = failures.append
    pe = pefile.PE(path, fast_load=False)

    if pe.FILE_HEADER.Machine != MACHINES[machine]:
        fail(f'machine type is {pe.FILE_HEADER.Machine:#06x}, '
             f'expected {MACHINES[machine]:#06x} ({machine})')
    if pe.OPTIONAL_HEADER.Subsystem != SUBSYSTEM_WINDOWS_GUI:
        fail(f'subsystem is {pe.OPTIONAL_HEADER.Subsystem}, '
             f'expected {SUBSYSTEM_WINDOWS_GUI} (Windows GUI)')

    imported = [entry.dll.decode('ascii', 'replace')
                for entry in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', [])]
    if {dll.upper() for dll in imported} != EXPECTED_DLLS or len(imported) != len(EXPECTED_DLLS):
        fail(f'imported DLLs are {sorted(imported)}, expected exactly '
             f'{sorted(EXPECTED_DLLS)}')
    delayed = [entry.dll.decode('ascii', 'replace')
               for entry in getattr(pe, 'DIRECTORY_ENTRY_DELAY_IMPORT', [])]
    if delayed:
        fail(f'delay-loaded DLLs {sorted(delayed)}, expected none')

    resources = resource_types(pe)
    check_icons(pe, resources, fail)
    if RT_VERSION in resources:
        fail('has a version resource (RT_VERSION), expected none')
    if RT_MANIFEST in resources:
        fail('has a manifest resource (RT_MANIFEST), expected none')

    if max_size is not None:
        size = os.path.getsize(path)
        if size > max_size:
            fail(f'file is {size} bytes, limit {max_size}')
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('exe')
    parser.add_argument('--machine', choices=sorted(MACHINES), required=True)
    parser.add_argument('--max-size', type=int)
    args = parser.parse_args()
    failures = check(args.exe, args.machine, args.max_size)
    for failure in failures:
        print(f'FAIL: {args.exe}: {failure}')
    if failures:
        sys.exit(1)
    print(f'ok: {args.exe} ({os.path.getsize(args.exe)} bytes, {args.machine})')


if __name__ == '__main__':
    main()
