#!/bin/sh
# pyftpdlib (MLSD, Unix LIST, no XCRC) on 127.0.0.1: one user with write access, no anonymous.
# It refuses SIZE and REST until TYPE I. Arguments as in ftp-common.sh.
set -eu
. "$(dirname "$0")/ftp-common.sh"
exec /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$port" -d "$root" -u "$name" -P "$password" -w
