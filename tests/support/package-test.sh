#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the .deb from the built tree, unpacks it into a temporary root with
# dpkg -x and runs the installed program from there on a temporary database:
# it must find its hooks in share/allstats (the ratio rows are filled) and
# embed its Chinese fonts in the PDF. Also checks the package's control data,
# its menu entry, the scheduled packs (the systemd units as systemd-analyze
# verifies them, the service's command run as a user without root on an
# example configuration, the maintainer scripts) and what lintian says.
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
    usr/share/man/man1/allstats.1.gz usr/share/doc/allstats/copyright usr/share/doc/allstats/changelog.gz \
    usr/lib/systemd/system/allstats-pack@.service usr/lib/systemd/system/allstats-pack@.timer \
    usr/share/allstats/examples/county.conf; do
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

# The scheduled packs. The units as systemd reads them: systemd-analyze verify
# in the unpacked root (with the machine's own units beside them, for the
# targets they name), on an instance of each; any complaint fails.
units="$root/usr/lib/systemd/system"
command -v systemd-analyze >/dev/null || fail "systemd-analyze is missing (Debian package systemd)"
for unit in /usr/lib/systemd/system/*; do
    [ -e "$units/$(basename "$unit")" ] || cp -a "$unit" "$units/"
done
verify="$(systemd-analyze verify --man=no --root="$root" allstats-pack@county.service allstats-pack@county.timer 2>&1)" ||
    { echo "$verify" >&2; fail "systemd-analyze verify refuses the units"; }
[ -z "$verify" ] || { echo "$verify" >&2; fail "systemd-analyze verify complains about the units"; }
service="$units/allstats-pack@.service"
timer="$units/allstats-pack@.timer"
grep -qx 'User=allstats' "$service" || fail "the service does not run as the user allstats"
grep -qx 'Persistent=true' "$timer" || fail "the timer is not persistent"
calendar="$(sed -n 's/^OnCalendar=//p' "$timer")"
systemd-analyze calendar "$calendar" | grep -q 'Normalized form: \*-\*-\* 06:00:00' ||
    fail "the timer does not fire at 06:00 (on the first of the month and after it): $calendar"
echo "units verified; the timer: $calendar"

# The maintainer scripts: shell that parses, the user made with adduser --system.
dpkg-deb -e "$deb" "$tmp/control"
for script in postinst prerm postrm; do
    [ -x "$tmp/control/$script" ] || fail "the package has no executable $script"
    sh -n "$tmp/control/$script" || fail "$script does not parse"
done
grep -q 'adduser --system .*allstats' "$tmp/control/postinst" || fail "postinst does not add the system user allstats"
grep -q 'adduser' <<<"$depends" || fail "Depends lacks adduser, which postinst runs"

# The service's command, as the unit gives it, run by hand on the example
# configuration pointed at a demo database, as a user that is not root (the
# service's user allstats exists only where the package is installed; nobody
# stands in for it here). The folder it writes into is its own.
runas=()
if [ "$(id -u)" = 0 ]; then
    runas=(runuser -u nobody --)
    chmod 755 "$tmp"
fi
svc="$tmp/svc"
mkdir -p "$svc/home" "$svc/run" "$svc/etc" "$svc/packs" "$svc/db"
"$exe" init-db --db "$svc/db/funds.sqlite" --demo >"$tmp/init-svc.log" 2>&1 || fail "init-db for the service failed"
sed -e "s|^db = .*|db = $svc/db/funds.sqlite|" -e "s|^folder = .*|folder = $svc/packs/county|" \
    -e "s|^format = .*|format = csv, pdf|" -e "s|^#hooks = .*|hooks = $root/usr/share/allstats/hooks|" \
    "$root/usr/share/allstats/examples/county.conf" >"$svc/etc/county.conf"
chmod 644 "$svc/etc/county.conf"
[ ${#runas[@]} -eq 0 ] || chown -R nobody "$svc/home" "$svc/run" "$svc/packs" "$svc/db"
chmod 700 "$svc/run"
read -r -a execstart <<<"$(sed -n 's/^ExecStart=//p' "$service")"
[ "${execstart[0]}" = /usr/bin/allstats ] || fail "ExecStart does not run /usr/bin/allstats: ${execstart[*]}"
[ "${execstart[*]:1}" = "pack --config /etc/allstats/packs.d/%i.conf" ] || fail "ExecStart is not the pack of the configuration: ${execstart[*]}"
pack() { # the unit's command with the unpacked program and the test's configuration
    "${runas[@]}" env HOME="$svc/home" XDG_RUNTIME_DIR="$svc/run" "$exe" "${execstart[1]}" "${execstart[2]}" \
        "$svc/etc/county.conf" "$@"
}
month="$(date -d "$(date +%Y-%m-01) -1 month" +%Y%m)"
pack >"$tmp/svc.log" 2>&1 || { cat "$tmp/svc.log" >&2; fail "the service's command failed"; }
tail -n 1 "$tmp/svc.log"
made="$svc/packs/county/$month"
[ -f "$made/index.json" ] && [ -f "$made/index.html" ] || fail "the pack of $month has no summary in $made"
listed="$(grep '^  "files": ' "$made/index.json" | grep -o '"[^"]*\.\(csv\|pdf\)"' | tr -d '"' | sort)"
present="$(cd "$made" && ls | grep -v '^index\.' | sort)"
[ -n "$present" ] && [ "$listed" = "$present" ] || fail "index.json does not list exactly the files of $made"
echo "the pack of $month: $(wc -l <<<"$present") files and the summary"
pack >"$tmp/svc2.log" 2>&1 || fail "the second run of the month failed"
grep -q 'complete' "$tmp/svc2.log" || fail "the second run of the month did not find it complete"
# A month's folder the user cannot write into: refused before any report is
# made, with exit status 4 in the last line.
mkdir -p "$svc/readonly/$month"
chmod 555 "$svc/readonly/$month" "$svc/readonly"
set +e
pack --out "$svc/readonly" >"$tmp/svc3.log" 2>&1
code=$?
set -e
[ $code -eq 4 ] || { cat "$tmp/svc3.log" >&2; fail "a folder the user cannot write gave exit status $code, not 4"; }
grep -q "cannot write into the folder $svc/readonly/$month" "$tmp/svc3.log" &&
    grep -q 'was not made (exit status 4)' "$tmp/svc3.log" ||
    { cat "$tmp/svc3.log" >&2; fail "the unwritable folder is not named with the exit status"; }
! grep -q '^1/' "$tmp/svc3.log" || fail "a report was made for a folder that cannot be written"

# No errors from lintian (warnings are the packager's to weigh).
lintian --fail-on error "$deb" >"$tmp/lintian.txt" 2>&1 ||
    { cat "$tmp/lintian.txt" >&2; fail "lintian finds errors in the package"; }
cat "$tmp/lintian.txt"
echo "package test passed"
