#!/usr/bin/env python3
"""usage: make_payload.py SIZE SEED OUT -- writes SIZE bytes of the pattern the
tests expect: byte i is (i * 131 + (i >> 8) * 7 + SEED) mod 256."""
import sys

size, seed, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
with open(out, 'wb') as f:
    f.write(bytes(((i * 131 + (i >> 8) * 7 + seed) & 0xFF) for i in range(size)))
