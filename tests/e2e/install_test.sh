#!/bin/sh
# Installs a build into a scratch prefix and runs the installed program with
# a decoy wmic first on PATH: the installed stand-in beside the program must
# be the one that answers. Arguments: cmake, build folder, scratch folder.
set -eu
cmake="$1" build="$2" scratch="$3"
rm -rf "$scratch"
mkdir -p "$scratch/decoy"
"$cmake" --install "$build" --prefix "$scratch/prefix" >/dev/null
printf '#!/bin/sh\nprintf "Value\\r\\r\\nDECOY\\r\\r\\n"\n' >"$scratch/decoy/wmic"
chmod +x "$scratch/decoy/wmic"
report="$(cd / && PATH="$scratch/decoy:$PATH" "$scratch/prefix/bin/NorvaAudit")"
echo "$report"
case "$report" in *DECOY*) echo "the decoy answered, not the installed stand-in"; exit 1 ;; esac
for label in "OS Install Date" "OS Version" "Total Visible Memory Size"; do
  echo "$report" | grep -q "^$label: ." || { echo "$label is empty"; exit 1; }
done
test -f "$scratch/prefix/share/doc/NorvaAudit/README.md"
