"""Watches every process's command line until stopped, for secrets.

Writes each command line that holds one of the secrets to OUT, and on
SIGTERM the number of scans it made, so a test can tell that it watched.

Usage: watch_cmdlines.py OUT SECRET_FILE...
"""
import os
import signal
import sys
import time


def main(out, *secret_files):
    secrets = [open(path, "rb").read().strip() for path in secret_files]
    scans = [0]
    seen = set()

    def stop(*_):
        with open(out, "a") as report:
            report.write("scans %d\n" % scans[0])
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    while True:
        for pid in os.listdir("/proc"):
            if not pid.isdigit() or pid == str(os.getpid()):
                continue
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as source:
                    line = source.read()
            except OSError:
                continue
            if any(secret in line for secret in secrets) and line not in seen:
                seen.add(line)
                with open(out, "a") as report:
                    report.write("secret in: %r\n" % line.replace(b"\0", b" "))
        scans[0] += 1
        time.sleep(0.02)


if __name__ == "__main__":
    main(*sys.argv[1:])
