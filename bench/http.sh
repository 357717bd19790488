#!/usr/bin/env bash
# Download speed of the "HTTP Get File" action beside curl: nginx serves a 1 GiB file on
# 127.0.0.1 over http; `quillon run` of a generated project (the action saving to a file) and
# `curl -o` fetch it in turns into the same folder, and the best of RUNS runs of each is kept.
# Every time is the whole program's wall time (the runner's start and project load included).
# Also prints the runner's peak RSS (from /usr/bin/time -v): the body must stream to the file.
# Targets: ours >= 95 % of curl, peak RSS < 32 MiB.
#
#   bench/http.sh [BUILD_DIR]     default build/default; RUNS=N changes the 5 runs,
#                                 SIZE_MB=N the 1024 MiB file, VERBOSE=1 prints every run
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
runs=${RUNS:-5}
size_mb=${SIZE_MB:-1024}
quillon=$build/apps/quillon/quillon
if [ ! -x "$quillon" ]; then
  echo "http: $quillon not found; build it first:" >&2
  echo "  cmake --preset default && cmake --build --preset default --target quillon" >&2
  exit 2
fi
for tool in nginx curl /usr/bin/time; do
  if ! command -v "$tool" >/dev/null && [ ! -x "$tool" ] && [ ! -x "/usr/sbin/$tool" ]; then
    echo "http: $tool is missing (scripts/bootstrap installs it)" >&2
    exit 2
  fi
done
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

scratch=$(mktemp -d /tmp/quillon-http-bench.XXXXXX)
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p "$scratch/www" "$scratch/logs" "$scratch/tmp" "$scratch/down" "$scratch/home"
# nginx's worker runs as an unprivileged user when started by root: it must reach the file.
chmod 755 "$scratch" "$scratch/www"
echo "http: writing a ${size_mb} MiB file"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$scratch/www/big"
chmod 644 "$scratch/www/big"

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$scratch/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $scratch/nginx.pid;
error_log $scratch/logs/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $scratch/tmp/body;
  proxy_temp_path $scratch/tmp/proxy;
  fastcgi_temp_path $scratch/tmp/fastcgi;
  uwsgi_temp_path $scratch/tmp/uwsgi;
  scgi_temp_path $scratch/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $scratch/www;
  }
}
EOF
"$nginx_bin" -p "$scratch" -c "$scratch/nginx.conf" -e "$scratch/logs/error.log" &
nginx_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" 2>/dev/null && break
  sleep 0.05
done
# Warm: the served file is read once before any timing.
cat "$scratch/www/big" >/dev/null

size_bytes=$((size_mb * 1024 * 1024))
url="http://127.0.0.1:$port/big"
dest="$scratch/down/big"

# The project: one action, Port set as well (it replaces the URL's port).
cat >"$scratch/http-bench.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<project name="http-bench">
  <actions>
    <action class="TMxInetHTTPGetAction">
      <property name="URL">$url</property>
      <property name="Port">$port</property>
      <property name="DownloadTo">dSaveToFile</property>
      <property name="DownloadToFile">$dest</property>
      <property name="OverwriteFile">true</property>
    </action>
  </actions>
</project>
EOF
# The runner's key file and option store stay in the scratch folder.
export XDG_CONFIG_HOME=$scratch/home
export QUILLON_KEY_FILE=$scratch/home/key

now() { date +%s.%N; }
# MB/s (10^6 bytes) of size_bytes over the wall time of the command.
timed() {
  local t0 t1
  t0=$(now)
  "$@" >"$scratch/out.txt" 2>&1 || {
    echo "http: failed: $*" >&2
    cat "$scratch/out.txt" >&2
    exit 1
  }
  t1=$(now)
  awk -v b="$size_bytes" -v a="$t0" -v z="$t1" 'BEGIN { printf "%.1f", b / (z - a) / 1e6 }'
}
check_size() {
  local got
  got=$(stat -c %s "$dest" 2>/dev/null || echo 0)
  if [ "$got" != "$size_bytes" ]; then
    echo "http: $1 left $got of $size_bytes bytes in $dest" >&2
    cat "$scratch/out.txt" >&2
    exit 1
  fi
}
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 > b + 0) ? a : b }'; }

ours() { /usr/bin/time -v -o "$scratch/time.txt" "$quillon" run --quiet "$scratch/http-bench.xml"; }
curl_get() { curl -s -o "$dest" "$url"; }

best_ours=0
best_curl=0
peak_rss=0
for _ in $(seq "$runs"); do
  # Turns alternate, so a change of load touches both clients alike; each starts without the
  # previous download on disk.
  rm -f "$dest"
  speed=$(timed ours)
  [ -n "${VERBOSE:-}" ] && echo "run: ours $speed MB/s" >&2
  check_size ours
  best_ours=$(max "$best_ours" "$speed")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): \([0-9]*\)/\1/p' "$scratch/time.txt")
  peak_rss=$(max "$peak_rss" "$rss")

  rm -f "$dest"
  speed=$(timed curl_get)
  [ -n "${VERBOSE:-}" ] && echo "run: curl $speed MB/s" >&2
  check_size curl
  best_curl=$(max "$best_curl" "$speed")
done
rm -f "$dest"

awk -v o="$best_ours" -v c="$best_curl" -v r="$peak_rss" 'BEGIN {
  printf "http   ours %8.1f MB/s   curl %8.1f MB/s   ours/curl %5.1f %%   our peak RSS %.1f MiB\n",
         o, c, 100 * o / c, r / 1024 }'
echo "targets: ours/curl >= 95 %, our peak RSS < 32 MiB (best of $runs runs, ${size_mb} MiB file)"
