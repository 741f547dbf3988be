#!/usr/bin/env bash
# The release as administrators meet it:
# - refusals come before anything is built;
# - a checkout and a "git archive" export, released at other paths and times
#   without SOURCE_DATE_EPOCH, give the same bytes, every file of the release
#   folder (MSI and repositories included), and record the commit;
# - one version is one ProductCode, whatever the build time;
# - a signed run (a throwaway CA with an intermediate, a time-stamp server of
#   the test's own on 127.0.0.1, a GnuPG key with a passphrase) verifies,
#   also after the certificate's expiry, and fails once a byte is flipped;
#   its Linux packages are checked by linux_packages_test.sh;
# - a key on a SoftHSM token signs; no secret shows in any command line;
# - a time-stamp server that fails half-way leaves DIR empty, the step named;
# - the MSI installs, keeps one entry per version, upgrades and uninstalls
#   silently under Wine in a prefix of the test's own.
# Needs root for the Linux packages' part (chroot, mounts), as CI runs it.
# Usage: tests/release/release_test.sh [SCRATCH]  (removed at the end)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
here="$root/tests/release"
scratch="${1:-$root/build/release-test}"
template="${NORVA_WINEPREFIX:-$root/build/wineprefix}"
prefix="$scratch/prefix"
rm -rf "$scratch"
mkdir -p "$scratch"
servers=()
cleanup() {
  local pid
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [[ -d "$prefix" ]]; then WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() { echo "FAILED: $*"; exit 1; }
step() { echo "-- $*"; }

unset SOURCE_DATE_EPOCH
version="$(sed -n 's/^project(NorvaAudit VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
zip="NorvaAudit-$version-Windows.zip" msi="NorvaAudit-$version-x64.msi"
exe="NorvaAudit-$version-Windows/bin/NorvaAudit.exe"
source "$here/common.sh"
product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
package_code() { msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'; }

step "refusals before anything is built"
pki="$scratch/pki"
mkdir -p "$pki" "$scratch/full"
touch "$scratch/full/old" "$pki/password"
refusals=(
  "--sign $pki/any.p12 --password-file $pki/password|time stamp"
  "--sign $pki/any.p12 --password-file $pki/password --timestamp http://127.0.0.1:1 --no-timestamp|exclude"
  "--timestamp http://127.0.0.1:1|give --sign"
  "--pkcs11-module /nonexistent.so --key pkcs11:object=k --no-timestamp|go together"
  "--gpg-passphrase-file $pki/password|--gpg-key"
)
for refusal in "${refusals[@]}"; do
  options="${refusal%|*}" reason="${refusal#*|}"
  # shellcheck disable=SC2086
  if "$root/scripts/release" "$scratch/refused" $options >"$scratch/refused.txt" 2>&1; then fail "release took $options"; fi
  grep -q -- "$reason" "$scratch/refused.txt" || { cat "$scratch/refused.txt"; fail "$options refused for another reason"; }
  if grep -q '^== ' "$scratch/refused.txt" || [[ -e "$scratch/refused" ]]; then fail "$options was refused only after a step"; fi
  echo "refused: $options: $(cat "$scratch/refused.txt")"
done
if "$root/scripts/release" "$scratch/full" >"$scratch/refused.txt" 2>&1; then fail "release wrote into a folder that is not empty"; fi
[[ "$(ls "$scratch/full")" == old ]] || fail "the refused release changed the folder"

step "a checkout and a git archive export of HEAD, released apart without SOURCE_DATE_EPOCH"
git clone -q --no-hardlinks "$root" "$scratch/checkout"
mkdir -p "$scratch/export"
git -C "$root" archive HEAD | tar -x -C "$scratch/export"
"$scratch/checkout/scripts/release" "$scratch/a" >/dev/null 2>"$scratch/a.log" || { cat "$scratch/a.log"; fail "the checkout's release"; }
sleep 2
"$scratch/export/scripts/release" "$scratch/b" >/dev/null 2>"$scratch/b.log" || { cat "$scratch/b.log"; fail "the export's release"; }
rm -rf "$scratch/checkout" "$scratch/export"
diff -r "$scratch/a" "$scratch/b" || fail "the checkout and the export gave different releases"
head="$(git -C "$root" rev-parse HEAD)"
grep -qx "commit $head" "$scratch/b/RELEASE-INFO" || fail "RELEASE-INFO does not name HEAD: $(cat "$scratch/b/RELEASE-INFO")"
(cd "$scratch/a" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS"
cat "$scratch/b/RELEASE-INFO"
(cd "$scratch/a" && sha256sum "$msi" && cd "$scratch/b" && sha256sum "$msi" && package_code "$msi")
echo "same bytes in both: $(cd "$scratch/a" && find . -type f | wc -l) files"
mkdir -p "$scratch/a/zip"
python3 -m zipfile -e "$scratch/a/$zip" "$scratch/a/zip"
[[ "$(cd "$scratch/a/zip" && find . -type f | sort | tr '\n' ' ')" == "./NorvaAudit-$version-Windows/README.md ./$exe " ]] \
  || fail "the ZIP holds other files"
/usr/bin/python3 "$here/check_pe.py" "$scratch/a/zip/$exe" "$version" "$(git -C "$root" log -1 --format=%ct)"
if osslsigncode verify -in "$scratch/a/zip/$exe" >/dev/null 2>&1; then fail "an unsigned run signed the exe"; fi
msiinfo export "$scratch/a/$msi" File | grep -q "NORVAA~1.EXE|NorvaAudit.exe	[0-9]*	$version	1033" \
  || fail "the File table lacks the exe's short name or version"

step "one version, one ProductCode"
for epoch in 1700000000 1800000000; do
  SOURCE_DATE_EPOCH="$epoch" "$root/scripts/make-msi" "$scratch/a/zip/$exe" "$root/README.md" "$version" "$scratch/at-$epoch.msi"
done
SOURCE_DATE_EPOCH=1700000000 "$root/scripts/make-msi" "$scratch/a/zip/$exe" "$root/README.md" 2021.1.8.0 "$scratch/newer.msi"
for package in "$scratch/a/$msi" "$scratch/at-1700000000.msi" "$scratch/at-1800000000.msi" "$scratch/newer.msi"; do
  echo "$(basename "$package"): ProductCode $(product_code "$package"), package code $(package_code "$package")"
done
[[ "$(product_code "$scratch/at-1700000000.msi")" == "$(product_code "$scratch/at-1800000000.msi")" ]] \
  || fail "two builds of one version carry two ProductCodes"
[[ "$(package_code "$scratch/at-1700000000.msi")" != "$(package_code "$scratch/at-1800000000.msi")" ]] \
  || fail "two different packages carry one package code"
[[ "$(product_code "$scratch/newer.msi")" != "$(product_code "$scratch/a/$msi")" ]] || fail "two versions share a ProductCode"

step "a throwaway CA with an intermediate, a time-stamp server on 127.0.0.1, a GnuPG key"
certificate() {  # name subject days issuer extensions
  openssl req -newkey rsa:2048 -nodes -keyout "$pki/$1.key" -out "$pki/$1.csr" -subj "/CN=$2" 2>/dev/null
  printf "$5" >"$pki/$1.ext"
  openssl x509 -req -in "$pki/$1.csr" -CA "$pki/$4.pem" -CAkey "$pki/$4.key" -CAcreateserial -days "$3" \
    -extfile "$pki/$1.ext" -out "$pki/$1.pem" 2>/dev/null
}
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 30 -subj "/CN=Throwaway CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
certificate intermediate "Throwaway intermediate" 30 ca 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign\n'
# The code-signing certificate expires in two days; the time stamps outlive it.
certificate signer "NorvaAudit test signer" 2 intermediate \
  'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n'
certificate tsa "Throwaway TSA" 30 ca 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n'
cat >"$pki/tsa.cnf" <<EOF
[tsa]
default_tsa = test_tsa
[test_tsa]
serial = $pki/tsa.serial
crypto_device = builtin
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
signer_digest = sha256
EOF
echo 01 >"$pki/tsa.serial"
echo "p12-secret-$$-$RANDOM" >"$pki/password"
# The chain given to the release ends in its root, which is private: the
# release checks its signatures against the system's CAs and that chain.
cat "$pki/intermediate.pem" "$pki/ca.pem" >"$pki/issuers.pem"
openssl pkcs12 -export -inkey "$pki/signer.key" -in "$pki/signer.pem" -certfile "$pki/issuers.pem" \
  -passout file:"$pki/password" -out "$pki/signer.p12"
time_stamp_server() {  # name [--fail-after N]; its address in $server
  local name="$1"
  shift
  /usr/bin/python3 "$here/tsa_server.py" "$pki/$name.port" "$pki" "$@" >"$pki/$name.log" 2>&1 &
  servers+=($!)
  for _ in $(seq 100); do [[ -s "$pki/$name.port" ]] && break; sleep 0.1; done
  server="http://127.0.0.1:$(cat "$pki/$name.port")"
}
time_stamp_server tsa
tsa="$server"
export GNUPGHOME="$scratch/gnupg"
mkdir -m 700 "$GNUPGHOME"
echo "gpg-secret-$$-$RANDOM" >"$pki/gpg-passphrase"
gpg --batch --quiet --pinentry-mode loopback --passphrase-file "$pki/gpg-passphrase" \
  --quick-gen-key "NorvaAudit test archive <archive@norva-audit.example.org>" rsa3072 sign 2d 2>/dev/null
gpg_key="$(gpg --list-keys --with-colons | awk -F: '/^fpr/ { print $10; exit }')"

# The token: the signing key imported into a SoftHSM token of the test's own.
export SOFTHSM2_CONF="$pki/softhsm2.conf"
mkdir -p "$pki/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$pki/tokens" >"$SOFTHSM2_CONF"
echo "$((100000 + RANDOM))$$" >"$pki/pin"
softhsm2-util --init-token --free --label norva-release --pin "$(cat "$pki/pin")" --so-pin "so-$$" >/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$pki/signer.key" -out "$pki/signer.p8"
softhsm2-util --import "$pki/signer.p8" --token norva-release --label code-signing --id 01 --pin "$(cat "$pki/pin")" >/dev/null
rm "$pki/signer.p8"
cat "$pki/signer.pem" "$pki/issuers.pem" >"$pki/chain.pem"

/usr/bin/python3 "$here/watch_cmdlines.py" "$scratch/cmdlines.txt" "$pki/password" "$pki/gpg-passphrase" "$pki/pin" >/dev/null 2>&1 &
watcher=$!
servers+=("$watcher")

step "a signed run: a .p12 key, time stamps (an unreachable server first), a GnuPG key"
signed="$scratch/signed"
"$root/scripts/release" "$signed" --sign "$pki/signer.p12" --password-file "$pki/password" \
  --timestamp http://127.0.0.1:1/ --timestamp "$tsa" \
  --gpg-key "$gpg_key" --gpg-passphrase-file "$pki/gpg-passphrase" >/dev/null 2>"$scratch/signed.log" \
  || { cat "$scratch/signed.log"; fail "the signed release"; }
grep 'gave no time stamp' "$scratch/signed.log" | head -1
mkdir -p "$signed/zip" "$signed/msi"
python3 -m zipfile -e "$signed/$zip" "$signed/zip"
msiextract -C "$signed/msi" "$signed/$msi" >/dev/null
from_msi="$(find "$signed/msi" -name NorvaAudit.exe)"
after_expiry=$(($(date +%s) + 5 * 86400))
for file in "$signed/zip/$exe" "$from_msi" "$signed/$msi"; do
  name="${file#"$signed/"}"
  osslsigncode verify -CAfile "$pki/ca.pem" -TSA-CAfile "$pki/ca.pem" -in "$file" >"$scratch/verify.txt" 2>&1 \
    || { cat "$scratch/verify.txt"; fail "$name does not verify"; }
  grep -q 'Timestamp Server Signature verification: ok' "$scratch/verify.txt" || fail "$name carries no time stamp"
  osslsigncode verify -CAfile "$pki/ca.pem" -TSA-CAfile "$pki/ca.pem" -time "$after_expiry" -in "$file" >"$scratch/later.txt" 2>&1 \
    || { cat "$scratch/later.txt"; fail "$name does not verify after the certificate's expiry"; }
  echo "verified: $name, time-stamped at $(sed -n 's/^\tTimestamp time: //p' "$scratch/verify.txt" | head -1), still valid after the certificate's expiry"
  cp "$file" "$scratch/flipped"
  flip_middle_byte "$scratch/flipped"
  if osslsigncode verify -CAfile "$pki/ca.pem" -TSA-CAfile "$pki/ca.pem" -in "$scratch/flipped" >/dev/null 2>&1; then
    fail "$name still verifies with a byte flipped"
  fi
done
grep -q 'MsiDigitalSignatureEx' <(osslsigncode verify -CAfile "$pki/ca.pem" -TSA-CAfile "$pki/ca.pem" -in "$signed/$msi" 2>&1) \
  || fail "the MSI has no extended signature"
"$here/linux_packages_test.sh" "$signed" "$scratch/linux"

step "a key on a SoftHSM token"
token="$scratch/token"
"$root/scripts/release" "$token" --only windows --pkcs11-module /usr/lib/softhsm/libsofthsm2.so \
  --key "pkcs11:token=norva-release;object=code-signing;type=private" --cert "$pki/chain.pem" --pin-file "$pki/pin" \
  --no-timestamp >/dev/null 2>"$scratch/token.log" || { cat "$scratch/token.log"; fail "the token's release"; }
[[ "$(grep -c 'without a time stamp' "$scratch/token.log")" -eq 1 ]] || fail "--no-timestamp was not said once"
grep 'without a time stamp' "$scratch/token.log"
mkdir -p "$token/zip"
python3 -m zipfile -e "$token/$zip" "$token/zip"
for file in "$token/zip/$exe" "$token/$msi"; do
  name="${file#"$token/"}"
  # The intermediate comes from the signature itself: only the root is given.
  osslsigncode verify -CAfile "$pki/ca.pem" -in "$file" >"$scratch/verify.txt" 2>&1 \
    || { cat "$scratch/verify.txt"; fail "$name, signed on the token, does not verify"; }
  echo "verified: $name, signed on the token by $(grep -m1 -o 'Subject: .*test signer' "$scratch/verify.txt" || echo '?')"
done
if osslsigncode verify -CAfile "$pki/ca.pem" -time "$after_expiry" -in "$token/zip/$exe" >/dev/null 2>&1; then
  fail "a signature without a time stamp verified after its certificate expired"
fi
echo "without a time stamp the exe no longer verifies after the certificate's expiry, as said"
kill -TERM "$watcher"
wait "$watcher" || true
if grep '^secret in' "$scratch/cmdlines.txt"; then fail "a secret appeared in a command line"; fi
echo "no password, passphrase or PIN in any command line ($(sed -n 's/^scans //p' "$scratch/cmdlines.txt") scans of every process)"

step "a time-stamp server that fails every request after the first"
time_stamp_server failing --fail-after 1
failing="$server"
mkdir -p "$scratch/failed"
if "$root/scripts/release" "$scratch/failed" --only windows --sign "$pki/signer.p12" --password-file "$pki/password" \
  --timestamp "$failing" >/dev/null 2>"$scratch/failed.log"; then
  fail "the release passed without its time stamps"
fi
tail -1 "$scratch/failed.log"
tail -1 "$scratch/failed.log" | grep -q 'failed at: the time stamp of' || fail "the message does not name the time stamp"
[[ -z "$(ls -A "$scratch/failed")" ]] || fail "the failed release left $(ls -A "$scratch/failed")"
echo "the release folder is empty"

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
[[ "$(entry_value InstallLocation)" == 'C:\Program Files\NorvaAudit\' ]] || fail "the entry's install location is $(entry_value InstallLocation)"
[[ "$(entry_value URLInfoAbout)" == https://* ]] || fail "the entry has no about link"
system_path | path_entries | grep -qx 'C:\\Program Files\\NorvaAudit\\' || fail "the folder is not on the system PATH"
echo "installed: $(entry_value DisplayName) $(entry_value DisplayVersion) by $(entry_value Publisher) in $(entry_value InstallLocation), $(entry_value URLInfoAbout); PATH: $(system_path)"

# Another package of the same version (the signed build): one product, so
# never a second entry beside the first.
wine_ msiexec /i "$signed/$msi" /qn && status=0 || status=$?
echo "the same version's other package: msiexec ended with $status; entries: $(entries)"
[[ "$(entries)" -eq 1 ]] || fail "two Add/Remove Programs entries for one version"
entry_keys() {
  wine_ reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' \
    | awk '/^HKEY_/ { key = $0 } /DisplayName +REG_SZ +NorvaAudit$/ { print key }'
}
echo "Add/Remove Programs: $(entry_keys)"
[[ "$(entry_keys)" == *"$(product_code "$scratch/a/$msi")" ]] || fail "the entry is not the version's ProductCode"

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
echo "release: every check passed"
