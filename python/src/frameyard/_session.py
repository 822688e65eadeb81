"""What a realtime or live-feature session does with each item the host sends, apart from I/O:
shared by the blocking and the asyncio streams."""
from . import _flows as flows
from . import _wire as wire
from ._errors import Error, unknown_camera
from ._model import Frame, LiveFrame


class RealtimeCore:
    def __init__(self, cameras, decoder):
        self.cameras = cameras
        self.decoder = decoder
        self.messages = []
        self.closed = False

    @property
    def started(self):
        """True once the start handshake is over and commands reach the session."""
        return not self.decoder.awaiting

    def on_item(self, kind, value, received):
        """(frame or None, bytes to send or None)."""
        if kind == "frame":
            timecode, centroids, flags = value
            if len(centroids) != len(self.cameras):
                raise Error("a frame of %d cameras in a stream of %d" % (len(centroids), len(self.cameras)))
            return Frame(self.cameras, timecode, centroids, flags, received), None
        if kind == "message":
            self.messages.append(wire.parse_json(value, "a host message"))
            return None, None
        if kind == "ready":
            return None, b"g"
        raise Error("unexpected %s from the host" % kind)

    def threshold_command(self, camera, value):
        try:
            position = self.cameras.index(camera)
        except ValueError:
            raise unknown_camera(camera, self.cameras) from None
        return wire.threshold_command(position, flows._threshold_value(value))


class LiveCore:
    def __init__(self, camera, images):
        self.camera = camera
        self.images = images
        self.messages = []
        self.closed = False

    def on_item(self, kind, value, received):
        """(live frame or None, bytes to send or None); an image is acknowledged as it is
        handed over, so a caller that stops asking holds the host's images back."""
        if kind == "message":
            self.messages.append(wire.parse_json(value, "a host message"))
            return None, None
        timecode, image, segments = value
        return LiveFrame(self.camera, timecode, segments, image, received), (wire.ACKNOWLEDGE if image is not None else None)

    def set_images(self, on):
        self.images = bool(on)
        return wire.images_command(self.images)
