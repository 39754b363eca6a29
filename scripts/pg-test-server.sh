#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts or stops a throwaway PostgreSQL server in a temporary folder on a free
# loopback port. "start" prints the connection URL on stdout; the folder is
# remembered in $ALLSTATS_PGDIR_FILE (default: build/pgdir) for "stop".
set -euo pipefail
cmd="${1:-}"
state="${ALLSTATS_PGDIR_FILE:-build/pgdir}"
bindir="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)"
[ -n "$bindir" ] || { echo "PostgreSQL server binaries not found" >&2; exit 1; }
asuser() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
case "$cmd" in
  start)
    dir="$(mktemp -d /tmp/allstats-pg.XXXXXX)"
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
    port=""
    for p in $(shuf -i 20000-60000 -n 50); do
      if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then port=$p; break; fi
    done
    [ -n "$port" ] || { echo "no free loopback port" >&2; exit 1; }
    asuser "$bindir/initdb" -D "$dir/data" -U allstats --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
    # Members of the group allstats_scram sign in with a password (the tests of
    # passwords make it and their roles); every other role as before, trusted.
    hba="$dir/data/pg_hba.conf"
    asuser sh -c "{ echo 'host all +allstats_scram 127.0.0.1/32 scram-sha-256'; cat '$hba'; } >'$hba.new' && mv '$hba.new' '$hba'"
    asuser "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
      -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off -c full_page_writes=off" start >/dev/null
    asuser "$bindir/createdb" -h 127.0.0.1 -p "$port" -U allstats allstats_test
    mkdir -p "$(dirname "$state")"
    echo "$dir $port" >"$state"
    echo "postgresql://allstats@127.0.0.1:$port/allstats_test"
    ;;
  stop)
    [ -f "$state" ] || exit 0
    read -r dir port <"$state"
    asuser "$bindir/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$dir" "$state"
    ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
