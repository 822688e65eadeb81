"""Hosts that refuse, go away, say nothing or send garbage: frameyard.Error, never a hang."""
import socket
import threading
import time

import pytest

import frameyard
from conftest import SimHost, free_port


class TinyServer:
    """Accepts connections on 127.0.0.1 and answers each with `reply(first bytes)`, or nothing."""

    def __init__(self, reply=None, close=False):
        self.reply, self.close_after = reply, close
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.connections = []
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            self.connections.append(conn)
            try:
                data = conn.recv(4096)
                if self.reply is not None:
                    conn.sendall(self.reply(data))
                if self.close_after:
                    conn.close()
            except OSError:
                pass

    def stop(self):
        self.listener.close()
        for conn in self.connections:
            conn.close()


@pytest.fixture
def tiny():
    servers = []

    def make(**kwargs):
        servers.append(TinyServer(**kwargs))
        return frameyard.Host("127.0.0.1", servers[-1].port, timeout=0.5)

    yield make
    for server in servers:
        server.stop()


def every_call(host):
    return [
        host.cameras, host.thresholds, host.circular_masks,
        lambda: host.set_threshold("cam1", 1), lambda: host.set_setting("cam1", "gain", 1),
        lambda: host.command(["get_thresholds"]), lambda: host.stream(cameras=["cam1"]).next(),
        lambda: host.stream().next(), lambda: host.live("cam1").next(), lambda: host.acquire(fields=3),
    ]


def test_garbage_from_the_server_is_an_error_and_no_hang(tiny):
    host = tiny(reply=lambda data: b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n" * 4)
    for call in every_call(host):
        started = time.monotonic()
        with pytest.raises(frameyard.Error) as error:
            call()
        assert time.monotonic() - started < 2.0
        assert "\n" not in str(error.value)


def test_a_silent_server_times_out(tiny):
    host = tiny()
    for call in every_call(host)[:6]:
        started = time.monotonic()
        with pytest.raises(frameyard.Error, match="no answer from the host for 0.5 s"):
            call()
        assert time.monotonic() - started < 2.0


def test_a_server_that_hangs_up(tiny):
    host = tiny(close=True)
    with pytest.raises(frameyard.Error, match="closed the connection"):
        host.cameras()


def test_nobody_listening():
    host = frameyard.Host("127.0.0.1", free_port(), timeout=1.0)
    with pytest.raises(frameyard.Error, match="cannot connect to 127.0.0.1:"):
        host.thresholds()


def test_a_host_that_goes_away_mid_stream():
    sim = SimHost("--cameras", "2", "--fps", "200")
    try:
        host = sim.host(timeout=2.0)
        stream = host.stream()
        live = host.live("cam1", images=True)
        assert stream.next(timeout=2.0) is not None and live.next(timeout=2.0) is not None
        sim.stop()
        for session in (stream, live):
            started = time.monotonic()
            with pytest.raises(frameyard.Error, match="closed the connection|connection lost|cannot send"):
                for _ in session:
                    pass
            assert time.monotonic() - started < 3.0
    finally:
        sim.stop()


def test_an_acquisition_refused_by_the_host(tiny):
    # A host without acquisitions answers the request with u16 0.
    descriptions = b'[{"name":"cam1","number_settings":[]}]'

    def reply(data):
        if data.startswith(b"cgs"):
            return len(descriptions).to_bytes(4, "big") + descriptions
        return b"\0\0"

    host = tiny(reply=reply)
    with pytest.raises(frameyard.Error, match="offers no acquisitions"):
        host.acquire(fields=3)
