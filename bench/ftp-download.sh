#!/usr/bin/env bash
# Download through the actions beside curl and lftp: vsftpd on 127.0.0.1 (the tests' launcher)
# serves a 1 GiB file; `quillon run` of a generated project (FTP Connect, then FTP Download file
# with overwrite) and each tool fetch it to the same file in /tmp, passive and binary, with the
# page cache warm. Turns alternate and the best of RUNS runs of each is kept; every time is the
# whole program's wall time (the runner's start, project load and login included).
# Target: ours >= 1.0 x the faster tool.
#
#   bench/ftp-download.sh [BUILD_DIR]   default build/default; RUNS=N changes the 5 runs,
#                                       SIZE_MB=N the 1024 MiB file.
# Needs root (vsftpd) and scripts/bootstrap --bench (vsftpd, lftp, curl, the user quillon-ftp).
set -euo pipefail
cd "$(dirname "$0")/.."
bench_name=ftp-download
. bench/lib.sh

build=${1:-build/default}
runs=${RUNS:-5}
size_mb=${SIZE_MB:-1024}
quillon=$build/apps/quillon/quillon
need_program "$quillon" quillon
need_tools curl lftp /usr/sbin/vsftpd

user=quillon-ftp
password=quillon-ftp-pw
make_scratch
mkdir -p "$scratch/root" "$scratch/state" "$scratch/local" "$scratch/home"

port=$(free_port)
echo "$bench_name: writing a ${size_mb} MiB file"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$scratch/root/big"
start_vsftpd "$port" "$user" "$password"
cat "$scratch/root/big" >/dev/null

size_bytes=$((size_mb * 1024 * 1024))
url="ftp://127.0.0.1:$port"
dest="$scratch/local/big"

# The runner's key file and option store stay in the scratch folder; the project holds the
# password in its stored form.
export XDG_CONFIG_HOME=$scratch/home
export QUILLON_KEY_FILE=$scratch/home/key
cookie=$(printf '%s\n' "$password" | "$quillon" secret --for TFTPConnectionAction)
cat >"$scratch/download.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<project name="ftp-download-bench">
  <actions>
    <action class="TFTPConnectionAction">
      <property name="FTPConnectionName">Bench</property>
      <property name="FTPHost">127.0.0.1</property>
      <property name="FTPPort">$port</property>
      <property name="UserID">$user</property>
      <property name="Cookie">$cookie</property>
      <property name="Passive">true</property>
    </action>
    <action class="TFTPDownloadFileAction">
      <property name="ConnectionName">Bench</property>
      <property name="FileName">big</property>
      <property name="UseFileName">true</property>
      <property name="DownloadDir">$scratch/local</property>
      <property name="AllowOverwrite">true</property>
    </action>
  </actions>
</project>
EOF

ours_get() { "$quillon" run --quiet "$scratch/download.xml"; }
curl_get() { curl -s --epsv -o "$dest" "$url/big" --user "$user:$password"; }
lftp_get() {
  lftp -e "set ftp:passive-mode on; set xfer:clobber on; get big -o $dest; bye" -u "$user,$password" -p "$port" 127.0.0.1
}

best_ours=0 best_curl=0 best_lftp=0
for run in $(seq "$runs"); do
  for client in ours curl lftp; do
    rm -f "$dest"
    speed=$(timed "${client}_get")
    [ -n "${VERBOSE:-}" ] && echo "run: $client $speed MB/s" >&2
    check_size "$dest" "$client"
    # Once, outside the timing: the action's copy is the server's file.
    if [ "$client" = ours ] && [ "$run" = 1 ] && ! cmp -s "$dest" "$scratch/root/big"; then
      echo "$bench_name: the downloaded file differs from the server's" >&2
      exit 1
    fi
    eval "best_$client=\$(max \"\$best_$client\" \"$speed\")"
  done
done
rm -f "$dest"
awk -v o="$best_ours" -v c="$best_curl" -v l="$best_lftp" 'BEGIN {
  f = c > l ? c : l
  printf "get  ours %8.1f MB/s   curl %8.1f MB/s   lftp %8.1f MB/s   ours/faster %5.2f x\n", o, c, l, o / f }'
echo "target: ours/faster >= 1.0 x (best of $runs runs, ${size_mb} MiB file, through quillon run)"
