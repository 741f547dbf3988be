"""Median run times of NorvaAudit and its peers, and agreement of shared values."""
import re
import statistics
import subprocess
import sys
import time

PEERS = {
    "neofetch": ["neofetch", "--stdout"],
    "inxi": ["inxi", "-S", "-C", "-m", "-c0"],
    "screenfetch": ["screenfetch", "-n", "-N"],
}


def timed(command, runs):
    seconds, output = [], ""
    for _ in range(runs):
        start = time.perf_counter()
        output = subprocess.run(command, capture_output=True, text=True, errors="replace", check=True).stdout
        seconds.append(time.perf_counter() - start)
    return statistics.median(seconds), output


def audit_values(report):
    fields = dict(line.split(": ", 1) for line in report.splitlines() if ": " in line)
    weeks, days, hours, minutes, _ = map(int, re.findall(r"\d+", fields["Machine Up Time"]))
    return {
        "host name": fields["Host Name"],
        "memory MiB": int(fields["Total Visible Memory Size"]) // 1024,
        "cores": int(fields["Number of Cores"]),
        "up time min": ((weeks * 7 + days) * 24 + hours) * 60 + minutes,
    }


def fetch_style_values(text, patterns, units):
    """Values of the neofetch-like tools, whose lines differ only in form."""
    up = re.search(r"Uptime: (.*)", text).group(1)
    return {
        "host name": re.search(r"^\s*\S+@(\S+)", text, re.M).group(1),
        "memory MiB": int(re.search(patterns["memory"], text).group(1)),
        "cores": int(re.search(patterns["cores"], text).group(1)),
        "up time min": sum(int(n) * units[unit] for n, unit in re.findall(patterns["up"], up)),
    }


def neofetch_values(text):
    patterns = {"memory": r"Memory: \d+MiB / (\d+)MiB", "cores": r"CPU: .*\((\d+)\)", "up": r"(\d+) (day|hour|min)"}
    return fetch_style_values(text, patterns, {"day": 1440, "hour": 60, "min": 1})


def screenfetch_values(text):
    patterns = {"memory": r"RAM: \d+MiB / (\d+)MiB", "cores": r"CPU: .*@ (\d+)x", "up": r"(\d+)([dhm])"}
    return fetch_style_values(text, patterns, {"d": 1440, "h": 60, "m": 1})


def inxi_values(text):
    words = {"single": 1, "dual": 2, "quad": 4}
    info = re.search(r"Info: (\S+)[ -]core", text).group(1)
    return {"cores": words.get(info) or int(info)}


def agree(name, ours, theirs):
    if name == "memory MiB":
        return abs(ours - theirs) <= max(2, ours // 100)
    if name == "up time min":
        return abs(ours - theirs) <= 2
    return ours == theirs


def main(program, runs):
    ours_time, report = timed([program], runs)
    ours = audit_values(report)
    print(f"NorvaAudit: median of {runs} runs {ours_time * 1e3:8.1f} ms")
    parse = {"neofetch": neofetch_values, "inxi": inxi_values, "screenfetch": screenfetch_values}
    fastest, mismatches = None, 0
    for peer, command in PEERS.items():
        peer_time, text = timed(command, runs)
        fastest = peer_time if fastest is None else min(fastest, peer_time)
        values = parse[peer](text)
        checks = []
        for name, value in values.items():
            ok = agree(name, ours[name], value)
            mismatches += not ok
            checks.append(f"{name} {value}{'' if ok else ' (ours ' + str(ours[name]) + ')'} {'agrees' if ok else 'DIFFERS'}")
        print(f"{peer + ':':11} median of {runs} runs {peer_time * 1e3:8.1f} ms  {peer_time / ours_time:6.1f}x ours;"
              f" {'; '.join(checks)}")
    print(f"fastest peer / NorvaAudit: {fastest / ours_time:.1f}x (goal: at least 20x)")
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], int(sys.argv[2])))
