#!/usr/bin/env python3
"""Builds the program twice from the same sources, each time in a fresh build
tree with the same toolchain, and checks that the two executables are byte
for byte the same. The two trees lie at paths of different lengths, so that a
build path that leaks into the file shows as a difference too.

usage: reproducible_build.py --cmake CMAKE --source DIR --toolchain FILE
                             [--generator NAME] [--build-type TYPE]
                             [--target yygate] [--keep]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile


def build(args, tree):
    configure = [args.cmake, '-S', args.source, '-B', tree,
                 f'-DCMAKE_TOOLCHAIN_FILE={args.toolchain}',
                 f'-DCMAKE_BUILD_TYPE={args.build_type}']
    if args.generator:
        configure += ['-G', args.generator]
    for command in (configure, [args.cmake, '--build', tree, '--target', args.target, '-j2']):
        run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0:
            sys.exit(f'FAIL: {" ".join(command)} exited with {run.returncode}:\n{run.stdout}')
    return os.path.join(tree, args.target + '.exe')


def describe_difference(first, second):
    """Names the first differing bytes and, where it can, the PE part they are in."""
    a, b = open(first, 'rb').read(), open(second, 'rb').read()
    lines = []
    if len(a) != len(b):
        lines.append(f'sizes differ: {len(a)} and {len(b)} bytes')
    offsets = [i for i in range(min(len(a), len(b))) if a[i] != b[i]]
    if offsets:
        lines.append(f'{len(offsets)} bytes differ, first at offset {offsets[0]:#x}')
    try:
        import pefile
        pes = [pefile.PE(data=a), pefile.PE(data=b)]
        stamps = [pe.FILE_HEADER.TimeDateStamp for pe in pes]
        if stamps[0] != stamps[1]:
            lines.append(f'link time stamps differ: {stamps[0]:#x} and {stamps[1]:#x}')
        for offset in offsets[:1]:
            for section in pes[0].sections:
                start = section.PointerToRawData
                if start <= offset < start + section.SizeOfRawData:
                    name = section.Name.rstrip(b'\0').decode()
                    lines.append(f'first difference in section {name}, {offset - start:#x} bytes in')
    except ImportError:
        pass
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--cmake', default='cmake')
    parser.add_argument('--source', required=True)
    parser.add_argument('--toolchain', required=True)
    parser.add_argument('--generator')
    parser.add_argument('--build-type', default='MinSizeRel')
    parser.add_argument('--target', default='yygate')
    parser.add_argument('--keep', action='store_true', help='leave the build trees in place')
    args = parser.parse_args()

    top = tempfile.mkdtemp(prefix='yygate-repro-')
    try:
        first = build(args, os.path.join(top, 'a'))
        second = build(args, os.path.join(top, 'second-tree-with-a-longer-path'))
        if open(first, 'rb').read() != open(second, 'rb').read():
            print(f'FAIL: two builds of {args.target} differ:\n  {first}\n  {second}')
            for line in describe_difference(first, second):
                print(f'  {line}')
            args.keep = True
            sys.exit(1)
        print(f'ok: two fresh builds of {args.target}.exe are identical '
              f'({os.path.getsize(first)} bytes)')
    finally:
        if args.keep:
            print(f'build trees kept under {top}')
        else:
            shutil.rmtree(top, ignore_errors=True)


if __name__ == '__main__':
    main()
