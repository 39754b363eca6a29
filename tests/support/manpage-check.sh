#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The manual page (written from the README) against the program itself: every
# command the program dispatches is in the synopsis, every option its --help
# lists is described, every exit code it returns is under EXIT STATUS.
#
#   manpage-check.sh EXECUTABLE MANPAGE SOURCE_DIR
set -euo pipefail
exe="$1"; page="$2"; src="$3"
export QT_QPA_PLATFORM=offscreen
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
export HOME="$tmp" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
status=0
miss() { echo "MISSING: $*" >&2; status=1; }

# The page as plain text with roff's minus signs as typed.
text="$(sed 's/\\-/-/g; s/\\f[BIRP]//g' "$page")"
synopsis="$(awk '/^\.SH SYNOPSIS/ { on = 1; next } /^\.SH/ { on = 0 } on' <<<"$text")"
# Options count as described only below the synopsis.
described="$(awk '/^\.SH SYNOPSIS/ { skip = 1; next } /^\.SH/ { skip = 0 } !skip' <<<"$text")"
exits="$(awk '/^\.SH EXIT STATUS/ { on = 1; next } /^\.SH/ { on = 0 } on' <<<"$text")"

# The commands the dispatcher knows, and those the synopsis names.
mapfile -t commands < <({
    # `word == u"report"` tests or a `{u"report", runReport}` table.
    grep -oE 'word == u"[a-z-]+"|\{ *u"[a-z-]+", *run' "$src/app/cli.cpp" | sed -E 's/[^"]*"([^"]*)".*/\1/'
    sed -nE 's/^allstats +([a-z][a-z-]*).*/\1/p' <<<"$synopsis"
} | sort -u)
[ ${#commands[@]} -gt 0 ] || miss "no commands found in app/cli.cpp or the synopsis"

for command in "" "${commands[@]}"; do
    if [ -n "$command" ] && ! grep -qE "^allstats +$command( |$)" <<<"$synopsis"; then
        miss "the synopsis lacks the command \"allstats $command\""
    fi
    help="$("$exe" $command --help 2>&1)" || { miss "\"allstats $command --help\" failed"; continue; }
    for option in $(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
        case "$option" in --help | --help-all) continue ;; esac
        grep -qE -- "$option([^a-z0-9-]|$)" <<<"$described" ||
            miss "the page does not describe $option of \"allstats${command:+ $command}\""
    done
done

# Exit codes as the program defines them.
codes="$(grep -hoE 'Exit[A-Za-z]+ = [0-9]+' "$src"/host/exitcode.h | awk '{ print $3 }')"
[ -n "$codes" ] || miss "no exit codes found in host/exitcode.h"
for code in $codes; do
    grep -qx "$code" <<<"$exits" || miss "EXIT STATUS lacks $code"
done

[ $status -eq 0 ] && echo "the manual page covers $((${#commands[@]} + 1)) commands and the exit codes $(echo $codes)"
exit $status
