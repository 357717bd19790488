#!/usr/bin/env bash
# shellcheck disable=SC2034  # the commands_* arrays are read through a name reference
# Startup cost of the runner: the median wall time of `quillon run examples/hello.xml --quiet`
# beside /bin/true and `python3 -c pass`, timed the same way in the same session (the three
# commands take turns, so load changes touch them alike), with the ratios.
#
#   bench/startup.sh [BUILD_DIR]     default build/default; RUNS=N changes the 50 runs
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
runs=${RUNS:-50}
target_ms=20
quillon=$build/apps/quillon/quillon
if [ ! -x "$quillon" ]; then
  echo "startup: $quillon not found; build it first:" >&2
  echo "  cmake --preset default && cmake --build --preset default --target quillon" >&2
  exit 2
fi
# Debian's interpreter, not a version manager's shim that would add its own start-up.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)

# A throw-away home: the user's option store and key file neither slow nor change the figures.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch QUILLON_KEY_FILE=$scratch/key

# Microseconds now; bash's EPOCHREALTIME costs no process, date(1) is the fallback.
if [ -n "${EPOCHREALTIME:-}" ]; then
  now_us() { now=${EPOCHREALTIME/[.,]/}; }
else
  now_us() { now=$(($(date +%s%N) / 1000)); }
fi

names=(true python quillon)
commands_true=(/bin/true)
commands_python=("$python" -c pass)
commands_quillon=("$quillon" run examples/hello.xml --quiet)
declare -A samples=()

run_once() {  # NAME: times one run, appends the microseconds to samples[NAME]
  local -n cmd="commands_$1"
  local start status=0
  now_us
  start=$now
  "${cmd[@]}" >/dev/null 2>&1 || status=$?
  now_us
  if [ "$status" -ne 0 ]; then
    echo "startup: ${cmd[*]} exited with $status" >&2
    exit 1
  fi
  samples[$1]+="$((now - start)) "
}

for name in "${names[@]}"; do  # warm the page cache
  run_once "$name"
  samples[$name]=""
done
for ((i = 0; i < runs; i++)); do
  for name in "${names[@]}"; do run_once "$name"; done
done

median_us() {  # NAME
  tr ' ' '\n' <<<"${samples[$1]}" | grep . | sort -n |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
min_us() { tr ' ' '\n' <<<"${samples[$1]}" | grep . | sort -n | head -1; }

declare -A median=()
for name in "${names[@]}"; do median[$name]=$(median_us "$name"); done

labels=([0]="/bin/true" [1]="$python -c pass" [2]="quillon run examples/hello.xml --quiet")
echo "startup: median wall time of $runs runs each ($(nproc) CPUs, load $(cut -d' ' -f1 /proc/loadavg))"
for i in "${!names[@]}"; do
  name=${names[$i]}
  awk -v l="${labels[$i]}" -v m="${median[$name]}" -v n="$(min_us "$name")" \
    'BEGIN { printf "  %-42s %8.2f ms   (fastest %.2f ms)\n", l, m / 1000, n / 1000 }'
done
awk -v q="${median[quillon]}" -v t="${median[true]}" -v p="${median[python]}" -v target="$target_ms" 'BEGIN {
  printf "ratios: quillon / true = %.1fx, quillon / python3 = %.2fx\n", q / t, q / p
  printf "target: under %d ms: %s\n", target, (q / 1000 < target) ? "met" : "MISSED"
}'
