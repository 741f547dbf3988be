"""The fleet over time: two runs of the playbook against one norva_out,
with stand-in hosts whose values change between them, then a run killed
half-way; then the overview page in headless Chromium.

Checks that both runs are kept whole under runs/, the first run's reports
included; that changes.csv holds each host's change with its old and new
value; that fleet.sqlite holds both runs, their hosts and reports, and
answers the README's queries; that the killed run left every earlier run,
the latest tables and the database as they were; and that the page shows
the run's counts, sorts, filters, has its charts, fetched nothing but
itself and logged no error (a screenshot stays in the scratch folder).

Usage: fleet_history_test.py PROGRAM-FOLDER PLAYBOOK SCRATCH"""
import csv
import hashlib
import json
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "deploy"))
import overview_browser  # noqa: E402

README = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "README.md")
REPORT = ("NORVA Audit v2021.1.7.857\r\n........\r\nVersion: 2021.1.7.857\r\nHost Name: {name}\r\n"
          "Machine Up Time: {up}\r\nOS Install Date: {installed}\r\nOS Version: {os}\r\n"
          "Total Visible Memory Size: {memory}\r\nNumber of Cores: {cores}\r\nDuration: 5ms\r\n")
BASE = dict(up="6w3d0h0m0s", installed="20250101000000.000000+000", os="6.1", memory="8388608", cores="4")
# Per host, what it answers in the first and in the second run: a report's
# values (None: the run fails), and whether it leaves a fault report.
HOSTS = {
    "restarted": (dict(BASE), dict(BASE, up="0w0d0h5m0s")),
    "reinstalled": (dict(BASE), dict(BASE, installed="20261201000000.000000+000", up="0w0d0h5m0s")),
    "upgraded": (dict(BASE), dict(BASE, os="6.2", memory="16777216", cores="8")),
    "failing": (dict(BASE), None),
    "recovering": (None, dict(BASE)),
    "faulty": (dict(BASE, report=True), dict(BASE, report=True)),
    "steady": (dict(BASE), dict(BASE)),
    "broken": (None, None),
}


def write_program(folder, answer, wmic):
    os.makedirs(folder, exist_ok=True)
    if answer is None:
        body = "echo 'cannot reach the management tool' >&2\nexit 1\n"
    else:
        body = "printf '%s' '" + REPORT.format(name="vm", **answer) + "'\n"
        if answer.get("report"):
            body += "echo '<xml/>' >\"$(dirname \"$0\")/EXCEPTION-$$.XML\"\n"
    with open(os.path.join(folder, "NorvaAudit"), "w") as program:
        program.write("#!/bin/sh\n" + body)
    os.chmod(os.path.join(folder, "NorvaAudit"), 0o755)
    shutil.copy(wmic, folder)


def inventory(scratch, hosts, extra=None):
    path = os.path.join(scratch, "inventory.json")
    entries = {host: {"norva_linux_folder": os.path.join(scratch, "programs", host)} for host in hosts}
    entries.update(extra or {})
    with open(path, "w") as target:
        json.dump({"all": {"vars": {"ansible_connection": "local", "ansible_python_interpreter": "/usr/bin/python3",
                                    "norva_environment": {"TMPDIR": os.path.join(scratch, "host-tmp")}},
                           "hosts": entries}}, target)
    return path


def playbook_command(scratch, book):
    return ["ansible-playbook", "-i", os.path.join(scratch, "inventory.json"), book,
            "-e", "norva_out=" + os.path.join(scratch, "out")]


def environment(scratch, book):
    return dict(os.environ, HOME=os.path.join(scratch, "home"), ANSIBLE_NOCOLOR="1",
                ANSIBLE_CONFIG=os.path.join(os.path.dirname(book), "ansible.cfg"),
                ANSIBLE_LOCAL_TEMP=os.path.join(scratch, "local-tmp"))


def run_playbook(scratch, book):
    run = subprocess.run(playbook_command(scratch, book), env=environment(scratch, book), stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert run.returncode == 0, run.stdout


def prepare(scratch, program_folder, run):
    for host, answers in HOSTS.items():
        write_program(os.path.join(scratch, "programs", host), answers[run], os.path.join(program_folder, "wmic"))


def readme_queries():
    """The SQL blocks of the README's fleet database section."""
    text = open(README, encoding="utf-8").read()
    section = text[text.index("### The fleet database"):]
    return re.findall(r"```sql\n(.*?)```", section, re.S)


def check_runs(out):
    runs = sorted(os.listdir(os.path.join(out, "runs")))
    assert len(runs) == 2, runs
    first, second = runs
    first_reports = os.listdir(os.path.join(out, "runs", first, "reports", "faulty"))
    assert len(first_reports) == 1, first_reports
    latest = os.listdir(os.path.join(out, "reports", "faulty"))
    assert len(latest) == 1 and latest != first_reports, (latest, first_reports)
    for name in ("audit.csv", "audit.json", "changes.csv", "changes.json", "overview.html"):
        with open(os.path.join(out, name), "rb") as top, open(os.path.join(out, "runs", second, name), "rb") as run:
            assert top.read() == run.read(), name
    return first, second, first_reports[0]


def check_changes(out):
    with open(os.path.join(out, "changes.csv"), newline="") as table:
        found = {(row["host"], row["change"], row["old"], row["new"]) for row in csv.DictReader(table)}
    expected = {
        ("restarted", "restarted", "6w3d0h0m0s", "0w0d0h5m0s"),
        ("reinstalled", "restarted", "6w3d0h0m0s", "0w0d0h5m0s"),
        ("reinstalled", "reinstalled", "20250101000000.000000+000", "20261201000000.000000+000"),
        ("upgraded", "os_version", "6.1", "6.2"),
        ("upgraded", "memory", "8388608", "16777216"),
        ("upgraded", "cores", "4", "8"),
        ("failing", "failing", "", "exit code 1: cannot reach the management tool"),
        ("recovering", "recovered", "exit code 1: cannot reach the management tool", ""),
        ("faulty", "fault_reports", "1", "1"),
        ("gone", "gone", "vm", ""),
        ("added", "added", "", "vm"),
    }
    assert found == expected, "unexpected: %s; missing: %s" % (found - expected, expected - found)
    with open(os.path.join(out, "changes.csv")) as table:
        print(table.read())


def check_database(out, first, second, report):
    database = sqlite3.connect(os.path.join(out, "fleet.sqlite"))
    assert database.execute("PRAGMA user_version").fetchone() == (1,)
    assert database.execute("SELECT id, hosts, audited, failed FROM runs ORDER BY id").fetchall() == [
        (first, 9, 7, 2), (second, 9, 7, 2)]
    memory, cores = database.execute("SELECT total_visible_memory_size, number_of_cores FROM host_runs "
                                     "WHERE run_id = ? AND host = 'upgraded'", (second,)).fetchone()
    assert (memory, cores) == (16777216, 8), (memory, cores)
    name, size, digest, path = database.execute(
        "SELECT name, size, sha256, path FROM fault_reports WHERE run_id = ?", (first,)).fetchone()
    with open(os.path.join(out, path), "rb") as saved:
        content = saved.read()
    assert (name, size, digest) == (report, len(content), hashlib.sha256(content).hexdigest())
    for query in readme_queries():
        print(query.strip())
        for row in database.execute(query).fetchall():
            print("  ", row)
    database.close()


def kill_half_way(scratch, book, out):
    """A run whose host hangs, killed once it has begun: every earlier run,
    the latest tables and the database stay as they were."""
    before = {name: open(os.path.join(out, name), "rb").read() for name in ("audit.csv", "audit.json")}
    database = open(os.path.join(out, "fleet.sqlite"), "rb").read()
    runs = sorted(os.listdir(os.path.join(out, "runs")))
    folder = os.path.join(scratch, "programs", "hanging")
    os.makedirs(folder)
    with open(os.path.join(folder, "NorvaAudit"), "w") as program:
        program.write("#!/bin/sh\nexec sleep 20\n")
    os.chmod(os.path.join(folder, "NorvaAudit"), 0o755)
    shutil.copy(os.path.join(scratch, "programs", "steady", "wmic"), folder)
    inventory(scratch, list(HOSTS) + ["hanging"], {"hanging": {"norva_linux_folder": folder, "norva_timeout": 30}})
    run = subprocess.Popen(playbook_command(scratch, book), env=environment(scratch, book), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    deadline = time.monotonic() + 60
    while not [name for name in os.listdir(out) if name.startswith(".norva-run-")]:
        assert time.monotonic() < deadline and run.poll() is None, "the run never began"
        time.sleep(0.1)
    time.sleep(2)
    os.killpg(run.pid, signal.SIGKILL)
    run.wait()
    assert sorted(os.listdir(os.path.join(out, "runs"))) == runs
    for name, content in before.items():
        assert open(os.path.join(out, name), "rb").read() == content, name
    assert open(os.path.join(out, "fleet.sqlite"), "rb").read() == database
    assert len(os.listdir(os.path.join(out, "runs", runs[0], "reports", "faulty"))) == 1


def check_page(scratch, out):
    with open(os.path.join(out, "audit.json")) as table:
        rows = json.load(table)
    page = overview_browser.Page(os.path.join(out, "overview.html"))
    try:
        audited = sum(1 for row in rows if row["exit_code"] == 0 and row["version"])
        assert (page.count("hosts"), page.count("audited"), page.count("failed")) == (
            len(rows), audited, len(rows) - audited)
        page.sort_by(3)
        up_times = [int(value) for value in page.column(3) if value != ""]
        assert up_times == sorted(up_times) and len(up_times) == audited, up_times
        page.sort_by(3)
        descending = [int(value) for value in page.column(3) if value != ""]
        assert descending == sorted(up_times, reverse=True), descending
        page.filter("upgr")
        assert page.column(0) == ["upgraded"], page.column(0)
        page.filter("")
        assert len(page.column(0)) == len(rows), page.column(0)
        bars = page.chart_bars()
        assert set(bars) == {"chart-os-versions", "chart-restarts", "chart-memory", "chart-cores"}, bars
        assert all(bars.values()), bars
        requests = page.requests()
        assert requests == ["file://" + os.path.join(out, "overview.html")], requests
        assert page.errors() == [], page.errors()
        [link] = page.links()
        assert link.startswith("file://" + os.path.join(out, "reports", "faulty")) and os.path.isfile(
            link[len("file://"):]), link
        assert page.pdf().startswith(b"%PDF")
        page.screenshot(os.path.join(scratch, "overview.png"))
        print("overview: %d hosts, sorted and filtered; screenshot %s" % (len(rows), os.path.join(scratch,
                                                                                                  "overview.png")))
    finally:
        page.close()
    # Without scripts the table and the charts are all there.
    page = overview_browser.Page(os.path.join(out, "overview.html"), scripts=False)
    try:
        assert page.row_count() == len(rows) and all(page.chart_bars().values()), page.chart_bars()
        assert page.requests() == ["file://" + os.path.join(out, "overview.html")]
    finally:
        page.close()


def main(program_folder, book, scratch):
    shutil.rmtree(scratch, ignore_errors=True)
    for folder in ("host-tmp", "home", "local-tmp"):
        os.makedirs(os.path.join(scratch, folder))
    out = os.path.join(scratch, "out")
    prepare(scratch, program_folder, 0)
    write_program(os.path.join(scratch, "programs", "gone"), BASE, os.path.join(program_folder, "wmic"))
    inventory(scratch, list(HOSTS) + ["gone"])
    run_playbook(scratch, book)
    with open(os.path.join(out, "changes.csv")) as table:
        assert table.read() == "host,change,old,new\n", "a first run has no changes"
    time.sleep(1)  # a run id of its own second
    prepare(scratch, program_folder, 1)
    write_program(os.path.join(scratch, "programs", "added"), BASE, os.path.join(program_folder, "wmic"))
    inventory(scratch, list(HOSTS) + ["added"])
    run_playbook(scratch, book)
    first, second, report = check_runs(out)
    check_changes(out)
    check_database(out, first, second, report)
    kill_half_way(scratch, book, out)
    check_page(scratch, out)
    print("fleet_history: runs %s and %s kept whole, the killed run left them as they were" % (first, second))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
