#!/bin/sh
# Makes the Windows ZIP, unpacks it into a scratch folder and runs the
# program from there under Wine: alone, with no MinGW DLL beside it.
# Arguments: cpack, cmake, build folder, wine runner, scratch folder.
set -eu
cpack="$1" cmake="$2" build="$3" wine_run="$4" scratch="$5"
rm -rf "$scratch"
mkdir -p "$scratch"
(cd "$build" && "$cpack" -G ZIP >/dev/null)
zip="$(ls "$build"/NorvaAudit-*-Windows.zip)"
(cd "$scratch" && "$cmake" -E tar xf "$zip")
find "$scratch" -type f | sed "s|$scratch/||" | sort
test "$(find "$scratch" -type f | wc -l)" -eq 2
program="$(find "$scratch" -path '*/bin/NorvaAudit.exe')"
test -f "$(dirname "$program")/../README.md"
report="$("$wine_run" "$program")"
echo "$report"
echo "$report" | grep -q "^OS Version: [0-9]"
