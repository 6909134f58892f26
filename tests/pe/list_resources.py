#!/usr/bin/env python3
"""Writes, for each PE image given, the resources objdump finds in it: one line
per resource in directory order, "type<TAB>name<TAB>language<TAB>size<TAB>crc32",
types and names as "#id" or "=string", crc32 of the bytes at the leaf address.

usage: list_resources.py OBJDUMP OUTDIR IMAGE...
"""
import os
import re
import subprocess
import sys
import zlib

ENTRY = re.compile(r'^([0-9a-f]+)( +)Entry: (?:ID: 0x([0-9a-f]+)|ID: ([0-9a-f]+)|name: \[val: [0-9a-f]+ len \d+\]: (.*)), Value: ')
LEAF = re.compile(r'^[0-9a-f]+ +Leaf: Addr: 0x([0-9a-f]+), Size: 0x([0-9a-f]+), Codepage')


def sections(objdump, image):
    out = subprocess.run([objdump, '-h', image], capture_output=True, text=True, check=True).stdout
    result = []
    for line in out.splitlines():
        f = line.split()
        if len(f) >= 7 and f[0].isdigit():
            result.append((f[1], int(f[2], 16), int(f[3], 16), int(f[5], 16)))
    return result


def file_offset(secs, base, rva):
    for name, size, vma, off in secs:
        start = vma - base
        if start <= rva < start + size:
            return off + rva - start
    raise ValueError('address %#x in no section' % rva)


def main():
    objdump, outdir = sys.argv[1], sys.argv[2]
    os.makedirs(outdir, exist_ok=True)
    for image in sys.argv[3:]:
        dump = subprocess.run([objdump, '-p', image], capture_output=True, text=True, check=True).stdout
        base = int(re.search(r'^ImageBase\s+([0-9a-f]+)', dump, re.M).group(1), 16)
        secs = sections(objdump, image)
        data = open(image, 'rb').read()
        lines = []
        path = [None, None, None]
        inside = False
        for line in dump.splitlines():
            if line.startswith('The .rsrc Resource Directory section'):
                inside = True
                continue
            if not inside:
                continue
            m = ENTRY.match(line)
            if m:
                depth = (len(m.group(2)) - 3) // 2
                if m.group(5) is not None:
                    key = '=' + m.group(5)
                else:
                    key = '#%d' % int(m.group(3) or m.group(4), 16)
                path[depth] = key
                continue
            m = LEAF.match(line)
            if m:
                rva, size = int(m.group(1), 16), int(m.group(2), 16)
                off = file_offset(secs, base, rva)
                crc = zlib.crc32(data[off:off + size]) & 0xFFFFFFFF
                lines.append('%s\t%s\t%s\t%d\t%08x' % (path[0], path[1], path[2][1:], size, crc))
                continue
            if inside and line and not re.match(r'^[0-9a-f]+ ', line):
                break
        with open(os.path.join(outdir, os.path.basename(image) + '.lst'), 'w') as f:
            f.write(''.join(l + '\n' for l in lines))


main()
