#!/usr/bin/env bash
# The "FTP Client (DEPRECATED)" script action beside the session actions (FTP Connect, then FTP
# Upload or FTP Download file) on vsftpd (the tests' launcher) on 127.0.0.1, passive and binary:
# one 1 GiB file up and down, page cache warm, each a generated project run by `quillon run`.
# Turns alternate and the best of RUNS runs of each is kept; every time is the whole program's
# wall time (the runner's start, project load and login included).
# Target: script action >= 0.95 x the session actions, both directions.
#
#   bench/ftp-script.sh [BUILD_DIR]   default build/default; RUNS=N changes the 6 runs, SIZE_MB=N
#                                     the 1024 MiB file.
# Needs root (vsftpd) and scripts/bootstrap --bench (vsftpd, curl, the user quillon-ftp).
set -euo pipefail
cd "$(dirname "$0")/.."
bench_name=ftp-script
. bench/lib.sh

build=${1:-build/default}
runs=${RUNS:-6}
size_mb=${SIZE_MB:-1024}
quillon=$build/apps/quillon/quillon
need_program "$quillon" quillon
need_tools curl /usr/sbin/vsftpd

user=quillon-ftp
password=quillon-ftp-pw
make_scratch
mkdir -p "$scratch/root/up" "$scratch/state" "$scratch/local"
export QUILLON_KEY_FILE=$scratch/key XDG_STATE_HOME=$scratch/state-home XDG_CONFIG_HOME=$scratch/config

port=$(free_port)
echo "$bench_name: writing a ${size_mb} MiB file"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$scratch/local/big"
cp "$scratch/local/big" "$scratch/root/big"
start_vsftpd "$port" "$user" "$password"
cat "$scratch/local/big" "$scratch/root/big" >/dev/null
size_bytes=$((size_mb * 1024 * 1024))

cookie=$(printf '%s\n' "$password" | "$quillon" secret --for TFTPConnectionAction)
stored=$(printf '%s\n' "$password" | "$quillon" secret --for TFTPAction)
connect="<action class=\"TFTPConnectionAction\">
      <property name=\"FTPConnectionName\">B</property><property name=\"FTPHost\">127.0.0.1</property>
      <property name=\"FTPPort\">$port</property><property name=\"UserID\">$user</property>
      <property name=\"Cookie\">$cookie</property><property name=\"Passive\">true</property>
    </action>"
# script FILE ITEM_CLASS REMOTE LOCAL: the script action with one transfer item.
script() {
  cat >"$1" <<XML
<project name="bench"><actions>
    <action class="TFTPAction">
      <property name="Host">127.0.0.1</property><property name="Port">$port</property>
      <property name="UserID">$user</property><property name="EncryptedPassword">$stored</property>
      <property name="Passive">true</property>
      <child class="$2"><property name="RemoteFile">$3</property><property name="LocalFile">$4</property></child>
    </action>
</actions></project>
XML
}
script "$scratch/script-put.xml" TFTPScriptUploadFile up/big "$scratch/local/big"
script "$scratch/script-get.xml" TFTPScriptDownloadFile big "$scratch/local/got"
cat >"$scratch/session-put.xml" <<XML
<project name="bench"><actions>
    $connect
    <action class="TFTPUploadFileAction">
      <property name="ConnectionName">B</property><property name="LocalDir">$scratch/local</property>
      <property name="FileSpec">big</property><property name="RemoteFile">up/big</property>
    </action>
</actions></project>
XML
cat >"$scratch/session-get.xml" <<XML
<project name="bench"><actions>
    $connect
    <action class="TFTPDownloadFileAction">
      <property name="ConnectionName">B</property><property name="FileName">big</property>
      <property name="DownloadDir">$scratch/local</property><property name="DownloadFileName">got</property>
      <property name="AllowOverwrite">true</property>
    </action>
</actions></project>
XML

run_project() { "$quillon" run "$1" --quiet --no-state; }
script_put() { run_project "$scratch/script-put.xml"; }
session_put() { run_project "$scratch/session-put.xml"; }
script_get() { run_project "$scratch/script-get.xml"; }
session_get() { run_project "$scratch/session-get.xml"; }

best_script_put=0 best_session_put=0 best_script_get=0 best_session_get=0
for run in $(seq "$runs"); do
  # Who goes first alternates, and the last run's writes reach the disk before the next starts:
  # neither side pays for the other's write-back.
  order="script session"
  [ $((run % 2)) = 0 ] && order="session script"
  for way in put get; do
    for who in $order; do
      if [ "$way" = put ]; then rm -f "$scratch/root/up/big"; dest=$scratch/root/up/big; else rm -f "$scratch/local/got"; dest=$scratch/local/got; fi
      sync
      speed=$(timed "${who}_${way}")
      [ -n "${VERBOSE:-}" ] && echo "run $run: $who $way $speed MB/s" >&2
      check_size "$dest" "$who $way"
      # Once, outside the timing: the script action's copy is byte for byte the file.
      if [ "$who" = script ] && [ "$run" = 1 ] && ! cmp -s "$dest" "$scratch/local/big"; then
        echo "$bench_name: the script action's $way left a file that differs" >&2
        exit 1
      fi
      eval "best_${who}_${way}=\$(max \"\$best_${who}_${way}\" \"$speed\")"
    done
  done
done
for way in put get; do
  eval "s=\$best_script_$way o=\$best_session_$way"
  awk -v w="$way" -v s="$s" -v o="$o" 'BEGIN {
    printf "%s  script action %8.1f MB/s   session actions %8.1f MB/s   script/session %.2f x\n", w, s, o, s / o }'
done
echo "target: script/session >= 0.95 x both ways (best of $runs runs, ${size_mb} MiB file, through quillon run)"
