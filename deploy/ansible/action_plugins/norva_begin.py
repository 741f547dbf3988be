"""Starts a fleet run on the controller, before any host is contacted:
checks the output folder and makes the run's staging folder in it."""
import os
import sys

from ansible.plugins.action import ActionBase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "lib"))
import norva_fleet  # noqa: E402


class ActionModule(ActionBase):
    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        try:
            stage = norva_fleet.begin(self._task.args.get("out"))
        except (OSError, ValueError) as error:
            return dict(result, failed=True, msg=str(error))
        return dict(result, changed=True, stage=stage)
