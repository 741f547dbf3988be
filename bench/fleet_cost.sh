#!/bin/sh
# The fleet playbook's cost against one command per host: both run over SSH
# to an sshd on loopback (one inventory name per host, all on this machine),
# with the playbook's own ansible.cfg and 8 forks; the one command runs an
# audit that is already on the host. Prints both times and their ratio.
# Usage: bench/fleet_cost.sh [HOSTS] [PROGRAM-FOLDER]   (default 16, build/audit/audit)
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
hosts="${1:-16}"
program_folder="$(cd "${2:-$root/build/audit/audit}" && pwd)"
scratch="$(mktemp -d)"
. "$root/tests/e2e/ssh_host.sh"
trap 'kill $sshd_pid 2>/dev/null || true; rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/present"
cp "$program_folder/NorvaAudit" "$program_folder/wmic" "$scratch/present/"
{
  echo "[fleet]"
  for i in $(seq "$hosts"); do echo "host$i"; done
  echo "[fleet:vars]"
  echo "ansible_host=127.0.0.1"
  echo "ansible_port=$ssh_port"
  echo "ansible_user=$(id -un)"
  echo "ansible_ssh_private_key_file=$ssh_key"
  echo "ansible_python_interpreter=/usr/bin/python3"
  echo "ansible_ssh_common_args='-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null'"
  echo "norva_linux_folder=$program_folder"
} >"$scratch/inventory.ini"
export HOME="$scratch/home" ANSIBLE_CONFIG="$root/deploy/ansible/ansible.cfg" ANSIBLE_FORKS=8 ANSIBLE_NOCOLOR=1
seconds() { python3 -c 'import time; print(time.monotonic())'; }
start="$(seconds)"
ansible-playbook -i "$scratch/inventory.ini" "$root/deploy/ansible/audit.yml" -e norva_out="$scratch/out" \
  </dev/null >"$scratch/playbook.log" || { cat "$scratch/playbook.log"; exit 1; }
middle="$(seconds)"
ansible fleet -i "$scratch/inventory.ini" -m command -a "$scratch/present/NorvaAudit" \
  </dev/null >"$scratch/command.log" || { cat "$scratch/command.log"; exit 1; }
end="$(seconds)"
audited="$(grep -c '^host[0-9]*,2021' "$scratch/out/audit.csv" || true)"
[ "$audited" -eq "$hosts" ] || { echo "only $audited of $hosts hosts audited"; cat "$scratch/out/audit.csv"; exit 1; }
python3 - "$hosts" "$start" "$middle" "$end" <<'PRINT'
import sys
hosts, start, middle, end = int(sys.argv[1]), *map(float, sys.argv[2:])
playbook, command = middle - start, end - middle
print(f"{hosts} hosts over SSH, 8 forks: playbook {playbook:.1f} s, one command {command:.1f} s, "
      f"ratio {playbook / command:.2f}x (goal <= 3.0x)")
PRINT
