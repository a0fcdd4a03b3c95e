#!/usr/bin/env bash
# merkanix-measure --csv over 300 simulated triples beside a plain read of the
# same files (cat to /dev/null), both from the page cache. Prints the medians
# of the runs, the ratio and the triples per second.
set -euo pipefail
build=${1:-build}
runs=${RUNS:-9}
bin=$build/bin
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

"$bin/merkanix-simulate" "$folder" --triples 300 --seed 7 --noise 300 --jitter 5 --ovality 0.1 >/dev/null
frames=("$folder"/Camera*.tif)
cat "${frames[@]}" >/dev/null # into the page cache

now() { date +%s%N; }
measure_times=()
cat_times=()
for ((i = 0; i < runs; i++)); do
  t0=$(now); cat "${frames[@]}" >/dev/null; t1=$(now)
  "$bin/merkanix-measure" "$folder" --csv >/dev/null; t2=$(now)
  cat_times+=($((t1 - t0)))
  measure_times+=($((t2 - t1)))
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
m=$(median "${measure_times[@]}")
c=$(median "${cat_times[@]}")
awk -v m="$m" -v c="$c" -v n=300 -v runs="$runs" 'BEGIN {
  printf "files: 900 frames of 645,678 bytes (300 triples); %d runs each, medians\n", runs
  printf "cat to /dev/null:         %8.1f ms\n", c / 1e6
  printf "merkanix-measure --csv:   %8.1f ms  (%.0f triples/s)\n", m / 1e6, n / (m / 1e9)
  printf "ratio measure / cat:      %8.2f\n", m / c
}'
