#!/usr/bin/env bash
# Makes the workbook fixtures from the .fods files with LibreOffice (not needed
# for the build or the tests; the results are committed beside this script).
# empty-string.xls holds an empty text cell; formulas.* hold formula cells,
# a 0.00 number, a date and a time; text-formula.xls a formula that gives text,
# for which LibreOffice stores no result in the old format.
set -euo pipefail
cd "$(dirname "$0")"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
convert() {
    soffice -env:UserInstallation=file://"$out"/profile --headless --convert-to "$2" --outdir "$out" "$1.fods"
    cp "$out/$1.$2" "$1.$2"
}
for type in xlsx ods xls; do
    convert starters "$type"
done
convert empty-string xls
convert formulas xls
convert formulas xlsx
convert text-formula xls
