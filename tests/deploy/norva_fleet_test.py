"""The controller's reading of host answers and its tables, case by case.

Usage: norva_fleet_test.py   (run by ctest; needs nothing but Python)"""
import base64
import json
import os
import sqlite3
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                                "deploy", "ansible", "lib"))
import norva_fleet  # noqa: E402
import norva_history  # noqa: E402

REPORT = ("NORVA Audit v1\r\n........\r\nVersion: 1\r\nHost Name: vm\r\nMachine Up Time: 0w0d0h0m1s\r\n"
          "OS Install Date: 2025\r\nOS Version: 6\r\nTotal Visible Memory Size: 1024\r\nNumber of Cores: 2\r\n"
          "Duration: 3ms\r\n").encode()


def b64(data):
    return base64.b64encode(data).decode()


def read_bytes(path):
    with open(path, "rb") as source:
        return source.read()


def answer(*lines):
    return ("\n".join(lines) + "\n").encode()


GOOD = ("rc 0", "stdout %d %s" % (len(REPORT), b64(REPORT)), "stderr 0 ")


class ReadAnswerTest(unittest.TestCase):
    def row(self, data, limit=1 << 20):
        return norva_fleet.row_of("h", norva_fleet.read_answer(data, limit), limit)

    def test_rows_of_answers(self):
        cases = [
            # (answer, exit code, host name, reason)
            (answer(*GOOD), 0, "vm", ""),
            (answer(*GOOD).replace(b"\n", b"\r\n"), 0, "vm", ""),
            (answer("error the host lacks what the audit step needs: tar"), None, "",
             "the host lacks what the audit step needs: tar"),
            (answer("rc -1", "stdout 0 ", "stderr 4 %s" % b64(b"oops")), -1, "", "exit code -1: oops"),
            (answer("rc 124", "timeout 5", "stdout 0 ", "stderr 0 "), 124, "",
             "timed out after 5 s: the program was ended on the host"),
            (answer("stdout 0 "), None, "", "the host's answer has no exit code"),
            (answer("rc x"), None, "",
             "the host's answer has no exit code; line 1 of the host's answer is not one the audit step writes"),
            (answer(*GOOD, "rc 1"), 0, "vm", "the host's answer gives 'rc' twice (line 4)"),
            (answer("stdout 3 !!!!", *GOOD), 0, "vm", "line 1 of the host's answer is not one the audit step writes"),
            (answer(*GOOD, "report %s abc" % b64(b"r")), 0, "vm",
             "line 4 of the host's answer is not one the audit step writes"),
            (answer(*GOOD, "report %s %s" % (b64(b".."), b64(b"x"))), 0, "vm",
             "a report named '..' cannot name a file: not brought home"),
            (answer(*GOOD, "report %s %s" % (b64(b"a\nb"), b64(b"x"))), 0, "vm", ""),
            (answer(*GOOD, "skipped %s 99" % b64(b"big")), 0, "vm",
             "the report 'big' (99 bytes) is over the 1048576-byte limit: not brought home"),
            (answer("rc 0", "stdout %d %s" % (len(REPORT) + 5, b64(REPORT)), "stderr 0 "), 0, "vm",
             "the output (%d bytes) is over the 1048576-byte limit" % (len(REPORT) + 5)),
            (answer("rc 0", "stdout 2 %s" % b64(b"hi"), "stderr 0 "), 0, "", "the report is not in the ten-line layout"),
        ]
        for data, rc, name, reason in cases:
            with self.subTest(data=data):
                row, _ = self.row(data)
                self.assertEqual((row["exit_code"], row["host_name"], row["reason"]), (rc, name, reason))

    def test_reports_fit_in_the_limit_together(self):
        data = answer(*GOOD, *("report %s %s" % (b64(name.encode()), b64(b"x" * 90)) for name in "abc"),
                      "report %s %s" % (b64(b"a"), b64(b"y")))
        self.assertLessEqual(len(REPORT), 200)
        row, reports = self.row(data, limit=200)
        self.assertEqual([name for name, _ in reports], [b"a", b"b"])
        self.assertEqual(row["fault_reports"], 4)
        self.assertIn("the report 'c' (90 bytes) is over the limit", row["reason"])
        self.assertIn("the report 'a' is given twice", row["reason"])

    def test_reasons_stay_short(self):
        row, _ = self.row(answer(*GOOD, *["garbage"] * 501))
        self.assertTrue(row["reason"].endswith("; 491 more problems in the host's answer"), row["reason"])
        row, _ = self.row(answer("error " + "x" * 5000))
        self.assertEqual(row["reason"], "x" * 1000 + " [...]")

    def test_output_over_the_limit_is_refused(self):
        row, _ = self.row(answer(*GOOD), limit=10)
        self.assertIn("line 2 of the host's answer is not one the audit step writes", row["reason"])


class TablesTest(unittest.TestCase):
    def test_spreadsheet_safe(self):
        for value, cell in [("=1+1", "'=1+1"), ("+x", "'+x"), ("-5", "-5"), ("-x", "'-x"), ("@a", "'@a"),
                            ("\tx", "'\tx"), ("\rx", "'\rx"), ("a=b", "a=b"), ("", ""), (None, ""), (0, "0"),
                            ("+1.5", "+1.5")]:
            with self.subTest(value=value):
                self.assertEqual(norva_fleet.spreadsheet_safe(value), cell)

    def test_json_is_typed_and_ordered(self):
        row = norva_fleet.empty_row("h")
        row.update(total_visible_memory_size="1024", number_of_cores="n/a", exit_code=0, fault_reports=0)
        [entry] = json.loads(norva_fleet.json_text([row]))
        self.assertEqual(list(entry), norva_fleet.COLUMNS)
        self.assertEqual((entry["total_visible_memory_size"], entry["number_of_cores"]), (1024, None))

    def test_publish_keeps_hosts_that_did_not_run(self):
        with tempfile.TemporaryDirectory() as out:
            stage = norva_fleet.begin(out)
            for host in ("a", "b"):
                row = norva_fleet.empty_row(host, "first")
                norva_fleet.stage_host(stage, host, row, [(b"EXCEPTION-1.XML", host.encode())])
            norva_fleet.publish(out, stage, ["a", "b"], ["a", "b"])
            stage = norva_fleet.begin(out)
            norva_fleet.stage_host(stage, "b", norva_fleet.empty_row("b", "second"), [])
            rows = norva_fleet.publish(out, stage, ["b", "a", "c"], ["b", "c"])
            self.assertEqual([(row["host"], row["reason"]) for row in rows],
                             [("b", "second"), ("a", "first"), ("c", "the audit step did not report back")])
            self.assertEqual(sorted(os.listdir(out)), ["audit.csv", "audit.json", "changes.csv", "changes.json",
                                                       "fleet.sqlite", "overview.html", "reports", "runs"])
            self.assertEqual(os.listdir(os.path.join(out, "reports")), ["a"])
            first, second = sorted(os.listdir(os.path.join(out, "runs")))
            self.assertLess(first, second)
            # The first run keeps its reports; the latest ones are links to them.
            self.assertEqual(sorted(os.listdir(os.path.join(out, "runs", first, "reports"))), ["a", "b"])
            self.assertTrue(os.path.samefile(os.path.join(out, "reports", "a", "EXCEPTION-1.XML"),
                                             os.path.join(out, "runs", first, "reports", "a", "EXCEPTION-1.XML")))
            # Hosts gone from the inventory leave the table.
            rows = norva_fleet.publish(out, norva_fleet.begin(out), ["b"], [])
            self.assertEqual([row["host"] for row in rows], ["b"])


class DatabaseTest(unittest.TestCase):
    def record(self, database, run_id):
        row = norva_fleet.empty_row("h")
        row.update(version="1", machine_up_time="1w0d0h0m1s", total_visible_memory_size="2048", exit_code=0,
                   fault_reports=0)
        norva_history.record(database, run_id, [row], [], False, norva_fleet.audited)

    def test_runs_are_added_never_dropped(self):
        with tempfile.TemporaryDirectory() as folder:
            database = os.path.join(folder, "fleet.sqlite")
            self.record(database, "20261201T000000Z")
            self.record(database, "20261208T000000Z")
            connection = sqlite3.connect(database)
            self.assertEqual(connection.execute("PRAGMA user_version").fetchone(), (norva_history.SCHEMA_VERSION,))
            self.assertEqual(connection.execute(
                "SELECT run_id, up_time_seconds, total_visible_memory_size, audited FROM host_runs").fetchall(),
                [("20261201T000000Z", 604801, 2048, 1), ("20261208T000000Z", 604801, 2048, 1)])
            connection.close()

    def test_a_newer_database_is_left_alone(self):
        with tempfile.TemporaryDirectory() as folder:
            database = os.path.join(folder, "fleet.sqlite")
            connection = sqlite3.connect(database)
            connection.execute("CREATE TABLE later (x)")
            connection.execute("PRAGMA user_version = %d" % (norva_history.SCHEMA_VERSION + 1))
            connection.commit()
            connection.close()
            before = read_bytes(database)
            with self.assertRaises(norva_history.NewerDatabase):
                self.record(database, "20261201T000000Z")
            self.assertEqual(read_bytes(database), before)

    def test_a_failed_run_record_leaves_nothing(self):
        with tempfile.TemporaryDirectory() as folder:
            database = os.path.join(folder, "fleet.sqlite")
            self.record(database, "20261201T000000Z")
            with self.assertRaises(sqlite3.IntegrityError):
                self.record(database, "20261201T000000Z")
            connection = sqlite3.connect(database)
            self.assertEqual(connection.execute("SELECT count(*) FROM host_runs").fetchone(), (1,))
            connection.close()


class ChangesTest(unittest.TestCase):
    def row(self, **values):
        row = norva_fleet.empty_row("h")
        row.update(version="1", machine_up_time="4w0d0h0m0s", exit_code=0, fault_reports=0)
        row.update(values)
        return row

    def test_restarts(self):
        day = 86400
        for old, new, gap, restarted in [("4w0d0h0m0s", "4w1d0h0m0s", day, False),   # a day later, a day more
                                         ("4w0d0h0m0s", "0w0d1h0m0s", day, True),    # up time fell
                                         ("0w2d0h0m0s", "0w3d0h0m0s", 7 * day, True),  # up less long than the gap
                                         ("bad", "0w0d1h0m0s", day, False)]:
            with self.subTest(old=old, new=new):
                found = norva_history.changes({"h": self.row(machine_up_time=old)},
                                              {"h": self.row(machine_up_time=new)}, ["h"], 0, gap,
                                              norva_fleet.audited)
                self.assertEqual([change["change"] for change in found] == ["restarted"], restarted, found)

    def test_a_first_run_has_no_changes(self):
        self.assertEqual(norva_history.changes(None, {"h": self.row()}, ["h"], None, 0, norva_fleet.audited), [])


if __name__ == "__main__":
    unittest.main()
