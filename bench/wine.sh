#!/usr/bin/env bash
# The Windows build under wine beside the Linux build (figures, never
# pass/fail): the reader's lock (bench_lock: every entry takes it once) and
# the throughput of `ogmdecaps play` on two-minute ogmmerge files, which
# pulls every frame and all audio as fast as it can: raw MP3 audio measures
# demuxing, Vorbis audio adds the decoding.
#
#   bench/wine.sh [--32]
#
# Builds on scripts/test-windows (its libraries and its cross build
# out/windows, or out/windows32, to which it adds bench_lock); the Linux side
# is built in out/bench-wine/build, the files are made in out/bench-wine/.
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "$0")/../scripts/lib.sh"
cd "$ogm_root"
bits=64 tag="" flag=()
[ "${1:-}" = --32 ] && bits=32 tag=32 flag=(--32)
work=out/bench-wine
mkdir -p "$work"

echo "== the Windows build (scripts/test-windows${flag[*]:+ ${flag[*]}}, build only)" >&2
OGMDECAPS_WINDOWS_BUILD_ONLY=1 ./scripts/test-windows "${flag[@]}" >"$work/windows$tag.log" 2>&1 ||
  { tail -40 "$work/windows$tag.log"; exit 1; }
windows=out/windows$tag
cmake_configure "$windows" -DOGMDECAPS_BENCH=ON
cmake_build "$windows" bench_lock ogmdecaps_cli >>"$work/windows$tag.log" 2>&1 ||
  { tail -40 "$work/windows$tag.log"; exit 1; }
echo "== the Linux build ($work/build)" >&2
cmake_configure "$work/build" -DOGMDECAPS_TESTS=OFF -DOGMDECAPS_BENCH=ON
cmake_build "$work/build" bench_lock ogmdecaps_cli >"$work/build.log" 2>&1 ||
  { tail -40 "$work/build.log"; exit 1; }
wine_env "$bits"
wine_start

echo "== the lock"
"$work/build/bin/bench_lock" | sed 's/^/Linux   /'
"$wine" "$windows/bin/bench_lock.exe" | tr -d '\r' | sed "s/^/wine$tag /"

echo "== throughput of ogmdecaps play"
for a in mp3 vorbis; do
  [ -s "$work/long-$a.ogm" ] || make_ogm "$work/long-$a.ogm" 120 320x240 250 "$a"
done
# Each side runs three times; the fastest run counts (a shared machine's
# other work only ever slows a run down).
fastest() {  # command... -> the throughput line of the fastest of three runs
  for _ in 1 2 3; do "$@" | tr -d '\r' | grep '^throughput:' || true; done | sort -t' ' -k2,2g | head -1
}
for f in long-mp3 long-vorbis; do
  l=$(fastest "$work/build/bin/ogmdecaps" play "$work/$f.ogm")
  w=$(fastest "$wine" "$windows/bin/ogmdecaps.exe" play "$work/$f.ogm")
  echo "$f.ogm, Linux:      ${l#throughput: }"
  echo "$f.ogm, wine $bits-bit: ${w#throughput: }"
  echo "$f.ogm: wine takes $(awk -v l="${l#throughput: }" -v w="${w#throughput: }" \
    'BEGIN { split(l, a, " "); split(w, b, " "); printf "%.2f", b[1] / a[1] }') x Linux's time"
done
