"""The Linux program and its stand-in as one bundle for one remote step."""
import base64
import io
import os
import tarfile

from ansible.errors import AnsibleFilterError

FILES = ("NorvaAudit", "wmic")


def norva_bundle(folder):
    """Base64 of a gzip'd tar holding NorvaAudit and wmic from `folder` on
    the controller, both executable."""
    data = io.BytesIO()
    with tarfile.open(fileobj=data, mode="w:gz", format=tarfile.PAX_FORMAT) as bundle:
        for name in FILES:
            path = os.path.join(folder, name)
            try:
                with open(path, "rb") as source:
                    content = source.read()
            except OSError as error:
                raise AnsibleFilterError(
                    "Could not find or access '%s' on the Ansible Controller: %s" % (path, error.strerror))
            entry = tarfile.TarInfo(name)
            entry.size = len(content)
            entry.mode = 0o755
            bundle.addfile(entry, io.BytesIO(content))
    return base64.b64encode(data.getvalue()).decode("ascii")


class FilterModule:
    def filters(self):
        return {"norva_bundle": norva_bundle}
