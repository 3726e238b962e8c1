#!/usr/bin/env bash
# Where the guest instructions of one benchmark program go, by function:
#   bench/qemu/profile.sh PROGRAM ARGS...
# e.g. bench/qemu/profile.sh out/bench-qemu/reader_bench out/armel/lib/libogmdecaps.so FILE read
# Needs what run.sh builds (out/bench-qemu, out/armel-root). The program
# must write its memory map (BenchDumpMaps); functions come from nm.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=$ROOT/out/bench-qemu
BENCH_MAPS=$OUT/profile.maps qemu-arm -cpu arm946 -L "$ROOT/out/armel-root" \
  -plugin "$OUT/libinsn_count.so,out=$OUT/profile.count,profile=$OUT/profile.blocks" "$@" >/dev/null
python3 - "$OUT/profile.maps" "$OUT/profile.blocks" "$ROOT/out/armel-root" <<'PY'
import bisect, collections, os, subprocess, sys
maps_path, blocks_path, sysroot = sys.argv[1:4]
maps = []
for line in open(maps_path):
    f = line.split()
    if len(f) >= 6 and 'x' in f[1]:
        lo, hi = (int(x, 16) for x in f[0].split('-'))
        maps.append((lo, hi, int(f[2], 16), f[5]))
maps.sort()
starts = [m[0] for m in maps]
symcache = {}
def symbols(path):
    if path not in symcache:
        # Under qemu-arm -L the guest names its libraries by their path in the root.
        real = sysroot + path if os.path.exists(sysroot + path) else path
        syms = []
        for opt in ([], ['-D']):
            try:
                out = subprocess.run(['arm-linux-gnueabi-nm', '-n', '-C', '--defined-only'] + opt + [real],
                                     capture_output=True, text=True).stdout
            except OSError:
                out = ''
            for l in out.splitlines():
                p = l.split(' ', 2)
                if len(p) == 3 and p[1] in 'tTwWiI':
                    syms.append((int(p[0], 16), p[2]))
            if syms:
                break
        syms.sort()
        symcache[path] = ([s[0] for s in syms], [s[1] for s in syms])
    return symcache[path]
byfunc = collections.Counter()
bylib = collections.Counter()
total = 0
for line in open(blocks_path):
    a, n, runs = line.split()
    a, cost = int(a, 16), int(n) * int(runs)
    total += cost
    i = bisect.bisect_right(starts, a) - 1
    if i < 0 or a >= maps[i][1]:
        byfunc[('?', '?')] += cost
        continue
    lo, hi, off, path = maps[i]
    addrs, names = symbols(path)
    j = bisect.bisect_right(addrs, a - lo + off) - 1
    name = names[j] if j >= 0 else '?'
    lib = os.path.basename(path)
    byfunc[(lib, name)] += cost
    bylib[lib] += cost
print(f"{total / 1e6:.1f} M guest instructions")
for lib, c in bylib.most_common(8):
    print(f"  {c * 100 / total:5.1f} %  {lib}")
print("functions:")
for (lib, name), c in byfunc.most_common(25):
    print(f"  {c * 100 / total:5.1f} %  {c / 1e6:8.2f} M  {lib}: {name[:90]}")
PY
