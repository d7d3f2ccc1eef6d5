#!/usr/bin/env bash
# tkview's exports as a spreadsheet opens them: each export is converted by
# LibreOffice Calc, headless, under en_US, de_DE and fr_FR, to a flat ODF
# file whose cells' value types are read back. --spreadsheet (made in the
# same language) must give a date-time and three numbers; --csv (for
# scripts) is shown as Calc takes it under each language.
#
#   scripts/check-spreadsheet-export.sh [BUILD_DIR]
#
# Needs libreoffice-calc-nogui (or libreoffice-calc) and the three locales
# generated (locales: en_US.UTF-8, de_DE.UTF-8, fr_FR.UTF-8 in
# /etc/locale.gen, then locale-gen). Takes about a minute and a half (six conversions).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v soffice > /dev/null ||
    { echo "soffice is missing: scripts/setup.sh libreoffice-calc-nogui locales" >&2; exit 2; }

mkdir -p "$work/in"
"$build/tools/tkmkrec" --locale de_DE --start 2026-12-08T21:33:00 --period 60 --count 5 \
    --outage 2:1 "$work/in" > /dev/null
status=0
# The first record's cells: A the time, C the temperature, D the setpoint, E the power.
types() {
    python3 - "$1" << 'EOF'
import sys, xml.etree.ElementTree as ET
office = "urn:oasis:names:tc:opendocument:xmlns:office:1.0"
table = "urn:oasis:names:tc:opendocument:xmlns:table:1.0"
rows = ET.parse(sys.argv[1]).getroot().iter("{%s}table-row" % table)
next(rows)
cells = []
for cell in next(rows).iter("{%s}table-cell" % table):
    repeat = int(cell.get("{%s}number-columns-repeated" % table, "1"))
    cells += [cell.get("{%s}value-type" % office, "empty")] * min(repeat, 5)
print(" ".join(cells[:5]))
EOF
}
for pair in en_US:1033 de_DE:1031 fr_FR:1036; do
    lang=${pair%%:*}
    id=${pair##*:}
    for form in spreadsheet csv; do
        out="$work/$lang/$form"
        mkdir -p "$out"
        LANG=$lang.UTF-8 LC_ALL=$lang.UTF-8 "$build/tkview/tkview" "--$form" "$out/export.csv" \
            "$work/in" 2> /dev/null
        separator=44
        head -1 "$out/export.csv" | grep -q ';' && separator=59
        LANG=$lang.UTF-8 LC_ALL=$lang.UTF-8 soffice -env:UserInstallation=file://$work/profile \
            --headless --infilter="Text - txt - csv (StarCalc):$separator,34,76,1,,$id,false,true" \
            --convert-to fods --outdir "$out" "$out/export.csv" > /dev/null 2>&1
        got=$(types "$out/export.fods")
        line=$(sed -n 2p "$out/export.csv" | tr -d '\r')
        verdict=ok
        if [ "$form" = spreadsheet ] && [ "$got" != "date string float float float" ]; then
            verdict=WRONG
            status=1
        fi
        printf '%-6s --%-12s %-44s %-30s %s\n' "$lang" "$form" "$line" "$got" "$verdict"
    done
done
exit $status
