#!/usr/bin/env bash
# The "FTP Upload" action run by `quillon run` beside curl and lftp on vsftpd (the tests'
# launcher) on 127.0.0.1, passive and binary; every time is the whole program's wall time, login
# included, best of RUNS runs:
#   1. one 1 GiB file (page cache warm): ours >= the faster of curl and lftp;
#   2. throttled uploads at 64 KiB/s and 8 MiB/s: the rate within 5 % of the set one;
#   3. a tree of 10,000 files of 1 KiB in 100 folders: the first upload against
#      `lftp mirror -R` (no slower), then a second, only-if-changed run that sends nothing against
#      `lftp mirror -R --only-newer` (at most half its time).
#
#   bench/ftp-upload.sh [BUILD_DIR]   default build/default; RUNS=N changes the 3 runs, SIZE_MB=N
#                                     the 1024 MiB file, FILES=N the 10,000 files of the tree.
# Needs root (vsftpd) and scripts/bootstrap --bench (vsftpd, lftp, curl, the user quillon-ftp).
set -euo pipefail
cd "$(dirname "$0")/.."
bench_name=ftp-upload
. bench/lib.sh

build=${1:-build/default}
runs=${RUNS:-3}
size_mb=${SIZE_MB:-1024}
files=${FILES:-10000}
quillon=$build/apps/quillon/quillon
need_program "$quillon" quillon
need_tools curl lftp /usr/sbin/vsftpd

user=quillon-ftp
password=quillon-ftp-pw
make_scratch
mkdir -p "$scratch/root" "$scratch/state" "$scratch/local/tree"
export QUILLON_KEY_FILE=$scratch/key XDG_STATE_HOME=$scratch/state-home

port=$(free_port)
start_vsftpd "$port" "$user" "$password"
cookie=$(printf '%s\n' "$password" | "$quillon" secret --for TFTPConnectionAction)

# project FILE REMOTE_DIR LOCAL_DIR SPEC [PROPERTY=VALUE...]: connect, change to REMOTE_DIR, upload.
project() {
  local file=$1 remote=$2 local_dir=$3 spec=$4 extra="" kv
  shift 4
  for kv in "$@"; do extra+="<property name=\"${kv%%=*}\">${kv#*=}</property>"; done
  cat >"$file" <<XML
<project name="bench">
  <actions>
    <action class="TFTPConnectionAction">
      <property name="FTPConnectionName">B</property><property name="FTPHost">127.0.0.1</property>
      <property name="FTPPort">$port</property><property name="UserID">$user</property>
      <property name="Cookie">$cookie</property><property name="Passive">true</property>
    </action>
    <action class="TFTPChangeDirAction">
      <property name="ConnectionName">B</property><property name="RemoteDir">$remote</property>
    </action>
    <action class="TFTPUploadFileAction">
      <property name="ConnectionName">B</property><property name="LocalDir">$local_dir</property>
      <property name="FileSpec">$spec</property>$extra
    </action>
  </actions>
</project>
XML
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 < b + 0) ? a : b }'; }

# --- 1. one large file
echo "$bench_name: writing a ${size_mb} MiB file"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$scratch/local/up"
cat "$scratch/local/up" >/dev/null
size_bytes=$((size_mb * 1024 * 1024))
mkdir -p "$scratch/root/big"
project "$scratch/big.xml" /big "$scratch/local" up
ours_put() { "$quillon" run "$scratch/big.xml" --quiet --no-state; }
curl_put() { curl -s --epsv -T "$scratch/local/up" "ftp://127.0.0.1:$port/big/up" --user "$user:$password"; }
lftp_put() {
  lftp -e "set ftp:passive-mode on; put $scratch/local/up -o big/up; bye" -u "$user,$password" -p "$port" 127.0.0.1
}
best_ours=0 best_curl=0 best_lftp=0
for _ in $(seq "$runs"); do
  for client in ours curl lftp; do
    rm -f "$scratch/root/big/up"
    speed=$(timed "${client}_put")
    check_size "$scratch/root/big/up" "$client"
    eval "best_$client=\$(max \"\$best_$client\" \"$speed\")"
  done
done
awk -v o="$best_ours" -v c="$best_curl" -v l="$best_lftp" 'BEGIN {
  f = c > l ? c : l
  printf "1 GiB upload       ours %8.1f MB/s   curl %8.1f MB/s   lftp %8.1f MB/s   ours/faster %.2f x\n",
         o, c, l, o / f }'
rm -f "$scratch/local/up" "$scratch/root/big/up"

# --- 2. throttled: about eight seconds of transfer each
for kib in 64 8192; do
  head -c $((kib * 1024 * 8)) /dev/urandom >"$scratch/local/slow"
  project "$scratch/slow.xml" /big "$scratch/local" slow ThrottleUpload=true ThrottleSpeed=$kib
  best=""
  for _ in $(seq "$runs"); do
    rm -f "$scratch/root/big/slow"
    s=$(seconds "$quillon" run "$scratch/slow.xml" --quiet --no-state)
    best=${best:-$s}
    # The run closest to the set rate counts; the login is part of the time.
    best=$(awk -v a="$best" -v b="$s" 'BEGIN { print ((a - 8) ^ 2 < (b - 8) ^ 2) ? a : b }')
  done
  awk -v s="$best" -v k="$kib" 'BEGIN {
    r = k * 8 / s
    printf "throttled %5d KiB/s: %9.1f KiB/s (%+.1f %%) over %.2f s\n", k, r, 100 * (r - k) / k, s }'
done

# --- 3. a tree of small files, then an only-if-changed run that sends nothing
echo "$bench_name: writing $files files of 1 KiB in 100 folders"
# Written well before the server's copies: the only-if-changed rule may skip them.
write_small_tree "$scratch/local/tree" "$files"
mirror_first=999999 mirror_second=999999 ours_first=999999 ours_second=999999
for run in $(seq "$runs"); do
  rm -rf "$scratch/root/m" "$scratch/root/q" "$XDG_STATE_HOME"
  mkdir -p "$scratch/root/q"
  s=$(seconds lftp -e "set ftp:passive-mode on; mirror -R $scratch/local/tree m; bye" -u "$user,$password" -p "$port" 127.0.0.1)
  mirror_first=$(min "$mirror_first" "$s")
  s=$(seconds lftp -e "set ftp:passive-mode on; mirror -R --only-newer $scratch/local/tree m; bye" -u "$user,$password" -p "$port" 127.0.0.1)
  mirror_second=$(min "$mirror_second" "$s")
  project "$scratch/tree.xml" /q "$scratch/local/tree" '*.*' Recursive=true UpdateOnly=true
  s=$(seconds "$quillon" run "$scratch/tree.xml" --quiet)
  ours_first=$(min "$ours_first" "$s")
  got=$(find "$scratch/root/q" -type f | wc -l)
  [ "$got" = "$files" ] || { echo "$bench_name: the first run left $got of $files files" >&2; exit 1; }
  s=$(seconds "$quillon" run "$scratch/tree.xml")
  grep -q "Uploading File" "$scratch/out.txt" && { echo "$bench_name: the second run sent files" >&2; exit 1; }
  ours_second=$(min "$ours_second" "$s")
done
awk -v o="$ours_first" -v l="$mirror_first" 'BEGIN {
  printf "tree, first run    ours %7.2f s   lftp mirror -R              %7.2f s   ours/lftp %.2f\n", o, l, o / l }'
awk -v o="$ours_second" -v l="$mirror_second" 'BEGIN {
  printf "tree, unchanged    ours %7.2f s   lftp mirror -R --only-newer  %7.2f s   ours/lftp %.2f\n", o, l, o / l }'
echo "targets: 1 GiB ours/faster >= 1.0; throttle within 5 %; tree first run ours/lftp <= 1.0, unchanged <= 0.5 (best of $runs)"
