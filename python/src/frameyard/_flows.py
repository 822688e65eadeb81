"""Every exchange with a host, written once as a generator of I/O steps.

A flow yields steps (open a connection, send, read, decode an item, call back the caller) and
gets each step's result back; the blocking driver (frameyard.Host) and the asyncio driver
(frameyard.aio.Host) carry the steps out, each with its own time-outs. So the two APIs cannot
drift apart in what they send or how they read it.
"""
import math
import time

import numpy as np

from . import _wire as wire
from ._errors import Error, unknown_camera
from ._model import Acquisition, Field


class Open:
    """A new connection to the host; the driver closes it when the flow ends unless kept."""


class Keep:
    def __init__(self, conn):
        self.conn = conn


class Send:
    def __init__(self, conn, data):
        self.conn, self.data = conn, data


class Read:
    """Exactly n bytes; each wait for more bytes is bounded by the host's time-out."""

    def __init__(self, conn, n):
        self.conn, self.n = conn, n


class Decode:
    """The next whole item of `decode(buf, at) -> (..., end) | None`, as the tuple without end.
    With a deadline (time.monotonic()), None once it has passed."""

    def __init__(self, conn, decode, deadline=None):
        self.conn, self.decode, self.deadline = conn, decode, deadline


class Call:
    """Calls back the caller (a coroutine function's result is awaited by the async driver)."""

    def __init__(self, function, *args):
        self.function, self.args = function, args


def _sized(what):
    return lambda buf, at: wire.decode_sized(buf, at, what)


# ---- Configure requests: one per connection


def describe():
    """Camera records of every camera, thresholds included."""
    cameras = yield from _descriptions()
    thresholds = yield from _thresholds()
    for camera, threshold in zip(cameras, thresholds):
        camera.threshold = threshold
    return cameras


def _descriptions():
    conn = yield Open()
    yield Send(conn, b"cgs")
    text, = yield Decode(conn, _sized("camera descriptions"))
    return wire.parse_cameras(wire.parse_json(text, "the host's camera descriptions"))


def names():
    cameras = yield from _descriptions()
    return [c.name for c in cameras]


def _thresholds():
    conn = yield Open()
    yield Send(conn, b"cgt")
    count = wire.u16((yield Read(conn, 2)), 0)
    data = yield Read(conn, 2 * count)
    return [int(v) for v in np.frombuffer(data, ">u2", count)]


def thresholds():
    known = yield from names()
    values = yield from _thresholds()
    return dict(zip(known, values))


def _mask_table():
    conn = yield Open()
    yield Send(conn, b"cgm")
    data, = yield Decode(conn, _sized("circular masks"))
    return wire.decode_mask_table(data)


def circular_masks():
    known = yield from names()
    table = yield from _mask_table()
    return {name: table[i] if i < len(table) else np.zeros((0, 3), np.float32) for i, name in enumerate(known)}


def set_circular_masks(masks, timeout):
    known = yield from names()
    wanted = {}
    for name, rows in masks.items():
        if name not in known:
            raise unknown_camera(name, known)
        try:
            array = np.asarray(rows, dtype=np.float32).reshape(-1, 3)
        except (TypeError, ValueError):
            raise Error("masks of camera '%s' are not rows of x, y, radius" % name) from None
        if not np.all(np.isfinite(array)):
            raise Error("masks of camera '%s' hold a value that is not finite" % name)
        wanted[known.index(name)] = array
    if not wanted:
        return
    # A table covers the cameras from the first on, so the cameras before the last one changed
    # are sent with the masks they have now.
    table = yield from _mask_table()
    rows = [wanted.get(i, table[i] if i < len(table) else np.zeros((0, 3), np.float32))
            for i in range(max(wanted) + 1)]
    packet = wire.encode_mask_table(rows)
    conn = yield Open()
    yield Send(conn, b"csm" + wire.pack_u32(len(packet)) + packet)
    # The host answers nothing: read the table back until it shows the change.
    deadline = time.monotonic() + timeout
    while True:
        now = yield from _mask_table()
        if all(i < len(now) and now[i].shape == a.shape and np.array_equal(now[i], a) for i, a in wanted.items()):
            return
        if time.monotonic() > deadline:
            raise Error("the host did not take the circular masks within %g s" % timeout)
        yield Call(_pause)


def _pause():
    time.sleep(0.01)


# ---- Command exchange


def exchange(conn, request):
    yield Send(conn, wire.command_request(request))
    reply, = yield Decode(conn, _sized("a command reply"))
    return reply


def _reply_error(reply_text, what):
    value = wire.parse_json(reply_text, "the reply to %s" % what) if reply_text else None
    if value == "ok":
        return None
    if isinstance(value, list) and len(value) > 1 and value[0] == "error":
        return str(value[1])
    return "unexpected reply %r" % reply_text.decode("utf-8", errors="replace")


def require_ok(conn, request, what):
    reply = yield from exchange(conn, request)
    problem = _reply_error(reply, what)
    if problem is not None:
        raise Error("%s failed: %s" % (what, problem))


def want_cameras(conn, wanted):
    """Chooses the connection's cameras by name; an unknown name raises Error listing them."""
    for name in wanted:
        wire.check_name(name)
    reply = yield from exchange(conn, wire.dump_json(["want_cameras", list(wanted)]))
    problem = _reply_error(reply, "want_cameras")
    if problem is None:
        return
    known = yield from names()
    for name in wanted:
        if name not in known:
            raise unknown_camera(name, known)
    raise Error("want_cameras failed: %s" % problem)


def command(requests):
    conn = yield Open()
    replies = []
    for request in requests:
        text = bytes(request) if isinstance(request, (bytes, bytearray)) else wire.dump_json(request)
        reply = yield from exchange(conn, text)
        replies.append(wire.parse_json(reply, "the reply to %s" % text.decode("utf-8", errors="replace")) if reply else None)
    return replies


def _settings_of(conn, camera):
    reply = yield from exchange(conn, b'["get_camera_settings"]')
    value = wire.parse_json(reply, "the reply to get_camera_settings")
    if not (isinstance(value, list) and len(value) > 1 and value[0] == "result"):
        raise Error("get_camera_settings failed: %s" % reply.decode("utf-8", errors="replace"))
    cameras = wire.parse_cameras(value[1])
    if len(cameras) != 1:
        raise Error("get_camera_settings answered %d cameras for '%s'" % (len(cameras), camera))
    return cameras[0].settings


def set_setting(camera, name, value):
    wire.check_name(name, "setting name")
    try:
        value = float(value)
    except (TypeError, ValueError):
        raise Error("the value of setting '%s' must be a number, not %r" % (name, value)) from None
    if not math.isfinite(value):
        raise Error("the value of setting '%s' must be finite, not %r" % (name, value))
    conn = yield Open()
    yield from want_cameras(conn, [camera])
    settings = yield from _settings_of(conn, camera)
    if name not in settings:
        raise Error("camera '%s' has no setting '%s' (settings: %s)" % (camera, name, ", ".join(settings) or "none"))
    yield from require_ok(conn, wire.dump_json(["change_setting", name, value]), "change_setting")
    # The host may keep the value within its range: report what it holds.
    settings = yield from _settings_of(conn, camera)
    return settings.get(name)


def _threshold_value(value):
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or not 0 <= value <= 255:
        raise Error("a threshold is a whole number from 0 to 255, not %r" % (value,))
    return int(value)


def set_threshold(camera, value, timeout):
    value = _threshold_value(value)
    conn = yield Open()
    yield from want_cameras(conn, [camera])
    yield from require_ok(conn, b'"enable_realtime_messages"', "enable_realtime_messages")
    # A tagged session without the start handshake takes the command at once, and the host's
    # confirmation can be told apart from the frames.
    decoder = wire.RealtimeDecoder(1, compact=True, tagged=True, handshake=False)
    yield Send(conn, wire.opening(compact=True, handshake=False) + wire.threshold_command(0, value))
    confirmation = ["camera", 0, ["setting_changed", "_threshold", value]]
    deadline = time.monotonic() + timeout
    while True:
        item = yield Decode(conn, decoder.decode, deadline)
        if item is None:
            raise Error("the host did not confirm threshold %d of camera '%s' within %g s" % (value, camera, timeout))
        kind, text = item
        if kind == "message" and wire.parse_json(text, "a host message") == confirmation:
            return


# ---- Sessions that stay open


def open_stream(cameras, compact, timecodes, messages):
    """(connection, camera names, decoder) of a realtime session past its timecode query."""
    if cameras is None:
        chosen = yield from names()
    else:
        chosen = [cameras] if isinstance(cameras, str) else list(cameras)
    conn = yield Open()
    if cameras is not None:
        yield from want_cameras(conn, chosen)
    if messages:
        yield from require_ok(conn, b'"enable_realtime_messages"', "enable_realtime_messages")
    decoder = wire.RealtimeDecoder(len(chosen), compact=compact, timecodes=timecodes, tagged=messages)
    yield Send(conn, wire.opening(compact))
    kind, _ = yield Decode(conn, decoder.decode)
    yield Send(conn, b"1" if timecodes else b"0")
    yield Keep(conn)
    return conn, tuple(chosen), decoder


def open_live(camera, images, messages):
    conn = yield Open()
    yield from want_cameras(conn, [camera])
    if messages:
        yield from require_ok(conn, b'"enable_livefeat_messages"', "enable_livefeat_messages")
    yield Send(conn, b"f" + wire.select_camera(0) + (wire.images_command(True) if images else b""))
    yield Keep(conn)
    return conn


# ---- Acquisition


def acquire(fields, start, centroids, images, progress):
    if isinstance(fields, bool) or not isinstance(fields, (int, np.integer)) or not 1 <= fields <= 16777216:
        raise Error("an acquisition records 1 to 16777216 fields, not %r" % (fields,))
    if isinstance(start, bool) or not isinstance(start, (int, np.integer)) or not 0 <= start <= 65535:
        raise Error("the start field id is a whole number from 0 to 65535, not %r" % (start,))
    fields, start = int(fields), int(start)
    request = wire.acquire_request(fields, start, centroids, images)
    known = yield from names()
    conn = yield Open()
    yield Send(conn, request)
    count = wire.u16((yield Read(conn, 2)), 0)
    if count == 0:
        raise Error("the host offers no acquisitions")
    if count != len(known):
        known = known[:count] + ["camera%d" % (i + 1) for i in range(len(known), count)]
    # One value per camera (nothing depends on it) and a closing byte the host discards.
    yield Send(conn, b"\0\0" * count + b"\0")
    ready = yield Read(conn, 1)
    if ready != b"R":
        raise Error("expected 'R' from the host, got %r" % ready)
    yield Send(conn, b"S")  # any byte but 'G' and 'a' starts the recording
    decoder = wire.AcquireDecoder(count, start, fields)
    stopped, result = False, []
    while True:
        kind, value = yield Decode(conn, decoder.decode)
        if kind == "progress":
            if progress is not None:
                keep_going = yield Call(progress, value[1] / 65535.0)
                if keep_going is False and not stopped:
                    yield Send(conn, b"s")
                    stopped = True
        elif kind == "field":
            result.append(_field(value, known))
        else:
            return Acquisition(cameras=known, fields=result)


def _field(value, known):
    number, timecode, images, centroids, flags = value
    field = Field(id=number, timecode=timecode)
    if images is not None:
        field.images = dict(zip(known, images))
    if centroids is not None:
        field.centroids = dict(zip(known, centroids))
        field.flags = dict(zip(known, flags))
    return field
