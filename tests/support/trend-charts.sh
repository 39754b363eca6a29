#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The chart files of `allstats trend` and `allstats rank`, from the program as
# built and without a display: a PNG picture and a PDF whose text carries the
# title, the region and the months. Everything goes into a temporary folder.
#
#   trend-charts.sh ALLSTATS
set -euo pipefail
allstats="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_DATA_HOME="$tmp/home/.local/share"
export XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

"$allstats" init-db --db "$tmp/demo.sqlite" --demo --period 202611 >"$tmp/init.log" 2>&1 ||
    { cat "$tmp/init.log" >&2; fail "init-db"; }
common=(--db "$tmp/demo.sqlite" --scheme 预设方案)

"$allstats" trend "${common[@]}" --region 4501 --from 202412 --to 202611 --indicator 0501 --indicator 0702 \
    --format png --out "$tmp/trend.png" 2>"$tmp/err" || { cat "$tmp/err" >&2; fail "trend --format png"; }
[ "$(head -c 8 "$tmp/trend.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "trend.png is no PNG"

"$allstats" trend "${common[@]}" --region 4501 --from 202412 --to 202611 --indicator 0501 --indicator 0702 \
    --chart bar --format pdf --out "$tmp/trend.pdf" 2>"$tmp/err" || { cat "$tmp/err" >&2; fail "trend --format pdf"; }
text="$(pdftotext "$tmp/trend.pdf" -)"
for wanted in 指标趋势分析 石桥市 2024年12月 2026年11月 借款余额 逾期率; do
    grep -q "$wanted" <<<"$text" || fail "trend.pdf lacks $wanted"
done

"$allstats" rank "${common[@]}" --region 450121101 --year 2026 --month 11 --indicator 0702 \
    --format pdf --out "$tmp/rank.pdf" 2>"$tmp/err" || { cat "$tmp/err" >&2; fail "rank --format pdf"; }
text="$(pdftotext "$tmp/rank.pdf" -)"
for wanted in 下级区域排名 白沙镇 逾期率 名次; do
    grep -q "$wanted" <<<"$text" || fail "rank.pdf lacks $wanted"
done
"$allstats" rank "${common[@]}" --region 450121101 --year 2026 --month 11 --indicator 0702 \
    --format png --out "$tmp/rank.png" 2>"$tmp/err" || { cat "$tmp/err" >&2; fail "rank --format png"; }
[ -s "$tmp/rank.png" ] || fail "rank.png is empty"
echo "trend and rank charts written"
