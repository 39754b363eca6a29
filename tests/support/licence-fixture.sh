#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The licence check must name a source file without its SPDX line, and --add
# must put the line in the comment form of the file's kind (after a #! line).
check="$1"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/core" "$tree/tests/data"
printf '// SPDX-License-Identifier: GPL-3.0-or-later\nint a;\n' >"$tree/core/good.cpp"
printf '#pragma once\nint b;\n' >"$tree/core/bare.h"
printf '#!/bin/sh\necho hi\n' >"$tree/core/run.sh"
printf 'SELECT 1;\n' >"$tree/core/hook.sql"
printf 'not a source file\n' >"$tree/tests/data/fixture.cpp"
out="$(bash "$check" "$tree" 2>&1)"
rc=$?
echo "$out"
[ "$rc" -eq 1 ] || { echo "expected exit 1, got $rc"; exit 1; }
for f in core/bare.h core/run.sh core/hook.sql; do
    grep -q "^$f: no" <<<"$out" || { echo "not named: $f"; exit 1; }
done
[ "$(grep -c ': no ' <<<"$out")" -eq 3 ] || { echo "expected exactly three files named"; exit 1; }
bash "$check" "$tree" --add || true
bash "$check" "$tree" || { echo "--add left files without the line"; exit 1; }
[ "$(sed -n 1p "$tree/core/bare.h")" = '// SPDX-License-Identifier: GPL-3.0-or-later' ] || { echo "bare.h"; exit 1; }
[ "$(sed -n 2p "$tree/core/run.sh")" = '# SPDX-License-Identifier: GPL-3.0-or-later' ] || { echo "run.sh"; exit 1; }
[ "$(sed -n 1p "$tree/core/hook.sql")" = '-- SPDX-License-Identifier: GPL-3.0-or-later' ] || { echo "hook.sql"; exit 1; }
[ "$(sed -n 1p "$tree/tests/data/fixture.cpp")" = 'not a source file' ] || { echo "fixture touched"; exit 1; }
