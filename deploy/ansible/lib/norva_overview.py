"""The overview page of a fleet run: one self-contained HTML file (no
request at view time), rendered with Jinja2, which every Ansible
controller has. Host texts are autoescaped; links to fault reports are
relative and percent-encoded."""
import collections
import os
import time
import urllib.parse

import jinja2

import norva_history

TEMPLATE = "overview.html.j2"
COLUMNS = [("Host", "text"), ("Host name", "text"), ("OS version", "text"), ("Up time", "number"),
           ("Memory (KiB)", "number"), ("Cores", "number"), ("Installed", "text"), ("Exit code", "number"),
           ("Reason", "text"), ("Fault reports", "number")]
RESTART_BUCKETS = [(1, "under a day"), (7, "1 to 7 days"), (30, "7 to 30 days"), (90, "30 to 90 days"),
                   (None, "90 days or more")]
MEMORY_BUCKETS = [(4, "under 4 GiB"), (16, "4 to 16 GiB"), (64, "16 to 64 GiB"), (256, "64 to 256 GiB"),
                  (None, "256 GiB or more")]


def _number(text):
    return int(text) if (text or "").isdigit() and text.isascii() else None


def _bucket(value, buckets):
    for bound, label in buckets:
        if bound is None or value < bound:
            return label
    return buckets[-1][1]


def _bars(counter, order=None):
    labels = order if order is not None else sorted(counter, key=lambda label: (-counter[label], label))
    bars = [(label, counter[label]) for label in labels if counter[label]]
    return {"bars": bars, "most": max([count for _, count in bars] or [1])}


def charts(rows, audited):
    """The page's four charts, from the rows of audited hosts."""
    ok = [row for row in rows if audited(row)]
    versions = collections.Counter(row["os_version"] or "(none)" for row in ok)
    restarts = collections.Counter()
    memory = collections.Counter()
    for row in ok:
        seconds = norva_history.up_time_seconds(row["machine_up_time"])
        if seconds is not None:
            restarts[_bucket(seconds / 86400, RESTART_BUCKETS)] += 1
        kib = _number(row["total_visible_memory_size"])
        if kib is not None:
            memory[_bucket(kib / 1048576, MEMORY_BUCKETS)] += 1
    cores = collections.Counter(_number(row["number_of_cores"]) for row in ok)
    cores.pop(None, None)
    return [
        dict(id="os-versions", title="OS versions", **_bars(versions)),
        dict(id="restarts", title="Time since the last restart",
             **_bars(restarts, [label for _, label in RESTART_BUCKETS])),
        dict(id="memory", title="Memory", **_bars(memory, [label for _, label in MEMORY_BUCKETS])),
        dict(id="cores", title="Cores", **_bars(collections.Counter({"%d cores" % n: c for n, c in cores.items()}),
                                                ["%d cores" % n for n in sorted(cores)])),
    ]


def render(run_id, previous_id, rows, changes, reports, limited, audited):
    """The page. `reports`: by host, the names of the fault reports kept in
    the run's reports/<host>/ folder."""
    environment = jinja2.Environment(loader=jinja2.FileSystemLoader(os.path.dirname(os.path.abspath(__file__))),
                                     autoescape=True, undefined=jinja2.StrictUndefined)
    entries = []
    for row in rows:
        entry = dict(row, audited=audited(row), up_seconds=norva_history.up_time_seconds(row["machine_up_time"]),
                     memory=_number(row["total_visible_memory_size"]), cores=_number(row["number_of_cores"]),
                     memory_text=row["total_visible_memory_size"])
        entry["reports"] = [{"name": name, "href": "reports/%s/%s" % (urllib.parse.quote(row["host"], safe=""),
                                                                       urllib.parse.quote(name, safe=""))}
                            for name in reports.get(row["host"], [])]
        entries.append(entry)
    counts = {"hosts": len(rows), "audited": sum(1 for row in rows if audited(row)),
              "failed": sum(1 for row in rows if not audited(row)),
              "with_reports": sum(1 for row in rows if row["fault_reports"])}
    return environment.get_template(TEMPLATE).render(
        run_id=run_id, previous_id=previous_id, limited=limited, counts=counts, charts=charts(rows, audited),
        changes=changes, columns=[{"title": title, "type": kind} for title, kind in COLUMNS], rows=entries,
        written=time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()))
