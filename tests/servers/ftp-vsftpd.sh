#!/bin/sh
# vsftpd (Unix LIST, no MLSD, no XCRC) on 127.0.0.1, the session chrooted to ROOT. Needs root:
# it logs in the local user quillon-ftp through the PAM service quillon-ftp (scripts/bootstrap).
# Arguments as in ftp-common.sh; the user must be quillon-ftp.
set -eu
. "$(dirname "$0")/ftp-common.sh"
[ "$(id -u)" -eq 0 ] || { echo "$0: vsftpd needs root" >&2; exit 1; }
[ "$name" = quillon-ftp ] || { echo "$0: vsftpd logs in the local user quillon-ftp only" >&2; exit 2; }
[ -x /usr/sbin/vsftpd ] || { echo "$0: vsftpd missing: run scripts/bootstrap" >&2; exit 1; }
session_user >/dev/null
# An empty folder nobody may write, where vsftpd's unprivileged helper is chrooted.
mkdir -p "$dir/empty"
chmod 755 "$dir/empty"

cat >"$dir/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root=$root
chroot_local_user=YES
allow_writeable_chroot=YES
pam_service_name=quillon-ftp
userlist_enable=NO
tcp_wrappers=NO
secure_chroot_dir=$dir/empty
pasv_enable=YES
pasv_address=127.0.0.1
connect_from_port_20=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
use_localtime=NO
delay_failed_login=0
xferlog_enable=YES
vsftpd_log_file=$dir/vsftpd.log
log_ftp_protocol=YES
CONF
exec /usr/sbin/vsftpd "$dir/vsftpd.conf"
