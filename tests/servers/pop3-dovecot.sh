#!/bin/sh
# A dovecot POP3 server for the POP3 client's tests, entirely inside DIR: its own
# configuration, one user from a passwd file, plain-text logins allowed, no TLS.
#
#   pop3-dovecot.sh --port N --dir DIR --user NAME:PASSWORD [--apop]
#
# --apop adds the APOP mechanism, so the greeting carries a <timestamp>. Runs in the
# foreground until killed; dovecot's log is DIR/dovecot.log.
set -eu

port= dir= user= apop=
while [ $# -gt 0 ]; do
  case $1 in
    --port) port=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --user) user=$2; shift 2 ;;
    --apop) apop=" apop"; shift ;;
    *) echo "pop3-dovecot: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$port" ] && [ -n "$dir" ] && [ -n "$user" ] || { echo "pop3-dovecot: --port, --dir and --user are required" >&2; exit 2; }

name=${user%%:*}
password=${user#*:}
# As root, dovecot's own users do the work and mail is read as nobody; otherwise everything
# runs as the caller.
if [ "$(id -u)" -eq 0 ]; then
  login_user=dovenull internal_user=dovecot mail_uid=65534 mail_gid=65534
else
  login_user=$(id -un) internal_user=$(id -un) mail_uid=$(id -u) mail_gid=$(id -g)
fi
mkdir -p "$dir/run" "$dir/state" "$dir/mail"
# The mail user must reach the maildir.
chmod 755 "$dir"
chmod 777 "$dir/mail"
printf '%s:{PLAIN}%s:%s:%s::%s/mail/%s\n' "$name" "$password" "$mail_uid" "$mail_gid" "$dir" "$name" >"$dir/passwd"
chmod 644 "$dir/passwd"

cat >"$dir/dovecot.conf" <<CONF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain$apop
default_login_user = $login_user
default_internal_user = $internal_user
# No pause after a refused login: the tests refuse on purpose.
auth_failure_delay = 0
first_valid_uid = 1
mail_location = maildir:$dir/mail/%u
passdb {
  driver = passwd-file
  args = $dir/passwd
}
userdb {
  driver = passwd-file
  args = $dir/passwd
}
service pop3-login {
  inet_listener pop3 {
    port = $port
  }
}
service stats {
  unix_listener stats-reader {
    mode = 0666
  }
  unix_listener stats-writer {
    mode = 0666
  }
}
CONF
exec /usr/sbin/dovecot -F -c "$dir/dovecot.conf"
