#!/usr/bin/env bash
# Download speed of our transport beside curl: nginx serves a 1 GiB file on 127.0.0.1 over
# http and https (a throw-away certificate, verified by both clients); TransportBench and
# `curl -o /dev/null` fetch it in turns, and the best of RUNS runs of each is compared.
# Also prints our peak RSS (from /usr/bin/time -v). Targets: ours/curl >= 90 %, RSS < 16 MiB.
#
#   bench/transport.sh [BUILD_DIR]     default build/default; RUNS=N changes the 5 runs,
#                                      SIZE_MB=N the 1024 MiB file
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
runs=${RUNS:-5}
size_mb=${SIZE_MB:-1024}
bench=$build/bench/TransportBench
if [ ! -x "$bench" ]; then
  echo "transport: $bench not found; build it first:" >&2
  echo "  cmake --preset default && cmake --build --preset default --target TransportBench" >&2
  exit 2
fi
for tool in nginx curl openssl /usr/bin/time; do
  if ! command -v "$tool" >/dev/null && [ ! -x "$tool" ]; then
    echo "transport: $tool is missing (scripts/bootstrap installs it)" >&2
    exit 2
  fi
done
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

scratch=$(mktemp -d)
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p "$scratch/www" "$scratch/logs" "$scratch/tmp"
# nginx's worker runs as an unprivileged user when started by root: it must reach the file.
chmod 755 "$scratch" "$scratch/www"
echo "transport: writing a ${size_mb} MiB file"
dd if=/dev/zero of="$scratch/www/big" bs=1M count="$size_mb" status=none

# A self-signed certificate for 127.0.0.1 that both clients are told to trust.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
  -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" \
  -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
http_port=$(free_port)
https_port=$(free_port)
while [ "$https_port" = "$http_port" ]; do https_port=$(free_port); done

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
    listen 127.0.0.1:$http_port;
    root $scratch/www;
  }
  server {
    listen 127.0.0.1:$https_port ssl;
    ssl_certificate $scratch/cert.pem;
    ssl_certificate_key $scratch/key.pem;
    ssl_protocols TLSv1.3;
    root $scratch/www;
  }
}
EOF
"$nginx_bin" -p "$scratch" -c "$scratch/nginx.conf" -e "$scratch/logs/error.log" &
nginx_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$http_port/" 2>/dev/null && break
  sleep 0.05
done

size_bytes=$((size_mb * 1024 * 1024))
best_ours=0
best_curl=0
peak_rss=0

# MB/s (10^6 bytes) of one TransportBench run; its peak RSS (KiB) goes to rss.
run_ours() {
  local args=("$@") out
  out=$(/usr/bin/time -v "$bench" "${args[@]}" 2>"$scratch/time.txt")
  bytes=$(sed -n 's/.*bytes=\([0-9]*\).*/\1/p' <<<"$out")
  if [ "$bytes" != "$size_bytes" ]; then
    echo "transport: TransportBench read $bytes of $size_bytes bytes" >&2
    cat "$scratch/time.txt" >&2
    exit 1
  fi
  sed -n 's/.*mbps=\([0-9.]*\).*/\1/p' <<<"$out"
}

run_curl() {
  local speed
  speed=$(curl -s -o /dev/null -w '%{speed_download}' "$@")
  awk -v s="$speed" 'BEGIN { printf "%.1f", s / 1e6 }'
}

max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 > b + 0) ? a : b }'; }

report() {
  local name=$1 ours=$2 curl_speed=$3 rss_kib=$4
  awk -v n="$name" -v o="$ours" -v c="$curl_speed" -v r="$rss_kib" 'BEGIN {
    printf "%-6s ours %8.1f MB/s   curl %8.1f MB/s   ours/curl %5.1f %%   our peak RSS %.1f MiB\n",
           n, o, c, 100 * o / c, r / 1024 }'
}

for mode in http https; do
  best_ours=0
  best_curl=0
  peak_rss=0
  for _ in $(seq "$runs"); do
    # Turns alternate, so a change of load touches both clients alike.
    if [ "$mode" = http ]; then
      speed=$(run_ours 127.0.0.1 "$http_port" /big)
      curl_speed=$(run_curl "http://127.0.0.1:$http_port/big")
    else
      speed=$(run_ours --tls --ca "$scratch/cert.pem" 127.0.0.1 "$https_port" /big)
      curl_speed=$(run_curl --cacert "$scratch/cert.pem" "https://127.0.0.1:$https_port/big")
    fi
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): \([0-9]*\)/\1/p' "$scratch/time.txt")
    best_ours=$(max "$best_ours" "$speed")
    best_curl=$(max "$best_curl" "$curl_speed")
    peak_rss=$(max "$peak_rss" "$rss")
  done
  report "$mode" "$best_ours" "$best_curl" "$peak_rss"
done
echo "targets: ours/curl >= 90 %, our peak RSS < 16 MiB (best of $runs runs, ${size_mb} MiB file)"
