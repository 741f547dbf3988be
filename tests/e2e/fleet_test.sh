#!/bin/sh
# Runs the fleet playbook against four hosts reached on this machine: three
# over the local connection (one of them given a program folder that does
# not exist, so that its audit fails) and one over SSH to 127.0.0.1, served
# by an sshd that this test starts on a port of its own with throwaway keys
# and stops. Then checks audit.csv and audit.json.
# Arguments: the folder of the built program and its stand-in, the
# playbook, a scratch folder.
set -eu
program_folder="$1" playbook="$2" scratch="$3"
rm -rf "$scratch"
mkdir -p "$scratch/remote-tmp" "$scratch/local-tmp" "$scratch/home" /run/sshd
ssh-keygen -q -t ed25519 -N '' -f "$scratch/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$scratch/user_key"
cp "$scratch/user_key.pub" "$scratch/authorized_keys"
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
cat >"$scratch/sshd_config" <<CONFIG
Port $port
ListenAddress 127.0.0.1
HostKey $scratch/host_key
PidFile $scratch/sshd.pid
AuthorizedKeysFile $scratch/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
CONFIG
/usr/sbin/sshd -f "$scratch/sshd_config" -D -e 2>"$scratch/sshd.log" &
sshd=$!
trap 'kill $sshd 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
  sleep 0.1
done

cat >"$scratch/inventory.ini" <<INVENTORY
[fleet]
alpha ansible_connection=local
bravo ansible_connection=local
charlie ansible_connection=local norva_linux_folder=$scratch/no-such-folder
delta ansible_host=127.0.0.1 ansible_port=$port ansible_user=$(id -un) ansible_ssh_private_key_file=$scratch/user_key

[fleet:vars]
ansible_python_interpreter=/usr/bin/python3
ansible_remote_tmp=$scratch/remote-tmp
ansible_ssh_common_args='-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null'
norva_linux_folder=$program_folder
INVENTORY

HOME="$scratch/home" ANSIBLE_LOCAL_TEMP="$scratch/local-tmp" ANSIBLE_REMOTE_TEMP="$scratch/remote-tmp" ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 \
  ansible-playbook -i "$scratch/inventory.ini" "$playbook" -e norva_out="$scratch/out" </dev/null
cat "$scratch/out/audit.csv"

python3 - "$scratch/out" <<'CHECK'
import csv, json, os, sys
out = sys.argv[1]
rows = {row["host"]: row for row in json.load(open(os.path.join(out, "audit.json")))}
table = list(csv.DictReader(open(os.path.join(out, "audit.csv"))))
assert sorted(rows) == ["alpha", "bravo", "charlie", "delta"], rows.keys()
assert [row["host"] for row in table] == ["alpha", "bravo", "charlie", "delta"], table
values = ["version", "host_name", "machine_up_time", "os_install_date", "os_version",
          "total_visible_memory_size", "number_of_cores", "duration"]
for host in ("alpha", "bravo", "delta"):
    row = rows[host]
    assert row["exit_code"] == 0 and row["reason"] == "", row
    assert all(row[key] for key in values), row
    assert row["version"] == "2021.1.7.857" and row["duration"].endswith("ms"), row
    assert table[["alpha", "bravo", "charlie", "delta"].index(host)]["os_version"] == row["os_version"]
failed = rows["charlie"]
assert failed["reason"] and failed["exit_code"] is None and not failed["os_version"], failed
print("fleet: 3 hosts audited, 1 failed with its reason:", failed["reason"])
CHECK
