#!/bin/sh
# Runs the fleet playbook, with its own ansible.cfg, against seven hosts
# reached on this machine: four over the local connection (one of them
# given a program folder that does not exist, one whose program faults once
# and leaves a report, one whose program ends with exit code 1), two over
# SSH to 127.0.0.1, served by an sshd that this test starts on a port of its
# own with throwaway keys and stops, and one on a port where nothing
# listens. Then checks audit.csv, audit.json, the
# reports folder, and that no host keeps anything of the run.
# Arguments: the folder of the built program and its stand-in, the
# fault-injecting build of the program, the playbook, a scratch folder.
set -eu
program_folder="$1" faulty="$2" playbook="$3" scratch="$4"
rm -rf "$scratch"
mkdir -p "$scratch/remote-tmp" "$scratch/local-tmp" "$scratch/home" "$scratch/host-tmp" "$scratch/faulty" "$scratch/broken"
. "$(dirname "$0")/ssh_host.sh"

# The faulty twin beside the stand-in, and an allocation whose failure is
# caught and reported while the run still ends with its report.
cp "$faulty" "$scratch/faulty/NorvaAudit"
cp "$program_folder/wmic" "$scratch/faulty/wmic"
mkdir "$scratch/probe"
nth=1
while [ "$nth" -lt 500 ]; do
  rm -f "$scratch/probe/"*
  cp "$scratch/faulty/NorvaAudit" "$scratch/faulty/wmic" "$scratch/probe/"
  if NORVA_FAIL_ALLOCATION=$nth "$scratch/probe/NorvaAudit" </dev/null >/dev/null 2>&1 &&
    [ "$(ls "$scratch/probe" | grep -c '^EXCEPTION-')" -eq 1 ]; then
    break
  fi
  nth=$((nth + 1))
done
rm -rf "$scratch/probe"

# A program that ends with exit code 1, and a host that cannot be reached.
printf '#!/bin/sh\necho broken >&2\nexit 1\n' >"$scratch/broken/NorvaAudit"
chmod +x "$scratch/broken/NorvaAudit"
cp "$program_folder/wmic" "$scratch/broken/wmic"
closed_port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"

cat >"$scratch/inventory.ini" <<INVENTORY
[fleet]
alpha ansible_connection=local
bravo ansible_connection=local norva_linux_folder=$scratch/faulty norva_environment='{"NORVA_FAIL_ALLOCATION": "$nth", "TMPDIR": "$scratch/host-tmp"}'
charlie ansible_connection=local norva_linux_folder=$scratch/no-such-folder
delta ansible_host=127.0.0.1 ansible_port=$ssh_port ansible_user=$(id -un) ansible_ssh_private_key_file=$ssh_key
echo ansible_host=127.0.0.1 ansible_port=$ssh_port ansible_user=$(id -un) ansible_ssh_private_key_file=$ssh_key
foxtrot ansible_connection=local norva_linux_folder=$scratch/broken
golf ansible_host=127.0.0.1 ansible_port=$closed_port ansible_user=$(id -un) ansible_ssh_private_key_file=$ssh_key

[fleet:vars]
ansible_python_interpreter=/usr/bin/python3
ansible_remote_tmp=$scratch/remote-tmp
ansible_ssh_common_args='-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null'
norva_linux_folder=$program_folder
norva_environment='{"TMPDIR": "$scratch/host-tmp"}'
INVENTORY

# The hosts' temporary folder (TMPDIR of the run) is one of the test's own,
# so that whatever a run leaves there shows.
HOME="$scratch/home" ANSIBLE_CONFIG="$(dirname "$playbook")/ansible.cfg" \
  ANSIBLE_LOCAL_TEMP="$scratch/local-tmp" ANSIBLE_REMOTE_TEMP="$scratch/remote-tmp" ANSIBLE_NOCOLOR=1 \
  ansible-playbook -i "$scratch/inventory.ini" "$playbook" -e norva_out="$scratch/out" \
  </dev/null
cat "$scratch/out/audit.csv"
(cd "$scratch/out" && find reports -type f | sort)

python3 - "$scratch" <<'CHECK'
import csv, json, os, sys
scratch = sys.argv[1]
out = os.path.join(scratch, "out")
hosts = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf"]
rows = {row["host"]: row for row in json.load(open(os.path.join(out, "audit.json")))}
table = list(csv.DictReader(open(os.path.join(out, "audit.csv"))))
assert sorted(rows) == hosts, rows.keys()
assert [row["host"] for row in table] == hosts, table
values = ["version", "host_name", "machine_up_time", "os_install_date", "os_version",
          "total_visible_memory_size", "number_of_cores", "duration"]
for host in ("alpha", "bravo", "delta", "echo"):
    row = rows[host]
    assert row["exit_code"] == 0 and row["reason"] == "", row
    assert all(row[key] for key in values), row
    assert row["version"] == "2021.1.7.857" and row["duration"].endswith("ms"), row
    assert table[hosts.index(host)]["os_version"] == row["os_version"]
    assert row["fault_reports"] == (1 if host == "bravo" else 0), row
failed = rows["charlie"]
assert failed["reason"] and failed["exit_code"] is None and not failed["os_version"], failed
assert failed["fault_reports"] is None and table[2]["fault_reports"] == "", failed
broken, gone = rows["foxtrot"], rows["golf"]
assert broken["exit_code"] == 1 and broken["reason"] == "exit code 1: broken" and broken["fault_reports"] == 0, broken
assert gone["reason"].startswith("unreachable: ") and gone["exit_code"] is None and gone["fault_reports"] is None, gone
reports = os.path.join(out, "reports")
assert os.listdir(reports) == ["bravo"], os.listdir(reports)
[name] = os.listdir(os.path.join(reports, "bravo"))
report = open(os.path.join(reports, "bravo", name), "rb").read()
assert name.startswith("EXCEPTION-") and name.endswith(".XML"), name
assert report.startswith(b"<xml>\r\n<Exception>\r\n") and report.endswith(b"</Exception>\r\n</xml>\r\n"), report
for folder in ("host-tmp", "remote-tmp"):
    left = os.listdir(os.path.join(scratch, folder))
    assert left == [], "%s keeps %s" % (folder, left)
print("fleet: 4 hosts audited, bravo's fault report brought home (%s, %d bytes), charlie, foxtrot and golf "
      "failed with their reasons" % (name, len(report)))
CHECK
