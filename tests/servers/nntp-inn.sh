#!/usr/bin/env bash
# Runs INN (innd, which hands readers to nnrpd) in the foreground on 127.0.0.1:PORT with a
# private configuration, spool, history and overview under DIR, so no system service is used.
#   nntp-inn.sh DIR PORT MODE [TLS_CERT TLS_KEY [TLS_PORT]]
# MODE: open  (anyone from 127.0.0.1 may read and post)
#       auth  (posting and reading need AUTHINFO USER/PASS as quillon / quillon-news-pw)
#       read  (no posting: greeting 201, POST refused)
# With a certificate and key, the readers also offer STARTTLS (RFC 4642); with TLS_PORT an
# nnrpd of its own serves implicit TLS there (NNTPS).
# Groups: local.test, local.other (posting allowed) and local.moderated (moderated).
# DIR is created (or emptied) and made the news user's; the script needs root only for that.
set -euo pipefail
dir=$1 port=$2 mode=$3 cert=${4:-} key=${5:-} tls_port=${6:-}
news_bin=/usr/lib/news/bin
rm -rf "$dir"
mkdir -p "$dir"/{etc,db,spool/articles,spool/overview,spool/incoming/bad,spool/outgoing,spool/archive,run,log,tmp,http}

cat >"$dir/etc/inn.conf" <<CONF
domain: quillon.test
pathhost: news.quillon.test
organization: "Quillon tests"
mta: "/bin/true %s"
pathnews: /usr/lib/news
pathbin: $news_bin
pathcontrol: $news_bin/control
pathfilter: $dir/etc/filter
pathetc: $dir/etc
pathdb: $dir/db
pathrun: $dir/run
pathlog: $dir/log
pathtmp: $dir/tmp
pathhttp: $dir/http
pathspool: $dir/spool
patharticles: $dir/spool/articles
pathoverview: $dir/spool/overview
pathincoming: $dir/spool/incoming
pathoutgoing: $dir/spool/outgoing
patharchive: $dir/spool/archive
ovmethod: tradindexed
hismethod: hisv6
enableoverview: true
port: $port
bindaddress: 127.0.0.1
nnrpdpostport: $port
maxartsize: 0
localmaxartsize: 0
artcutoff: 0
wipcheck: 5
doinnwatch: false
htmlstatus: false
pgpverify: false
logipaddr: true
status: 0
timer: 0
docnfsstat: false
initialtimeout: 10
clienttimeout: 60
readerswhenstopped: true
nnrpdcheckart: true
mergetogroups: false
addinjectiondate: true
addinjectionpostinghost: true
CONF
if [ -n "$cert" ]; then
  # Copied, so the news user can read them whoever owns the originals.
  cp "$cert" "$dir/etc/cert.pem"
  cp "$key" "$dir/etc/key.pem"
  chmod 600 "$dir/etc/key.pem"
  cat >>"$dir/etc/inn.conf" <<CONF
tlscertfile: $dir/etc/cert.pem
tlskeyfile: $dir/etc/key.pem
tlscapath: $dir/etc
CONF
fi
# innd runs as the news user when started by root, else as whoever starts it.
if [ "$(id -u)" -ne 0 ]; then
  printf 'runasuser: %s\nrunasgroup: %s\n' "$(id -un)" "$(id -gn)" >>"$dir/etc/inn.conf"
fi

printf 'method tradspool {\n    newsgroups: *\n    class: 0\n}\n' >"$dir/etc/storage.conf"
printf 'ME:*,!junk,!control*::\n' >"$dir/etc/newsfeeds"
: >"$dir/etc/incoming.conf"
: >"$dir/etc/expire.ctl"
: >"$dir/etc/moderators"
: >"$dir/etc/distrib.pats"
: >"$dir/etc/subscriptions"
printf '/remember/:11\n*:A:never:never:never\n' >"$dir/etc/expire.ctl"
cp /etc/news/control.ctl "$dir/etc/" 2>/dev/null || : >"$dir/etc/control.ctl"
: >"$dir/etc/control.ctl.local"
mkdir -p "$dir/etc/filter"

cat >"$dir/db/active" <<ACTIVE
control 0000000000 0000000001 n
control.cancel 0000000000 0000000001 n
junk 0000000000 0000000001 n
local.test 0000000000 0000000001 y
local.other 0000000000 0000000001 y
local.moderated 0000000000 0000000001 m
ACTIVE
cat >"$dir/db/newsgroups" <<GROUPS
local.test	Quillon test group
local.other	Quillon second test group
local.moderated	Quillon moderated group
GROUPS
: >"$dir/db/active.times"
: >"$dir/db/history"

case "$mode" in
  open | read)
    access=RPA
    [ "$mode" = read ] && access=R
    cat >"$dir/etc/readers.conf" <<READERS
auth "local" {
    hosts: "127.0.0.1, localhost"
    default: "<local>"
}
access "local" {
    users: "<local>"
    newsgroups: "*"
    access: $access
}
READERS
    ;;
  auth)
    # One user; the password file holds a crypt(3) hash, as ckpasswd -f reads it.
    printf 'quillon:%s\n' "$(openssl passwd -6 quillon-news-pw)" >"$dir/etc/passwd.nntp"
    cat >"$dir/etc/readers.conf" <<READERS
auth "local" {
    hosts: "127.0.0.1, localhost"
    auth: "ckpasswd -f $dir/etc/passwd.nntp"
}
access "user" {
    users: "quillon"
    newsgroups: "*"
    access: RPA
}
READERS
    ;;
  *)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac

export INNCONF=$dir/etc/inn.conf
as_news=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R news:news "$dir"
  as_news=(runuser -u news --)
fi
# The history database must exist before innd starts.
"${as_news[@]}" "$news_bin/makedbz" -i -o -f "$dir/db/history"
pids=()
# innd and nnrpd take their time over SIGTERM; the spool is thrown away, so they end at once.
trap 'kill -KILL "${pids[@]}" 2>/dev/null; exit 0' TERM INT
"$news_bin/innd" -f &
pids+=("$!")
if [ -n "$tls_port" ]; then
  "$news_bin/nnrpd" -D -f -S -b 127.0.0.1 -p "$tls_port" &
  pids+=("$!")
fi
wait "${pids[0]}"
