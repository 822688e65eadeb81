"""A frameyard-simhost for the whole test session, on a free port of 127.0.0.1."""
import os
import random
import socket
import subprocess
import time
from pathlib import Path

import pytest

import frameyard

PYTHON_DIR = Path(__file__).resolve().parents[1]
TOOLS = PYTHON_DIR.parent / "build" / "default" / "tools"


# Where the machine must have everything the tests need (CI sets it), a missing prerequisite
# fails the test instead of skipping it.
PREREQUISITES_REQUIRED = os.environ.get("FRAMEYARD_TEST_PREREQUISITES") == "required"


def prerequisite(present, reason):
    """Skips the test without what it needs, or fails it where prerequisites are required."""
    if not present:
        if PREREQUISITES_REQUIRED:
            pytest.fail("missing prerequisite: " + reason)
        pytest.skip(reason)


def tool(env_name, name):
    path = Path(os.environ.get(env_name) or TOOLS / name)
    prerequisite(path.exists(), "%s not found (build it, or set %s)" % (path, env_name))
    return str(path)


def _ephemeral_ports_start():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as ports:
            return int(ports.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768


def _bind_briefly(port):
    """Binds 127.0.0.1:port for a moment; returns the port bound, or 0."""
    with socket.socket() as probe:
        try:
            probe.bind(("127.0.0.1", port))
        except OSError:
            return 0
        return probe.getsockname()[1]


def free_port():
    """A port of 127.0.0.1 free a moment ago. Ports the system hands out to outgoing connections
    are reused by the parallel C++ tests' connections as soon as they are released, so the port
    is drawn from below that range."""
    end = _ephemeral_ports_start()
    if end - 10000 >= 1000:
        for _ in range(50):
            port = random.randrange(10000, end)
            if _bind_briefly(port) == port:
                return port
    return _bind_briefly(0)


class SimHost:
    """A running frameyard-simhost, stopped by stop() (by its own pid)."""

    def __init__(self, *options, port=None):
        self.port = port or free_port()
        self.process = subprocess.Popen([tool("FRAMEYARD_SIMHOST", "frameyard-simhost"), "--port", str(self.port),
                                         "--quiet", *options],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    raise RuntimeError("frameyard-simhost did not start on port %d" % self.port)
                time.sleep(0.05)

    def host(self, timeout=5.0):
        return frameyard.Host("127.0.0.1", self.port, timeout=timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


@pytest.fixture(scope="session")
def simhost():
    sim = SimHost("--cameras", "3", "--width", "320", "--height", "240", "--blobs", "12", "--fps", "100")
    yield sim
    sim.stop()


@pytest.fixture
def host(simhost):
    return simhost.host()


@pytest.fixture
def client_tool():
    return tool("FRAMEYARD_CLIENT", "frameyard-client")
