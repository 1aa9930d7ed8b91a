"""Fixtures: a virtual camera head served by varnel-camsim on a private
drives directory, and a settings store of each test's own."""

import os
import shutil
import signal
import subprocess
import tempfile
import time

import pytest


def _camsim():
    explicit = os.environ.get("VARNEL_CAMSIM")
    if explicit:
        return explicit
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.join(here, "..", "..", "build", "native", "bin", "varnel-camsim")


@pytest.fixture
def store(tmp_path, monkeypatch):
    """An empty settings store for the test (the user's own is never read)."""
    path = tmp_path / "settings.reg"
    monkeypatch.setenv("VARNEL_REGISTRY", str(path))
    return path


@pytest.fixture
def drives(tmp_path, monkeypatch):
    """An empty drives directory: no camera attached."""
    path = tmp_path / "drives"
    path.mkdir()
    monkeypatch.setenv("VARNEL_DRIVES", str(path))
    return path


class Head:
    """A varnel-camsim daemon serving one model on a drive (V: unless told)."""

    def __init__(self, model, drives_dir, fps=None, letter="v"):
        camsim = _camsim()
        if not os.access(camsim, os.X_OK):
            pytest.skip(f"varnel-camsim not found at {camsim} (set VARNEL_CAMSIM)")
        if not os.path.exists("/dev/fuse") or shutil.which("fusermount3") is None:
            pytest.skip("FUSE is not available on this machine")
        self.mount = tempfile.mkdtemp(prefix="varnel-pytest-head.")
        command = [camsim, "--model", model, "--link", f"{drives_dir}:{letter}", self.mount]
        if fps:
            command[1:1] = ["--fps", str(fps)]
        self.process = subprocess.Popen(command, stderr=subprocess.PIPE)
        link = os.path.join(drives_dir, f"{letter}::")
        deadline = time.monotonic() + 30
        while not (os.path.exists(link) and os.path.ismount(self.mount)):
            if self.process.poll() is not None:
                error = self.process.stderr.read().decode(errors="replace")
                self.close()
                pytest.skip(f"varnel-camsim could not mount: {error.strip()}")
            if time.monotonic() > deadline:
                self.close()
                pytest.fail("varnel-camsim did not mount within 30 s")
            time.sleep(0.05)

    def trigger(self):
        with open(os.path.join(self.mount, "trigger"), "wb") as f:
            f.write(b"1")

    def faults(self):
        """The head's fault switches as {name: value text}."""
        with open(os.path.join(self.mount, "faults")) as f:
            return dict(line.split() for line in f if line.strip())

    def set_faults(self, text):
        """Writes NAME VALUE lines to the head's faults file (OSError when refused)."""
        with open(os.path.join(self.mount, "faults"), "w") as f:
            f.write(text)

    def close(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if os.path.ismount(self.mount):
            subprocess.run(["fusermount3", "-uz", self.mount], check=False)
        try:
            os.rmdir(self.mount)
        except OSError:
            pass


@pytest.fixture
def head_factory(drives, store):
    heads = []

    def start(model="HXA1", fps=None, letter="v"):
        head = Head(model, drives, fps, letter)
        heads.append(head)
        return head

    yield start
    for head in heads:
        head.close()


@pytest.fixture
def camera(head_factory):
    """An HXA1 camera on a virtual head, on the settings a new user gets."""
    import varnel

    head_factory("HXA1")
    with varnel.Camera("V:", "HXA1") as cam:
        yield cam
