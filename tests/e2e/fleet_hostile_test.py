"""The fleet playbook against hosts that send what no honest audit sends.

One run over the local connection audits a table of hosts, each running a
stand-in NorvaAudit of its own (the playbook runs whatever program a host's
folder holds) beside one real audit: template texts in the host name line,
in the error output of a failing run, in a report's name and content; a
broken template in the error output; a program that writes forged lines
onto the remote step's own output; reports over the limit; a program that
runs past norva_timeout; values that a spreadsheet would take for formulas;
an inventory name that cannot name a folder; a host whose temporary
folders are mounted noexec; a host whose only allowed folder is; a host
without base64. Then a run limited to one host (-l) must change that
host's row alone and keep every other row and report.

Needs root: the run happens in a mount namespace of its own, in which
/tmp, /var/tmp, /dev/shm and one folder of the test's are noexec tmpfs.

Usage: fleet_hostile_test.py PROGRAM-FOLDER PLAYBOOK SCRATCH
"""
import csv
import json
import os
import shutil
import subprocess
import sys

SKIP = 77
LIMIT = 4096
REPORT = ("NORVA Audit v2021.1.7.857\r\n........\r\nVersion: 2021.1.7.857\r\nHost Name: {name}\r\n"
          "Machine Up Time: 0w0d1h2m3s\r\nOS Install Date: 20250624143740.000000+000\r\n"
          "OS Version: 6.1\r\nTotal Visible Memory Size: 1024\r\nNumber of Cores: 4\r\nDuration: 5ms\r\n")


def template(marker):
    """A text that, templated, would make the controller create `marker`."""
    return '{{ lookup("pipe", "touch %s") }}' % marker


def sh_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def print_report(name):
    return "printf '%%s' %s\n" % sh_quote(REPORT.format(name=name))


def programs(scratch):
    """Per stand-in host: the shell program it runs."""
    mark = os.path.join(scratch, "pwned")
    find_step_shell = ("p=$PPID\nuntil [ \"$(cat /proc/$p/comm)\" = sh ]; do p=$(cut -d' ' -f4 /proc/$p/stat); done\n")
    # The remote step's own output: a pipe that the step's shell holds open
    # for writing (it may keep it on a spare descriptor while the program's
    # output is a file).
    forge = (find_step_shell + "for fd in /proc/$p/fd/*; do\n"
             "  grep -q '^flags:.*1$' /proc/$p/fdinfo/${fd##*/} || continue\n"
             "  case \"$(readlink \"$fd\")\" in pipe:*) target=$fd; break ;; esac\n"
             "done\n"
             "{ echo 'report Li4vLi4veA== ZXZpbA=='; echo 'garbage here'; echo 'stdout 5 !!!!'; } >\"$target\"\n")
    return {
        "name_template": print_report(template(mark + "-name")),
        "stderr_template": "printf '%%s\\n' %s >&2\nexit 3\n" % sh_quote(template(mark + "-stderr")),
        "report_template": print_report("vm") + "cd \"$(dirname \"$0\")\"\nprintf '%%s' %s >%s\n" % (
            sh_quote(template(mark + "-content")), sh_quote(template("pwned-file"))),
        "broken_template": "echo 'could not read {{ end }' >&2\nexit 1\n",
        "forger": print_report("vm") + forge,
        "oversize": print_report("vm") + "head -c %d /dev/zero >\"$(dirname \"$0\")/EXCEPTION-big.XML\"\n"
                                         "echo small >\"$(dirname \"$0\")/EXCEPTION-small.XML\"\n" % (LIMIT + 1),
        "sleeper": "exec sleep 987\n",
        "killer": find_step_shell + "kill -TERM $p\n",
        "formula": print_report("=HYPERLINK(\"http://x\")"),
        "markup": print_report("<script>alert(1)</script><img src=x onerror=alert(2)>"),
        "changing": "cat " + sh_quote(os.path.join(scratch, "changing-report")) + "\n",
    }


def make_program(folder, body, wmic):
    os.makedirs(folder)
    path = os.path.join(folder, "NorvaAudit")
    with open(path, "w") as target:
        target.write("#!/bin/sh\n" + body)
    os.chmod(path, 0o755)
    shutil.copy(wmic, folder)


def tool_folder(scratch):
    """A PATH folder with every tool the step needs but base64."""
    folder = os.path.join(scratch, "no-base64")
    os.makedirs(folder)
    for tool in ("awk", "cat", "chmod", "date", "gzip", "head", "mkdir", "mktemp", "rm", "tar", "timeout", "tr",
                 "wc", "cut", "dirname", "sleep", "printf"):
        os.symlink(shutil.which(tool), os.path.join(folder, tool))
    return folder


def inventory(scratch, program_folder):
    host_tmp = os.path.join(scratch, "host-tmp")
    local = {"ansible_connection": "local", "ansible_python_interpreter": "/usr/bin/python3",
             "norva_environment": {"TMPDIR": host_tmp}, "norva_report_limit": LIMIT, "norva_timeout": 2}
    hosts = {"alpha": {"norva_linux_folder": program_folder, "norva_report_limit": 1 << 24}}
    for name in programs(scratch):
        hosts[name] = {"norva_linux_folder": os.path.join(scratch, "programs", name)}
    hosts["bad/name"] = {"norva_linux_folder": os.path.join(scratch, "programs", "oversize")}
    hosts["=SUM(1)"] = {"norva_linux_folder": program_folder}
    hosts["hardened"] = {"norva_linux_folder": program_folder, "norva_report_limit": 1 << 24,
                         "norva_environment": {"TMPDIR": os.path.join(scratch, "noexec"),
                                               "HOME": os.path.join(scratch, "hardened-home")}}
    hosts["noexec_only"] = {"norva_linux_folder": program_folder,
                            "norva_remote_folder": os.path.join(scratch, "noexec")}
    hosts["no_base64"] = {"norva_linux_folder": program_folder,
                          "norva_environment": {"TMPDIR": host_tmp, "PATH": tool_folder(scratch)}}
    return {"all": {"vars": local, "hosts": hosts}}


def playbook(scratch, book, *extra, out=True, code=0):
    environment = dict(os.environ, HOME=os.path.join(scratch, "home"), ANSIBLE_NOCOLOR="1",
                       ANSIBLE_CONFIG=os.path.join(os.path.dirname(book), "ansible.cfg"),
                       ANSIBLE_LOCAL_TEMP=os.path.join(scratch, "local-tmp"),
                       ANSIBLE_REMOTE_TEMP=os.path.join(scratch, "remote-tmp"))
    command = ["ansible-playbook", "-i", os.path.join(scratch, "inventory.json"), book, *extra]
    if out:
        command += ["-e", "norva_out=" + os.path.join(scratch, "out")]
    run = subprocess.run(command, env=environment, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, cwd=scratch)
    assert run.returncode == code, run.stdout
    return run.stdout


def tables(out):
    with open(os.path.join(out, "audit.json"), encoding="utf-8") as source:
        rows = {row["host"]: row for row in json.load(source)}
    with open(os.path.join(out, "audit.csv"), encoding="utf-8", newline="") as source:
        cells = dict(zip(rows, csv.DictReader(source)))
    return rows, cells


def files_below(folder):
    return sorted(os.path.relpath(os.path.join(top, name), folder)
                  for top, _, names in os.walk(folder) for name in names)


def still_sleeping():
    """Whether the program that ran past its time is still running."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as cmdline:
                if cmdline.read() == b"sleep\0" + b"987\0":
                    return True
        except OSError:
            pass
    return False


def check_first_run(scratch, rows, cells):
    out = os.path.join(scratch, "out")
    complete = ["version", "host_name", "machine_up_time", "os_install_date", "os_version",
                "total_visible_memory_size", "number_of_cores", "duration"]
    for host in ("alpha", "=SUM(1)", "hardened"):
        row = rows[host]
        assert row["exit_code"] == 0 and row["reason"] == "" and all(row[key] not in ("", None) for key in complete), row
        assert isinstance(row["total_visible_memory_size"], int) and isinstance(row["number_of_cores"], int), row
    assert list(rows["alpha"]) == list(cells["alpha"]), "audit.json keeps the CSV's column order"
    expected = {
        "name_template": lambda row: row["host_name"] == template(os.path.join(scratch, "pwned-name"))
        and row["reason"] == "",
        "stderr_template": lambda row: row["reason"] == "exit code 3: " + template(os.path.join(scratch, "pwned-stderr")),
        "report_template": lambda row: row["fault_reports"] == 1 and row["reason"] == "",
        "broken_template": lambda row: row["reason"] == "exit code 1: could not read {{ end }",
        "forger": lambda row: row["host_name"] == "vm" and "a report named '../../x' cannot name a file" in row["reason"]
        and "line 2 of the host's answer is not one the audit step writes" in row["reason"],
        "oversize": lambda row: row["fault_reports"] == 2 and row["host_name"] == "vm"
        and "EXCEPTION-big.XML' (4097 bytes) is over the 4096-byte limit" in row["reason"],
        "killer": lambda row: row["reason"] == "the audit step ended with status 129 before the program's exit code",
        "sleeper": lambda row: row["reason"] == "timed out after 2 s: the program was ended on the host",
        "formula": lambda row: row["host_name"] == '=HYPERLINK("http://x")',
        "bad/name": lambda row: "the inventory name cannot name a folder" in row["reason"],
        "noexec_only": lambda row: row["exit_code"] is None and "mounted noexec" in row["reason"]
        and row["reason"].startswith("no folder on the host lets a program start: " + os.path.join(scratch, "noexec")),
        "no_base64": lambda row: row["reason"] == "the host lacks what the audit step needs: base64",
    }
    for host, check in expected.items():
        assert check(rows[host]), rows[host]
    with open(os.path.join(out, "overview.html"), encoding="utf-8") as page:
        html = page.read()
    assert html.count("<script") == 1 and "<img" not in html and "&lt;script&gt;alert(1)" in html, \
        "a host's text is markup in the page"
    assert cells["formula"]["host_name"] == "'" + rows["formula"]["host_name"], cells["formula"]
    assert cells["=SUM(1)"]["host"] == "'=SUM(1)" and cells["alpha"]["number_of_cores"] == str(
        rows["alpha"]["number_of_cores"]), cells
    assert rows["no_base64"]["total_visible_memory_size"] is None
    # Nothing a template could have made, nothing outside the output folder.
    made = [name for name in ("pwned-name", "pwned-stderr", "pwned-content", "pwned-file")
            if os.path.exists(os.path.join(scratch, name))]
    assert made == [], "templated on the controller: %s" % made
    assert sorted(os.listdir(out)) == ["audit.csv", "audit.json", "changes.csv", "changes.json", "fleet.sqlite",
                                       "overview.html", "reports", "runs"], os.listdir(out)
    saved = files_below(os.path.join(out, "reports"))
    content_name = template("pwned-file")
    assert saved == sorted([os.path.join("oversize", "EXCEPTION-small.XML"),
                            os.path.join("report_template", content_name)]), saved
    with open(os.path.join(out, "reports", "report_template", content_name), encoding="utf-8") as report:
        assert report.read() == template(os.path.join(scratch, "pwned-content"))
    for folder in ("host-tmp", "hardened-home", "remote-tmp"):
        left = os.listdir(os.path.join(scratch, folder))
        assert left == [], "%s keeps %s" % (folder, left)
    assert not still_sleeping(), "the program that ran past its time still runs"


def main(program_folder, book, scratch):
    if os.geteuid() != 0:
        print("needs root for a mount namespace of its own: skipped")
        return SKIP
    # The hardened host's temporary folders are mounted over /tmp, /var/tmp
    # and /dev/shm, which would hide a tree that lies below one of them.
    for hidden in ("/tmp", "/var/tmp", "/dev/shm"):
        for path in (program_folder, book, scratch):
            if os.path.realpath(path).startswith(hidden + "/"):
                print("cannot run from below %s, which the test mounts over: %s" % (hidden, path))
                return 1
    if os.environ.get("NORVA_IN_NAMESPACE") != "1":
        shutil.rmtree(scratch, ignore_errors=True)
        os.makedirs(scratch)
        os.environ["NORVA_IN_NAMESPACE"] = "1"
        return subprocess.run(["unshare", "--mount", "--propagation", "private", sys.executable,
                               os.path.abspath(__file__), program_folder, book, scratch]).returncode
    for folder in ("host-tmp", "hardened-home", "home", "local-tmp", "remote-tmp", "noexec"):
        os.makedirs(os.path.join(scratch, folder))
    for folder in ("/tmp", "/var/tmp", "/dev/shm", os.path.join(scratch, "noexec")):
        subprocess.run(["mount", "-t", "tmpfs", "-o", "noexec,mode=1777", "tmpfs", folder], check=True)
    with open(os.path.join(scratch, "changing-report"), "w") as report:
        report.write(REPORT.format(name="before"))
    for name, body in programs(scratch).items():
        make_program(os.path.join(scratch, "programs", name), body, os.path.join(program_folder, "wmic"))
    with open(os.path.join(scratch, "inventory.json"), "w") as target:
        json.dump(inventory(scratch, program_folder), target)

    playbook(scratch, book)
    out = os.path.join(scratch, "out")
    rows, cells = tables(out)
    with open(os.path.join(out, "audit.csv"), encoding="utf-8") as table:
        print(table.read())
    check_first_run(scratch, rows, cells)

    with open(os.path.join(scratch, "changing-report"), "w") as report:
        report.write(REPORT.format(name="after"))
    playbook(scratch, book, "-l", "changing")
    again, _ = tables(out)
    assert again["changing"]["host_name"] == "after" and rows["changing"]["host_name"] == "before", again["changing"]
    assert list(again) == list(rows), "the rows keep the inventory's order"
    assert {host: row for host, row in again.items() if host != "changing"} == {
        host: row for host, row in rows.items() if host != "changing"}, "a -l run changed other hosts' rows"
    assert len(files_below(os.path.join(out, "reports"))) == 2, files_below(os.path.join(out, "reports"))
    # Without an output folder the run stops before any host is contacted.
    said = playbook(scratch, book, out=False, code=2)
    assert "norva_out is not set" in said and "Audit in a folder of its own" not in said, said
    print("fleet_hostile: %d hosts, every template kept as text, every row with its values or its reason; "
          "a -l run changed one row" % len(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
