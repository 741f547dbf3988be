"""Filters that turn the hosts' NorvaAudit reports into rows of a table."""
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
COLUMNS = ["host"] + [key for key, _ in LABELS] + ["exit_code", "reason"]


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


def row_of(host, variables):
    row = dict.fromkeys(COLUMNS, "")
    row["host"] = host
    row["exit_code"] = None
    run = variables.get("norva_run")
    failure = variables.get("norva_failure")
    if failure:
        row["reason"] = str(failure)
    elif not isinstance(run, dict) or "rc" not in run:
        row["reason"] = "unreachable" if isinstance(run, dict) and run.get("unreachable") else "the audit did not run"
    else:
        row["exit_code"] = run["rc"]
        values = parse_report(run.get("stdout", ""))
        if run["rc"] != 0:
            error = (run.get("stderr") or "").strip().replace("\r\n", " ")
            row["reason"] = "exit code %d%s" % (run["rc"], ": " + error if error else "")
        elif values is None:
            row["reason"] = "the report is not in the ten-line layout"
        if values is not None:
            row.update(values)
    return row


def norva_failure_reason(result):
    """What went wrong in a failed task's result, the first failed item's
    message for a loop."""
    for item in result.get("results") or []:
        if isinstance(item, dict) and item.get("failed"):
            return item.get("msg") or "the audit failed"
    return result.get("msg") or "the audit failed"


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
        return {"norva_rows": norva_rows, "norva_csv": norva_csv, "norva_failure_reason": norva_failure_reason}
