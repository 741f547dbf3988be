# The Linux half of scripts/release, sourced by it: a .deb and an .rpm for
# each architecture, the apt and dnf repositories and, with --gpg-key, their
# signatures. Uses the release's settings: root, build, staged, stage,
# secrets, version, gpg_key, gpg_passphrase_file.

linux_architectures=(x86_64 aarch64)

# gpg as the release runs it: no prompt, the passphrase (if any) from its
# file, the release key as signer.
gpg_() {
  local options=(--batch --yes --no-tty --local-user "$gpg_key")
  [[ -z "$gpg_passphrase_file" ]] || options+=(--pinentry-mode loopback --passphrase-file "$gpg_passphrase_file")
  gpg "${options[@]}" "$@"
}

sign_rpms() {  # rpm...
  step "signing the RPMs"
  local extra="--batch --no-tty"
  if [[ -n "$gpg_passphrase_file" ]]; then
    # rpm splits its macros at blanks: the file is reached by a plain path.
    ln -s "$(realpath "$gpg_passphrase_file")" "$secrets/passphrase"
    extra+=" --pinentry-mode loopback --passphrase-file $secrets/passphrase"
  fi
  # rpmsign warns that a release run has no terminal, which it needs not.
  rpmsign --addsign --define "__gpg $(command -v gpg)" --define "_gpg_name $gpg_key" \
    --define "_gpg_sign_cmd_extra_args $extra" "$@" 2>&1 >/dev/null | { grep -v 'Could not set GPG_TTY' >&2 || true; }
  step "checking the RPM signatures"
  local database="$stage/rpmdb"
  mkdir -p "$database"
  rpmkeys --dbpath "$database" --import "$staged/norva-audit-archive-key.asc"
  local package
  for package in "$@"; do
    rpmkeys --dbpath "$database" --checksig "$package" | grep -q ': digests signatures OK$' \
      || { rpmkeys --dbpath "$database" --checksig "$package" >&2; return 1; }
  done
}

# A detached, armoured signature of a file, checked against the release key.
detached_signature() {  # file signature
  gpg_ --digest-algo SHA256 --armor --detach-sign --output "$2" "$1"
  gpgv --keyring "$stage/keyring.gpg" "$2" "$1" 2>/dev/null
}

sign_apt_repository() {  # repo
  step "signing the apt repository"
  local release="$1/dists/stable/Release"
  gpg_ --digest-algo SHA256 --clearsign --output "$1/dists/stable/InRelease" "$release"
  gpgv --keyring "$stage/keyring.gpg" "$1/dists/stable/InRelease" 2>/dev/null
  detached_signature "$release" "$release.gpg"
}

sign_rpm_repository() {  # repo
  step "signing the dnf repository"
  detached_signature "$1/repodata/repomd.xml" "$1/repodata/repomd.xml.asc"
}

sign_checksums() {
  step "signing SHA256SUMS"
  detached_signature "$staged/SHA256SUMS" "$staged/SHA256SUMS.asc"
}

export_key() {
  step "exporting the release key"
  gpg --batch --armor --export "$gpg_key" >"$staged/norva-audit-archive-key.asc"
  [[ -s "$staged/norva-audit-archive-key.asc" ]] || { echo "release: no public key $gpg_key" >&2; return 1; }
  gpg --batch --dearmor <"$staged/norva-audit-archive-key.asc" >"$stage/keyring.gpg"
}

release_linux() {
  local arch
  for arch in "${linux_architectures[@]}"; do
    step "building the Linux packages for $arch"
    "$root/scripts/make-linux-packages" "$arch" "$build/linux-$arch" "$staged"
  done
  local debs=("$staged"/*.deb) rpms=("$staged"/*.rpm)
  [[ -z "$gpg_key" ]] || sign_rpms "${rpms[@]}"
  step "the apt repository"
  "$root/scripts/make-apt-repo" "$staged/apt" "${debs[@]}"
  [[ -z "$gpg_key" ]] || sign_apt_repository "$staged/apt"
  step "the dnf repository"
  "$root/scripts/make-rpm-repo" "$staged/rpm" "${rpms[@]}"
  [[ -z "$gpg_key" ]] || sign_rpm_repository "$staged/rpm"
}
