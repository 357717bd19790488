#!/usr/bin/env bash
# The "FTP Mirror" action run by `quillon run` beside `lftp -e "mirror -R"` on the same loopback
# server and the same tree of 10,000 files of 1 KiB in 100 folders, on vsftpd (LIST only) and
# proftpd (MLSD), passive; every time is the whole program's wall time, login included, best of
# RUNS runs:
#   1. the first mirror to an empty server: ours no slower than lftp;
#   2. a second mirror with nothing changed (sizes and dates compared): ours at most half of
#      lftp's time on vsftpd, and no slower than lftp on proftpd.
#
#   bench/ftp-mirror.sh [BUILD_DIR]   default build/default; RUNS=N changes the 3 runs, FILES=N
#                                     the 10,000 files, SERVERS="vsftpd proftpd" the servers.
# Needs root (the servers drop to the user quillon-ftp) and scripts/bootstrap --bench.
set -euo pipefail
cd "$(dirname "$0")/.."
bench_name=ftp-mirror
. bench/lib.sh

build=${1:-build/default}
runs=${RUNS:-3}
files=${FILES:-10000}
servers=${SERVERS:-vsftpd proftpd}
quillon=$build/apps/quillon/quillon
need_program "$quillon" quillon
need_tools curl lftp /usr/sbin/vsftpd

user=quillon-ftp
password=quillon-ftp-pw
make_scratch
mkdir -p "$scratch/local/tree"
export QUILLON_KEY_FILE=$scratch/key XDG_STATE_HOME=$scratch/state-home
cookie=$(printf '%s\n' "$password" | "$quillon" secret --for TFTPConnectionAction)

# start_server NAME PORT: a fresh root served by that server.
start_server() {
  rm -rf "$scratch/root" "$scratch/state"
  start_ftp_server "$1" "$2" "$user" "$password"
}
stop_server() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}

# project FILE PORT REMOTE_DIR: connect, then mirror the local tree to REMOTE_DIR by size and date.
project() {
  cat >"$1" <<XML
<project name="bench">
  <actions>
    <action class="TFTPConnectionAction">
      <property name="FTPConnectionName">B</property><property name="FTPHost">127.0.0.1</property>
      <property name="FTPPort">$2</property><property name="UserID">$user</property>
      <property name="Cookie">$cookie</property><property name="Passive">true</property>
    </action>
    <action class="TFTPMirrorAction">
      <property name="ConnectionName">B</property><property name="MirrorOperation">moLocalToRemote</property>
      <property name="LocalDir">$scratch/local/tree</property>
      <property name="SpecifyRemoteDir">true</property><property name="RemoteDir">$3</property>
      <property name="Recursive">true</property><property name="DeleteOrphans">true</property>
      <property name="CheckFileSize">true</property><property name="CheckFileDate">true</property>
    </action>
  </actions>
</project>
XML
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 < b + 0) ? a : b }'; }

echo "$bench_name: writing $files files of 1 KiB in 100 folders"
write_small_tree "$scratch/local/tree" "$files"

lftp_mirror() {
  lftp -e "set ftp:passive-mode on; set net:max-retries 1; mirror -R --delete $scratch/local/tree $1; bye" \
    -u "$user,$password" -p "$port" 127.0.0.1
}
count() { find "$scratch/root/$1" -type f | wc -l; }

for kind in $servers; do
  port=$(free_port)
  start_server "$kind" "$port"
  project "$scratch/mirror.xml" "$port" /q
  ours_first=999999 ours_again=999999 lftp_first=999999 lftp_again=999999
  for _ in $(seq "$runs"); do
    rm -rf "$scratch/root/l" "$scratch/root/q"
    mkdir -p "$scratch/root/q"
    s=$(seconds lftp_mirror l)
    lftp_first=$(min "$lftp_first" "$s")
    s=$(seconds lftp_mirror l)
    lftp_again=$(min "$lftp_again" "$s")
    [ "$(count l)" = "$files" ] || { echo "$bench_name: lftp left $(count l) of $files files" >&2; exit 1; }

    s=$(seconds "$quillon" run "$scratch/mirror.xml" --quiet)
    ours_first=$(min "$ours_first" "$s")
    [ "$(count q)" = "$files" ] || { echo "$bench_name: the first mirror left $(count q) of $files files" >&2; exit 1; }
    s=$(seconds "$quillon" run "$scratch/mirror.xml")
    grep -q "Successfully uploaded 0 items." "$scratch/out.txt" ||
      { echo "$bench_name: the second mirror sent files" >&2; cat "$scratch/out.txt" >&2; exit 1; }
    ours_again=$(min "$ours_again" "$s")
  done
  stop_server
  awk -v k="$kind" -v o="$ours_first" -v l="$lftp_first" 'BEGIN {
    printf "%-8s first mirror   ours %7.2f s   lftp mirror -R %7.2f s   ours/lftp %.2f\n", k, o, l, o / l }'
  awk -v k="$kind" -v o="$ours_again" -v l="$lftp_again" 'BEGIN {
    printf "%-8s nothing new    ours %7.2f s   lftp mirror -R %7.2f s   ours/lftp %.2f\n", k, o, l, o / l }'
done
echo "targets: first mirror ours/lftp <= 1.0; nothing new <= 0.5 on vsftpd, <= 1.0 on proftpd (best of $runs)"
