#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that every include points down the layers or sideways within one, and
# that the core (everything outside ui/ folders, menus/ and app/) uses no widgets.
#   scripts/check-layers.sh [ROOT]      ROOT: a checkout (its tracked files) or any folder
# Prints "file:line → illegal include X → rule" for each offence and exits 1.
set -euo pipefail
root="$(cd "${1:-$(dirname "$0")/..}" && pwd)"
cd "$root"

# The layers, bottom up. A folder may include its own layer and the ones below;
# the screens (one layer) never include each other; what is built on the
# report (analysis) sits above them. Folders not listed (tests,
# bench) may include anything.
layers='
foundation 0
host       1
menus      2
catalogue  3
schemes    3
report     3
analysis   4
app        5
'

# Qt's widget modules: a core file includes none of their headers.
qt_widget_dirs=()
for inc in /usr/include/*/qt6 /usr/include/qt6; do
    for module in QtWidgets QtPrintSupport; do
        [ -d "$inc/$module" ] && qt_widget_dirs+=("$inc/$module")
    done
done
if [ ${#qt_widget_dirs[@]} -eq 0 ]; then
    echo "check-layers: Qt's widget headers not found" >&2
    exit 2
fi

if git -C "$root" rev-parse --show-toplevel >/dev/null 2>&1 &&
    [ "$(git -C "$root" rev-parse --show-toplevel)" = "$root" ]; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
    mapfile -t files < <(find . -type f \( -name '*.cpp' -o -name '*.h' \) | sed 's#^\./##' | sort)
fi
[ ${#files[@]} -gt 0 ] || { echo "check-layers: no source files under $root" >&2; exit 2; }

widget_headers="$(for d in "${qt_widget_dirs[@]}"; do ls "$d"; done | sort -u)"

grep -n -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "${files[@]}" |
awk -v layers="$layers" -v widgets="$widget_headers" '
BEGIN {
    n = split(layers, rows, "\n")
    for (i = 1; i <= n; i++) {
        if (split(rows[i], f, " ") == 2)
            level[f[1]] = f[2]
    }
    m = split(widgets, w, "\n")
    for (i = 1; i <= m; i++)
        if (w[i] != "") widget[w[i]] = 1
    bad = 0
}
function top(path,   p) { split(path, p, "/"); return p[1] }
# Core: inside a layered folder, not under a ui/ folder, not menus/ or app/.
function is_core(path,   t) {
    t = top(path)
    if (!(t in level) || t == "menus" || t == "app") return 0
    return path !~ /(^|\/)ui\//
}
function complain(file, line, what, rule) {
    printf "%s:%s → illegal include %s → %s\n", file, line, what, rule
    bad = 1
}
{
    # grep -n -H: file:line:text
    file = $0; sub(/:.*/, "", file)
    rest = substr($0, length(file) + 2)
    line = rest; sub(/:.*/, "", line)
    text = substr(rest, length(line) + 2)
    if (match(text, /"[^"]+"/)) {
        inc = substr(text, RSTART + 1, RLENGTH - 2)
        from = top(file); to = top(inc)
        if (!(from in level) || !(to in level)) next
        if (level[to] > level[from])
            complain(file, line, "\"" inc "\"", from " (layer " level[from] ") may not include " to " (layer " level[to] ")")
        else if (level[to] == level[from] && to != from)
            complain(file, line, "\"" inc "\"", "the screens " from " and " to " do not include each other")
        else if (is_core(file) && !is_core(inc))
            complain(file, line, "\"" inc "\"", "core code uses no widgets: " inc " is user interface")
    } else if (match(text, /<[^>]+>/)) {
        inc = substr(text, RSTART + 1, RLENGTH - 2)
        base = inc; sub(/^.*\//, "", base)
        if (is_core(file) && (inc ~ /^Qt(Widgets|PrintSupport)\// || (inc !~ /\// && base in widget)))
            complain(file, line, "<" inc ">", "core code uses no widgets")
    }
}
END { exit bad }
'
