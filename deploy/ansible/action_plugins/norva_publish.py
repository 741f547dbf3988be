"""Ends a fleet run on the controller: keeps it whole under runs/, makes
it the latest and adds it to fleet.sqlite. Hosts the run did not target
(-l) keep their rows and reports."""
import os
import sqlite3
import sys

from ansible.plugins.action import ActionBase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "lib"))
import norva_fleet  # noqa: E402
import norva_history  # noqa: E402


class ActionModule(ActionBase):
    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        # The host lists are read as they are, never templated.
        inventory = [str(host) for host in task_vars["groups"]["all"]]
        ran = [str(host) for host in task_vars["ansible_play_hosts_all"]]
        try:
            rows = norva_fleet.publish(self._task.args["out"], self._task.args["stage"], inventory, ran)
        except (OSError, sqlite3.Error, norva_history.NewerDatabase) as error:
            return dict(result, failed=True, msg="the run could not be published: %s" % error)
        audited = sum(1 for row in rows if row["host"] in ran and norva_fleet.audited(row))
        return dict(result, changed=True, msg="%d of %d hosts audited" % (audited, len(ran)))
