"""Stages a Windows host's row and fault reports from the result of its
remote step (files/run_audit.ps1), read straight from the task's
variables by name: the host's text is parsed as data and never templated."""
import os
import sys

from ansible.plugins.action import ActionBase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "lib"))
import norva_fleet  # noqa: E402


def failure_reason(step):
    """What went wrong in a failed task's result, the first failed item's
    message for a loop."""
    for item in step.get("results") or []:
        if isinstance(item, dict) and item.get("failed"):
            return str(item.get("msg") or "the audit failed")
    error = str(step.get("stderr") or "").strip()
    return error or str(step.get("msg") or "the audit failed")


class ActionModule(ActionBase):
    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        host = str(task_vars["inventory_hostname"])
        step = self._step(task_vars)
        try:
            limit = norva_fleet.positive_integer(self._task.args.get("report_limit"), "norva_report_limit",
                                                 norva_fleet.DEFAULT_REPORT_LIMIT)
        except ValueError as error:
            step, limit = {"failed": True, "msg": str(error)}, norva_fleet.DEFAULT_REPORT_LIMIT
        reports = []
        if not isinstance(step, dict):
            row = norva_fleet.empty_row(host, "the audit did not run")
        elif step.get("unreachable"):
            row = norva_fleet.empty_row(host, "unreachable: %s" % str(step.get("msg") or "").strip())
        elif step.get("failed") or "stdout" not in step:
            row = norva_fleet.empty_row(host, norva_fleet.excerpt(failure_reason(step).encode("utf-8"), 0))
        else:
            answer = norva_fleet.read_answer(str(step["stdout"]).encode("utf-8", "surrogateescape"), limit)
            row, reports = norva_fleet.row_of(host, answer, limit)
        norva_fleet.stage_host(self._task.args["stage"], host, row, reports)
        return dict(result, **norva_fleet.task_result(row))

    def _step(self, task_vars):
        """The result to read, by its variable's name: of several, the
        first whose host was unreachable, else the last."""
        names = self._task.args["result"]
        steps = [task_vars.get(name) for name in (names if isinstance(names, list) else [names])]
        unreachable = [step for step in steps if isinstance(step, dict) and step.get("unreachable")]
        return (unreachable or steps)[0 if unreachable else -1]
