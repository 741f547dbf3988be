#!/bin/sh
# Installs a build into a scratch prefix and runs the installed program
# through its link on PATH, with a decoy wmic first on PATH: the stand-in
# beside the program must be the one that answers, and no wmic may be
# installed on PATH. Arguments: cmake, build folder, scratch folder.
set -eu
cmake="$1" build="$2" scratch="$3"
rm -rf "$scratch"
mkdir -p "$scratch/decoy"
"$cmake" --install "$build" --prefix "$scratch/prefix" >/dev/null
(cd "$scratch/prefix" && find . | sort)
test -L "$scratch/prefix/bin/NorvaAudit"
test -x "$scratch/prefix/libexec/norva-audit/NorvaAudit"
test -x "$scratch/prefix/libexec/norva-audit/wmic"
test "$(ls "$scratch/prefix/bin")" = NorvaAudit || { echo "bin/ holds more than the program's link"; exit 1; }
test -f "$scratch/prefix/share/man/man1/NorvaAudit.1.gz"
test -f "$scratch/prefix/share/doc/norva-audit/README.md"
printf '#!/bin/sh\nprintf "Value\\r\\r\\nDECOY\\r\\r\\n"\n' >"$scratch/decoy/wmic"
chmod +x "$scratch/decoy/wmic"
report="$(cd / && PATH="$scratch/prefix/bin:$scratch/decoy:$PATH" NorvaAudit </dev/null)"
echo "$report"
case "$report" in *DECOY*) echo "the decoy answered, not the installed stand-in"; exit 1 ;; esac
for label in "OS Install Date" "OS Version" "Total Visible Memory Size"; do
  echo "$report" | grep -q "^$label: ." || { echo "$label is empty"; exit 1; }
done
