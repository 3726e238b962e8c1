#!/usr/bin/env bash
# Makes the fuzz seed corpora at run time: OGM files of several shapes from
# the project's writer (ogm_make_fixture) and, when ffmpeg and ogmmerge are
# there, from ogmmerge; ogm_fuzz_seeds then cuts them into per-target seeds.
#   fuzz/make_seeds.sh BIN_DIR OUT_DIR
set -euo pipefail
bin=$1
out=$2
rm -rf "$out"
mkdir -p "$out/files"
f=$out/files

fixture() { # name, options...
  local name=$1
  shift
  "$bin/ogm_make_fixture" "$@" "$f/$name.ogm" >/dev/null
}
# Small files: every execution opens and reads a whole one.
"$bin/ogm_vorbis_encode" --rate 8000 --channels 1 --seconds 0.6 --quality 0 "$f/mono8k.ogg" >/dev/null
"$bin/ogm_vorbis_encode" --rate 11025 --channels 2 --seconds 0.4 --quality 0 "$f/stereo.ogg" >/dev/null
fixture vorbis --frames 15 --max-frame 80 --vorbis-file "$f/mono8k.ogg" --chapters 3
fixture vorbis-stereo --frames 10 --max-frame 60 --vorbis-file "$f/stereo.ogg" --legacy
fixture raw --frames 20 --max-frame 100 --mp3-like --chapters 4
fixture legacy --frames 15 --max-frame 60 --mp3-like --legacy
fixture video --frames 30 --gop 5 --max-frame 60
fixture paged --frames 20 --max-frame 60 --frames-per-page 3 --mp3-like --no-eos
fixture audiofirst --frames 10 --max-frame 60 --mp3-like --audio-first
fixture large --frames 8 --max-frame 60 --large-every 4 --large-bytes 5000

if command -v ffmpeg >/dev/null && command -v ogmmerge >/dev/null; then
  tmp=$out/peer
  mkdir -p "$tmp"
  q=(-hide_banner -loglevel error -y)
  ffmpeg "${q[@]}" -f lavfi -i testsrc=size=64x48:rate=10 -t 0.6 -c:v mpeg4 -vtag XVID -g 5 -bf 0 "$tmp/v.avi"
  # (ogmmerge does not recognise much shorter MP3 files)
  if ffmpeg "${q[@]}" -f lavfi -i sine=frequency=440:sample_rate=44100 -t 1 -ac 1 -c:a libmp3lame -b:a 64k \
       -write_xing 0 -id3v2_version 0 -f mp3 "$tmp/a.mp3"; then
    ogmmerge -q -o "$f/ogmmerge-mp3.ogm" "$tmp/v.avi" "$tmp/a.mp3"
  fi
  if ffmpeg "${q[@]}" -f lavfi -i sine=frequency=440:sample_rate=8000 -t 0.6 -ac 1 -c:a libvorbis \
       "$tmp/a.ogg"; then
    ogmmerge -q -o "$f/ogmmerge-vorbis.ogm" "$tmp/v.avi" "$tmp/a.ogg"
  fi
  rm -rf "$tmp"
fi

"$bin/ogm_fuzz_seeds" "$out" "$f"/*.ogm
