#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Opens the application on the demo database, creating it on first use. Without
# a display it runs the batch report on the demo database instead.
set -euo pipefail
build="$1"; db="$2"; out="$3"
exe="$build/allstats"
mkdir -p "$(dirname "$db")" "$out"
if [ ! -f "$db" ]; then
  echo "Creating the demo database: $db"
  tmp="$db.new"
  rm -f "$tmp" "$tmp-wal" "$tmp-shm"
  "$exe" init-db --db "$tmp" --demo >/dev/null
  mv "$tmp" "$db"
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$exe" --db "$db"
fi
echo "No display: running the batch report on the demo database instead."
region="$(sqlite3 "$db" "SELECT trim(qybm) FROM s_qybm WHERE length(trim(qybm)) = 2 ORDER BY qybm LIMIT 1")"
year="$(date +%Y)"; month="$(date +%-m)"
status=0
for fmt in pdf xlsx; do
  file="$out/report-$region-$year$(printf %02d "$month").$fmt"
  if "$exe" report --db "$db" --scheme "预设方案" --year "$year" --month "$month" --region "$region" \
       --format "$fmt" --out "$file"; then
    echo "  wrote $file"
  else
    status=$?
  fi
done
exit $status
