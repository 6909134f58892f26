#!/usr/bin/env python3
"""Extracts the icon groups of PE images with wrestool and describes each
icon file as icotool sees it: for every image one line
"index<TAB>width<TAB>height<TAB>bit-depth<TAB>palette-size<TAB>png-crc<TAB>rgba-crc",
the CRC-32 of the file icotool -x writes and of its pixels decoded to RGBA
("-" for images stored as PNG, which icotool passes through unchanged).
A list of the icon files goes to OUTDIR/icons.txt.

usage: icon_reference.py WRESTOOL ICOTOOL OUTDIR IMAGE...
"""
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import zlib

LIST = re.compile(r'--index=(\d+) --width=(\d+) --height=(\d+) --bit-depth=(\d+) --palette-size=(\d+)')


def rgba_pixels(png):
    """The pixels of an 8-bit RGBA, non-interlaced PNG (what icotool writes)."""
    pos, idat = 8, b''
    while pos < len(png):
        n, kind = struct.unpack_from('>I4s', png, pos)
        body = png[pos + 8:pos + 8 + n]
        pos += 12 + n
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
    if (depth, colour, interlace) != (8, 6, 0):
        raise ValueError('unexpected PNG form')
    raw = zlib.decompress(idat)
    stride = width * 4
    out, prev, p = bytearray(), bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[p], bytearray(raw[p + 1:p + 1 + stride])
        p += 1 + stride
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 255
            elif kind == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out += line
        prev = line
    return bytes(out)


def main():
    wrestool, icotool, outdir = sys.argv[1:4]
    icons = os.path.join(outdir, 'icons')
    shutil.rmtree(icons, ignore_errors=True)
    os.makedirs(icons)
    for image in sys.argv[4:]:
        subprocess.run([wrestool, '-x', '-t14', '-o', icons + '/', image], check=True)
    names = sorted(os.path.basename(p) for p in glob.glob(os.path.join(icons, '*.ico')))
    extracted = os.path.join(outdir, 'extracted')
    for name in names:
        path = os.path.join(icons, name)
        base = name[:-4]
        listing = subprocess.run([icotool, '-l', path], capture_output=True, text=True, check=True).stdout
        shutil.rmtree(extracted, ignore_errors=True)
        os.makedirs(extracted)
        subprocess.run([icotool, '-x', '-o', extracted + '/', path], check=True)
        data = open(path, 'rb').read()
        lines = []
        for m in LIST.finditer(listing):
            index, width, height, depth, palette = m.groups()
            png = open(os.path.join(extracted, '%s_%s_%sx%sx%s.png' % (base, index, width, height, depth)), 'rb').read()
            size, offset = struct.unpack_from('<II', data, 6 + 16 * (int(index) - 1) + 8)
            stored_png = data[offset:offset + 8] == b'\x89PNG\r\n\x1a\n'
            rgba = '-' if stored_png else '%08x' % zlib.crc32(rgba_pixels(png))
            lines.append('\t'.join([index, width, height, depth, palette, '%08x' % zlib.crc32(png), rgba]))
        with open(path + '.ref', 'w') as f:
            f.write(''.join(l + '\n' for l in lines))
    shutil.rmtree(extracted, ignore_errors=True)
    with open(os.path.join(outdir, 'icons.txt'), 'w') as f:
        f.write(''.join(n + '\n' for n in names))


main()
