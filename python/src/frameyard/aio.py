"""frameyard for asyncio: the calls of frameyard.Host as coroutines, for a client that serves
several hosts or a user interface at once.

    host = frameyard.aio.Host("127.0.0.1", 4000, timeout=5.0)
    cameras = await host.cameras()
    async with await host.stream() as stream:      # or: async with host.stream() as stream
        frame = await stream.next(timeout=1.0)
        async for frame in stream: ...
"""
import asyncio
import inspect
import time

from . import _flows as flows
from . import _wire as wire
from ._buffer import BufferedConnection
from ._errors import Error
from ._session import LiveCore, RealtimeCore

_CHUNK = 256 * 1024

__all__ = ["Host", "Stream", "Live"]


class Connection(BufferedConnection):
    """The asyncio twin of the blocking connection: the same buffer and the same bounded waits."""

    def __init__(self, label, timeout, reader, writer):
        super().__init__(label, timeout)
        self.reader, self.writer = reader, writer

    @classmethod
    async def open(cls, address, port, timeout):
        label = "%s:%d" % (address, port)
        try:
            reader, writer = await asyncio.wait_for(asyncio.open_connection(address, port), timeout)
        except asyncio.TimeoutError:
            raise Error("cannot connect to %s: no answer within %g s" % (label, timeout)) from None
        except OSError as error:
            raise Error("cannot connect to %s: %s" % (label, error.strerror or error)) from None
        return cls(label, timeout, reader, writer)

    def _close_transport(self):
        if self.writer is not None:
            self.writer.close()
            self.writer = None

    async def send(self, data):
        self._check()
        try:
            self.writer.write(data)
            await asyncio.wait_for(self.writer.drain(), self.timeout)
        except asyncio.TimeoutError:
            self._fail("the host took no data for %g s" % self.timeout)
        except OSError as error:
            self._fail("cannot send: %s" % (error.strerror or error))

    async def fill(self, wait):
        self._check()
        try:
            data = await asyncio.wait_for(self.reader.read(_CHUNK), max(wait, 1e-4))
        except asyncio.TimeoutError:
            return False
        except OSError as error:
            self._fail("connection lost: %s" % (error.strerror or error))
        self._received(data)
        return True

    async def read(self, n):
        while True:
            data = self._take(n)
            if data is not None:
                return data
            if not await self.fill(self.timeout):
                self._silent()

    async def decode(self, decode, deadline=None):
        while True:
            item = self._decoded(decode)
            if item is not None:
                return item
            wait = self._wait_for(deadline)
            if wait is None:
                return None
            if not await self.fill(wait) and deadline is None:
                self._silent()


async def run(host, flow):
    opened, kept, value = [], [], None
    try:
        while True:
            try:
                step = flow.send(value)
            except StopIteration as stop:
                return stop.value
            if isinstance(step, flows.Send):
                value = await step.conn.send(step.data)
            elif isinstance(step, flows.Decode):
                value = await step.conn.decode(step.decode, step.deadline)
            elif isinstance(step, flows.Read):
                value = await step.conn.read(step.n)
            elif isinstance(step, flows.Open):
                value = await Connection.open(host.address, host.port, host.timeout)
                opened.append(value)
            elif isinstance(step, flows.Keep):
                kept.append(step.conn)
                value = None
            elif isinstance(step, flows.Call):
                if step.function is flows._pause:
                    value = await asyncio.sleep(0.01)
                else:
                    value = step.function(*step.args)
                    if inspect.isawaitable(value):
                        value = await value
            else:
                raise TypeError("unknown step %r" % (step,))
    finally:
        flow.close()
        for conn in opened:
            if conn not in kept:
                conn.close()


class _Opening:
    """What host.stream() and host.live() return: awaitable, and an async context manager."""

    def __init__(self, coroutine):
        self._coroutine = coroutine
        self._session = None

    def __await__(self):
        return self._coroutine.__await__()

    async def __aenter__(self):
        self._session = await self._coroutine
        return self._session

    async def __aexit__(self, *exc):
        self._session.close()


class Host:
    """A frameyard host; every call is a coroutine and every wait is bounded by `timeout`."""

    def __init__(self, address="127.0.0.1", port=4000, timeout=5.0):
        if not timeout > 0:
            raise Error("the time-out must be positive, not %r" % (timeout,))
        self.address, self.port, self.timeout = address, int(port), float(timeout)

    def __repr__(self):
        return "frameyard.aio.Host(%r, %d, timeout=%g)" % (self.address, self.port, self.timeout)

    async def cameras(self):
        return await run(self, flows.describe())

    async def thresholds(self):
        return await run(self, flows.thresholds())

    async def set_threshold(self, camera, value):
        await run(self, flows.set_threshold(camera, value, self.timeout))

    async def set_setting(self, camera, name, value):
        return await run(self, flows.set_setting(camera, name, value))

    async def circular_masks(self):
        return await run(self, flows.circular_masks())

    async def set_circular_masks(self, masks):
        await run(self, flows.set_circular_masks(masks, self.timeout))

    async def command(self, *requests):
        if not requests:
            raise Error("command needs at least one request")
        replies = await run(self, flows.command(requests))
        return replies[0] if len(requests) == 1 else replies

    def stream(self, cameras=None, compact=False, timecodes=True, messages=False):
        return _Opening(self._stream(cameras, compact, timecodes, messages))

    async def _stream(self, cameras, compact, timecodes, messages):
        conn, names, decoder = await run(self, flows.open_stream(cameras, compact, timecodes, messages))
        return Stream(self, conn, RealtimeCore(names, decoder))

    def live(self, camera, images=True, messages=False):
        return _Opening(self._live(camera, images, messages))

    async def _live(self, camera, images, messages):
        conn = await run(self, flows.open_live(camera, images, messages))
        return Live(self, conn, LiveCore(camera, images))

    async def acquire(self, fields=100, start=0, centroids=True, images=False, progress=None):
        return await run(self, flows.acquire(fields, start, centroids, images, progress))


class _Session:
    def __init__(self, host, conn, core):
        self.host, self._conn, self._core = host, conn, core

    @property
    def messages(self):
        return self._core.messages

    async def next(self, timeout=None):
        if self._core.closed:
            raise Error("%s: the stream is closed" % self._conn.label)
        deadline = time.monotonic() + (self.host.timeout if timeout is None else timeout)
        while True:
            item = await self._conn.decode(self._decoder, deadline)
            if item is None:
                return None
            result, reply = self._core.on_item(item[0], item[1], self._conn.received_at)
            if reply:
                await self._conn.send(reply)
            if result is not None:
                return result

    def __aiter__(self):
        return self

    async def __anext__(self):
        if self._core.closed:
            raise StopAsyncIteration
        item = await self.next()
        if item is None:
            if self._core.closed:
                raise StopAsyncIteration
            raise Error("%s: nothing from the host for %g s" % (self._conn.label, self.host.timeout))
        return item

    def close(self):
        self._core.closed = True
        self._conn.close()

    async def __aenter__(self):
        return self

    async def __aexit__(self, *exc):
        self.close()


class Stream(_Session):
    @property
    def _decoder(self):
        return self._core.decoder.decode

    @property
    def cameras(self):
        return self._core.cameras

    async def set_threshold(self, camera, value):
        await self._send(self._core.threshold_command(camera, value))

    async def send(self, message):
        await self._send(wire.message_command(message))

    async def _send(self, data):
        deadline = time.monotonic() + self.host.timeout
        while not self._core.started:
            item = await self._conn.decode(self._decoder, deadline)
            if item is None:
                raise Error("%s: no start signal from the host within %g s" % (self._conn.label, self.host.timeout))
            _, reply = self._core.on_item(item[0], item[1], self._conn.received_at)
            if reply:
                await self._conn.send(reply)
        await self._conn.send(data)


class Live(_Session):
    _decoder = staticmethod(wire.decode_livefeat)

    @property
    def camera(self):
        return self._core.camera

    async def set_images(self, on):
        await self._conn.send(self._core.set_images(on))

    async def set_threshold(self, value):
        await self._conn.send(wire.threshold_command(0, flows._threshold_value(value)))

    async def send(self, message):
        await self._conn.send(wire.message_command(message))
