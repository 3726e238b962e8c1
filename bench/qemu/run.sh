#!/usr/bin/env bash
# Guest instruction counts of the reader built for armel, under qemu-arm with
# the insn_count plug-in, beside floors built for armel from the same
# libraries: the bare libogg / Tremor floor every benchmark shares
# (bench/floor.c), and ffmpeg's Vorbis decoder (libavcodec).
#
#   bench/qemu/run.sh
#
# Each figure is a difference of two runs that differ only in the amount of
# work (a short and a long file, or 0 and N seeks), so program start-up,
# library loading and the open do not count:
#   demux   (a) every video frame and all MP3 audio, per MB of file
#   vorbis  (b) Vorbis delivered as 16-bit PCM, per second of audio
#   seek    (c) a percent seek / a chapter seek plus taking the keyframe
#               reached and the first audio, per seek, with MP3-like audio
#               and with Vorbis
# Instruction counts are deterministic: one run of each is enough.
#
# Builds on scripts/test-armel (the armel root and out/armel); works in
# out/bench-qemu/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
cd "$ROOT"
OUT=$ROOT/out/bench-qemu
SYSROOT=$ROOT/out/armel-root
LIB=$ROOT/out/armel/lib/libogmdecaps.so
TRIPLET=arm-linux-gnueabi
mkdir -p "$OUT/files"

echo "== armel build (with libavcodec for the ffmpeg figure)" >&2
OGMDECAPS_ARMEL_EXTRA_PACKAGES="libavcodec-dev" OGMDECAPS_ARMEL_BUILD_ONLY=1 \
  ./scripts/test-armel >"$OUT/build.log" 2>&1 || { tail -40 "$OUT/build.log"; exit 1; }

echo "== programs" >&2
gcc -O2 -shared -fPIC -Wall -Wextra -o "$OUT/libinsn_count.so" bench/qemu/insn_count.c
cflags=(-O2 -g -Wall -Wextra -I"$ROOT/include" -I"$SYSROOT/usr/include" -I"$SYSROOT/usr/include/$TRIPLET")
ldflags=(-L"$SYSROOT/usr/lib/$TRIPLET" -L"$SYSROOT/lib/$TRIPLET"
         -Wl,-rpath-link,"$SYSROOT/usr/lib/$TRIPLET:$SYSROOT/lib/$TRIPLET")
$TRIPLET-gcc "${cflags[@]}" -o "$OUT/reader_bench" bench/qemu/reader_bench.c "${ldflags[@]}" -ldl
$TRIPLET-gcc "${cflags[@]}" -o "$OUT/floor_bench" bench/qemu/floor_bench.c bench/floor.c "${ldflags[@]}" \
  -lvorbisidec -logg
$TRIPLET-gcc "${cflags[@]}" -o "$OUT/ffmpeg_vorbis" bench/qemu/ffmpeg_vorbis.c bench/floor.c "${ldflags[@]}" \
  -lavcodec -lavutil -lvorbisidec -logg

echo "== files" >&2
# (a): 640x480 MPEG-4 at 1 Mbit/s with 128 kbit/s MP3, from ffmpeg and
# ogmmerge. (b): a small picture beside 44.1 kHz stereo Vorbis. (c): the
# test writer's files (ogm_make_fixture) with chapters, MP3-like audio or
# Vorbis.
make_ogm() {  # NAME SECONDS SIZE VIDEOBITRATE AUDIOCODEC
  local name=$1 seconds=$2 size=$3 vrate=$4 acodec=$5 dir=$OUT/files
  [ -s "$dir/$name.ogm" ] && return
  local aext=mp3 aopts=(-c:a libmp3lame -b:a 128k)
  [ "$acodec" = vorbis ] && aext=ogg aopts=(-c:a libvorbis -q:a 4)
  # Noise keeps the test pattern from compressing far below the bitrate.
  ffmpeg -loglevel error -y -f lavfi -i "testsrc=size=$size:rate=25" -t "$seconds" \
    -vf "noise=alls=16:allf=t" -c:v mpeg4 -vtag XVID -g 250 -b:v "$vrate" "$dir/$name.avi"
  ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=440:sample_rate=44100" \
    -f lavfi -i "anoisesrc=amplitude=0.2:sample_rate=44100" -t "$seconds" \
    -filter_complex "[0][1]amerge=inputs=2" -ac 2 "${aopts[@]}" "$dir/$name.$aext"
  ogmmerge -q -o "$dir/$name.ogm" "$dir/$name.avi" "$dir/$name.$aext"
}
make_ogm mp3-20 20 640x480 1000k mp3
make_ogm mp3-60 60 640x480 1000k mp3
make_ogm vorbis-10 10 64x48 20k vorbis
make_ogm vorbis-30 30 64x48 20k vorbis
[ -s "$OUT/files/seek.ogm" ] ||
  out/build/bin/ogm_make_fixture --seconds 120 --fps 25 --gop 125 --size 640x480 \
    --mp3-like --chapters 12 "$OUT/files/seek.ogm" >/dev/null
[ -s "$OUT/files/seek-vorbis.ogm" ] ||
  out/build/bin/ogm_make_fixture --seconds 120 --fps 25 --gop 125 --size 640x480 \
    --vorbis --chapters 12 "$OUT/files/seek-vorbis.ogm" >/dev/null

# count PROGRAM ARGS... -> guest instructions. The CPU is qemu's ARM946
# (ARMv5TE and no VFP; qemu's arm926 has VFP): libraries that pick VFP or
# NEON code at run time, as libavcodec does, take their plain ARM paths as on
# a device without FPU.
count() {
  qemu-arm -cpu arm946 -L "$SYSROOT" -plugin "$OUT/libinsn_count.so,out=$OUT/count.txt" "$@" >"$OUT/last.out"
  awk '/^insns/ {print $2}' "$OUT/count.txt"
}
size_of() { stat -c %s "$1"; }
# slope HIGH LOW UNITS -> millions of instructions per unit
slope() { awk -v a="$1" -v b="$2" -v u="$3" 'BEGIN {printf "%.2f", (a - b) / u / 1e6}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

echo "== counts (millions of guest instructions)" >&2
F=$OUT/files
mb=$(awk -v a="$(size_of "$F/mp3-60.ogm")" -v b="$(size_of "$F/mp3-20.ogm")" 'BEGIN {print (a - b) / 1048576}')
demux_reader=$(slope "$(count "$OUT/reader_bench" "$LIB" "$F/mp3-60.ogm" read)" \
                     "$(count "$OUT/reader_bench" "$LIB" "$F/mp3-20.ogm" read)" "$mb")
demux_floor=$(slope "$(count "$OUT/floor_bench" "$F/mp3-60.ogm" demux)" \
                    "$(count "$OUT/floor_bench" "$F/mp3-20.ogm" demux)" "$mb")

samples() { awk '/^samples/ {print $2 / $4}' "$OUT/last.out"; }  # seconds decoded
r30=$(count "$OUT/reader_bench" "$LIB" "$F/vorbis-30.ogm" read)
r10=$(count "$OUT/reader_bench" "$LIB" "$F/vorbis-10.ogm" read)
t30=$(count "$OUT/floor_bench" "$F/vorbis-30.ogm" vorbis); s30=$(samples)
t10=$(count "$OUT/floor_bench" "$F/vorbis-10.ogm" vorbis); s10=$(samples)
secs=$(awk -v a="$s30" -v b="$s10" 'BEGIN {print a - b}')
f30=$(count "$OUT/ffmpeg_vorbis" "$F/vorbis-30.ogm")
f10=$(count "$OUT/ffmpeg_vorbis" "$F/vorbis-10.ogm")
vorbis_reader=$(slope "$r30" "$r10" "$secs")
vorbis_floor=$(slope "$t30" "$t10" "$secs")
vorbis_ffmpeg=$(slope "$f30" "$f10" "$secs")

seeks=40
seek0=$(count "$OUT/reader_bench" "$LIB" "$F/seek.ogm" percent 0)
percent_reader=$(slope "$(count "$OUT/reader_bench" "$LIB" "$F/seek.ogm" percent $seeks)" "$seek0" $seeks)
chapter_reader=$(slope "$(count "$OUT/reader_bench" "$LIB" "$F/seek.ogm" chapter $seeks)" "$seek0" $seeks)
vseek0=$(count "$OUT/reader_bench" "$LIB" "$F/seek-vorbis.ogm" percent 0)
vpercent_reader=$(slope "$(count "$OUT/reader_bench" "$LIB" "$F/seek-vorbis.ogm" percent $seeks)" \
                        "$vseek0" $seeks)
vchapter_reader=$(slope "$(count "$OUT/reader_bench" "$LIB" "$F/seek-vorbis.ogm" chapter $seeks)" \
                        "$vseek0" $seeks)
vseek_floor=$(slope "$(count "$OUT/floor_bench" "$F/seek-vorbis.ogm" seek $seeks)" \
                    "$(count "$OUT/floor_bench" "$F/seek-vorbis.ogm" seek 0)" $seeks)
seek_floor=$(slope "$(count "$OUT/floor_bench" "$F/seek.ogm" seek $seeks)" \
                   "$(count "$OUT/floor_bench" "$F/seek.ogm" seek 0)" $seeks)

printf '\n%-34s %10s %10s %8s %10s\n' "armel, M guest instructions" reader floor "x floor" ffmpeg
printf '%-34s %10s %10s %8s %10s\n' "(a) video + MP3, per MB of file" "$demux_reader" "$demux_floor" \
  "$(ratio "$demux_reader" "$demux_floor")" "-"
printf '%-34s %10s %10s %8s %10s\n' "(b) Vorbis as PCM, per audio s" "$vorbis_reader" "$vorbis_floor" \
  "$(ratio "$vorbis_reader" "$vorbis_floor")" "$vorbis_ffmpeg"
printf '%-34s %10s %10s %8s %10s\n' "(c) percent seek, MP3, per seek" "$percent_reader" "$seek_floor" \
  "$(ratio "$percent_reader" "$seek_floor")" "-"
printf '%-34s %10s %10s %8s %10s\n' "(c) chapter seek, MP3, per seek" "$chapter_reader" "$seek_floor" \
  "$(ratio "$chapter_reader" "$seek_floor")" "-"
printf '%-34s %10s %10s %8s %10s\n' "(c) percent seek, Vorbis, per seek" "$vpercent_reader" \
  "$vseek_floor" "$(ratio "$vpercent_reader" "$vseek_floor")" "-"
printf '%-34s %10s %10s %8s %10s\n' "(c) chapter seek, Vorbis, per seek" "$vchapter_reader" \
  "$vseek_floor" "$(ratio "$vchapter_reader" "$vseek_floor")" "-"
printf '\nfloors: (a) bare libogg demux loop copying payloads; (b) bare Tremor decode to s16;\n'
printf '(c) bare libogg: jump to the byte offset, copy the next video keyframe and audio packet\n'
printf '    (120 s, keyframe every 5 s, 12 chapters); for Vorbis, bare Tremor then decodes\n'
printf '    from the pages after the keyframe up to its first PCM. Floors: bench/floor.c.\n'
printf 'ffmpeg: libavcodec Vorbis decoder + float to s16, same stream. %s MB, %s s of audio, %d seeks.\n' \
  "$(awk -v m="$mb" 'BEGIN {printf "%.2f", m}')" "$secs" $seeks
