# One remote step of the fleet audit on a Linux host, for any POSIX sh.
# Standard input holds the bundle (base64 of a gzip'd tar of NorvaAudit and
# its wmic stand-in). The step answers in lines, one value each:
#   error TEXT                 the step could not run the program (nothing else follows)
#   rc N                       the program's exit code
#   timeout N                  the program ran past N seconds and was ended
#   stdout SIZE B64            its output (SIZE bytes; at most the limit sent)
#   stderr SIZE B64            its error output, likewise
#   report NAME-B64 DATA-B64   a file the run left beside the program
#   skipped NAME-B64 SIZE      one that did not fit in the limit
# Set by the controller: NORVA_REPORT_LIMIT (bytes brought home, for the
# reports together and for each output), NORVA_TIMEOUT (seconds the
# program may run), NORVA_REMOTE_FOLDER (optional: the one folder to use).
# The step's folder is removed on every way out.
set -u
limit="${NORVA_REPORT_LIMIT:-16777216}"
seconds="${NORVA_TIMEOUT:-600}"
folder=
cleanup() { [ -z "$folder" ] || rm -rf "$folder"; }
trap cleanup EXIT
trap 'exit 129' HUP INT TERM PIPE

# The controller is still sending the bundle: read it to its end before
# answering, so that an early answer never breaks its pipe.
drain() { cat >/dev/null 2>&1 || while IFS= read -r _; do :; done; }
give_up() { drain; printf 'error %s\n' "$1"; exit 0; }

missing=
for tool in base64 cat chmod date gzip head mkdir mktemp rm tar timeout tr wc; do
  command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
[ -z "$missing" ] || give_up "the host lacks what the audit step needs:$missing"

# " (mounted noexec)" when the mount that holds folder $1 forbids programs.
mount_note() {
  real="$(cd "$1" 2>/dev/null && pwd -P)" || return 0
  command -v awk >/dev/null 2>&1 && [ -r /proc/mounts ] || return 0
  awk -v path="$real" '
    index(path "/", ($2 == "/" ? "/" : $2 "/")) == 1 && length($2) >= length(best) { best = $2; options = $4 }
    END { if ("," options "," ~ /,noexec,/) printf " (%s mounted noexec)", best }' /proc/mounts
}

# The first candidate in which a new folder can be made and a program
# started: the one named by the controller, or the temporary folders, then
# the home folder (hardened hosts mount the temporary ones noexec).
if [ -n "${NORVA_REMOTE_FOLDER:-}" ]; then
  set -- "$NORVA_REMOTE_FOLDER"
else
  set -- "${TMPDIR:-/tmp}" /tmp /var/tmp /dev/shm "${HOME:-/nonexistent}"
fi
tried= seen=
for base in "$@"; do
  case "$seen" in *"
$base
"*) continue ;; esac
  seen="$seen
$base
"
  if folder="$(mktemp -d "$base/norva-audit-XXXXXX" 2>/dev/null)"; then
    printf '#!/bin/sh\nexit 0\n' >"$folder/probe" && chmod 700 "$folder/probe" && "$folder/probe" 2>/dev/null && break
    tried="$tried $base$(mount_note "$base"): programs may not start there;"
    rm -rf "$folder"
  else
    tried="$tried $base: no folder can be made there;"
  fi
  folder=
done
[ -n "$folder" ] || give_up "no folder on the host lets a program start:${tried%;}"

mkdir "$folder/program"
if ! base64 -d | tar -xzf - -C "$folder/program" 2>"$folder/unpack"; then
  give_up "the program could not be unpacked into $folder: $(head -c 500 "$folder/unpack" | tr '\n' ' ')"
fi
drain

start="$(date +%s)"
timeout -k 5 "$seconds" "$folder/program/NorvaAudit" </dev/null >"$folder/stdout" 2>"$folder/stderr"
rc=$?
printf 'rc %s\n' "$rc"
case "$rc" in 124 | 137 | 143) [ $(($(date +%s) - start)) -lt "$seconds" ] || printf 'timeout %s\n' "$seconds" ;; esac

encoded() { head -c "$limit" "$1" | base64 | tr -d '\n'; }
name_of() { printf '%s' "${1##*/}" | base64 | tr -d '\n'; }
printf 'stdout %s %s\n' "$(wc -c <"$folder/stdout" | tr -d ' ')" "$(encoded "$folder/stdout")"
printf 'stderr %s %s\n' "$(wc -c <"$folder/stderr" | tr -d ' ')" "$(encoded "$folder/stderr")"

# The reports, as long as they fit in the limit together; the others are
# named with their size. Only plain files count: no link, pipe or folder.
left="$limit"
for file in "$folder/program"/* "$folder/program"/.[!.]* "$folder/program"/..?*; do
  [ -f "$file" ] && [ ! -L "$file" ] || continue
  case "${file##*/}" in NorvaAudit | wmic) continue ;; esac
  size="$(wc -c <"$file" | tr -d ' ')"
  if [ "$size" -le "$left" ]; then
    printf 'report %s %s\n' "$(name_of "$file")" "$(base64 <"$file" | tr -d '\n')"
    left=$((left - size))
  else
    printf 'skipped %s %s\n' "$(name_of "$file")" "$size"
  fi
done
