"""Prints the benchmark ratios against their goals from Google Benchmark's JSON."""
import json
import pathlib
import sys

UNIT = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def medians(folder):
    times = {}
    for path in pathlib.Path(folder).glob("*.json"):
        for run in json.loads(path.read_text())["benchmarks"]:
            if run.get("aggregate_name") == "median":
                times[run["run_name"]] = run["real_time"] * UNIT[run["time_unit"]]
    return times


def main(folder):
    t = medians(folder)
    rows = []

    def row(what, ours, theirs, goal_text, met):
        rows.append((what, ours, theirs, goal_text, "met" if met else "MISSED"))

    for size in (1, 16, 64):
        ours = t[f"GetDosOutputCapture/{size}/real_time"]
        floor = t[f"BareLoop255/{size}/real_time"]
        wide = t[f"BareLoop64K/{size}/real_time"]
        row(f"capture {size} MiB vs bare 255-byte loop", ours, floor, "<= 1.15x", ours / floor <= 1.15)
        rows.append((f"capture {size} MiB vs 64 KiB reads", ours, wide, "(what the pipe allows)", ""))
    wine = pathlib.Path(folder) / "wine"
    w = medians(wine) if wine.is_dir() else {}
    for size in (1, 16, 64) if w else ():
        ours, floor = w[f"GetDosOutputCapture/{size}/real_time"], w[f"BareLoop255/{size}/real_time"]
        row(f"Windows build under Wine: capture {size} MiB vs bare loop", ours, floor, "<= 1.15x", ours / floor <= 1.15)
    growth = t["GetDosOutputCapture/64/real_time"] / t["GetDosOutputCapture/1/real_time"]
    rows.append(("capture 64 MiB / 1 MiB", growth, None, "<= 70x", "met" if growth <= 70 else "MISSED"))
    run, children = t["WholeAuditRun/min_time:2.000/real_time"], t["FourChildrenAlone/min_time:2.000/real_time"]
    rows.append(("audit run's own work (run - children)", run - children, None, "< 2 ms",
                 "met" if run - children < 2e-3 else "MISSED"))
    rows.append(("audit run vs its four children", run, children, "(difference above)", ""))
    audit, floor = t["ProcessFloor/audit"], t["ProcessFloor/floor"]
    row("native audit vs its floor (true + 4 stand-in runs)", audit, floor, "<= 1.20x", audit / floor <= 1.20)
    stand_in, true = t["ProcessFloor/stand_in"], t["ProcessFloor/bin_true"]
    row("wmic stand-in vs /bin/true", stand_in, true, "<= 1.20x", stand_in / true <= 1.20)
    for name in ("FormatNumber", "FormatDayTime", "TextToIntDef", "TrimBlanks", "Between"):
        ours, std = t[f"{name}Ours"], t[f"{name}Std"]
        row(f"{name} vs standard counterpart", ours, std, "<= 3x", ours / std <= 3)
    report, plain = t["SaveExceptionRecAsXMLReport"], t["WriteTextFileSameBytes"]
    row("SaveExceptionRecAsXML vs WriteTextFile", report, plain, "<= 3x, < 1 ms", report / plain <= 3 and report < 1e-3)

    print(f"{'figure':58} {'ours':>12} {'counterpart':>12} {'ratio':>8}  goal")
    for what, ours, theirs, goal, verdict in rows:
        if theirs is None:
            shown = f"{ours * 1e3:9.3f} ms" if what.startswith("audit") else f"{ours:10.1f}x"
            print(f"{what:58} {shown:>12} {'':>12} {'':>8}  {goal} {verdict}")
        else:
            print(f"{what:58} {fmt(ours):>12} {fmt(theirs):>12} {ours / theirs:7.2f}x  {goal} {verdict}".rstrip())


def fmt(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.2f} {unit}"
    return f"{seconds / 1e-9:.1f} ns"


if __name__ == "__main__":
    main(sys.argv[1])
