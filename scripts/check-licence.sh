#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source file says its licence in an SPDX line near its top (the first
# five lines, so a script's #! line and a file's first comment may come first).
#   scripts/check-licence.sh [ROOT] [--add]
# Prints each file without the line and exits 1; --add writes the line into them.
set -euo pipefail
root="$(cd "${1:-$(dirname "$0")/..}" && pwd)"
add="${2:-}"
cd "$root"
spdx='SPDX-License-Identifier: GPL-3.0-or-later'
status=0
# Test fixtures under tests/data are data, kept as the tests read them.
# In a git checkout the tracked files; in an unpacked source tree every file.
list_sources() {
    if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files '*.cpp' '*.h' '*.sh' '*.pl' '*.cmake' '*.sql' 'CMakeLists.txt' '*/CMakeLists.txt' \
            'Makefile' '.ci/run' '*.desktop' '*.conf' '*.service' '*.timer'
    else
        find . -path ./build -prune -o -path './build-*' -prune -o -type f \( -name '*.cpp' -o -name '*.h' \
            -o -name '*.sh' -o -name '*.pl' -o -name '*.cmake' -o -name '*.sql' -o -name CMakeLists.txt \
            -o -name Makefile -o -path ./.ci/run -o -name '*.desktop' -o -name '*.conf' -o -name '*.service' \
            -o -name '*.timer' \) -print | sed 's|^\./||'
    fi
}
mapfile -t files < <(list_sources | grep -v '^tests/data/' | sort -u)
for f in "${files[@]}"; do
    [ -f "$f" ] || continue
    head -n 5 "$f" | grep -q "$spdx" && continue
    if [ "$add" != "--add" ]; then
        echo "$f: no \"$spdx\" line"
        status=1
        continue
    fi
    case "$f" in
    *.cpp | *.h) comment="// $spdx" ;;
    *.sql) comment="-- $spdx" ;;
    *) comment="# $spdx" ;;
    esac
    if head -n 1 "$f" | grep -q '^#!'; then
        sed -i "1a $comment" "$f"
    else
        sed -i "1i $comment" "$f"
    fi
done
exit $status
