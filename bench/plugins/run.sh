#!/bin/sh
# Builds and runs bench_plugins on a 200 MB file, with RavelHTTP reading it
# from an nginx started here on 127.0.0.1.
#   bench/plugins/run.sh [BUILD_DIR]   (default: build-bench, as bench/run.sh)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-bench}
mkdir -p "$build"
build=$(cd "$build" && pwd)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOGMDECAPS_BENCH=ON >"$build/bench-configure.log" 2>&1 ||
  { tail -40 "$build/bench-configure.log"; exit 1; }
nice cmake --build "$build" -j2 --target bench_plugins >"$build/bench-build.log" 2>&1 ||
  { tail -40 "$build/bench-build.log"; exit 1; }
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$work/www"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1; pid $work/nginx.pid;
error_log $work/error.log; events { worker_connections 64; }
http {
  access_log off; sendfile on; tcp_nopush on;
  client_body_temp_path $work; proxy_temp_path $work; fastcgi_temp_path $work;
  uwsgi_temp_path $work; scgi_temp_path $work;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
nginx -e "$work/error.log" -p "$work" -c "$work/nginx.conf" &
pid=$!
i=0
until python3 -c "import socket; socket.create_connection(('127.0.0.1', $port))" 2>/dev/null; do
  i=$((i + 1)); [ $i -lt 100 ] || { echo "nginx did not start" >&2; exit 1; }; sleep 0.05
done
"$build/bin/bench_plugins" "$work/www/data.bin" "http://127.0.0.1:$port/data.bin"
