#!/bin/sh
# Builds the Debian package, has lintian check it (no error may be
# reported), unpacks it into a scratch folder and runs the unpacked program,
# whose values must come from its own stand-in, not from a decoy on PATH.
# Arguments: cpack, build folder, scratch folder.
set -eu
cpack="$1" build="$2" scratch="$3"
rm -rf "$scratch"
mkdir -p "$scratch/decoy"
(cd "$build" && "$cpack" -G DEB -B "$scratch" >/dev/null)
deb="$(ls "$scratch"/norva-audit_*.deb)"
dpkg-deb --info "$deb" | sed -n 's/^ //p' | grep -E '^(Package|Version|Section|Maintainer|Depends):'
lintian --allow-root "$deb" | tee "$scratch/lintian.txt"
if grep -q '^E:' "$scratch/lintian.txt"; then echo "lintian reports errors"; exit 1; fi
dpkg-deb -x "$deb" "$scratch/root"
test -f "$scratch/root/usr/share/man/man1/NorvaAudit.1.gz"
printf '#!/bin/sh\nprintf "Value\\r\\r\\nDECOY\\r\\r\\n"\n' >"$scratch/decoy/wmic"
chmod +x "$scratch/decoy/wmic"
report="$(cd / && PATH="$scratch/decoy:$PATH" "$scratch/root/usr/bin/NorvaAudit" </dev/null)"
echo "$report"
case "$report" in *DECOY*) echo "the decoy answered, not the package's stand-in"; exit 1 ;; esac
for label in "OS Install Date" "OS Version" "Total Visible Memory Size"; do
  echo "$report" | grep -q "^$label: ." || { echo "$label is empty"; exit 1; }
done
