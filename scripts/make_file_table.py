#!/usr/bin/env python3
"""Turns the repair tool's list of files (UTF-8 text, one name a line) into
the C++ definition of its built-in table: one 64-byte slot per name in code
page 932, zero-padded, and an empty slot that ends the table.

    make_file_table.py LIST OUTPUT.cpp
"""
import sys

SLOT_SIZE = 64


def literal(data):
    """A C++ narrow literal holding exactly these bytes (octal escapes are
    not recoded by the compiler's execution character set)."""
    out = []
    for byte in data:
        char = chr(byte)
        if char in '\\"':
            out.append('\\' + char)
        elif 0x20 <= byte < 0x7F and char != '?':
            out.append(char)
        else:
            out.append('\\%03o' % byte)
    return '"' + ''.join(out) + '"'


def read_names(path):
    """The encoded names, or exits with one message per bad line."""
    errors = []
    names = []
    with open(path, 'rb') as f:
        raw_lines = f.read().split(b'\n')
    if raw_lines and raw_lines[-1] == b'':
        raw_lines.pop()
    for number, raw in enumerate(raw_lines, 1):
        where = '%s:%d' % (path, number)
        raw = raw[:-1] if raw.endswith(b'\r') else raw
        try:
            name = raw.decode('utf-8')
        except UnicodeDecodeError:
            errors.append('%s: not UTF-8 text' % where)
            continue
        if name == '':
            errors.append('%s: empty line (an empty name would end the table there)' % where)
            continue
        try:
            encoded = name.encode('cp932')
        except UnicodeEncodeError:
            errors.append('%s: "%s" cannot be written in code page 932' % (where, name))
            continue
        if b'\0' in encoded:
            errors.append('%s: a name cannot hold a zero byte' % where)
        elif len(encoded) > SLOT_SIZE - 1:
            errors.append('%s: "%s" is %d bytes in code page 932; a slot holds at most %d'
                          % (where, name, len(encoded), SLOT_SIZE - 1))
        else:
            names.append(encoded)
    if errors:
        for error in errors:
            print('error: ' + error, file=sys.stderr)
        sys.exit(1)
    return names


def main():
    if len(sys.argv) != 3:
        print('usage: make_file_table.py LIST OUTPUT.cpp', file=sys.stderr)
        return 2
    source, output = sys.argv[1], sys.argv[2]
    names = read_names(source)
    lines = [
        '// Generated from %s by make_file_table.py: edit the list, not this file.'
        % source.replace('\\', '/').rsplit('/', 1)[-1],
        '#include "file_table.h"',
        '',
        'const char RepairFileTable[%d][kFileTableSlotSize] = {' % (len(names) + 1),
    ]
    lines += ['    %s,' % literal(name) for name in names]
    lines += ['    "",', '};', '']
    with open(output, 'w', encoding='ascii', newline='\n') as f:
        f.write('\n'.join(lines))
    return 0


if __name__ == '__main__':
    sys.exit(main())
