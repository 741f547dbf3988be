"""The Windows side of the fleet run as far as this machine can run it:
the action that stages a Windows host's row reads a registered result of
the shape win_shell returns (CR LF lines, template texts in the host name
and in a report), straight from the variables, and keeps every text as it
came. A local command stands in for the remote step.

Usage: windows_result_test.py SCRATCH"""
import base64
import csv
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ACTIONS = os.path.join(HERE, os.pardir, os.pardir, "deploy", "ansible", "action_plugins")
NAME = "{{ lookup('pipe', 'touch pwned-name') }}"
CONTENT = b"{{ lookup('pipe', 'touch pwned-report') }}"
PLAYBOOK = """
- hosts: all
  gather_facts: false
  tasks:
    - norva_begin: {out: "{{ playbook_dir }}/out"}
      run_once: true
      register: norva_begin
    - command: cat {{ playbook_dir }}/answer.txt
      register: norva_run
    - norva_windows_result: {result: [norva_folder, norva_run], stage: "{{ norva_begin.stage }}"}
    - norva_publish: {out: "{{ playbook_dir }}/out", stage: "{{ norva_begin.stage }}"}
      run_once: true
"""


def b64(data):
    return base64.b64encode(data).decode()


def main(scratch):
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    report = ("NORVA Audit v2021.1.7.857\r\n........\r\nVersion: 2021.1.7.857\r\nHost Name: %s\r\n"
              "Machine Up Time: 0w0d1h2m3s\r\nOS Install Date: 20250624143740.000000+000\r\nOS Version: 10.0\r\n"
              "Total Visible Memory Size: 1024\r\nNumber of Cores: 4\r\nDuration: 5ms\r\n" % NAME).encode()
    with open(os.path.join(scratch, "answer.txt"), "w", newline="") as answer:
        answer.write("rc 0\r\nstdout %d %s\r\nstderr 0 \r\nreport %s %s\r\n"
                     % (len(report), b64(report), b64(b"EXCEPTION-1.XML"), b64(CONTENT)))
    with open(os.path.join(scratch, "play.yml"), "w") as play:
        play.write(PLAYBOOK)
    environment = dict(os.environ, ANSIBLE_ACTION_PLUGINS=ACTIONS, ANSIBLE_NOCOLOR="1", HOME=scratch,
                       ANSIBLE_LOCAL_TEMP=os.path.join(scratch, "tmp"))
    run = subprocess.run(["ansible-playbook", "-i", "winhost,", "-c", "local", "-e",
                          "ansible_python_interpreter=/usr/bin/python3", "play.yml"], cwd=scratch, env=environment,
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert run.returncode == 0, run.stdout
    with open(os.path.join(scratch, "out", "audit.csv"), newline="") as table:
        [row] = list(csv.DictReader(table))
    assert (row["host_name"], row["exit_code"], row["fault_reports"], row["reason"]) == (NAME, "0", "1", ""), row
    with open(os.path.join(scratch, "out", "reports", "winhost", "EXCEPTION-1.XML"), "rb") as saved:
        assert saved.read() == CONTENT
    made = [name for name in ("pwned-name", "pwned-report") if os.path.exists(os.path.join(scratch, name))]
    assert made == [], "templated on the controller: %s" % made
    print("windows result: the row and the report keep their template texts as text")
    shutil.rmtree(scratch)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
