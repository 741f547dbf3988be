#!/usr/bin/env bash
# The Linux packages of a signed release as administrators meet them: static
# programs for x86-64 and aarch64; signatures that rpm and gpg accept; the
# program run in a root that holds nothing but the package's files; the .deb
# installed with apt in a Debian 11 root from the signed apt repository and
# the RPM by dnf from the signed dnf repository, a package changed by one
# byte refused by both; the aarch64 program under qemu-aarch64.
# Needs root: it makes roots, mounts /proc, /sys and /dev/null into them in
# a mount namespace of its own, and chroots. debootstrap fetches Debian 11
# from the machine's own Debian mirror (NORVA_DEBIAN_MIRROR overrides it).
# Usage: tests/release/linux_packages_test.sh RELEASE SCRATCH  (SCRATCH is removed)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
release="$1" scratch="$2"
fail() { echo "FAILED: $*"; exit 1; }
step() { echo "-- $*"; }
[[ "$(id -u)" -eq 0 ]] || fail "this test needs root (chroot and mounts)"
rm -rf "$scratch"
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT

version="$(sed -n 's/^project(NorvaAudit VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
libexec=usr/libexec/norva-audit

# A ten-line report with every value filled.
check_report() {  # report where
  local report="$1" label
  [[ "$(echo "$report" | wc -l)" -eq 10 ]] || fail "$2: not the ten-line report"
  for label in Version "Host Name" "Machine Up Time" "OS Install Date" "OS Version" \
    "Total Visible Memory Size" "Number of Cores" Duration; do
    echo "$report" | grep -q "^$label: ." || fail "$2: $label is empty"
  done
}
# The lines that do not change from one run to the next.
steady_lines() { tr -d '\r' | sed -e 5d -e 10d; }
# In a mount namespace of its own: /proc, /sys and /dev/null in the root, then the command in it.
in_root() {  # root command...
  local target="$1"
  shift
  mkdir -p "$target/proc" "$target/sys" "$target/dev"
  [[ -e "$target/dev/null" ]] || touch "$target/dev/null"
  unshare --mount --propagation private sh -c 'mount -t proc proc "$1/proc" && mount --bind /sys "$1/sys" &&
    mount --bind /dev/null "$1/dev/null" && shift && exec chroot "$@"' sh "$target" "$target" "$@"
}
source "$root/tests/release/common.sh"

step "static programs, read with readelf"
declare -A machine=([amd64]=X86-64 [arm64]=AArch64)
for arch in amd64 arm64; do
  unpacked="$scratch/deb-$arch"
  dpkg-deb -x "$release/norva-audit_${version}_$arch.deb" "$unpacked"
  for program in NorvaAudit wmic; do
    file="$unpacked/$libexec/$program"
    headers="$(readelf --file-header --program-headers --dynamic "$file")"
    echo "$headers" | grep -q "Machine: *.*${machine[$arch]}" || fail "$arch $program is not built for ${machine[$arch]}"
    if echo "$headers" | grep -q -E 'INTERP|\(NEEDED\)'; then fail "$arch $program asks for a loader or a library"; fi
    echo "$arch $program: $(echo "$headers" | sed -n 's/^ *Type: *//p'), $(echo "$headers" | grep -c INTERP || true) INTERP, $(echo "$headers" | grep -c '(NEEDED)' || true) NEEDED"
  done
  [[ -z "$(dpkg-deb -f "$release/norva-audit_${version}_$arch.deb" Depends)" ]] || fail "the $arch .deb depends on something"
done
for rpm in "$release"/norva-audit-"$version"-1.*.rpm; do
  requires="$(rpm -qpR "$rpm" 2>/dev/null | grep -v '^rpmlib(' || true)"
  [[ -z "$requires" ]] || fail "$(basename "$rpm") requires $requires"
done

step "signatures: rpm -K, gpg --verify, rpmlint"
# rpm and rpmlint keep their keys in ~/.rpmdb here: a home of the test's own.
export HOME="$scratch/home"
mkdir -p "$HOME"
rpmkeys --import "$release/norva-audit-archive-key.asc"
for rpm in "$release"/*.rpm; do
  checked="$(rpm -K "$rpm")"
  echo "$checked"
  [[ "$checked" == *": digests signatures OK" ]] || fail "$(basename "$rpm") is not signed by the release key"
done
export GNUPGHOME="$scratch/gnupg"
mkdir -m 700 "$GNUPGHOME"
gpg --batch --quiet --import "$release/norva-audit-archive-key.asc" 2>/dev/null
gpg --batch --verify "$release/SHA256SUMS.asc" "$release/SHA256SUMS" || fail "SHA256SUMS.asc does not verify"
(cd "$release" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS"
for rpm in "$release"/*.rpm; do
  rpmlint -c "$root/packaging/linux/rpmlint.toml" "$rpm" >"$scratch/rpmlint.txt" || { cat "$scratch/rpmlint.txt"; fail "rpmlint on $(basename "$rpm")"; }
  tail -1 "$scratch/rpmlint.txt"
done

step "the program in a root that holds nothing but the package's files"
empty="$scratch/empty"
dpkg-deb -x "$release/norva-audit_${version}_amd64.deb" "$empty"
report="$(in_root "$empty" /usr/bin/NorvaAudit </dev/null | tr -d '\r')"
echo "$report"
check_report "$report" "the empty root"
echo "the root held: $(cd "$empty" && find . -type f -o -type l | sort | tr '\n' ' ')"

step "the same report under the locales the tests use"
"$root/tests/make_japanese_locale.sh" "$scratch/locales" >/dev/null 2>&1 || true
program="$scratch/deb-amd64/$libexec/NorvaAudit"
expected="$("$program" </dev/null | steady_lines)"
for locale in C POSIX C.UTF-8 C.utf8 ja_JP.SJIS; do
  [[ "$locale" != ja_JP.SJIS || -d "$scratch/locales/ja_JP.SJIS" ]] || continue
  actual="$(LOCPATH="$scratch/locales" LC_ALL="$locale" "$program" </dev/null | steady_lines)"
  [[ "$actual" == "$expected" ]] || fail "the report differs under $locale"
  echo "$locale: the same report"
done

step "the aarch64 program under qemu-aarch64"
arm="$scratch/deb-arm64/$libexec"
# No binfmt handler runs an aarch64 child here: the stand-in the program
# starts goes through qemu as well.
mv "$arm/wmic" "$arm/wmic.aarch64"
printf '#!/bin/sh\nexec qemu-aarch64 "$(dirname "$0")/wmic.aarch64" "$@"\n' >"$arm/wmic"
chmod +x "$arm/wmic"
report="$(qemu-aarch64 "$arm/NorvaAudit" </dev/null | tr -d '\r')"
echo "$report"
check_report "$report" "aarch64"
[[ "$(echo "$report" | steady_lines)" == "$expected" ]] || fail "the aarch64 report differs from the x86-64 one"

step "the .deb with apt in a Debian 11 root, from the signed apt repository"
mirror="${NORVA_DEBIAN_MIRROR:-$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -1)}"
[[ -n "$mirror" ]] || mirror="$(awk '$1 == "deb" && $2 !~ /security/ { print $2; exit }' /etc/apt/sources.list)"
bullseye="$scratch/bullseye"
debootstrap --variant=minbase bullseye "$bullseye" "$mirror" >"$scratch/debootstrap.log" 2>&1 \
  || { tail -20 "$scratch/debootstrap.log"; fail "debootstrap bullseye"; }
mkdir -p "$bullseye/srv/good" "$bullseye/srv/tampered"
cp -a "$release/apt" "$bullseye/srv/good/"
cp -a "$release/apt" "$bullseye/srv/tampered/"
flip_middle_byte "$bullseye/srv/tampered/apt/pool/main/n/norva-audit/norva-audit_${version}_amd64.deb"
gpg --dearmor <"$release/norva-audit-archive-key.asc" >"$bullseye/usr/share/keyrings/norva-audit.gpg"
apt_from() {  # repository command...
  local repository="$1"
  shift
  echo "deb [signed-by=/usr/share/keyrings/norva-audit.gpg] file:/srv/$repository/apt stable main" \
    >"$bullseye/etc/apt/sources.list.d/norva-audit.list"
  in_root "$bullseye" sh -c 'apt-get -qq -o Dir::Etc::sourcelist=/dev/null update && "$@"' sh "$@"
}
if apt_from tampered apt-get install -y -qq norva-audit >"$scratch/apt-tampered.txt" 2>&1; then
  fail "apt installed the changed package"
fi
grep -E 'mismatch|Hash Sum' "$scratch/apt-tampered.txt" || { cat "$scratch/apt-tampered.txt"; fail "apt refused for another reason"; }
in_root "$bullseye" dpkg -s norva-audit >/dev/null 2>&1 && fail "the refused package is installed"
apt_from good apt-get install -y -qq norva-audit >"$scratch/apt.txt" 2>&1 || { cat "$scratch/apt.txt"; fail "apt install"; }
in_root "$bullseye" dpkg -s norva-audit | grep -E '^(Status|Version)'
report="$(in_root "$bullseye" NorvaAudit </dev/null | tr -d '\r')"
echo "$report"
check_report "$report" "Debian 11"

step "the RPM with dnf --installroot, from the signed dnf repository"
cp -a "$release/rpm" "$scratch/rpm-tampered"
flip_middle_byte "$scratch/rpm-tampered/x86_64/norva-audit-$version-1.x86_64.rpm"
dnf_from() {  # repository installroot
  mkdir -p "$scratch/repos-$(basename "$1")" "$2"
  cat >"$scratch/repos-$(basename "$1")/norva-audit.repo" <<EOF
[norva-audit]
name=NorvaAudit
baseurl=file://$1
enabled=1
gpgcheck=1
repo_gpgcheck=1
gpgkey=file://$release/norva-audit-archive-key.asc
EOF
  dnf -y -q --installroot "$2" --releasever 1 --setopt=reposdir="$scratch/repos-$(basename "$1")" \
    --setopt=cachedir="$scratch/dnf-cache-$(basename "$1")" --setopt=install_weak_deps=False install norva-audit
}
if dnf_from "$scratch/rpm-tampered" "$scratch/dnf-tampered" >"$scratch/dnf-tampered.txt" 2>&1; then
  fail "dnf installed the changed package"
fi
grep -i 'checksum' "$scratch/dnf-tampered.txt" || { cat "$scratch/dnf-tampered.txt"; fail "dnf refused for another reason"; }
[[ ! -e "$scratch/dnf-tampered/$libexec/NorvaAudit" ]] || fail "the refused package is installed"
dnf_from "$release/rpm" "$scratch/dnf-root" >"$scratch/dnf.txt" 2>&1 || { cat "$scratch/dnf.txt"; fail "dnf install"; }
grep -A1 '^Installed' "$scratch/dnf.txt" || true
report="$(in_root "$scratch/dnf-root" /usr/bin/NorvaAudit </dev/null | tr -d '\r')"
echo "$report"
check_report "$report" "the dnf root"
echo "linux packages: every check passed"
