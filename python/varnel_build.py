"""A build backend (PEP 517) for the pure-Python `varnel` package.

The package has no compiled parts, so a wheel is a zip of the `varnel`
directory plus the metadata files; building it needs only the standard
library. That keeps `pip install ./python` working on a machine without
network access, where pip could not fetch setuptools into its isolated build
environment.
"""

import base64
import hashlib
import os
import tarfile
import zipfile

try:
    import tomllib
except ModuleNotFoundError:  # Python before 3.11
    tomllib = None

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = "varnel"


def _project():
    if tomllib is not None:
        with open(os.path.join(HERE, "pyproject.toml"), "rb") as f:
            return tomllib.load(f)["project"]
    # The few fields this backend reads, without a TOML parser.
    project = {"dependencies": []}
    with open(os.path.join(HERE, "pyproject.toml"), encoding="utf-8") as f:
        for line in f:
            key, _, value = line.partition("=")
            key, value = key.strip(), value.strip()
            if key in ("name", "version", "description", "requires-python"):
                project[key] = value.strip('"')
            elif key == "dependencies":
                project[key] = [v.strip().strip('"') for v in value.strip("[]").split(",") if v.strip()]
    return project


def _metadata():
    p = _project()
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {p['name']}",
        f"Version: {p['version']}",
        f"Summary: {p.get('description', '')}",
        f"Requires-Python: {p.get('requires-python', '>=3')}",
    ]
    lines += [f"Requires-Dist: {d}" for d in p.get("dependencies", [])]
    return p, "\n".join(lines) + "\n"


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project, metadata = _metadata()
    dist = f"{project['name']}-{project['version']}"
    wheel_name = f"{dist}-py3-none-any.whl"
    records = []
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w", zipfile.ZIP_DEFLATED) as whl:
        def add(name, data):
            whl.writestr(name, data)
            records.append(_record_line(name, data))

        for folder, _, files in sorted(os.walk(os.path.join(HERE, PACKAGE))):
            for file in sorted(files):
                if not file.endswith(".py"):
                    continue
                path = os.path.join(folder, file)
                with open(path, "rb") as f:
                    add(os.path.relpath(path, HERE).replace(os.sep, "/"), f.read())
        info = f"{dist}.dist-info"
        add(f"{info}/METADATA", metadata.encode())
        add(f"{info}/WHEEL", b"Wheel-Version: 1.0\nGenerator: varnel_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n")
        records.append(f"{info}/RECORD,,")
        whl.writestr(f"{info}/RECORD", "\n".join(records) + "\n")
    return wheel_name


def build_sdist(sdist_directory, config_settings=None):
    project, metadata = _metadata()
    dist = f"{project['name']}-{project['version']}"
    name = f"{dist}.tar.gz"
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as tar:
        for entry in ("pyproject.toml", "varnel_build.py", PACKAGE):
            tar.add(os.path.join(HERE, entry), arcname=f"{dist}/{entry}",
                    filter=lambda t: None if "__pycache__" in t.name else t)
    return name
