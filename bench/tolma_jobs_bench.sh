#!/bin/sh
# tolma create, extract and verify with -j 1 against -j N, side by side in
# one run: the two alternate, RUNS times each, and each ratio is the median
# of the pairs' ratios. The tree is generated the same every time (seeded):
#   320 files in 12 directories, about 26 MiB:
#     130 text files (words, numbers, lines), 1 KiB to 256 KiB
#      90 binary tables (little-endian records of small fields), 1 KiB to 256 KiB
#      70 incompressible files (seeded random bytes), 1 KiB to 256 KiB
#      24 empty files
#       6 large files, 2 to 4 MiB, text and binary
# then one large file alone (24 MiB of text), where -j gains nothing.
#
#   bench/tolma_jobs_bench.sh TOLMA [N (default 2)] [RUNS (default 5)] [ENCODING (default tolma_code)] [DIR]
set -eu
tolma=$1
jobs=${2:-2}
runs=${3:-5}
encoding=${4:-tolma_code}
work=${5:-$(mktemp -d)}
mkdir -p "$work"

python3 - "$work" <<'PY'
import os, random, sys
root = sys.argv[1]
r = random.Random(20261210)
words = ["the", "archive", "entry", "window", "value", "=", "0x", "return", "if", "player", "position",
         "\n", "  ", ";", "script", "table", "{", "}", "name", "index"]
def text(n):
    out = []
    size = 0
    while size < n:
        w = r.choice(words) if r.random() < 0.85 else str(r.randrange(100000))
        out.append(w + " ")
        size += len(w) + 1
    return "".join(out).encode()[:n]
def table(n):
    out = bytearray()
    while len(out) < n:
        out += r.randrange(4096).to_bytes(2, "little") + r.randrange(256).to_bytes(1, "little") + \
               bytes([r.randrange(4)]) + (len(out) // 8).to_bytes(4, "little")
    return bytes(out[:n])
def noise(n):
    return r.randbytes(n)
def size():
    return int(2 ** r.uniform(10, 18))
def put(tree, k, data):
    d = os.path.join(root, tree, "d%02d" % (k % 12))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%03d.bin" % k), "wb") as f:
        f.write(data)
k = 0
for maker, count in ((text, 130), (table, 90), (noise, 70)):
    for _ in range(count):
        put("tree", k, maker(size())); k += 1
for _ in range(24):
    put("tree", k, b""); k += 1
for i in range(6):
    put("tree", k, (text if i % 2 == 0 else table)(r.randrange(2 << 20, 4 << 20))); k += 1
os.makedirs(os.path.join(root, "large"), exist_ok=True)
with open(os.path.join(root, "large", "one.txt"), "wb") as f:
    f.write(text(24 << 20))
PY

now() { date +%s.%N; }
# Runs "$@" once; its wall seconds.
timed() {
    start=$(now)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(now)
    echo "$end - $start" | bc -l
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# compare NAME COMMAND-WITH-@J@: -j 1 and -j N alternating.
compare() {
    name=$1
    shift
    ones=""
    ratios=""
    for i in $(seq "$runs"); do
        a=$(timed $(echo "$@" | sed "s/@J@/1/g"))
        b=$(timed $(echo "$@" | sed "s/@J@/$jobs/g"))
        ones="$ones $a"
        ratios="$ratios $(echo "$a / $b" | bc -l)"
    done
    one=$(echo $ones | tr ' ' '\n' | median)
    ratio=$(echo $ratios | tr ' ' '\n' | median)
    printf '%-22s -j 1 %7.2f s   -j 1 / -j %s  %5.2fx\n' "$name" "$one" "$jobs" "$ratio"
}

for set in tree large; do
    "$tolma" create "$work/$set.tlm" "$work/$set" -e "$encoding" -j 1 >/dev/null
    "$tolma" create "$work/$set-n.tlm" "$work/$set" -e "$encoding" -j "$jobs" >/dev/null
    cmp "$work/$set.tlm" "$work/$set-n.tlm"
    compare "create $set" "$tolma" create "$work/$set-@J@.tlm" "$work/$set" -e "$encoding" -j @J@
    compare "extract $set" "$tolma" extract "$work/$set.tlm" "$work/out-$set-@J@" --force -j @J@
    compare "verify $set" "$tolma" verify "$work/$set.tlm" -j @J@
done
