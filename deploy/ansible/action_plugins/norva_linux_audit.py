"""Audits one Linux host in one remote step (files/run_audit.sh, with the
program bundled on its standard input) and stages the host's row and fault
reports on the controller as the answer arrives. Nothing the host sends
becomes a variable: the task's result holds only the controller's words."""
import os
import re
import shlex
import signal
import sys

from ansible.errors import AnsibleConnectionFailure
from ansible.plugins.action import ActionBase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "lib"))
import norva_fleet  # noqa: E402

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "files", "run_audit.sh")
# What the controller waits beyond the program's own time limit (the
# transfer, the answer) before it gives the host up.
GRACE_SECONDS = 60


class StepTimeout(Exception):
    pass


def _on_alarm(signum, frame):
    raise StepTimeout()


class ActionModule(ActionBase):
    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        host = str(task_vars["inventory_hostname"])
        stage = self._task.args["stage"]
        try:
            row, reports, unreachable = self._audit()
        except Exception as error:  # one host's fault never ends the run
            row, reports, unreachable = norva_fleet.empty_row(host, "the audit step failed: %s" % error), [], False
        row["host"] = host
        norva_fleet.stage_host(stage, host, row, reports)
        return dict(result, **norva_fleet.task_result(row, unreachable))

    def _audit(self):
        """The host's row and reports, and whether it was unreachable."""
        args = self._task.args
        try:
            limit = norva_fleet.positive_integer(args.get("report_limit"), "norva_report_limit",
                                                 norva_fleet.DEFAULT_REPORT_LIMIT)
            seconds = norva_fleet.positive_integer(args.get("timeout"), "norva_timeout", norva_fleet.DEFAULT_TIMEOUT)
            command = self._command(args.get("variables") or {}, args.get("remote_folder"), limit, seconds)
            program = norva_fleet.bundle(args["folder"])
        except (ValueError, norva_fleet.BundleError) as error:
            return norva_fleet.empty_row("", str(error)), [], False
        previous = signal.signal(signal.SIGALRM, _on_alarm)
        signal.alarm(seconds + GRACE_SECONDS)
        try:
            status, output = self._run_step(command, (program + "\n").encode("ascii"))
        except AnsibleConnectionFailure as error:
            return norva_fleet.empty_row("", "unreachable: %s" % str(error).strip()), [], True
        except StepTimeout:
            waited = seconds + GRACE_SECONDS
            return norva_fleet.empty_row("", "the host did not answer within %d s" % waited), [], False
        finally:
            signal.alarm(0)
            signal.signal(signal.SIGALRM, previous)
        answer = norva_fleet.read_answer(output, limit)
        answer.step_status = status
        return norva_fleet.row_of("", answer, limit) + (False,)

    def _run_step(self, command, data):
        """The step's exit status and its standard output, as bytes: read
        from the connection as it is, not turned into text and lines as
        Ansible's own helper does, so that a host's reports are held as few
        times as they can be."""
        connection = self._connection
        if connection.become:
            command = connection.become.build_become_command(command, connection._shell)
        status, answer, _ = connection.exec_command(command, in_data=data, sudoable=True)
        if not isinstance(answer, bytes):
            answer = answer.read()
        if answer.startswith(b"BECOME-SUCCESS-"):
            answer = answer.partition(b"\n")[2]
        return status, answer

    def _command(self, environment, remote_folder, limit, seconds):
        if not isinstance(environment, dict):
            raise ValueError("norva_environment must be a dictionary")
        variables = {}
        for name, value in environment.items():
            if not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", str(name)):
                raise ValueError("norva_environment names %r, which is no variable name" % name)
            variables[str(name)] = str(value)
        variables.update(NORVA_REPORT_LIMIT=limit, NORVA_TIMEOUT=seconds)
        if remote_folder:
            variables["NORVA_REMOTE_FOLDER"] = remote_folder
        with open(SCRIPT, encoding="utf-8") as source:
            script = source.read()
        # exec: the step's exit is the script's own.
        return "%s exec /bin/sh -c %s" % (self._connection._shell.env_prefix(**variables), shlex.quote(script))
