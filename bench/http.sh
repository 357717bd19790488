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
bench_name=http
. bench/lib.sh

build=${1:-build/default}
runs=${RUNS:-5}
size_mb=${SIZE_MB:-1024}
quillon=$build/apps/quillon/quillon
need_program "$quillon" quillon
need_tools nginx curl /usr/bin/time

make_scratch
mkdir -p "$scratch/www" "$scratch/down" "$scratch/home"
echo "http: writing a ${size_mb} MiB file"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$scratch/www/big"
chmod 644 "$scratch/www/big"

port=$(free_port)
start_nginx "$port"
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
  check_size "$dest" ours
  best_ours=$(max "$best_ours" "$speed")
  rss=$(peak_rss_kib "$scratch/time.txt")
  peak_rss=$(max "$peak_rss" "$rss")

  rm -f "$dest"
  speed=$(timed curl_get)
  [ -n "${VERBOSE:-}" ] && echo "run: curl $speed MB/s" >&2
  check_size "$dest" curl
  best_curl=$(max "$best_curl" "$speed")
done
rm -f "$dest"

report_vs_curl http "$best_ours" "$best_curl" "$peak_rss"
echo "targets: ours/curl >= 95 %, our peak RSS < 32 MiB (best of $runs runs, ${size_mb} MiB file)"
