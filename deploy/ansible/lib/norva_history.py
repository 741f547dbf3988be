"""The fleet over time: run ids, what changed between two runs, and the
fleet database (SQLite through Python's own sqlite3)."""
import calendar
import hashlib
import os
import re
import sqlite3
import time

RUN_ID_FORMAT = "%Y%m%dT%H%M%SZ"
# How far a host's estimated boot time (run time less up time) may move
# between two runs without a restart: the estimate is off by as much as a
# run lasts.
BOOT_SLACK_SECONDS = 900


def new_run_id(runs, now=None):
    """A run id sortable by time, in UTC, not yet taken in the folder `runs`."""
    base = time.strftime(RUN_ID_FORMAT, time.gmtime(time.time() if now is None else now))
    run_id, number = base, 1
    while os.path.exists(os.path.join(runs, run_id)):
        number += 1
        run_id = "%s-%d" % (base, number)
    return run_id


def run_time(run_id):
    """Seconds since the epoch of a run id."""
    return calendar.timegm(time.strptime(run_id.split("-")[0], RUN_ID_FORMAT))


def complete_runs(runs):
    """The ids of the complete runs in the folder `runs`, oldest first."""
    try:
        names = os.listdir(runs)
    except OSError:
        return []
    return sorted(name for name in names if re.fullmatch(r"[0-9]{8}T[0-9]{6}Z(-[0-9]+)?", name))


def up_time_seconds(text):
    """Seconds of an up time such as 1w2d3h4m5s; None for anything else."""
    match = re.fullmatch(r"([0-9]+)w([0-9]+)d([0-9]+)h([0-9]+)m([0-9]+)s", text or "")
    if not match:
        return None
    weeks, days, hours, minutes, seconds = map(int, match.groups())
    return (((weeks * 7 + days) * 24 + hours) * 60 + minutes) * 60 + seconds


CHANGE_COLUMNS = ["host", "change", "old", "new"]


def changes(previous, current, ran, previous_time, current_time, audited):
    """What changed from the rows `previous` (by host, None for a first
    run) to `current` (by host), for the hosts in `ran`: one dict per host
    and kind of change, with the old and new value."""
    if previous is None:
        return []
    found = []

    def note(host, change, old, new):
        found.append({"host": host, "change": change, "old": "" if old is None else str(old),
                      "new": "" if new is None else str(new)})

    for host in current:
        if host not in previous:
            note(host, "added", None, current[host]["host_name"])
    for host in previous:
        if host not in current:
            note(host, "gone", previous[host]["host_name"], None)
    for host in ran:
        old, new = previous.get(host), current.get(host)
        if old is None or new is None:
            continue
        was, now = audited(old), audited(new)
        if was and not now:
            note(host, "failing", None, new["reason"])
        elif now and not was:
            note(host, "recovered", old["reason"], None)
        if now and was:
            if _restarted(old, new, previous_time, current_time):
                note(host, "restarted", old["machine_up_time"], new["machine_up_time"])
            for key, change in (("os_install_date", "reinstalled"), ("os_version", "os_version"),
                                ("total_visible_memory_size", "memory"), ("number_of_cores", "cores")):
                if old[key] != new[key]:
                    note(host, change, old[key], new[key])
        if now and new["fault_reports"]:
            note(host, "fault_reports", old["fault_reports"], new["fault_reports"])
    return found


def _restarted(old, new, previous_time, current_time):
    before, after = up_time_seconds(old["machine_up_time"]), up_time_seconds(new["machine_up_time"])
    if before is None or after is None:
        return False
    return after < before or (current_time - after) - (previous_time - before) > BOOT_SLACK_SECONDS


# The database. Each entry of MIGRATIONS takes a database from the version
# before it to its own (PRAGMA user_version); a database is only ever
# migrated forward, in the same transaction as the run it records.
MIGRATIONS = [
    [
        """CREATE TABLE runs (
               id TEXT PRIMARY KEY,           -- the run's folder under runs/, UTC time
               finished_utc TEXT NOT NULL,    -- ISO 8601
               hosts INTEGER NOT NULL,        -- hosts the run targeted
               audited INTEGER NOT NULL,
               failed INTEGER NOT NULL,
               with_fault_reports INTEGER NOT NULL,
               limited INTEGER NOT NULL       -- 1 when it targeted only some hosts (-l)
           )""",
        """CREATE TABLE host_runs (
               run_id TEXT NOT NULL REFERENCES runs(id),
               host TEXT NOT NULL,
               version TEXT, host_name TEXT, machine_up_time TEXT,
               up_time_seconds INTEGER,
               os_install_date TEXT, os_version TEXT,
               total_visible_memory_size INTEGER, number_of_cores INTEGER,
               duration TEXT, exit_code INTEGER, reason TEXT, fault_reports INTEGER,
               audited INTEGER NOT NULL,      -- 1 when the row holds the audit's values
               PRIMARY KEY (run_id, host)
           )""",
        """CREATE TABLE fault_reports (
               run_id TEXT NOT NULL REFERENCES runs(id),
               host TEXT NOT NULL,
               name TEXT NOT NULL,
               size INTEGER NOT NULL,
               sha256 TEXT NOT NULL,
               path TEXT NOT NULL,            -- relative to the output folder
               PRIMARY KEY (run_id, host, name)
           )""",
    ],
]
SCHEMA_VERSION = len(MIGRATIONS)


class NewerDatabase(Exception):
    """The database was made by a later playbook than this one."""


def _migrate(connection):
    version = connection.execute("PRAGMA user_version").fetchone()[0]
    if version > SCHEMA_VERSION:
        raise NewerDatabase("fleet.sqlite has schema version %d; this playbook knows %d and leaves it alone"
                            % (version, SCHEMA_VERSION))
    for statements in MIGRATIONS[version:]:
        for statement in statements:
            connection.execute(statement)
    connection.execute("PRAGMA user_version = %d" % SCHEMA_VERSION)


def _number(text):
    return int(text) if re.fullmatch(r"[0-9]{1,18}", text or "") else None


def _text(value):
    # Host text may hold bytes that are no UTF-8 (kept as surrogates).
    return value.encode("utf-8", "surrogateescape").decode("utf-8", "replace") if isinstance(value, str) else value


def record(database, run_id, rows, reports, limited, audited):
    """Adds one run to the database, in one transaction: its row in runs,
    one row per host it targeted (`rows`), one per fault report kept
    (`reports`: dicts of host, name, path and the file's full path)."""
    connection = sqlite3.connect(database, isolation_level=None)
    try:
        connection.execute("BEGIN IMMEDIATE")
        _migrate(connection)
        counts = (len(rows), sum(1 for row in rows if audited(row)), sum(1 for row in rows if not audited(row)),
                  sum(1 for row in rows if row["fault_reports"]))
        connection.execute("INSERT INTO runs VALUES (?, ?, ?, ?, ?, ?, ?)",
                           (run_id, time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())) + counts + (int(limited),))
        for row in rows:
            connection.execute(
                "INSERT INTO host_runs VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                (run_id, _text(row["host"]), _text(row["version"]), _text(row["host_name"]),
                 _text(row["machine_up_time"]), up_time_seconds(row["machine_up_time"]),
                 _text(row["os_install_date"]), _text(row["os_version"]),
                 _number(row["total_visible_memory_size"]), _number(row["number_of_cores"]),
                 _text(row["duration"]), row["exit_code"], _text(row["reason"]), row["fault_reports"],
                 int(audited(row))))
        for report in reports:
            with open(report["file"], "rb") as source:
                digest = hashlib.sha256(source.read()).hexdigest()
            connection.execute("INSERT INTO fault_reports VALUES (?, ?, ?, ?, ?, ?)",
                               (run_id, _text(report["host"]), _text(report["name"]),
                                os.path.getsize(report["file"]), digest, _text(report["path"])))
        connection.execute("COMMIT")
    except BaseException:
        if connection.in_transaction:
            connection.execute("ROLLBACK")
        raise
    finally:
        connection.close()
