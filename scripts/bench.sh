#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The statistics-run benchmark: loads the benchmark province once into a cached
# SQLite file (through `allstats init-db`, so the real indexes exist), loads it
# again into a throwaway PostgreSQL server for this run only, and times the run
# against the original aggregation statements and the engine's floor; then the
# month-end load (clerks beside province reports).
#   BENCH_SIZE=small|medium|full|national (default full), BENCH_REPS (default 5),
#   BENCH_LOAD_SECONDS (seconds per month-end phase, default 20; 0 leaves it out),
#   BENCH_CLERKS (default 4), BENCH_ONLY_KEPT=1 (the first table and the kept
#   per-level figures only).
#   The cache lives in $XDG_CACHE_HOME/allstats-bench (default ~/.cache/...).
# BENCH_SIZE=national is PostgreSQL only (600,000 villages, 48 M rows a period,
# about 20 GB of disk for the server while it runs): it loads into a throwaway
# server made with `init-db --partitioned` and measures the loads, the
# rebuilds and the reports there (allstats_bench national); no SQLite, packs
# or month-end load.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
size="${BENCH_SIZE:-full}"
reps="${BENCH_REPS:-5}"
load_seconds="${BENCH_LOAD_SECONDS:-20}"
clerks="${BENCH_CLERKS:-4}"
allstats="$build/allstats"
bench="$build/bench/allstats_bench"
for exe in "$allstats" "$bench"; do
  [ -x "$exe" ] || { echo "missing $exe: build first (make build)" >&2; exit 1; }
done

commit="$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then commit="$commit+"; fi

if [ "$size" = national ]; then
  export ALLSTATS_PGDIR_FILE="$build/pgdir-bench"
  "$root"/scripts/pg-test-server.sh stop
  url="$("$root"/scripts/pg-test-server.sh start)" || { echo "could not start the PostgreSQL test server" >&2; exit 1; }
  trap '"$root"/scripts/pg-test-server.sh stop' EXIT
  trap 'exit 130' INT TERM
  "$allstats" init-db --db "$url" --partitioned
  mkdir -p "$build/bench-results"
  json="$build/bench-results/$(date -u +%Y%m%d-%H%M%S)-$commit-national.json"
  status=0
  QT_QPA_PLATFORM=offscreen "$bench" national --db "$url" --reps "$reps" --label "$commit" --json "$json" \
    || status=$?
  [ ! -f "$json" ] || cp "$json" "$build/bench-national.json"
  [ "$status" -eq 0 ] || echo "bench: FAILED (exit status $status)" >&2
  exit "$status"
fi

version="$("$bench" version)"
cache_dir="${XDG_CACHE_HOME:-$HOME/.cache}/allstats-bench"
cache="$cache_dir/$size-v$version.sqlite"
mkdir -p "$cache_dir"
if [ ! -f "$cache" ]; then
  echo "generating the $size data set into $cache (once) ..."
  tmp="$cache.tmp"
  rm -f "$tmp" "$tmp-wal" "$tmp-shm"
  "$allstats" init-db --db "$tmp" >/dev/null
  "$bench" load --size "$size" --db "$tmp"
  mv "$tmp" "$cache"
  rm -f "$tmp-wal" "$tmp-shm"
fi

# The measure changes figures and adds the kept per-level figures: it works on a copy.
work="$build/bench-work.sqlite"
rm -f "$work" "$work-wal" "$work-shm"
cp "$cache" "$work"

export ALLSTATS_PGDIR_FILE="$build/pgdir-bench"
"$root"/scripts/pg-test-server.sh stop
url="$("$root"/scripts/pg-test-server.sh start)" || { echo "could not start the PostgreSQL test server" >&2; exit 1; }
trap '"$root"/scripts/pg-test-server.sh stop' EXIT
trap 'exit 130' INT TERM
echo "loading the $size data set into PostgreSQL ($url) ..."
"$allstats" init-db --db "$url" >/dev/null
"$bench" load --size "$size" --db "$url"

mkdir -p "$build/bench-results"
json="$build/bench-results/$(date -u +%Y%m%d-%H%M%S)-$commit-$size.json"
status=0
only=()
[ "${BENCH_ONLY_KEPT:-0}" = 1 ] && only=(--only-kept)
QT_QPA_PLATFORM=offscreen "$bench" measure --size "$size" --db "$work" --db "$url" --reps "$reps" \
  --allstats "$allstats" --label "$commit" --json "$json" --load-seconds "$load_seconds" --clerks "$clerks" \
  "${only[@]}" || status=$?
[ ! -f "$json" ] || cp "$json" "$build/bench.json"
# Times that miss a target are reported above; results that are wrong (a pack
# unlike the single reports, rows unlike the literal form's) fail the run.
if [ "$status" -ne 0 ]; then
  echo "bench: FAILED (exit status $status): see the lines marked FAILED above" >&2
  exit "$status"
fi
