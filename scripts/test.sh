#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the whole suite against SQLite and against a throwaway PostgreSQL server,
# which is stopped whatever happens.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="$(cd "${1:-build}" && pwd)"
export ALLSTATS_PGDIR_FILE="$build/pgdir"
"$root"/scripts/pg-test-server.sh stop
url="$("$root"/scripts/pg-test-server.sh start)" || { echo "could not start the PostgreSQL test server" >&2; exit 1; }
trap '"$root"/scripts/pg-test-server.sh stop' EXIT
trap 'exit 130' INT TERM
export ALLSTATS_TEST_PG="$url"
export QT_QPA_PLATFORM=offscreen
echo "PostgreSQL test server: $url"
cd "$build" && ctest --output-on-failure -j "$(nproc)"
