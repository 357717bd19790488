#!/usr/bin/env bash
# FTP transfer speed of TIdFTP beside curl and lftp: vsftpd on 127.0.0.1 (the tests' launcher)
# serves a 1 GiB file; each client downloads it to the same file in /tmp and uploads the same
# local file, passive and binary, with the page cache warm. Turns alternate and the best of
# RUNS runs of each is kept; every time is the whole program's wall time, login included.
# Then a throttled upload through the data-channel hook (as the upload action sets it) at
# 1 MiB/s, with its measured rate. Targets: ours >= 95 % of the faster tool; throttle +-5 %.
#
#   bench/ftp.sh [BUILD_DIR]     default build/default; RUNS=N changes the 5 runs, SIZE_MB=N
#                                the 1024 MiB file, THROTTLE_MB=N the 8 MiB throttled upload.
# Needs root (vsftpd) and scripts/bootstrap --bench (vsftpd, lftp, curl, the user quillon-ftp).
set -euo pipefail
cd "$(dirname "$0")/.."
bench_name=ftp
. bench/lib.sh

build=${1:-build/default}
runs=${RUNS:-5}
size_mb=${SIZE_MB:-1024}
throttle_mb=${THROTTLE_MB:-8}
bench=$build/bench/FtpBench
need_program "$bench" FtpBench
need_tools curl lftp /usr/sbin/vsftpd

user=quillon-ftp
password=quillon-ftp-pw
# The session user must reach the served root (make_scratch opens the folder to it).
make_scratch
mkdir -p "$scratch/root" "$scratch/state" "$scratch/local"

port=$(free_port)
echo "ftp: writing a ${size_mb} MiB file"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$scratch/root/big"
cp "$scratch/root/big" "$scratch/local/up"
start_vsftpd "$port" "$user" "$password"
# Warm: the served file and the local upload source are read once before any timing.
cat "$scratch/root/big" "$scratch/local/up" >/dev/null

size_bytes=$((size_mb * 1024 * 1024))
url="ftp://127.0.0.1:$port"
dest="$scratch/local/down"

ours_get() { "$bench" get 127.0.0.1 "$port" "$user" "$password" big "$dest"; }
curl_get() { curl -s --epsv -o "$dest" "$url/big" --user "$user:$password"; }
lftp_get() {
  lftp -e "set ftp:passive-mode on; set xfer:clobber on; get big -o $dest; bye" -u "$user,$password" -p "$port" 127.0.0.1
}
ours_put() { "$bench" put 127.0.0.1 "$port" "$user" "$password" up "$scratch/local/up"; }
curl_put() { curl -s --epsv -T "$scratch/local/up" "$url/up" --user "$user:$password"; }
lftp_put() {
  lftp -e "set ftp:passive-mode on; put $scratch/local/up -o up; bye" -u "$user,$password" -p "$port" 127.0.0.1
}

for direction in get put; do
  best_ours=0 best_curl=0 best_lftp=0
  for _ in $(seq "$runs"); do
    for client in ours curl lftp; do
      rm -f "$dest" "$scratch/root/up"
      speed=$(timed "${client}_$direction")
      if [ "$direction" = get ]; then check_size "$dest" "$client"; else check_size "$scratch/root/up" "$client"; fi
      eval "best_$client=\$(max \"\$best_$client\" \"$speed\")"
    done
  done
  awk -v d="$direction" -v o="$best_ours" -v c="$best_curl" -v l="$best_lftp" 'BEGIN {
    f = c > l ? c : l
    printf "%-4s ours %8.1f MB/s   curl %8.1f MB/s   lftp %8.1f MB/s   ours/faster %5.1f %%\n",
           d, o, c, l, 100 * o / f }'
done

# The throttled upload: the rate the server saw, over the transfer alone.
head -c $((throttle_mb * 1024 * 1024)) "$scratch/local/up" >"$scratch/local/small"
out=$("$bench" --throttle 1048576 put 127.0.0.1 "$port" "$user" "$password" small "$scratch/local/small")
seconds=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$out")
awk -v s="$seconds" -v b=$((throttle_mb * 1024 * 1024)) 'BEGIN {
  r = b / s / 1048576
  printf "throttled put at 1 MiB/s: %.3f MiB/s (%+.1f %%) over %.2f s\n", r, 100 * (r - 1), s }'
echo "targets: ours/faster >= 95 %, throttled rate within 5 % (best of $runs runs, ${size_mb} MiB file)"
