# One remote step of the fleet audit on a Linux host. Standard input holds
# the bundle (base64 of a gzip'd tar of NorvaAudit and its wmic stand-in).
# It is unpacked into a new folder of its own, the program runs there with
# nothing on its standard input, and its exit code, output and every file
# the run left beside it (its fault reports) are written as lines of
# base64: "rc N", "stdout B64", "stderr B64", "report NAME-B64 CONTENT-B64".
# The folder is removed on every way out.
set -u
folder="$(mktemp -d "${TMPDIR:-/tmp}/norva-audit-XXXXXX")" || exit 70
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/program"
if ! base64 -d | tar -xzf - -C "$folder/program"; then
  echo "the program could not be unpacked into $folder" >&2
  exit 70
fi
"$folder/program/NorvaAudit" </dev/null >"$folder/stdout" 2>"$folder/stderr"
echo "rc $?"
echo "stdout $(base64 -w0 <"$folder/stdout")"
echo "stderr $(base64 -w0 <"$folder/stderr")"
for file in "$folder/program"/* "$folder/program"/.[!.]* "$folder/program"/..?*; do
  [ -f "$file" ] || continue
  name="${file##*/}"
  case "$name" in NorvaAudit | wmic) continue ;; esac
  echo "report $(printf '%s' "$name" | base64 -w0) $(base64 -w0 <"$file")"
done
