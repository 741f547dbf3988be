# The Windows half of scripts/release, sourced by it: the ZIP and the MSI,
# signed when a signing option is given. Uses the release's settings:
# root, build, staged, stage, secrets, version, signing, cert,
# password_file, module, key, pem, pin_file, timestamps.

# The certificates the release signs with, as PEM: the signer first.
signing_certificates() {
  if [[ "$signing" == pkcs12 ]]; then
    openssl pkcs12 -in "$cert" -passin file:"$password_file" -nokeys -clcerts
    openssl pkcs12 -in "$cert" -passin file:"$password_file" -nokeys -cacerts
  else
    cat "$pem"
  fi
}

# What a signature is checked against: the system's CAs and the chain the
# release signs with (which may end in a private root).
prepare_verification() {
  signing_certificates >"$stage/chain.pem"
  signer_hash="$(openssl x509 -in "$stage/chain.pem" -outform DER | sha256sum | cut -d' ' -f1)"
  cat /etc/ssl/certs/ca-certificates.crt "$stage/chain.pem" >"$stage/trust.pem" 2>/dev/null \
    || cp "$stage/chain.pem" "$stage/trust.pem"
}

signing_options() {
  if [[ "$signing" == pkcs12 ]]; then
    options=(-pkcs12 "$cert" -readpass "$password_file")
  else
    # The key stays on the token; the certificate file may hold the
    # intermediates too, and all of them go into the signature.
    options=(-pkcs11module "$module" -key "$key" -certs "$pem")
    [[ -z "$pin_file" ]] || options+=(-readpass "$pin_file")
  fi
  options+=(-h sha256 -n NorvaAudit -i "$(sed -n 's/^set(NORVA_HOMEPAGE "\(.*\)")$/\1/p' "$root/CMakeLists.txt")")
}

# Asks each time-stamp server in turn, three rounds with a pause between.
time_stamp() {  # file [osslsigncode option...]
  local file="$1" round url
  shift
  for round in 1 2 3; do
    for url in "${timestamps[@]}"; do
      if osslsigncode add -ts "$url" "$@" -in "$file" -out "$file.stamped" >"$stage/timestamp.log" 2>&1; then
        mv "$file.stamped" "$file"
        return 0
      fi
      rm -f "$file.stamped"
      echo "release: $url gave no time stamp for $(basename "$file") (round $round of 3)" >&2
    done
    ((round == 3)) || sleep 3
  done
  cat "$stage/timestamp.log" >&2
  return 1
}

sign_file() {  # file [osslsigncode option...]
  [[ -n "$signing" ]] || return 0
  local file="$1" options
  shift
  signing_options
  step "signing $(basename "$file")"
  osslsigncode sign "${options[@]}" "$@" -in "$file" -out "$file.signed" >"$stage/sign.log" 2>&1 \
    || { cat "$stage/sign.log" >&2; rm -f "$file.signed"; return 1; }
  mv "$file.signed" "$file"
  if ((${#timestamps[@]})); then
    step "the time stamp of $(basename "$file")"
    time_stamp "$file" "$@"
  fi
  step "verifying the signature of $(basename "$file")"
  local checks=(-CAfile "$stage/trust.pem" -require-leaf-hash "sha256:$signer_hash")
  if ((${#timestamps[@]})); then checks+=(-TSA-CAfile "$stage/trust.pem"); else checks+=(-ignore-timestamp); fi
  osslsigncode verify "${checks[@]}" -in "$file" >"$stage/verify.log" 2>&1 \
    || { cat "$stage/verify.log" >&2; return 1; }
}

# The ZIP's entries in a fixed order, with the commit's time and fixed modes.
write_zip() {  # top name target
  /usr/bin/python3 - "$@" <<'EOF'
import os, sys, time, zipfile
top, name, target = sys.argv[1:]
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
paths = sorted(os.path.relpath(os.path.join(d, f), top)
               for d, _, files in os.walk(os.path.join(top, name)) for f in files)
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
    for path in paths:
        entry = zipfile.ZipInfo(path.replace(os.sep, "/"), stamp)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 3
        entry.external_attr = (0o100755 if path.endswith(".exe") else 0o100644) << 16
        with open(os.path.join(top, path), "rb") as source:
            archive.writestr(entry, source.read(), compresslevel=9)
EOF
}

release_windows() {
  [[ -z "$signing" ]] || { step "reading the signing certificates"; prepare_verification; }
  step "building for Windows"
  cmake -S "$root" -B "$build/windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DNORVA_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$root=." >/dev/null
  cmake --build "$build/windows" --target NorvaAudit >/dev/null
  local name="NorvaAudit-$version-Windows"
  local files="$build/windows-files"
  cmake --install "$build/windows" --prefix "$files/$name" --strip >/dev/null
  sign_file "$files/$name/bin/NorvaAudit.exe"
  step "the ZIP"
  write_zip "$files" "$name" "$staged/$name.zip"
  step "the MSI"
  "$root/scripts/make-msi" "$files/$name/bin/NorvaAudit.exe" "$files/$name/README.md" "$version" \
    "$staged/NorvaAudit-$version-x64.msi"
  # The extended signature covers the package's own metadata too.
  sign_file "$staged/NorvaAudit-$version-x64.msi" -add-msi-dse
}
