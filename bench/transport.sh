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
bench_name=transport
. bench/lib.sh

build=${1:-build/default}
runs=${RUNS:-5}
size_mb=${SIZE_MB:-1024}
bench=$build/bench/TransportBench
need_program "$bench" TransportBench
need_tools nginx curl openssl /usr/bin/time

make_scratch
mkdir -p "$scratch/www"
echo "transport: writing a ${size_mb} MiB file"
dd if=/dev/zero of="$scratch/www/big" bs=1M count="$size_mb" status=none

# A self-signed certificate for 127.0.0.1 that both clients are told to trust.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
  -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" \
  -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null

http_port=$(free_port)
https_port=$(free_port)
while [ "$https_port" = "$http_port" ]; do https_port=$(free_port); done
start_nginx "$http_port" "  server {
    listen 127.0.0.1:$https_port ssl;
    ssl_certificate $scratch/cert.pem;
    ssl_certificate_key $scratch/key.pem;
    ssl_protocols TLSv1.3;
    root $scratch/www;
  }
"

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
    rss=$(peak_rss_kib "$scratch/time.txt")
    best_ours=$(max "$best_ours" "$speed")
    best_curl=$(max "$best_curl" "$curl_speed")
    peak_rss=$(max "$peak_rss" "$rss")
  done
  report_vs_curl "$mode" "$best_ours" "$best_curl" "$peak_rss"
done
echo "targets: ours/curl >= 90 %, our peak RSS < 16 MiB (best of $runs runs, ${size_mb} MiB file)"
