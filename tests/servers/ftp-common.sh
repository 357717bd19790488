# Shared by the FTP server launchers: arguments, and a root folder the session user can use.
#
#   ftp-NAME.sh --port N --dir STATE --root ROOT --user NAME:PASSWORD
#
# STATE holds the configuration and logs, ROOT is what the user sees as "/".

port= dir= root= user=
while [ $# -gt 0 ]; do
  case $1 in
    --port) port=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --root) root=$2; shift 2 ;;
    --user) user=$2; shift 2 ;;
    *) echo "$0: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$port" ] && [ -n "$dir" ] && [ -n "$root" ] && [ -n "$user" ] ||
  { echo "$0: --port, --dir, --root and --user are required" >&2; exit 2; }
name=${user%%:*}
password=${user#*:}
mkdir -p "$dir" "$root"

# Sessions of the system servers run as the local user quillon-ftp (scripts/bootstrap makes it).
# Files the tests put into ROOT later belong to root: a default ACL lets that user change them.
session_user() {
  if [ "$(id -u)" -ne 0 ]; then
    id -un
    return
  fi
  getent passwd quillon-ftp >/dev/null || { echo "$0: user quillon-ftp missing: run scripts/bootstrap" >&2; exit 1; }
  chown -R quillon-ftp: "$root"
  setfacl -R -m u:quillon-ftp:rwX -m d:u:quillon-ftp:rwX "$root"
  echo quillon-ftp
}
