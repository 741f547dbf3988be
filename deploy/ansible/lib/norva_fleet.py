"""The controller's side of the fleet audit, apart from Ansible: reading a
host's answer, turning it into a row, staging rows and fault reports while
the run goes on, and publishing the tables at its end.

Everything a host sends is data: it is parsed here in plain Python, bounded,
checked before it names a file, and never handed to a template."""
import base64
import binascii
import csv
import hashlib
import io
import json
import os
import re
import shutil
import tarfile
import tempfile

import norva_history
import norva_overview

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
NUMBER_COLUMNS = ("total_visible_memory_size", "number_of_cores")
INTEGER_COLUMNS = ("exit_code", "fault_reports")

PROGRAM_FILES = ("NorvaAudit", "wmic")
DEFAULT_REPORT_LIMIT = 16 * 1024 * 1024
DEFAULT_TIMEOUT = 600
# What of a host's error output goes into its row's reason.
REASON_EXCERPT = 1000
MOST_PROBLEMS = 10


class BundleError(Exception):
    """The program's folder on the controller cannot be bundled."""


def bundle(folder):
    """Base64 of a gzip'd tar holding NorvaAudit and wmic from `folder` on
    the controller, both executable."""
    data = io.BytesIO()
    with tarfile.open(fileobj=data, mode="w:gz", format=tarfile.PAX_FORMAT) as archive:
        for name in PROGRAM_FILES:
            path = os.path.join(folder, name)
            try:
                with open(path, "rb") as source:
                    content = source.read()
            except OSError as error:
                raise BundleError("Could not find or access '%s' on the Ansible Controller: %s"
                                  % (path, error.strerror)) from None
            entry = tarfile.TarInfo(name)
            entry.size = len(content)
            entry.mode = 0o755
            archive.addfile(entry, io.BytesIO(content))
    return base64.b64encode(data.getvalue()).decode("ascii")


def positive_integer(value, name, default):
    """`value` as a positive whole number (`default` when unset); ValueError
    naming the variable otherwise."""
    if value is None or value == "":
        return default
    if isinstance(value, bool) or not re.fullmatch(r"[0-9]+", str(value).strip()) or int(value) <= 0:
        raise ValueError("%s must be a positive whole number, not %r" % (name, value))
    return int(value)


def safe_file_name(name):
    """Whether the bytes `name` name one file inside a folder: not empty,
    not . or .., no separator or NUL, at most 255 bytes."""
    return (isinstance(name, bytes) and 0 < len(name) <= 255 and name not in (b".", b"..")
            and not any(byte in name for byte in b"/\\\0"))


def shown(name):
    """A host-sent name as it may appear in a reason: its bytes as Python
    writes a bytes literal, so that control characters show as escapes."""
    return repr(name)[1:]


BASE64 = re.compile(rb"[A-Za-z0-9+/]*={0,2}")


def decoded(data):
    """The bytes that the base64 `data` (bytes or a view of them, decoded
    without a copy) stands for; None when it is not strict base64."""
    if len(data) % 4 or not BASE64.fullmatch(data):
        return None
    try:
        return binascii.a2b_base64(data)
    except binascii.Error:
        return None


class Answer:
    """A host's answer to the remote step, as far as it could be read."""

    def __init__(self):
        self.error = None
        self.rc = None
        self.timed_out = None
        self.stdout = self.stderr = b""
        self.stdout_size = self.stderr_size = 0
        self.reports = []  # (name bytes, content bytes), names checked
        self.problems = []  # what in the answer was wrong, for the reason
        self.skipped = 0
        self.room = 0  # what the reports may still take of the limit
        self.step_status = None  # the remote step's own exit status, where known


def read_answer(data, limit):
    """The step's answer, bytes (see files/run_audit.sh for its lines), read
    strictly: a line it does not know, a value that is not what its key
    says, a key given twice or a name that cannot name a file becomes a
    problem of the answer, never an exception. `limit` bounds what is kept
    of each output and of the reports together. Lines are read as views of
    `data`, so that a report is held twice at most: encoded and decoded."""
    answer = Answer()
    answer.room = limit
    seen = set()
    view = memoryview(data)
    for number, (start, end) in enumerate(_lines(data), 1):
        split = data.find(b" ", start, end)
        split = end if split < 0 else split
        key = bytes(view[start:split]).decode("ascii", "replace")
        if key in ("error", "rc", "timeout", "stdout", "stderr") and key in seen:
            answer.problems.append("the host's answer gives '%s' twice (line %d)" % (key, number))
        elif _read_line(answer, key, view[min(split + 1, end):end], limit):
            seen.add(key)
        else:
            answer.problems.append("line %d of the host's answer is not one the audit step writes" % number)
    return answer


def _lines(data):
    """(start, end) of each line of `data` that is not blank, without its
    line end and surrounding blanks."""
    start = 0
    while start < len(data):
        end = data.find(b"\n", start)
        end = len(data) if end < 0 else end
        first, last = start, end
        while first < last and data[first] in b" \t\r":
            first += 1
        while last > first and data[last - 1] in b" \t\r":
            last -= 1
        if first < last:
            yield first, last
        start = end + 1


def _partition(value):
    """The first word of a view (the first 512 bytes hold it, or it is
    taken whole) and the view of the rest."""
    split = bytes(value[:512]).find(b" ")
    if split < 0:
        return value, value[len(value):]
    return value[:split], value[split + 1:]


def _text(value):
    return bytes(value).decode("utf-8", "replace")


def _read_line(answer, key, value, limit):
    if key == "error":
        answer.error = _text(value)
    elif key == "rc" and re.fullmatch(rb"-?[0-9]{1,10}", value):
        answer.rc = int(bytes(value))
    elif key == "timeout" and re.fullmatch(rb"[0-9]{1,10}", value):
        answer.timed_out = int(bytes(value))
    elif key in ("stdout", "stderr"):
        return _read_output(answer, key, value, limit)
    elif key == "report":
        return _read_report(answer, value)
    elif key == "skipped":
        return _read_skipped(answer, value, limit)
    else:
        return False
    return True


def _read_output(answer, key, value, limit):
    size, data = _partition(value)
    if not re.fullmatch(rb"[0-9]{1,19}", size) or len(data) > (limit + 2) // 3 * 4:
        return False
    content = decoded(data)
    if content is None:
        return False
    setattr(answer, key, content)
    setattr(answer, key + "_size", int(bytes(size)))
    return True


def _read_report(answer, value):
    name_text, data = _partition(value)
    name, content = decoded(name_text), decoded(data)
    if name is None or content is None:
        return False
    if not safe_file_name(name):
        answer.problems.append("a report named %s cannot name a file: not brought home" % shown(name))
    elif any(name == kept for kept, _ in answer.reports):
        answer.problems.append("the report %s is given twice" % shown(name))
    elif len(content) > answer.room:
        answer.problems.append("the report %s (%d bytes) is over the limit: not brought home"
                               % (shown(name), len(content)))
    else:
        answer.reports.append((name, content))
        answer.room -= len(content)
        return True
    answer.skipped += 1
    return True


def _read_skipped(answer, value, limit):
    name_text, size = _partition(value)
    name = decoded(name_text)
    if name is None or not re.fullmatch(rb"[0-9]{1,19}", size):
        return False
    answer.problems.append("the report %s (%s bytes) is over the %d-byte limit: not brought home"
                           % (shown(name), bytes(size).decode("ascii"), limit))
    answer.skipped += 1
    return True


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


def empty_row(host, reason=""):
    row = dict.fromkeys(COLUMNS, "")
    row.update(host=host, exit_code=None, fault_reports=None, reason=reason)
    return row


def excerpt(data, size):
    text = data.decode("utf-8", "replace").strip().replace("\r\n", " ").replace("\n", " ")
    if len(text) > REASON_EXCERPT or size > len(data):
        text = text[:REASON_EXCERPT] + " [...]"
    return text


def row_of(host, answer, limit):
    """The row of a host whose step answered, and the reports to keep."""
    if answer.error is not None:
        return empty_row(host, excerpt(answer.error.encode("utf-8"), 0)), []
    if answer.rc is None:
        ended = "the host's answer has no exit code"
        if answer.step_status:
            ended = "the audit step ended with status %d before the program's exit code" % answer.step_status
        return empty_row(host, _joined([ended], answer.problems)), []
    row = empty_row(host)
    row["exit_code"] = answer.rc
    row["fault_reports"] = len(answer.reports) + answer.skipped
    reasons = []
    values = parse_report(answer.stdout.decode("utf-8", "replace"))
    if answer.timed_out is not None:
        reasons.append("timed out after %d s: the program was ended on the host" % answer.timed_out)
    elif answer.rc != 0:
        error = excerpt(answer.stderr, answer.stderr_size)
        reasons.append("exit code %d%s" % (answer.rc, ": " + error if error else ""))
    elif answer.stdout_size > len(answer.stdout):
        reasons.append("the output (%d bytes) is over the %d-byte limit" % (answer.stdout_size, limit))
    elif values is None:
        reasons.append("the report is not in the ten-line layout")
    if values is not None:
        row.update(values)
    row["reason"] = _joined(reasons, answer.problems)
    return row, answer.reports


def _joined(reasons, problems):
    """The reasons, then at most ten of the answer's problems."""
    listed = problems[:MOST_PROBLEMS]
    if len(problems) > MOST_PROBLEMS:
        listed.append("%d more problems in the host's answer" % (len(problems) - MOST_PROBLEMS))
    return "; ".join(reasons + listed)


def audited(row):
    return row["exit_code"] == 0 and row["version"] != ""


def task_result(row, unreachable=False):
    """What the staging actions tell Ansible of a host: only their own
    words, none of the host's."""
    if unreachable:
        return {"unreachable": True, "msg": "unreachable; the row holds the connection's message"}
    if not audited(row):
        return {"failed": True, "msg": "not audited; the row holds the reason"}
    return {"changed": False, "msg": "audited, %d fault reports" % row["fault_reports"]}


# Staging: each host's row and reports go to disk as its answer arrives, in
# a folder of the run's own inside the output folder; publishing at the end
# moves them into place.

def begin(out):
    """Makes the output folder and the run's staging folder in it; returns
    the latter."""
    if not out:
        raise ValueError("norva_out is not set: name the output folder with -e norva_out=DIR")
    os.makedirs(out, exist_ok=True)
    return tempfile.mkdtemp(prefix=".norva-run-", dir=out)


def _host_folder(stage, host):
    # Inventory names may hold any character: the staging folder is named
    # by a digest, the name itself is kept inside.
    return os.path.join(stage, hashlib.sha256(host.encode("utf-8", "surrogateescape")).hexdigest())


def stage_host(stage, host, row, reports):
    """Writes one host's row and reports into the staging folder."""
    folder = _host_folder(stage, host)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "reports"))
    for name, content in reports:
        with open(os.path.join(folder, "reports", os.fsdecode(name)), "xb") as target:
            target.write(content)
    _write_atomically(os.path.join(folder, "row.json"), json.dumps(row))


def staged_row(stage, host):
    try:
        with open(os.path.join(_host_folder(stage, host), "row.json"), encoding="utf-8") as source:
            return json.load(source)
    except (OSError, ValueError):
        return None


def _write_atomically(path, text):
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8", newline="") as target:
        target.write(text)
    os.replace(temporary, path)


def _previous_rows(out):
    """The rows of the last run, by host, typed as this module keeps them."""
    try:
        with open(os.path.join(out, "audit.json"), encoding="utf-8") as source:
            rows = json.load(source)
    except (OSError, ValueError):
        return {}
    kept = {}
    for row in rows if isinstance(rows, list) else []:
        if isinstance(row, dict) and isinstance(row.get("host"), str):
            kept[row["host"]] = _from_json(row)
    return kept


def _from_json(row):
    result = empty_row(row["host"])
    for key in COLUMNS:
        value = row.get(key)
        if key in INTEGER_COLUMNS:
            result[key] = value if isinstance(value, int) and not isinstance(value, bool) else None
        elif value is not None:
            result[key] = str(value)
    return result


def publish(out, stage, inventory, ran):
    """Makes the run complete: the hosts in `ran` get this run's rows (a
    reason where none was staged) and reports; every other host of the
    inventory keeps its row as the last run left it, and hosts gone from
    the inventory leave the table. The run is written under the staging
    folder, then renamed to runs/<run id> (sortable by time, UTC), so that
    it appears whole or not at all; then it becomes the latest (audit.csv,
    audit.json, changes.*, overview.html and reports/ at the top, whose
    reports are links to the run's files) and is added to fleet.sqlite.
    No run's files are ever deleted. Returns the rows."""
    runs = os.path.join(out, "runs")
    os.makedirs(runs, exist_ok=True)
    done = norva_history.complete_runs(runs)
    previous_id = done[-1] if done else None
    # Before runs were kept, the top of the output folder held the last run.
    previous = _previous_rows(os.path.join(runs, previous_id) if previous_id else out)
    run_id = norva_history.new_run_id(runs)
    folder = os.path.join(stage, "run")
    rows = {host: row for host, row in previous.items() if host in inventory}
    kept = _gather(stage, folder, rows, ran)
    order = {host: index for index, host in enumerate(inventory)}
    ordered = sorted(rows.values(), key=lambda row: order.get(row["host"], len(order)))
    if previous_id:
        previous_time = norva_history.run_time(previous_id)
    elif previous:
        previous_time = os.path.getmtime(os.path.join(out, "audit.json"))
    else:
        previous, previous_time = None, None  # a first run: nothing changed
    changes = norva_history.changes(previous, {row["host"]: row for row in ordered}, ran, previous_time,
                                    norva_history.run_time(run_id), audited)
    limited = set(ran) != set(inventory)
    _write_run(folder, run_id, previous_id, ordered, changes, kept, limited)
    run = os.path.join(runs, run_id)
    os.rename(folder, run)
    _make_latest(out, run, stage, ran)
    reports = [{"host": host, "name": name, "path": os.path.join("runs", run_id, "reports", host, name),
                "file": os.path.join(run, "reports", host, name)} for host, names in kept.items() for name in names]
    norva_history.record(os.path.join(out, "fleet.sqlite"), run_id, [rows[host] for host in ran], reports,
                         limited, audited)
    shutil.rmtree(stage, ignore_errors=True)
    return ordered


def _gather(stage, folder, rows, ran):
    """Puts the staged row of each host in `ran` into `rows` and its reports
    into the run's folder; returns the names of the reports kept, by host."""
    os.makedirs(os.path.join(folder, "reports"))
    kept = {}
    for host in ran:
        row = staged_row(stage, host) or empty_row(host, "the audit step did not report back")
        if not safe_file_name(os.fsencode(host)):
            if row.get("fault_reports"):
                _add_reason(row, "the inventory name cannot name a folder: its fault reports were not kept")
        else:
            staged = os.path.join(_host_folder(stage, host), "reports")
            if os.path.isdir(staged) and os.listdir(staged):
                os.replace(staged, os.path.join(folder, "reports", host))
                kept[host] = sorted(os.listdir(os.path.join(folder, "reports", host)))
        rows[host] = row
    return kept


def _write_run(folder, run_id, previous_id, rows, changes, kept, limited):
    """The run's tables, changes and page."""
    _write_atomically(os.path.join(folder, "audit.json"), json_text(rows))
    _write_atomically(os.path.join(folder, "audit.csv"), csv_text(rows))
    _write_atomically(os.path.join(folder, "changes.json"), json.dumps(changes, indent=4, ensure_ascii=False) + "\n")
    _write_atomically(os.path.join(folder, "changes.csv"), _csv(norva_history.CHANGE_COLUMNS, changes))
    names = {host: [os.fsdecode(name) for name in reports] for host, reports in kept.items()}
    _write_atomically(os.path.join(folder, "overview.html"),
                      norva_overview.render(run_id, previous_id, rows, changes, names, limited, audited))


LATEST_FILES = ("audit.json", "audit.csv", "changes.json", "changes.csv", "overview.html")


def _make_latest(out, run, stage, ran):
    """The run's tables and page at the top of the output folder, each
    replaced by a rename; each audited host's reports folder there
    replaced by one of hard links to the run's reports."""
    for name in LATEST_FILES:
        temporary = os.path.join(stage, "latest-" + name)
        shutil.copyfile(os.path.join(run, name), temporary)
        os.replace(temporary, os.path.join(out, name))
    reports = os.path.join(out, "reports")
    os.makedirs(reports, exist_ok=True)
    for host in ran:
        if not safe_file_name(os.fsencode(host)):
            continue
        links = os.path.join(_host_folder(stage, host), "latest")
        source = os.path.join(run, "reports", host)
        if os.path.isdir(source):
            os.makedirs(links)
            for name in os.listdir(source):
                os.link(os.path.join(source, name), os.path.join(links, name))
        current, old = os.path.join(reports, host), os.path.join(_host_folder(stage, host), "previous")
        os.makedirs(_host_folder(stage, host), exist_ok=True)
        if os.path.isdir(current):
            os.replace(current, old)
        if os.path.isdir(links):
            os.replace(links, current)


def _add_reason(row, reason):
    row["reason"] = "; ".join(filter(None, [row["reason"], reason]))


# The tables.

def _number(text):
    return int(text) if re.fullmatch(r"[0-9]{1,19}", text or "") else None


def json_text(rows):
    """audit.json: the rows in the CSV's column order, memory and cores as
    numbers where they are numbers."""
    typed = []
    for row in rows:
        entry = {key: row[key] for key in COLUMNS}
        for key in NUMBER_COLUMNS:
            entry[key] = _number(row[key])
        typed.append(entry)
    return json.dumps(typed, indent=4, ensure_ascii=False) + "\n"


FORMULA_START = ("=", "+", "-", "@", "\t", "\r")


def spreadsheet_safe(value):
    """A CSV field that a spreadsheet shows as text: a value that is not a
    plain number and begins like a formula gets a leading '."""
    text = "" if value is None else str(value)
    if text.startswith(FORMULA_START) and not re.fullmatch(r"[+-]?[0-9]+(\.[0-9]+)?", text):
        return "'" + text
    return text


def csv_text(rows):
    return _csv(COLUMNS, rows)


def _csv(columns, rows):
    text = io.StringIO()
    writer = csv.writer(text, lineterminator="\n")
    writer.writerow(columns)
    for row in rows:
        writer.writerow([spreadsheet_safe(row[key]) for key in columns])
    return text.getvalue()
