#!/usr/bin/env bash
# The rate table through one batch run: every ordered pair of 18 common rates, two stages,
# in minimal-sum mode and in custom-limit mode at limit 65535 (648 requests), written as
# JSON Lines. Prints the wall-clock time of the run. A benchmark, not a test.
#
# Usage: scripts/bench-table.sh [--cost | --min-cost] [PROGRAM]
#   --cost       every request also estimates the filter cost
#   --min-cost   every request in min-cost mode instead (still 648 requests)
#   PROGRAM      default build/release/quillmere, built when missing
set -euo pipefail
cd "$(dirname "$0")/.."

variant=plain
if [ "${1:-}" = --cost ] || [ "${1:-}" = --min-cost ]; then
  variant="${1#--}"
  shift
fi
program="${1:-build/release/quillmere}"
if [ ! -x "$program" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target quillmere -j2 >/dev/null
fi

rates=(8000 11025 16000 22050 24000 32000 44100 48000 88200 96000 176400 192000 352800
       384000 705600 768000 2822400 5644800)
table="$(mktemp "${TMPDIR:-/tmp}/quillmere-table.XXXXXX")"
output="$(mktemp "${TMPDIR:-/tmp}/quillmere-table-out.XXXXXX")"
trap 'rm -f "$table" "$output"' EXIT
for mode in "--mode minimal-sum" "--mode custom-limit --limit 65535"; do
  [ "$variant" = min-cost ] && mode="--mode min-cost --limit 65535"
  for input in "${rates[@]}"; do
    for output_rate in "${rates[@]}"; do
      echo "$input $output_rate $mode"
    done
  done
done >"$table"

options=(--stages 2 --format json)
[ "$variant" = cost ] && options+=(--cost)

start=$(date +%s%N)
status=0
"$program" "${options[@]}" --batch "$table" >"$output" || status=$?
end=$(date +%s%N)

requests=$(wc -l <"$table")
records=$(wc -l <"$output")
if [ "$records" -ne "$requests" ] || [ "$status" -gt 1 ]; then
  echo "bench-table: $records records for $requests requests, exit status $status" >&2
  exit 1
fi
awk -v ns=$((end - start)) -v n="$requests" -v v="$variant" -v s="$status" 'BEGIN {
  printf "%d requests (%s, exit status %d) in %.3f s\n", n, v, s, ns / 1e9 }'
