"""Checks the fleet playbook's Windows tasks, which no host here can run,
against the ansible.windows collection's own documentation: the playbook
passes ansible-playbook --syntax-check, every module of the Windows task
file exists, every option given to one is documented (or an alias), and
the file does what the Linux one does: a temporary folder of its own, the
program run with nothing on its standard input and ended at its time
limit, the reports brought home within their limit and the folder removed.
The playbook's own actions (norva_*) must exist beside it.

Usage: windows_tasks_test.py PLAYBOOK   (Debian's ansible and python3-yaml)
"""
import json
import os
import subprocess
import sys

import yaml

# Task keywords, which are no module's options.
KEYWORDS = {
    "name", "register", "when", "environment", "changed_when", "failed_when", "loop", "args", "block",
    "rescue", "always", "ignore_errors", "vars", "tags", "no_log", "delegate_to", "become", "notify",
    "timeout", "run_once", "any_errors_fatal",
}


def tasks_of(entries):
    for task in entries or []:
        yield task
        for part in ("block", "rescue", "always"):
            yield from tasks_of(task.get(part))


def module_of(task):
    modules = [key for key in task if key not in KEYWORDS]
    assert len(modules) == 1, "a task names %s" % modules
    return modules[0]


def documentation(module):
    result = subprocess.run(["ansible-doc", "-j", module], capture_output=True, text=True)
    assert result.returncode == 0, "%s is no module: %s" % (module, result.stderr.strip())
    doc = json.loads(result.stdout)[module]["doc"]
    options = set()
    for option, spec in (doc.get("options") or {}).items():
        options.add(option)
        options.update(spec.get("aliases") or [])
    return options


def main(playbook):
    folder = os.path.dirname(os.path.abspath(playbook))
    environment = dict(os.environ, ANSIBLE_CONFIG=os.path.join(folder, "ansible.cfg"), ANSIBLE_NOCOLOR="1")
    subprocess.run(["ansible-playbook", "--syntax-check", "-i", "localhost,", playbook], check=True,
                   env=environment, stdout=subprocess.DEVNULL)
    tasks = list(tasks_of(yaml.safe_load(open(os.path.join(folder, "tasks", "windows.yml")))))
    used = []
    for task in tasks:
        if "block" in task:
            continue
        module = module_of(task)
        if module.startswith("norva_"):
            # The playbook's own controller-side actions, tested by the fleet tests.
            assert os.path.isfile(os.path.join(folder, "action_plugins", module + ".py")), module
            continue
        arguments = task[module]
        given = set(arguments) if isinstance(arguments, dict) else {"free_form"}
        given |= set(task.get("args") or {})
        options = documentation(module)
        unknown = given - options
        assert not unknown, "%s: %s has no option %s" % (task["name"], module, sorted(unknown))
        used.append(module)
        print("%-28s %s" % (module, ", ".join(sorted(given))))
    for needed in ("ansible.windows.win_tempfile", "ansible.windows.win_copy", "ansible.windows.win_shell",
                   "ansible.windows.win_file"):
        assert needed in used, "the Windows tasks do not use %s" % needed
    runner = open(os.path.join(folder, "files", "run_audit.ps1")).read()
    for step in ("RedirectStandardInput = $true", "StandardInput.Close()", "Get-ChildItem -LiteralPath $folder",
                 "Remove-Item -LiteralPath $folder -Recurse", "WaitForExit($seconds * 1000)", "taskkill.exe /T /F",
                 "$_.Length -le $left"):
        assert step in runner, "the Windows run does not: %s" % step
    print("windows tasks: %d modules, every option documented" % len(used))


if __name__ == "__main__":
    main(*sys.argv[1:])
