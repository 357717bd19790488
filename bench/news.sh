#!/usr/bin/env bash
# Posting a news article with a large attachment: `quillon run` posts one article with a
# 100 MiB attachment to a private INN on 127.0.0.1 (tests/servers/nntp-inn.sh). Prints the
# article rate and our peak RSS (from /usr/bin/time -v). Target: peak RSS < 64 MiB (the
# attachment is streamed, never held in memory).
#
#   bench/news.sh [BUILD_DIR]     default build/default; SIZE_MB=N changes the 100 MiB
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=${1:-build/default}
size_mb=${SIZE_MB:-100}
quillon=$build/apps/quillon/quillon
if [ ! -x "$quillon" ]; then
  echo "news: $quillon not found; build it first:" >&2
  echo "  cmake --preset default && cmake --build --preset default --target quillon" >&2
  exit 2
fi
for tool in /usr/bin/time /usr/lib/news/bin/innd; do
  if [ ! -x "$tool" ]; then
    echo "news: $tool is missing (scripts/bootstrap --bench installs it)" >&2
    exit 2
  fi
done

# Under /tmp and open to all: INN runs as the news user when started by root.
scratch=$(mktemp -d /tmp/quillon-news-bench.XXXXXX)
chmod 755 "$scratch"
server=""
cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
bash tests/servers/nntp-inn.sh "$scratch/inn" "$port" open >"$scratch/inn.log" 2>&1 &
server=$!
for ((i = 0; i < 100; i++)); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
  sleep 0.1
done

echo "news: writing a ${size_mb} MiB attachment"
mkdir -p "$scratch/data"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$scratch/data/attachment.bin"
cat >"$scratch/post.xml" <<XML
<project name="news-bench">
  <actions>
    <action class="TMxNNTPAction">
      <property name="NewsServer">127.0.0.1</property>
      <property name="Port">$port</property>
      <property name="Groups">local.test</property>
      <property name="SenderName">Bench</property>
      <property name="EmailAddress">bench@example.org</property>
      <property name="Subject">Large attachment</property>
      <property name="Body"><item>See the attachment.</item></property>
      <property name="Attachments"><item>$scratch/data/attachment.bin</item></property>
      <property name="TimeOut">60</property>
    </action>
  </actions>
</project>
XML

export XDG_CONFIG_HOME=$scratch/config QUILLON_KEY_FILE=$scratch/config/key
start=$(date +%s.%N)
/usr/bin/time -v "$root/$quillon" run "$scratch/post.xml" --quiet 2>"$scratch/time.txt" || {
  cat "$scratch/time.txt" >&2
  exit 1
}
end=$(date +%s.%N)
rss=$(sed -n 's/.*Maximum resident set size (kbytes): \([0-9]*\)/\1/p' "$scratch/time.txt")

# The server must have the article, not merely have been sent it.
count=$(/usr/bin/python3 - "$port" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=30)
f = s.makefile("rwb")
f.readline()
f.write(b"GROUP local.test\r\n"); f.flush()
print(f.readline().split()[1].decode())
PY
)
if [ "$count" != 1 ]; then
  echo "news: the server holds $count articles in local.test, not 1" >&2
  exit 1
fi

awk -v s="$start" -v e="$end" -v r="$rss" -v mb="$size_mb" 'BEGIN {
  printf "news  post %d MiB attachment in %.1f s (%.1f MB/s of attachment)   our peak RSS %.1f MiB\n",
         mb, e - s, mb * 1.048576 / (e - s), r / 1024 }'
echo "target: peak RSS < 64 MiB"
if [ "$rss" -ge $((64 * 1024)) ]; then
  echo "news: peak RSS over 64 MiB" >&2
  exit 1
fi
