#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# scripts/screenshots.sh still runs: into a temporary folder, with the built
# picture program, giving the README's four pictures as PNG files that are not empty.
#   screenshots-check.sh SCRIPT BUILD
set -euo pipefail
script="$1"
build="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
bash "$script" "$tmp/doc" "$build" || fail "scripts/screenshots.sh failed"
for name in main report schemes trend; do
    file="$tmp/doc/$name.png"
    [ -s "$file" ] || fail "$name.png is missing or empty"
    [ "$(head -c 8 "$file" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$name.png is no PNG"
done
echo "the README's pictures are made"
