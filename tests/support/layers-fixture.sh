#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The layer check must fail on the fixture tree and name each offence by file and line.
check="$1" tree="$2"
out="$(bash "$check" "$tree" 2>&1)"
rc=$?
echo "$out"
[ "$rc" -eq 1 ] || { echo "expected exit 1, got $rc"; exit 1; }
for expected in \
    '^foundation/grid.cpp:1 → illegal include "app/ui/mainwindow.h"' \
    '^host/hook.cpp:1 → illegal include "analysis/pack.h"' \
    '^report/stats.cpp:4 → illegal include <QWidget> → core code uses no widgets' \
    '^report/ui/screen.cpp:3 → illegal include "schemes/ui/w_zbfa_set.h"'; do
    grep -q -- "$expected" <<<"$out" || { echo "missing: $expected"; exit 1; }
done
[ "$(grep -c '→ illegal include' <<<"$out")" -eq 4 ] || { echo "expected exactly four offences"; exit 1; }
