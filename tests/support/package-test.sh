#!/usr/bin/env bash
# Builds the .deb from the built tree, unpacks it into a temporary root with
# dpkg -x and runs the installed program from there on a temporary database:
# it must find its hooks in share/allstats (the ratio rows are filled) and
# embed its Chinese fonts in the PDF. Also checks the package's control data,
# its menu entry and what lintian says.
#
#   package-test.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The package, from the tree as built (cpack compiles nothing).
cpack --config "$build/CPackConfig.cmake" -B "$tmp/cpack" >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log" >&2; fail "cpack could not build the package"; }
debs=("$tmp"/cpack/allstats_*.deb)
[ -f "${debs[0]}" ] || fail "cpack wrote no allstats_*.deb"
deb="${debs[0]}"
echo "package: $(basename "$deb")"

# Runtime dependencies only, from Debian: Qt's database drivers, fonts and translations included.
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
for wanted in libqt6core6 libqt6widgets6 libqt6charts6 libqt6sql6-sqlite libqt6sql6-psql libxlsxwriter \
    qt6-translations-l10n fonts-arphic-uming fonts-arphic-ukai fonts-noto-cjk; do
    grep -q "$wanted" <<<"$depends" || fail "Depends lacks $wanted"
done
if grep -Eq -- '-dev\b|build-essential|cmake|libgtest|postgresql( |,|$)' <<<"$depends"; then
    fail "Depends names a build-only package"
fi
[ "$(dpkg-deb -f "$deb" Version)" = "$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")" ] ||
    fail "the package's version is not the project's"

root="$tmp/root"
dpkg -x "$deb" "$root"
for f in usr/bin/allstats usr/share/allstats/hooks/uf_update_report.sql usr/share/allstats/pic/BALLOON.ico \
    usr/share/applications/allstats.desktop usr/share/icons/hicolor/128x128/apps/allstats.png \
    usr/share/man/man1/allstats.1.gz usr/share/doc/allstats/copyright usr/share/doc/allstats/changelog.gz; do
    [ -e "$root/$f" ] || fail "the package lacks /$f"
done
desktop-file-validate "$root/usr/share/applications/allstats.desktop" || fail "the menu entry does not validate"

# The installed program, away from the build tree and from the user's own files.
export HOME="$tmp/home" XDG_DATA_HOME="$tmp/home/data" XDG_CONFIG_HOME="$tmp/home/config"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
exe="$root/usr/bin/allstats"
db="$tmp/demo.sqlite"
"$exe" init-db --db "$db" --demo >"$tmp/init.log" 2>&1 || { cat "$tmp/init.log" >&2; fail "init-db --demo failed"; }
period="$(date +%Y%m)"
year="${period:0:4}"
month="$((10#${period:4:2}))"
report=("$exe" report --db "$db" --scheme 预设方案 --year "$year" --month "$month" --region 45)
"${report[@]}" --format csv --out "$tmp/report.csv" || fail "the report failed"
# The ratio rows have no figures of their own: only the hook fills them, so
# every one has a cumulative percentage when the hooks were found.
awk -F, '{ gsub(/["\r]/, "") } $3 ~ /率|比例/ { n++; if ($6 !~ /^[0-9]+%$/) bad = bad "\n" $0 }
         END { if (n < 4) { print "only " n+0 " ratio rows"; exit 1 }
               if (bad != "") { print "ratio rows without figures:" bad; exit 1 } }' "$tmp/report.csv" ||
    fail "the ratio rows are empty: the hooks were not found in /usr/share/allstats/hooks"
grep -E '率|比例' "$tmp/report.csv"

"${report[@]}" --format pdf --out "$tmp/report.pdf" || fail "the PDF report failed"
pdffonts "$tmp/report.pdf" >"$tmp/fonts.txt"
cat "$tmp/fonts.txt"
# Columns from the end: emb sub uni object generation.
awk '$1 ~ /UMing|UKai|CJK/ && $(NF-4) == "yes" { found = 1 } END { exit !found }' "$tmp/fonts.txt" ||
    fail "the PDF embeds no Chinese font"

# No errors from lintian (warnings are the packager's to weigh).
lintian --fail-on error "$deb" >"$tmp/lintian.txt" 2>&1 ||
    { cat "$tmp/lintian.txt" >&2; fail "lintian finds errors in the package"; }
cat "$tmp/lintian.txt"
echo "package test passed"
