# shellcheck shell=bash
# Steps the scripts share (sourced, not run): the packages, the builds,
# nginx on loopback, sample files, wine.
#
#   install_deps [PACKAGE...]   the project's Debian packages and these, when missing
#   cmake_configure DIR [OPTION...]    configures a build of the tree in DIR
#   cmake_build DIR [TARGET...]        builds it (everything, or those targets)
#   free_port                   prints a TCP port free on 127.0.0.1
#   nginx_serve DIR WWW [CONF]  serves WWW over HTTP on 127.0.0.1
#   make_ogm OUT SECONDS SIZE GOP AUDIO   an ogmmerge file from ffmpeg's sources
#   make_sample BUILD OUT       the demo's sample: make_ogm plus chapters
#   wine_env BITS, wine_start   wine for the Windows builds, one server per run
#   at_exit COMMAND             runs COMMAND when the script exits
# and $ogm_root, the top of the tree.

# shellcheck source=scripts/apt.sh
. "$(dirname "${BASH_SOURCE[0]}")/apt.sh"
ogm_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

at_exit_commands=()
run_at_exit() {  # the last registered first
  local i
  for ((i = ${#at_exit_commands[@]} - 1; i >= 0; i--)); do eval "${at_exit_commands[i]}" || true; done
}
at_exit() {
  at_exit_commands+=("$1")
  trap run_at_exit EXIT
}

# What the build, the tests, the demo and the Windows comparison need;
# OGMDECAPS_EXTRA_PACKAGES names more (the benchmarks' tools).
install_deps() {
  local packages=(
    build-essential cmake pkg-config git
    libogg-dev libvorbisidec-dev libcurl4-openssl-dev
    libgtest-dev
    libvorbis-dev ogmtools ffmpeg nginx-light openssl binutils python3 strace time
    clang-14 libclang-rt-14-dev clang-format
    "$@"
  )
  local extra=()
  [ -n "${OGMDECAPS_EXTRA_PACKAGES:-}" ] && read -r -a extra <<<"$OGMDECAPS_EXTRA_PACKAGES"
  apt_install "${packages[@]}" "${extra[@]}"
}

# The build type is BUILD_TYPE (default RelWithDebInfo); cmake's output goes
# to DIR.configure.log, shown only when it fails. CC and CXX choose the
# compilers as usual.
cmake_configure() {
  local dir=$1
  shift
  mkdir -p "$(dirname "$dir")"
  cmake -S "$ogm_root" -B "$dir" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
}

cmake_build() {  # JOBS sets the build jobs (default 2)
  local dir=$1
  shift
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  nice cmake --build "$dir" -j"${JOBS:-2}" "${targets[@]}"
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# nginx_serve DIR WWW [CONF]: an nginx of its own (configuration, pid, logs
# and temporary files in DIR) serving the folder WWW at
# http://127.0.0.1:$nginx_port/, until the script exits. CONF is more of its
# http block (another server, say). DIR/logs/access.log has a line per
# request: the URI, the status, the body bytes and all bytes sent. Returns
# once every port the configuration listens on accepts connections.
nginx_serve() {
  local dir=$1 www=$2 conf=${3:-}
  nginx_port=$(free_port)
  mkdir -p "$dir/logs" "$dir/tmp"
  cat >"$dir/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1; pid $dir/nginx.pid;
error_log $dir/logs/error.log;
events { worker_connections 64; }
http {
  client_body_temp_path $dir/tmp/body; proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi; uwsgi_temp_path $dir/tmp/uwsgi; scgi_temp_path $dir/tmp/scgi;
  log_format bytes '\$request_uri \$status \$body_bytes_sent \$bytes_sent';
  access_log $dir/logs/access.log bytes;
  sendfile on;
  server { listen 127.0.0.1:$nginx_port; root $www; }
  $conf
}
CONF
  nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log" &
  local pid=$!
  at_exit "kill $pid 2>/dev/null; wait $pid 2>/dev/null"
  local p
  for p in $(grep -o 'listen 127\.0\.0\.1:[0-9]*' "$dir/nginx.conf" | cut -d: -f2); do
    for _ in $(seq 100); do
      (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && continue 2
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    echo "nginx did not start; see $dir/logs/error.log" >&2
    return 1
  done
}

# make_ogm OUT SECONDS SIZE GOP AUDIO: XVID video of ffmpeg's test picture
# (SIZE, 25 frames a second, a keyframe every GOP frames, no B-frames) and
# 44.1 kHz stereo AUDIO (vorbis or mp3), merged by ogmmerge, video first.
# The audio is a tone under pink noise: it keeps the Vorbis bitrate (and so
# the page rate) at what real audio gives.
make_ogm() {
  local out=$1 seconds=$2 size=$3 gop=$4 audio=$5
  local tmp=$out.parts
  mkdir -p "$tmp"
  local ff=(ffmpeg -hide_banner -nostdin -loglevel error -y)
  "${ff[@]}" -f lavfi -i "testsrc=size=$size:rate=25" -t "$seconds" -c:v mpeg4 -vtag XVID -g "$gop" -bf 0 \
    "$tmp/v.avi"
  # (MP3: MPEG audio frames only, no ID3 tag and no Xing frame.)
  local codec=(-c:a libvorbis -q:a 3) ext=ogg
  [ "$audio" = mp3 ] && codec=(-c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0) ext=mp3
  "${ff[@]}" -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.1:sample_rate=44100:duration=$seconds" \
    -filter_complex "[0][1]amix=inputs=2,pan=stereo|c0=c0|c1=c0" "${codec[@]}" "$tmp/a.$ext"
  ogmmerge -o "$out" "$tmp/v.avi" "$tmp/a.$ext" >"$tmp/ogmmerge.log" 2>&1 || { cat "$tmp/ogmmerge.log"; return 1; }
  rm -rf "$tmp"
}

# make_sample BUILD OUT: 60 s of 320x240 video, Vorbis audio and three
# chapters. ogmmerge's own chapter option is not used (it corrupts memory):
# BUILD's ogm_set_chapters rewrites the video comment packet instead.
make_sample() {
  local build=$1 out=$2
  make_ogm "$out.merged" 60 320x240 50 vorbis
  "$build/bin/ogm_set_chapters" "$out.merged" "$out" \
    00:00:00.000=Opening 00:00:20.000="Middle part" 00:00:45.500=Finale
  rm -f "$out.merged"
}

# wine_env BITS: $wine, the loader for a BITS-bit build, named directly:
# Debian's "wine" command picks the 32-bit loader whenever wine32 is
# installed, also for a 64-bit program, and so fails on a machine that has
# wine32 but cannot run 32-bit programs. The 32-bit build gets a 32-bit
# Windows folder of its own (out/wineprefix32): its programs run as on a
# 32-bit Windows, not beside 64-bit ones.
wine_env() {
  local bits=$1 tag=""
  wine=/usr/lib/wine/wine64
  [ "$bits" = 64 ] || { wine=/usr/lib/wine/wine tag=32; }
  export WINELOADER=$wine
  # wine takes the Unix side's names (arguments, paths) as UTF-8 only in a
  # UTF-8 locale; no Mono or Gecko install prompts in a fresh prefix.
  export LC_ALL=C.UTF-8
  export WINEPREFIX=$ogm_root/out/wineprefix$tag WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  [ "$bits" = 64 ] || export WINEARCH=win32
}

# wine_start: one wine server for the rest of the script (test discovery at
# build time included), instead of one started and stopped for every program.
wine_start() {
  "$wine" --version >/dev/null 2>&1 || { echo "$wine does not start" >&2; return 1; }
  "$wine" wineboot.exe -i >/dev/null 2>&1 || true
  wineserver -p 2>/dev/null || true  # (a server already running for the prefix is fine)
  at_exit 'wineserver -k 2>/dev/null'
}
