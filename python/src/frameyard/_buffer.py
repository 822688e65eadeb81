"""What the blocking and the asyncio connection share: the receive buffer, the items taken from
it, and the one-way failure after which nothing more is read from a connection."""
import time

from ._errors import Error


class BufferedConnection:
    """A connection's received bytes and its state; the subclass moves the bytes."""

    def __init__(self, label, timeout):
        self.label, self.timeout = label, timeout
        self.buf = bytearray()
        self.pos = 0
        self.received_at = time.monotonic()
        self.broken = None

    def _received(self, data):
        """Adds bytes that arrived; empty data means the host closed the connection."""
        if not data:
            pending = len(self.buf) - self.pos
            self._fail("the host closed the connection" + (" in the middle of an item" if pending else ""))
        if self.pos and self.pos * 2 >= len(self.buf):
            del self.buf[:self.pos]
            self.pos = 0
        self.buf += data
        self.received_at = time.monotonic()

    def _take(self, n):
        """The next n bytes, or None while they have not all arrived."""
        if len(self.buf) - self.pos < n:
            return None
        data = bytes(self.buf[self.pos:self.pos + n])
        self.pos += n
        return data

    def _decoded(self, decode):
        """The next whole item without its end position, or None while it is incomplete."""
        try:
            item = decode(self.buf, self.pos)
        except Error as error:
            self._fail(str(error))
        if item is None:
            return None
        self.pos = item[-1]
        return item[:-1]

    def _wait_for(self, deadline):
        """How long the next wait may last; None when the caller's deadline has passed."""
        if deadline is None:
            return self.timeout
        wait = min(self.timeout, deadline - time.monotonic())
        return wait if wait > 0 else None

    def _silent(self):
        self._fail("no answer from the host for %g s" % self.timeout)

    def _check(self):
        if self.broken:
            raise Error("%s: %s" % (self.label, self.broken))

    def _fail(self, what):
        # The stream's position is lost with any failure: nothing more is read from it.
        self.broken = what
        self._close_transport()
        raise Error("%s: %s" % (self.label, what))

    def close(self):
        self._close_transport()
        self.broken = self.broken or "the connection is closed"

    def _close_transport(self):
        raise NotImplementedError
