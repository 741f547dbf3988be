#!/usr/bin/env bash
# The release as administrators meet it: two unsigned runs of scripts/release
# from trees at different paths and times give the same bytes; the version
# resource and manifest read back from the exe; a signed run verifies with a
# throwaway CA and fails once a byte is flipped; the MSI installs, upgrades
# and uninstalls silently under Wine in a prefix of the test's own; the RPM
# lints clean and its program answers through its own stand-in.
# Usage: tests/release/release_test.sh [SCRATCH]  (removed at the end)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
scratch="${1:-$root/build/release-test}"
template="${NORVA_WINEPREFIX:-$root/build/wineprefix}"
prefix="$scratch/prefix"
rm -rf "$scratch"
mkdir -p "$scratch"
cleanup() {
  if [[ -d "$prefix" ]]; then WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() { echo "FAILED: $*"; exit 1; }
step() { echo "-- $*"; }

export SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct)"
version="$(sed -n 's/^project(NorvaAudit VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
zip="NorvaAudit-$version-Windows.zip" msi="NorvaAudit-$version-x64.msi"
deb="norva-audit_${version}_amd64.deb" rpm="norva-audit-$version-1.x86_64.rpm"

step "two unsigned runs, from $root and from a copy elsewhere, a while apart"
(cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 tar -cf - ) \
  | (mkdir -p "$scratch/tree-b" && tar -xmf - -C "$scratch/tree-b")
"$root/scripts/release" "$scratch/a" >/dev/null
sleep 2
"$scratch/tree-b/scripts/release" "$scratch/b" >/dev/null
for dir in a b; do (cd "$scratch/$dir" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS of run $dir"; done
[[ "$(wc -l <"$scratch/a/SHA256SUMS")" -eq 4 ]] || fail "SHA256SUMS holds other than the four artifacts"
for dir in a b; do
  mkdir -p "$scratch/$dir/zip"
  python3 -m zipfile -e "$scratch/$dir/$zip" "$scratch/$dir/zip"
done
exe="NorvaAudit-$version-Windows/bin/NorvaAudit.exe"
for artifact in "$zip" "$deb" "$rpm" "zip/$exe"; do
  cmp "$scratch/a/$artifact" "$scratch/b/$artifact" || fail "$artifact differs between the two runs"
  echo "same bytes: $(cd "$scratch/a" && sha256sum "$artifact")"
done
[[ "$(cd "$scratch/a/zip" && find . -type f | sort | tr '\n' ' ')" == "./NorvaAudit-$version-Windows/README.md ./$exe " ]] \
  || fail "the ZIP holds other files"

step "version resource and manifest"
/usr/bin/python3 "$root/tests/release/check_pe.py" "$scratch/a/zip/$exe" "$version" "$SOURCE_DATE_EPOCH"
if osslsigncode verify -in "$scratch/a/zip/$exe" >/dev/null 2>&1; then fail "an unsigned run signed the exe"; fi

step "a signed run, with a throwaway CA and code-signing certificate"
pki="$scratch/pki"
mkdir -p "$pki"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 2 -subj "/CN=Throwaway CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$pki/signer.key" -out "$pki/signer.csr" \
  -subj "/CN=NorvaAudit test signer" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$pki/ext.cnf"
openssl x509 -req -in "$pki/signer.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial -days 2 \
  -extfile "$pki/ext.cnf" -out "$pki/signer.pem" 2>/dev/null
echo "throwaway-$$" >"$pki/password"
openssl pkcs12 -export -inkey "$pki/signer.key" -in "$pki/signer.pem" -certfile "$pki/ca.pem" \
  -passout file:"$pki/password" -out "$pki/signer.p12"
"$scratch/tree-b/scripts/release" "$scratch/signed" --sign "$pki/signer.p12" --password-file "$pki/password" >/dev/null
signed="$scratch/signed"
mkdir -p "$signed/zip" "$signed/msi"
python3 -m zipfile -e "$signed/$zip" "$signed/zip"
msiextract -C "$signed/msi" "$signed/$msi" >/dev/null
from_msi="$(find "$signed/msi" -name NorvaAudit.exe)"
for file in "$signed/zip/$exe" "$from_msi" "$signed/$msi"; do
  osslsigncode verify -CAfile "$pki/ca.pem" -in "$file" >"$scratch/verify.txt" 2>&1 \
    || { cat "$scratch/verify.txt"; fail "$file does not verify"; }
  echo "verified: ${file#"$signed/"} ($(grep -m1 'Signature verification' "$scratch/verify.txt"))"
  cp "$file" "$scratch/flipped"
  size="$(stat -c %s "$file")"
  offset=$((size / 2))
  byte="$(od -An -tu1 -j "$offset" -N1 "$scratch/flipped" | tr -d ' ')"
  printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$scratch/flipped" bs=1 seek="$offset" conv=notrunc 2>/dev/null
  if osslsigncode verify -CAfile "$pki/ca.pem" -in "$scratch/flipped" >/dev/null 2>&1; then
    fail "${file#"$signed/"} still verifies with a byte flipped"
  fi
done

step "the MSI under Wine, in a prefix of the test's own"
cp -a "$template" "$prefix"
wine_() { WINEPREFIX="$prefix" WINEDEBUG=-all wine "$@" </dev/null; }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
environment_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
entries() { wine_ reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' | grep -c 'DisplayName *REG_SZ *NorvaAudit$' || true; }
entry_value() { wine_ reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p" | sort -u; }
system_path() { wine_ reg query "$environment_key" /v PATH | tr -d '\r' | sed -n 's/^ *PATH *REG_[A-Z_]* *//p'; }
path_entries() { tr ';' '\n' | grep -v '^$' || true; }
installed="$prefix/drive_c/Program Files/NorvaAudit"
path_before="$(system_path | path_entries)"
wine_ msiexec /i "$scratch/a/$msi" /qn || fail "the silent install ended with $?"
[[ -f "$installed/NorvaAudit.exe" && -f "$installed/README.md" ]] || fail "the files are not installed"
report="$(wine_ "C:\\Program Files\\NorvaAudit\\NorvaAudit.exe" | tr -d '\r')"
echo "$report"
[[ "$(echo "$report" | wc -l)" -eq 10 && "$(echo "$report" | sed -n 10p)" == Duration:* ]] || fail "not the ten-line report"
[[ "$(entries)" -eq 1 ]] || fail "no Add/Remove Programs entry"
[[ "$(entry_value Publisher)" == "NorvaAudit developers" ]] || fail "the entry's publisher is $(entry_value Publisher)"
[[ "$(entry_value DisplayVersion)" == "21.1.7857" ]] || fail "the entry's version is $(entry_value DisplayVersion)"
system_path | path_entries | grep -qx 'C:\\Program Files\\NorvaAudit\\' || fail "the folder is not on the system PATH"
echo "installed: $(entry_value DisplayName) $(entry_value DisplayVersion) by $(entry_value Publisher); PATH: $(system_path)"

"$root/scripts/make-msi" "$from_msi" "$root/README.md" 2021.1.8.0 "$scratch/newer.msi"
wine_ msiexec /i "$scratch/newer.msi" /qn || fail "the upgrade ended with $?"
[[ "$(entries)" -eq 1 && "$(entry_value DisplayVersion)" == "21.1.8000" ]] || fail "the upgrade left $(entries) entries"
[[ "$(system_path | path_entries | grep -cx 'C:\\Program Files\\NorvaAudit\\')" -eq 1 ]] || fail "PATH holds the folder twice"
if wine_ msiexec /i "$scratch/a/$msi" /qn; then fail "the older package installed over the newer one"; fi
[[ "$(entry_value DisplayVersion)" == "21.1.8000" ]] || fail "the refused downgrade changed the entry"
echo "upgraded to $(entry_value DisplayVersion); the older package was refused"

wine_ msiexec /x "$scratch/newer.msi" /qn || fail "the silent uninstall ended with $?"
[[ ! -e "$installed" ]] || fail "the uninstall left $installed"
[[ "$(entries)" -eq 0 ]] || fail "the uninstall left the Add/Remove Programs entry"
[[ "$(system_path | path_entries)" == "$path_before" ]] || fail "the uninstall left PATH as $(system_path)"
echo "uninstalled: no folder, no entry, PATH: $(system_path)"

step "the RPM"
rpmlint "$scratch/a/$rpm" | tee "$scratch/rpmlint.txt" || true  # exits non-zero for the missing signature
if grep ': E: ' "$scratch/rpmlint.txt" | grep -v ': E: no-signature'; then fail "rpmlint reports errors"; fi
mkdir -p "$scratch/rpm" "$scratch/decoy"
(cd "$scratch/rpm" && rpm2cpio "$scratch/a/$rpm" | cpio -idm --quiet)
[[ -L "$scratch/rpm/usr/bin/NorvaAudit" && -f "$scratch/rpm/usr/share/man/man1/NorvaAudit.1.gz" ]] || fail "the RPM's layout"
printf '#!/bin/sh\nprintf "Value\\r\\r\\nDECOY\\r\\r\\n"\n' >"$scratch/decoy/wmic"
chmod +x "$scratch/decoy/wmic"
report="$(cd / && PATH="$scratch/decoy:$PATH" "$scratch/rpm/usr/bin/NorvaAudit" </dev/null | tr -d '\r')"
echo "$report"
case "$report" in *DECOY*) fail "the decoy answered, not the package's stand-in" ;; esac
for label in "OS Install Date" "OS Version" "Total Visible Memory Size"; do
  echo "$report" | grep -q "^$label: ." || fail "$label is empty"
done
echo "release: every check passed"
