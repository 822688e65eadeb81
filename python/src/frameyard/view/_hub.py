"""The view's one connection to the host: the latest frame, the cameras' configuration, the
host's notifications and whether the host is reachable, shared by every open page."""
import asyncio
import json
import math
import time
from collections import deque

from .. import Error
from . import _packets as packets

RETRY_SECONDS = 1.0
NOTES_KEPT = 30


def _bound(value):
    return value if math.isfinite(value) else None


def camera_json(camera):
    region = camera.region
    return {
        "name": camera.name,
        "region": {"left": region.left, "right": region.right, "top": region.top, "bottom": region.bottom},
        "threshold": camera.threshold,
        "disabled": camera.disabled,
        "settings": [{"name": name, "value": s.value, "minimum": _bound(s.minimum), "maximum": _bound(s.maximum),
                      "precision": s.precision} for name, s in camera.settings.items()],
    }


class RateMeter:
    """Frames per second as received, over windows of about half a second."""

    def __init__(self):
        self.rate, self._count, self._since = 0.0, 0, time.monotonic()

    def tick(self, now):
        self._count += 1
        elapsed = now - self._since
        if elapsed >= 0.5:
            self.rate, self._count, self._since = self._count / elapsed, 0, now


class Hub:
    def __init__(self, host, control):
        self.host = host
        self.control = control
        self.cameras = []
        self.pages = set()
        self.notes = deque(maxlen=NOTES_KEPT)
        self.status = {"type": "status", "connected": False, "text": "connecting to %s:%d" % (host.address, host.port)}
        self._frame = None
        self._wall_ms = 0.0
        self._sequence = 0
        self._packet = (None, -1)
        self._rates = RateMeter()
        self._refresh = None

    # ---- what pages read

    def config(self):
        return {"type": "config", "control": self.control, "host": "%s:%d" % (self.host.address, self.host.port),
                "cameras": [camera_json(c) for c in self.cameras]}

    def latest(self):
        """(packet, sequence) of the newest frame; built once however many pages ask."""
        if self._frame is None:
            return None, -1
        if self._packet[1] != self._sequence:
            rates = [self._rates.rate] * len(self._frame.cameras)
            self._packet = (packets.frame_packet(self._sequence, self._wall_ms, self._frame, rates), self._sequence)
        return self._packet

    # ---- the host

    async def run(self):
        while True:
            try:
                await self._follow()
            except (Error, OSError) as error:
                self._set_status(False, "host %s:%d unreachable: %s" % (self.host.address, self.host.port, error))
            await asyncio.sleep(RETRY_SECONDS)

    async def _follow(self):
        self._set_config(await self.host.cameras())
        async with self.host.stream(messages=True) as stream:
            self._set_status(True, "")
            async for frame in stream:
                self._on_frame(frame)
                if stream.messages:
                    self._on_notes(list(stream.messages))
                    del stream.messages[:]
        raise Error("the stream ended")

    def _on_frame(self, frame):
        now = time.monotonic()
        # The page compares against its own clock: carry wall time, shifted by how long ago it came.
        self._wall_ms = (time.time() - (now - frame.received)) * 1000.0
        self._rates.tick(frame.received)
        self._frame = frame
        self._sequence += 1
        for page in self.pages:
            page.wake()

    def _on_notes(self, notes):
        for note in notes:
            entry = {"type": "note", "time": time.time() * 1000.0, "text": json.dumps(note)}
            self.notes.append(entry)
            self.broadcast(entry)
        self.refresh_config()

    def _set_status(self, connected, text):
        status = {"type": "status", "connected": connected, "text": text}
        if status != self.status:
            self.status = status
            self.broadcast(status)

    def _set_config(self, cameras):
        self.cameras = cameras
        self.broadcast(self.config())

    def refresh_config(self):
        """Reads the configuration again after a change; changes in a burst share one read."""
        if self._refresh is None or self._refresh.done():
            self._refresh = asyncio.ensure_future(self._reload())

    async def _reload(self):
        try:
            self._set_config(await self.host.cameras())
        except (Error, OSError):
            pass  # the stream notices the host going away and says so

    def broadcast(self, message):
        for page in self.pages:
            page.post(message)

    # ---- changes asked for by a page

    def camera(self, name):
        for camera in self.cameras:
            if camera.name == name:
                return camera
        raise Error("unknown camera %r" % (name,))

    async def change(self, request):
        """Applies a page's change; returns the reply to that page."""
        if not self.control:
            return {"type": "refused", "text": "read-only view: start frameyard-view with --control to change the host"}
        what = request.get("op")
        name = request.get("camera")
        value = request.get("value")
        try:
            camera = self.camera(name)
            if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
                raise Error("not a number: %r" % (value,))
            if what == "threshold":
                if value != int(value) or not 0 <= value <= 255:
                    raise Error("a threshold is a whole number from 0 to 255, not %r" % (value,))
                await self.host.set_threshold(camera.name, int(value))
                text = "%s: threshold %d" % (camera.name, int(value))
            else:
                setting = request.get("setting")
                if setting not in camera.settings:
                    raise Error("%s has no setting %r" % (camera.name, setting))
                held = await self.host.set_setting(camera.name, setting, float(value))
                text = "%s: %s %g" % (camera.name, setting, held.value)
        except (Error, OSError) as error:
            return {"type": "refused", "text": str(error)}
        self.refresh_config()
        return {"type": "changed", "text": text}
