#!/usr/bin/env python3
"""usage: make_archive.py OUT -- writes, from the format alone, a raw archive
holding readme.txt, data\\bytes.bin (70001 bytes of the PE tests' pattern with
seed 5) and an empty data\\deeper\\empty, for linking into a PE image."""
import struct
import sys


def record(identifier, data):
    return identifier + struct.pack('<Q', len(data)) + data


def directory(entries):
    # entries: (name, attributes, length, offset)
    out = struct.pack('<I', len(entries))
    for name, attributes, length, offset in entries:
        encoded = name.encode('ascii') + b'\0'
        out += struct.pack('<QIIQ', length, attributes, 0, offset) + bytes(8)
        out += struct.pack('<I', 0) + struct.pack('<I', len(encoded)) + encoded
    return record(b'DirEntry', out)


def folder(members):
    """members: (name, bytes) for files, (name, list) for directories; the
    directory record is sized first, then the records it points to follow."""
    names = [(name, 0x10 if isinstance(body, list) else 0x20, 0 if isinstance(body, list) else len(body))
             for name, body in members]
    head = len(directory([(n, a, l, 0) for n, a, l in names]))
    offsets, blobs, at = [], b'', head
    for name, body in members:
        blob = record(b'filedata', folder(body) if isinstance(body, list) else body)
        offsets.append(at)
        at += len(blob)
        blobs += blob
    return directory([(n, a, l, o) for (n, a, l), o in zip(names, offsets)]) + blobs


pattern = bytes(((i * 131 + (i >> 8) * 7 + 5) & 0xFF) for i in range(70001))
body = folder([('readme.txt', b'hello from the image\n'),
               ('data', [('bytes.bin', pattern), ('deeper', [('empty', b'')])])])
header = b'Orvel\x1a\0\0' + struct.pack('<II', 0x02000400, 0) + b'TOLMA-Archive file'.ljust(32, b'\0')
header += bytes(8) + struct.pack('<Q', len(body))
with open(sys.argv[1], 'wb') as f:
    f.write(header + body)
