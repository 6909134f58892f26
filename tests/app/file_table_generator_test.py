#!/usr/bin/env python3
"""The file table generator: every accepted list read back from the generated
literals (as Python byte literals, which share their escapes) equals the list
in code page 932; a bad list fails with a message naming the line.
    file_table_generator_test.py make_file_table.py file_table.txt"""
import ast
import os
import re
import subprocess
import sys
import tempfile

generator, real_list = sys.argv[1], sys.argv[2]
failures = 0


def run(text):
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, 'list.txt')
        output = os.path.join(work, 'table.cpp')
        with open(source, 'wb') as f:
            f.write(text)
        done = subprocess.run([sys.executable, generator, source, output], capture_output=True, text=True)
        generated = open(output, encoding='ascii').read() if done.returncode == 0 else None
        return done.returncode, done.stderr, generated


def slots(generated):
    count = int(re.search(r'RepairFileTable\[(\d+)\]', generated).group(1))
    body = generated[generated.index('{') + 1:generated.rindex('}')]
    names = [ast.literal_eval('b' + line.strip().rstrip(',')) for line in body.strip().splitlines()]
    return count, names


def check(what, condition, detail=''):
    global failures
    if not condition:
        failures += 1
        print('FAIL: %s %s' % (what, detail))


real = open(real_list, 'rb').read()
cases = [
    ('the tool\'s list', real, None),
    ('double-byte, backslash trail byte, quote, 63 bytes',
     'SCRIPT\\表示.scn\r\na"b?c\n'.encode() + b'x' * 63 + b'\n', None),
    ('no final line feed', b'a\nb', None),
    ('empty list', b'', None),
    ('64 bytes', b'ok\n' + b'y' * 64 + b'\n', 'list.txt:2: .* is 64 bytes in code page 932; a slot holds at most 63'),
    ('not in code page 932', 'ok\nmusic\u266b\u00e9.wav\n'.encode(), 'list.txt:2: .* cannot be written in code page 932'),
    ('empty line', b'a\n\nb\n', 'list.txt:2: empty line'),
]
for what, text, error in cases:
    status, stderr, generated = run(text)
    if error is not None:
        check(what, status != 0 and re.search(error, stderr), 'status %d, %r' % (status, stderr))
        continue
    check(what, status == 0, stderr)
    if status != 0:
        continue
    expected = [line.rstrip('\r').encode('cp932') for line in text.decode().split('\n') if line.rstrip('\r')]
    count, names = slots(generated)
    check(what, names == expected + [b''] and count == len(expected) + 1, '%d %r' % (count, names[:4]))
    check(what + ' slot width', all(len(name) <= 63 for name in names))

check('the tool\'s list has 167 names', slots(run(real)[2])[0] == 168)
print('file_table_generator: %s' % ('ok' if failures == 0 else '%d failed' % failures))
sys.exit(1 if failures else 0)
