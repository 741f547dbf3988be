"""Filters that turn the hosts' NorvaAudit runs into rows of a table and
their fault reports into files for the controller."""
import base64
import binascii
import csv
import io
import re

LABELS = [
    ("version", "Version"),
    ("host_name", "Host Name"),
    ("machine_up_time", "Machine Up Time"),
    ("os_install_date", "OS Install Date"),
    ("os_version", "OS Version"),
    ("total_visible_memory_size", "Total Visible Memory Size"),
    ("number_of_cores", "Number of Cores"),
    ("duration", "Duration"),
]
COLUMNS = ["host"] + [key for key, _ in LABELS] + ["exit_code", "reason", "fault_reports"]


def parse_report(text):
    """The values of a ten-line report, by their labels; None when the
    report is not in that layout."""
    lines = text.replace("\r\n", "\n").rstrip("\n").split("\n")
    if len(lines) != 10 or not lines[0].startswith("NORVA Audit v") or not re.fullmatch(r"\.{8}", lines[1]):
        return None
    values = {}
    for (key, label), line in zip(LABELS, lines[2:]):
        if not line.startswith(label + ": ") and line != label + ":":
            return None
        values[key] = line[len(label) + 2:]
    return values


def decoded(text):
    try:
        return base64.b64decode(text, validate=True)
    except (binascii.Error, ValueError):
        return None


def program_run(step):
    """The program's run as the remote step wrote it ("rc N", "stdout B64",
    "stderr B64", "report NAME-B64 CONTENT-B64" lines): its exit code, its
    output and error texts and its reports, still in base64; None when the
    step did not get as far as running it."""
    if not isinstance(step, dict) or "rc" not in step:
        return None
    run = {"reports": []}
    for line in str(step.get("stdout", "")).splitlines():
        key, _, value = line.strip().partition(" ")
        if key == "rc" and value.lstrip("-").isdigit():
            run["rc"] = int(value)
        elif key in ("stdout", "stderr"):
            run[key] = (decoded(value) or b"").decode("utf-8", "replace")
        elif key == "report":
            name, _, content = value.partition(" ")
            if decoded(name) is not None and decoded(content) is not None:
                run["reports"].append({"name": name, "content": content})
    return run if "rc" in run else None


def row_of(host, variables):
    row = dict.fromkeys(COLUMNS, "")
    row["host"] = host
    row["exit_code"] = row["fault_reports"] = None
    step = variables.get("norva_run")
    run = program_run(step)
    failure = variables.get("norva_failure")
    if failure:
        row["reason"] = str(failure)
    elif run is None:
        row["reason"] = "unreachable" if isinstance(step, dict) and step.get("unreachable") else "the audit did not run"
    else:
        row["exit_code"] = run["rc"]
        row["fault_reports"] = len(run["reports"])
        values = parse_report(run.get("stdout", ""))
        if run["rc"] != 0:
            error = (run.get("stderr") or "").strip().replace("\r\n", " ")
            row["reason"] = "exit code %d%s" % (run["rc"], ": " + error if error else "")
        elif values is None:
            row["reason"] = "the report is not in the ten-line layout"
        if values is not None:
            row.update(values)
    return row


def norva_fault_reports(hosts, hostvars):
    """Each host's fault reports, as its run brought them back."""
    reports = {}
    for host in hosts:
        run = program_run(hostvars[host].get("norva_run"))
        if run and run["reports"]:
            reports[host] = run["reports"]
    return reports


def norva_failure_reason(result):
    """What went wrong in a failed task's result, the first failed item's
    message for a loop."""
    for item in result.get("results") or []:
        if isinstance(item, dict) and item.get("failed"):
            return item.get("msg") or "the audit failed"
    error = str(result.get("stderr") or "").strip()
    return error or result.get("msg") or "the audit failed"


def norva_rows(hosts, hostvars):
    return [row_of(host, hostvars[host]) for host in hosts]


def norva_csv(rows):
    text = io.StringIO()
    writer = csv.DictWriter(text, fieldnames=COLUMNS, lineterminator="\n")
    writer.writeheader()
    for row in rows:
        writer.writerow({key: "" if row[key] is None else row[key] for key in COLUMNS})
    return text.getvalue()


class FilterModule:
    def filters(self):
        return {"norva_rows": norva_rows, "norva_csv": norva_csv, "norva_failure_reason": norva_failure_reason,
                "norva_fault_reports": norva_fault_reports}
