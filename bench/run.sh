#!/usr/bin/env bash
# Reader benchmarks. Makes the benchmark files in out/bench/ when they are
# missing (ffmpeg + ogmmerge), configures and builds the programs of
# bench/reader (OGMDECAPS_BENCH on), serves out/bench over HTTP with a
# private nginx on 127.0.0.1, runs every program and prints one table.
#
#   bench/run.sh [--only open,http,demux,vorbis,seek,memory,orders,plugins] [--runs N] [--files-only]
#
# Environment: BENCH_BUILD (build folder, default build-bench), BENCH_OUT
# (default out/bench), BENCH_FFMPEG_SEEKS (how many of the 95 percent seeks
# are repeated with ffmpeg, default 95), BENCH_LIB (a folder holding another
# build's libogmdecaps.so and plug-ins, measured instead of this tree's: the
# programs use only the public header and find the library through
# LD_LIBRARY_PATH; the orders rows name the library loaded).
#
# Timings are medians of --runs runs (default 5) with the files in the page
# cache. The machine is shared: look at the spread before trusting a figure.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BENCH_BUILD:-$ROOT/build-bench}
OUT=${BENCH_OUT:-$ROOT/out/bench}
RUNS=5
ONLY="open,http,demux,vorbis,seek,memory,orders,plugins"
FILES_ONLY=0
while [ $# -gt 0 ]; do
  case $1 in
    --only) ONLY=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --files-only) FILES_ONLY=1; shift ;;
    *) echo "usage: bench/run.sh [--only open,http,demux,vorbis,seek,memory,orders,plugins] [--runs N] [--files-only]" >&2; exit 2 ;;
  esac
done
wants() { [[ ",$ONLY," == *",$1,"* ]]; }
log() { echo "== $*" >&2; }

# --- tools -------------------------------------------------------------------
# qemu-user counts the instructions of ffmpeg, which valgrind cannot run.
OGMDECAPS_EXTRA_PACKAGES="strace valgrind time qemu-user ${OGMDECAPS_EXTRA_PACKAGES:-}" "$ROOT/scripts/deps"

log "build ($BUILD)"
mkdir -p "$BUILD"
nice cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DOGMDECAPS_BENCH=ON >"$BUILD/bench-configure.log" 2>&1 ||
  { tail -40 "$BUILD/bench-configure.log"; exit 1; }
build() {
  nice cmake --build "$BUILD" -j2 --target "$@" >"$BUILD/bench-build.log" 2>&1 ||
    { tail -40 "$BUILD/bench-build.log"; exit 1; }
}
build ogm_set_chapters ogm_make_fixture
BIN=$BUILD/bin

# --- files -------------------------------------------------------------------
mkdir -p "$OUT"
FF=(ffmpeg -hide_banner -nostdin -loglevel error -y)
TEN=600   # seconds of the 10-minute files
BIG=380   # seconds of the large file (about 500 MB at 1280x720, -q:v 2)

# produce NAME COMMAND...: runs COMMAND with $TMPOUT as its output, then moves it
# to NAME, so an interrupted run leaves no half file behind.
produce() {
  local name=$1
  shift
  [ -s "$OUT/$name" ] && return 0
  log "making $name"
  local tmp="$OUT/.tmp.$name"
  TMPOUT=$tmp "$@"
  mv "$tmp" "$OUT/$name"
}
# Keyframes exactly every 250 frames: no scene-change keyframes, no B-frames
# (ogmmerge 1.5 takes AVI without them).
video() {  # SIZE RATE-ARGS... (as ffmpeg options)
  local size=$1 seconds=$2
  shift 2
  "${FF[@]}" -f lavfi -i "testsrc2=size=$size:rate=25" -t "$seconds" -c:v mpeg4 -vtag XVID \
    -g 250 -sc_threshold 1000000000 -bf 0 "$@" -f avi "$TMPOUT"
}
# A signal with some content (two drifting tones, a beating one, a little
# noise) so the Vorbis stream is not trivially sparse.
SIGNAL="aevalsrc=0.3*sin(2*PI*(330+40*sin(0.7*t))*t)+0.1*sin(2*PI*1250*t)*sin(3*t)+0.03*(random(0)-0.5)|0.3*sin(2*PI*(440+30*sin(0.5*t))*t)+0.1*sin(2*PI*2100*t)*sin(2*t)+0.03*(random(1)-0.5):s=44100"
vorbis() { "${FF[@]}" -f lavfi -i "$SIGNAL" -t "$1" -c:a libvorbis -q:a 4 -f ogg "$TMPOUT"; }
mp3() {
  "${FF[@]}" -f lavfi -i "$SIGNAL" -t "$1" -c:a libmp3lame -b:a 128k -write_xing 0 \
    -id3v2_version 0 -f mp3 "$TMPOUT"
}
merge() { ogmmerge -q -o "$TMPOUT" "$@"; }
# A chapter every minute, in the video stream's comments.
chapters() {  # IN SECONDS: a chapter a minute
  local at=() n
  for ((n = 0; n * 60 < $2; n++)); do at+=("$(printf '%02d:%02d:00.000=Chapter %d' $((n / 60)) $((n % 60)) $((n + 1)))"); done
  "$BIN/ogm_set_chapters" "$1" "$TMPOUT" "${at[@]}" >/dev/null
}

produce v10.avi video 640x480 "$TEN" -b:v 1000k
produce a10.ogg vorbis "$TEN"
produce a10.mp3 mp3 "$TEN"
for kind in vorbis mp3; do
  if [ ! -s "$OUT/ten_$kind.ogm" ]; then
    source=$OUT/a10.ogg
    [ $kind = mp3 ] && source=$OUT/a10.mp3
    produce merged_$kind.ogm merge "$OUT/v10.avi" "$source"
    produce ten_$kind.ogm chapters "$OUT/merged_$kind.ogm" "$TEN"
    rm -f "$OUT/merged_$kind.ogm"
  fi
done
if [ ! -s "$OUT/large.ogm" ]; then
  produce vlarge.avi video 1280x720 "$BIG" -q:v 2
  produce alarge.mp3 mp3 "$BIG"
  produce large.ogm merge "$OUT/vlarge.avi" "$OUT/alarge.mp3"
  rm -f "$OUT/vlarge.avi" "$OUT/alarge.mp3"
fi
# 60,000 pages of 255 empty audio packets between two video frames (16.9 MB):
# libogg's lacing tables grow, not its page bodies.
empty_pages() { "$BIN/ogm_make_fixture" --frames 4 --empty-audio-pages 60000 "$TMPOUT" >/dev/null; }
produce pages60k.ogm empty_pages
VORBIS=$OUT/ten_vorbis.ogm
MP3=$OUT/ten_mp3.ogm
LARGE=$OUT/large.ogm
[ "$FILES_ONLY" = 1 ] && exit 0
build ogm_bench_open ogm_bench_http ogm_bench_demux ogm_bench_vorbis ogm_bench_seek ogm_bench_play \
  ogm_bench_plugins
if [ -n "${BENCH_LIB:-}" ]; then
  [ -f "$BENCH_LIB/libogmdecaps.so" ] || { echo "no libogmdecaps.so in $BENCH_LIB" >&2; exit 2; }
  log "library from $BENCH_LIB"
  export LD_LIBRARY_PATH=$BENCH_LIB${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
fi

# --- nginx on 127.0.0.1 ------------------------------------------------------
NGX=$OUT/nginx
PORT=""
if wants open || wants http || wants plugins; then
  . "$ROOT/scripts/lib.sh"
  nginx_serve "$NGX" "$OUT" "default_type application/ogg;"
  PORT=$nginx_port
fi

# --- the programs ------------------------------------------------------------
ROWS=$OUT/results.tsv
: >"$ROWS"
run() { log "$*"; "$@" | tee -a "$ROWS" | grep -v '^ROW' >&2 || true; }

if wants open; then
  run "$BIN/ogm_bench_open" --file "$LARGE" --url "http://127.0.0.1:$PORT/large.ogm" \
    --access-log "$NGX/logs/access.log" --runs "$RUNS"
fi
if wants http; then
  run "$BIN/ogm_bench_http" --file "$VORBIS" --url "http://127.0.0.1:$PORT/ten_vorbis.ogm" \
    --access-log "$NGX/logs/access.log" --delay-ms 50 --runs "$RUNS"
fi
if wants demux; then
  run "$BIN/ogm_bench_demux" --file "$MP3" --runs "$RUNS"
fi
if wants vorbis; then
  run "$BIN/ogm_bench_vorbis" --file "$VORBIS" --source-ogg "$OUT/a10.ogg" --runs "$RUNS"
fi
if wants seek; then
  run "$BIN/ogm_bench_seek" --file "$VORBIS" --label Vorbis --ffmpeg-seeks "${BENCH_FFMPEG_SEEKS:-95}"
  run "$BIN/ogm_bench_seek" --file "$MP3" --label MP3 --ffmpeg-seeks "${BENCH_FFMPEG_SEEKS:-95}"
fi
if wants memory; then
  run "$BIN/ogm_bench_play" --file "$VORBIS" --label Vorbis --peak-rss
  run "$BIN/ogm_bench_play" --file "$MP3" --label MP3 --peak-rss
  run "$BIN/ogm_bench_play" --file "$OUT/pages60k.ogm" --label "60,000 empty audio pages" --heap
fi
if wants orders; then
  run "$BIN/ogm_bench_play" --file "$VORBIS" --label Vorbis --orders --runs "$RUNS"
  run "$BIN/ogm_bench_play" --file "$MP3" --label MP3 --orders --runs "$RUNS"
fi
if wants plugins; then
  # Plug-in throughput on a 200 MB file (made by the program), beside cat.
  run "$BIN/ogm_bench_plugins" --file "$OUT/plugins.bin" --url "http://127.0.0.1:$PORT/plugins.bin"
fi

echo
printf 'area\tsubject\tfigure\tfigure\tfigure\tnote\n' >"$OUT/table.tsv"
grep '^ROW' "$ROWS" | cut -f2- >>"$OUT/table.tsv"
column -t -s $'\t' "$OUT/table.tsv"
