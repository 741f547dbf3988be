"""The controller's peak memory in a fleet run whose hosts each leave a
fault report just under norva_report_limit, against the same run with no
report. Four hosts over the local connection, 8 forks; the peak is the
largest resident size of ansible-playbook or any of its workers.

Goal: what the reports add stays within a few times one report, however
many hosts send one (the reports go to disk per host as they arrive).

Usage: fleet_memory.py PROGRAM-FOLDER [HOSTS] [LIMIT]
       (defaults: 4 hosts, the playbook's own 16 MiB limit)"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PLAYBOOK = os.path.join(ROOT, "deploy", "ansible", "audit.yml")
GOAL = 4.0  # the reports' share of the peak, in reports


def stand_in(folder, program_folder, report_size):
    """NorvaAudit that runs the real one and leaves a report of `report_size` bytes."""
    os.makedirs(folder)
    for name in ("NorvaAudit", "wmic"):
        shutil.copy(os.path.join(program_folder, name), os.path.join(folder, "real-" + name))
    shutil.copy(os.path.join(program_folder, "wmic"), folder)
    with open(os.path.join(folder, "NorvaAudit"), "w") as program:
        program.write('#!/bin/sh\nhere="$(dirname "$0")"\n')
        if report_size:
            program.write('head -c %d /dev/urandom >"$here/EXCEPTION-bench.XML"\n' % report_size)
        program.write('exec "$here/real-NorvaAudit"\n')
    os.chmod(os.path.join(folder, "NorvaAudit"), 0o755)


def peak_of_run(scratch, program_folder, hosts, report_size, limit):
    """The run's peak resident size in bytes, measured in a child of its own."""
    folder = os.path.join(scratch, "program-%d" % report_size)
    stand_in(folder, program_folder, report_size)
    host_vars = {"ansible_connection": "local", "norva_linux_folder": folder,
                 "norva_environment": {"TMPDIR": scratch}}
    if limit:
        host_vars["norva_report_limit"] = limit
    inventory = os.path.join(scratch, "inventory-%d.json" % report_size)
    with open(inventory, "w") as target:
        json.dump({"all": {"vars": host_vars, "hosts": {"host%d" % i: {} for i in range(hosts)}}}, target)
    out = os.path.join(scratch, "out-%d" % report_size)
    measure = ("import resource, subprocess, sys\n"
               "subprocess.run(sys.argv[1:], check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)\n"
               "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")
    environment = dict(os.environ, ANSIBLE_CONFIG=os.path.join(ROOT, "deploy", "ansible", "ansible.cfg"),
                       ANSIBLE_FORKS="8", HOME=scratch, ANSIBLE_LOCAL_TEMP=os.path.join(scratch, "ansible-tmp"))
    peak = subprocess.run([sys.executable, "-c", measure, "ansible-playbook", "-i", inventory, PLAYBOOK,
                           "-e", "norva_out=" + out], env=environment, check=True, stdout=subprocess.PIPE,
                          text=True).stdout
    if report_size:
        for host in range(hosts):
            report = os.path.join(out, "reports", "host%d" % host, "EXCEPTION-bench.XML")
            assert os.path.getsize(report) == report_size, report
    return int(peak) * 1024


def main(program_folder, hosts="4", limit=""):
    hosts = int(hosts)
    report_size = (int(limit) if limit else 16 * 1024 * 1024) - 4096
    scratch = tempfile.mkdtemp(prefix="fleet-memory-", dir=os.path.join(ROOT, "build"))
    try:
        base = peak_of_run(scratch, program_folder, hosts, 0, limit)
        peak = peak_of_run(scratch, program_folder, hosts, report_size, limit)
    finally:
        shutil.rmtree(scratch)
    share = (peak - base) / report_size
    mib = 1024 * 1024
    print("fleet memory, %d hosts each with a %.1f MiB report: peak %.0f MiB, %.0f MiB without reports; "
          "the reports add %.1f reports' worth (goal <= %.1f)"
          % (hosts, report_size / mib, peak / mib, base / mib, share, GOAL))
    return 0 if share <= GOAL else 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
