#!/bin/sh
# proftpd (MLSD, Unix LIST, XCRC through mod_digest) on 127.0.0.1 from the tree scripts/bootstrap
# unpacks, the user from a password file of its own and chrooted to ROOT. As root the session
# runs as quillon-ftp, otherwise as the caller. Arguments as in ftp-common.sh.
set -eu
. "$(dirname "$0")/ftp-common.sh"
tree=${QUILLON_PROFTPD_TREE:-/opt/quillon-ftp/proftpd}
[ -x "$tree/usr/sbin/proftpd" ] || { echo "$0: $tree/usr/sbin/proftpd missing: run scripts/bootstrap" >&2; exit 1; }
account=$(session_user)
uid=$(id -u "$account")
gid=$(id -g "$account")
group=$(id -gn "$account")
hash=$(openssl passwd -6 "$password")
printf '%s:%s:%s:%s::%s:/bin/false\n' "$name" "$hash" "$uid" "$gid" "$root" >"$dir/passwd"
printf '%s:x:%s:\n' "$group" "$gid" >"$dir/group"
chmod 600 "$dir/passwd"
if [ "$(id -u)" -eq 0 ]; then
  run_as="User $account
Group $group"
else
  run_as=
fi

cat >"$dir/proftpd.conf" <<CONF
ModulePath $tree/usr/lib/proftpd
LoadModule mod_digest.c
ServerName "quillon test"
ServerType standalone
UseIPv6 off
DefaultAddress 127.0.0.1
SocketBindTight on
Port $port
$run_as
PidFile $dir/proftpd.pid
ScoreboardFile $dir/proftpd.scoreboard
SystemLog $dir/proftpd.log
TransferLog none
WtmpLog off
UseReverseDNS off
DelayEngine off
AuthOrder mod_auth_file.c
AuthUserFile $dir/passwd
AuthGroupFile $dir/group
RequireValidShell off
DefaultRoot ~
TimesGMT on
Umask 022
AllowOverwrite on
AllowStoreRestart on
AllowRetrieveRestart on
MaxInstances 30
DigestEngine on
DigestAlgorithms all
CONF
exec "$tree/usr/sbin/proftpd" -n -q -c "$dir/proftpd.conf"
