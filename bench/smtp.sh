#!/usr/bin/env bash
# Sending rate of our SMTP client beside Python's smtplib: Postfix's smtp-sink accepts mail on
# 127.0.0.1 (and throws it away); SmtpBench and smtplib each send COUNT small messages, one per
# recipient, over ONE connection, in turns, and the best of RUNS runs of each is compared.
# Both send the same message text (SmtpBench writes a sample that smtplib sends on). SmtpBench
# queues its messages as the e-mail action's individual mode does (one round trip each, where
# smtplib waits four times) and fails unless smtp-sink accepted every one. Target:
# ours/smtplib >= 3.
#
#   bench/smtp.sh [BUILD_DIR]     default build/default; COUNT=N changes the 10000 messages,
#                                 RUNS=N the 5 runs
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
count=${COUNT:-10000}
runs=${RUNS:-5}
bench=$build/bench/SmtpBench
if [ ! -x "$bench" ]; then
  echo "smtp: $bench not found; build it first:" >&2
  echo "  cmake --preset default && cmake --build --preset default --target SmtpBench" >&2
  exit 2
fi
sink=$(command -v smtp-sink || echo /usr/sbin/smtp-sink)
if [ ! -x "$sink" ]; then
  echo "smtp: smtp-sink is missing (scripts/bootstrap --bench installs postfix, which has it)" >&2
  exit 2
fi

scratch=$(mktemp -d)
sink_pid=""
cleanup() {
  if [ -n "$sink_pid" ]; then
    kill "$sink_pid" 2>/dev/null || true
    wait "$sink_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# smtp-sink refuses to keep root's privileges; it offers PIPELINING unless told otherwise.
user_opt=()
[ "$(id -u)" -ne 0 ] || user_opt=(-u nobody)
"$sink" "${user_opt[@]}" "127.0.0.1:$port" 64 &
sink_pid=$!
for _ in $(seq 100); do
  /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $port)).close()" 2>/dev/null && break
  sleep 0.05
done

cat >"$scratch/smtplib_send.py" <<'EOF'
import smtplib
import sys
import time

host, port, count, sample = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
with open(sample, "rb") as f:
    template = f.read()
start = time.perf_counter()
s = smtplib.SMTP(host, port)
for i in range(count):
    rcpt = f"user{i}@example.net"
    s.sendmail("robot@example.org", [rcpt], template.replace(b"user0@example.net", rcpt.encode()))
s.quit()
seconds = time.perf_counter() - start
print(f"messages={count} seconds={seconds:.3f} rate={count / seconds:.1f}")
EOF

rate() { sed -n 's/.*rate=\([0-9.]*\).*/\1/p' <<<"$1"; }
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 > b + 0) ? a : b }'; }

best_ours=0
best_py=0
for _ in $(seq "$runs"); do
  # Turns alternate, so a change of load touches both clients alike.
  ours=$("$bench" --sample "$scratch/sample.eml" 127.0.0.1 "$port" "$count")
  py=$(/usr/bin/python3 "$scratch/smtplib_send.py" 127.0.0.1 "$port" "$count" "$scratch/sample.eml")
  best_ours=$(max "$best_ours" "$(rate "$ours")")
  best_py=$(max "$best_py" "$(rate "$py")")
done
awk -v o="$best_ours" -v p="$best_py" -v n="$count" -v r="$runs" 'BEGIN {
  printf "ours %9.1f messages/s   smtplib %9.1f messages/s   ours/smtplib %5.2fx\n", o, p, o / p
  printf "target: ours/smtplib >= 3 (%d messages, one per recipient, one connection; best of %d runs)\n", n, r }'
