#!/bin/sh
# Telnet test server on 127.0.0.1: GNU inetutils telnetd, one per connection through socat,
# logging in through telnet-login.sh instead of the system's login.
#   telnet-telnetd.sh --port PORT --dir DIR
# Sessions run in DIR, so whoever started the server can find what is left of them.
set -eu
port=
dir=
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
[ -n "$port" ] && [ -n "$dir" ] || { echo "usage: $0 --port PORT --dir DIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir"
# telnetd runs its login program without arguments, and socat splits its command at blanks:
# a wrapper without either.
login="$dir/login"
printf '#!/bin/sh\nexec /bin/sh "%s/telnet-login.sh" "%s"\n' "$here" "$dir" >"$login"
chmod 755 "$login"
cd "$dir"
exec socat "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork" "EXEC:/usr/sbin/telnetd -h -E $login,nofork"
