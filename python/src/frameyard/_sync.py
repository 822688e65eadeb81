"""The blocking API: frameyard.Host and its streams, over plain sockets with time-outs."""
import socket
import time

from . import _flows as flows
from . import _wire as wire
from ._buffer import BufferedConnection
from ._errors import Error
from ._session import LiveCore, RealtimeCore

_CHUNK = 256 * 1024


class Connection(BufferedConnection):
    """One TCP connection with a receive buffer. Every wait is bounded: a wait for more bytes
    lasts at most the host's time-out (or the caller's deadline)."""

    def __init__(self, address, port, timeout):
        super().__init__("%s:%d" % (address, port), timeout)
        self.sock = None
        try:
            self.sock = socket.create_connection((address, port), timeout=timeout)
        except socket.timeout:
            raise Error("cannot connect to %s: no answer within %g s" % (self.label, timeout)) from None
        except OSError as error:
            raise Error("cannot connect to %s: %s" % (self.label, error.strerror or error)) from None
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def _close_transport(self):
        if self.sock is not None:
            self.sock.close()
            self.sock = None

    def send(self, data):
        self._check()
        self.sock.settimeout(self.timeout)
        try:
            self.sock.sendall(data)
        except socket.timeout:
            self._fail("the host took no data for %g s" % self.timeout)
        except OSError as error:
            self._fail("cannot send: %s" % (error.strerror or error))

    def fill(self, wait):
        """Waits up to `wait` seconds for bytes; False when none came."""
        self._check()
        self.sock.settimeout(max(wait, 1e-4))
        try:
            data = self.sock.recv(_CHUNK)
        except (socket.timeout, BlockingIOError):
            return False
        except OSError as error:
            self._fail("connection lost: %s" % (error.strerror or error))
        self._received(data)
        return True

    def read(self, n):
        while True:
            data = self._take(n)
            if data is not None:
                return data
            if not self.fill(self.timeout):
                self._silent()

    def decode(self, decode, deadline=None):
        """The next whole item without its end position; None when the deadline passed."""
        while True:
            item = self._decoded(decode)
            if item is not None:
                return item
            wait = self._wait_for(deadline)
            if wait is None:
                return None
            if not self.fill(wait) and deadline is None:
                self._silent()


def run(host, flow):
    """Carries out a flow's steps; connections it opened and did not keep are closed after."""
    opened, kept, value = [], [], None
    try:
        while True:
            try:
                step = flow.send(value)
            except StopIteration as stop:
                return stop.value
            if isinstance(step, flows.Send):
                value = step.conn.send(step.data)
            elif isinstance(step, flows.Decode):
                value = step.conn.decode(step.decode, step.deadline)
            elif isinstance(step, flows.Read):
                value = step.conn.read(step.n)
            elif isinstance(step, flows.Open):
                value = Connection(host.address, host.port, host.timeout)
                opened.append(value)
            elif isinstance(step, flows.Keep):
                kept.append(step.conn)
                value = None
            elif isinstance(step, flows.Call):
                value = step.function(*step.args)
            else:
                raise TypeError("unknown step %r" % (step,))
    finally:
        flow.close()
        for conn in opened:
            if conn not in kept:
                conn.close()


class Host:
    """A frameyard host: `timeout` bounds every single wait for it, in seconds."""

    def __init__(self, address="127.0.0.1", port=4000, timeout=5.0):
        if not timeout > 0:
            raise Error("the time-out must be positive, not %r" % (timeout,))
        self.address, self.port, self.timeout = address, int(port), float(timeout)

    def __repr__(self):
        return "frameyard.Host(%r, %d, timeout=%g)" % (self.address, self.port, self.timeout)

    def cameras(self):
        """Every camera, in host order, with its region, settings and threshold."""
        return run(self, flows.describe())

    def thresholds(self):
        return run(self, flows.thresholds())

    def set_threshold(self, camera, value):
        """Sets a camera's threshold (0..255) and returns once the host has confirmed it."""
        run(self, flows.set_threshold(camera, value, self.timeout))

    def set_setting(self, camera, name, value):
        """Changes a number setting; returns the Setting the host then holds (it may keep the
        value within its range)."""
        return run(self, flows.set_setting(camera, name, value))

    def circular_masks(self):
        return run(self, flows.circular_masks())

    def set_circular_masks(self, masks):
        """Replaces the circular masks of the cameras named; returns once the host holds them."""
        run(self, flows.set_circular_masks(masks, self.timeout))

    def command(self, *requests):
        """Raw command exchanges in order on one connection: each reply as a JSON value
        (errors included), or the list of replies when several were given."""
        if not requests:
            raise Error("command needs at least one request")
        replies = run(self, flows.command(requests))
        return replies[0] if len(requests) == 1 else replies

    def stream(self, cameras=None, compact=False, timecodes=True, messages=False):
        conn, names, decoder = run(self, flows.open_stream(cameras, compact, timecodes, messages))
        return Stream(self, conn, RealtimeCore(names, decoder))

    def live(self, camera, images=True, messages=False):
        conn = run(self, flows.open_live(camera, images, messages))
        return Live(self, conn, LiveCore(camera, images))

    def acquire(self, fields=100, start=0, centroids=True, images=False, progress=None):
        return run(self, flows.acquire(fields, start, centroids, images, progress))


class _Session:
    def __init__(self, host, conn, core):
        self.host, self._conn, self._core = host, conn, core

    @property
    def messages(self):
        """The JSON notifications received so far, oldest first."""
        return self._core.messages

    def next(self, timeout=None):
        """The next frame, or None when none came within `timeout` seconds (default: the
        host's time-out). Raises Error when the connection breaks."""
        if self._core.closed:
            raise Error("%s: the stream is closed" % self._conn.label)
        wait = self.host.timeout if timeout is None else timeout
        deadline = time.monotonic() + wait
        while True:
            item = self._conn.decode(self._decoder, deadline)
            if item is None:
                return None
            result, reply = self._core.on_item(item[0], item[1], self._conn.received_at)
            if reply:
                self._conn.send(reply)
            if result is not None:
                return result

    def __iter__(self):
        while not self._core.closed:
            item = self.next()
            if item is None:
                if self._core.closed:
                    return
                raise Error("%s: nothing from the host for %g s" % (self._conn.label, self.host.timeout))
            yield item

    def close(self):
        self._core.closed = True
        self._conn.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Stream(_Session):
    """A realtime session: frames of the stream's cameras and the host's notifications."""

    @property
    def _decoder(self):
        return self._core.decoder.decode

    @property
    def cameras(self):
        return self._core.cameras

    def set_threshold(self, camera, value):
        """The realtime 't' command for one of the stream's cameras; the host does not answer."""
        self._send(self._core.threshold_command(camera, value))

    def send(self, message):
        """The realtime 'm' command: any JSON value (a monitor request, a camera command...)."""
        self._send(wire.message_command(message))

    def _send(self, data):
        # Until the start handshake is over the session discards what it gets: wait for it.
        deadline = time.monotonic() + self.host.timeout
        while not self._core.started:
            item = self._conn.decode(self._decoder, deadline)
            if item is None:
                raise Error("%s: no start signal from the host within %g s" % (self._conn.label, self.host.timeout))
            _, reply = self._core.on_item(item[0], item[1], self._conn.received_at)
            if reply:
                self._conn.send(reply)
        self._conn.send(data)


class Live(_Session):
    """A live-feature session of one camera: run segments and, when asked for, images."""

    _decoder = staticmethod(wire.decode_livefeat)

    @property
    def camera(self):
        return self._core.camera

    def set_images(self, on):
        self._conn.send(self._core.set_images(on))

    def set_threshold(self, value):
        self._conn.send(wire.threshold_command(0, flows._threshold_value(value)))

    def send(self, message):
        self._conn.send(wire.message_command(message))
