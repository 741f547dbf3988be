#!/usr/bin/python3
"""Writes the fault reports that the hosts' runs brought back into
DEST/reports/<inventory host name>/<report name>, byte for byte. A host's
folder holds the reports of this run only."""
import base64
import os
import shutil

from ansible.module_utils.basic import AnsibleModule

DOCUMENTATION = r"""
module: norva_save_reports
short_description: Saves the fault reports of a NorvaAudit fleet run
options:
  dest:
    description: The folder that gets one folder per host.
    type: path
    required: true
  hosts:
    description: Every host of the run; their folders are emptied first.
    type: list
    elements: str
    required: true
  reports:
    description: Per host, its reports as {name, content}, both base64.
    type: dict
    required: true
"""


def safe_name(name):
    """A name that stays inside its folder: no separator, not . or .."""
    return bool(name) and name not in (b".", b"..") and b"/" not in name and b"\\" not in name and b"\0" not in name


def main():
    module = AnsibleModule(argument_spec={"dest": {"type": "path", "required": True},
                                          "hosts": {"type": "list", "elements": "str", "required": True},
                                          "reports": {"type": "dict", "required": True}})
    dest = os.fsencode(module.params["dest"])
    for host in module.params["hosts"]:
        if not safe_name(os.fsencode(host)):
            module.fail_json(msg="the host name %r cannot name a folder" % host)
        shutil.rmtree(os.path.join(dest, b"reports", os.fsencode(host)), ignore_errors=True)
    saved = []
    for host, reports in sorted(module.params["reports"].items()):
        folder = os.path.join(dest, b"reports", os.fsencode(host))
        if not safe_name(os.fsencode(host)):
            module.fail_json(msg="the host name %r cannot name a folder" % host)
        os.makedirs(folder, exist_ok=True)
        for report in reports:
            name = base64.b64decode(report["name"])
            if not safe_name(name):
                module.fail_json(msg="%s sent a report named %r" % (host, name))
            with open(os.path.join(folder, name), "wb") as target:
                target.write(base64.b64decode(report["content"]))
            saved.append(os.fsdecode(os.path.join(folder, name)))
    module.exit_json(changed=bool(saved), saved=saved)


if __name__ == "__main__":
    main()
