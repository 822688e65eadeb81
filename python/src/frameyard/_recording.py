"""Recording files as `frameyard-client record` writes them (docs/recording-format.md)."""
import struct

import numpy as np

from ._errors import Error
from ._model import Camera, Region, Setting

MAGIC = b"FYREC\r\n\x1a"
MAJOR = 1
_PREAMBLE = struct.Struct(">8sHHI")
_FRAME_HEAD = struct.Struct(">QB4sH")
_RATE = struct.Struct(">QBf")
# Far above a real header or record; a larger length is damage.
_MAX_HEADER = 16 << 20
_MAX_RECORD = 64 << 20

CENTROID_ROW = np.dtype([("frame", np.int64), ("time", np.float64), ("camera", np.int32),
                         ("x", np.float32), ("y", np.float32)])


class _Damage(Exception):
    def __init__(self, offset, what):
        super().__init__(what)
        self.offset = offset


class _Cursor:
    def __init__(self, data, pos, end, what):
        self.data, self.pos, self.end, self.what = data, pos, end, what

    def take(self, n):
        if self.end - self.pos < n:
            raise _Damage(self.pos, "%s ends inside its fields" % self.what)
        start = self.pos
        self.pos += n
        return start

    def unpack(self, fmt):
        return struct.unpack_from(fmt, self.data, self.take(struct.calcsize(fmt)))

    def text(self):
        n, = self.unpack(">H")
        start = self.take(n)
        return self.data[start:start + n].decode("utf-8", errors="replace")


class Recording:
    """A recording read whole: the cameras as described, then per frame its receive time,
    timecode and centroids (image pixels, as the file stores them)."""

    def __init__(self, path, start, compact, timecodes, cameras, times, timecodes_array, counts, xy,
                 rates, notes, error):
        self.path = path
        self.start = start              # wall clock of the start, seconds since 1970 (UTC)
        self.compact = compact          # positions came in the compact (1/128 unit) form
        self.has_timecodes = timecodes
        self.cameras = cameras          # list of Camera, width and height set
        self.times = times              # float64 (F,): receive time, seconds since the start
        self.timecodes = timecodes_array  # int16 (F, 4): -1 where a frame has none
        self.counts = counts            # int32 (F, C): centroids per frame and camera
        self._xy = xy                   # float32 (N, 2)
        self.rates = rates              # list of (time, "frame" | "timecode", rate)
        self.notes = notes              # list of (time, text)
        self.error = error              # the damage, with partial=True; else None

    def __len__(self):
        return len(self.times)

    def __repr__(self):
        return "Recording(%r, %d frames, cameras %s)" % (self.path, len(self), [c.name for c in self.cameras])

    def centroids(self):
        """One row per centroid: frame (from 0), time (float64 seconds since the start),
        camera (index into .cameras), x, y (float32 image pixels)."""
        rows = np.empty(len(self._xy), CENTROID_ROW)
        per_row = self.counts.reshape(-1)
        frames = np.repeat(np.arange(len(self), dtype=np.int64), self.counts.sum(axis=1))
        rows["frame"] = frames
        rows["time"] = self.times[frames]
        rows["camera"] = np.repeat(np.tile(np.arange(len(self.cameras), dtype=np.int32), len(self)), per_row)
        rows["x"] = self._xy[:, 0]
        rows["y"] = self._xy[:, 1]
        return rows

    def frame(self, index):
        """The centroids of one frame: a float32 (K, 2) array per camera."""
        if not -len(self) <= index < len(self):
            raise Error("%s has no frame %d (%d frames)" % (self.path, index, len(self)))
        index %= len(self)
        offsets = np.concatenate(([0], np.cumsum(self.counts.reshape(-1))))
        base = index * len(self.cameras)
        return [self._xy[offsets[base + c]:offsets[base + c + 1]] for c in range(len(self.cameras))]


def read_recording(path, partial=False):
    """Reads a recording file. A damaged file raises Error naming the offset of the damage;
    with partial=True the records before it are returned and the damage is in .error."""
    try:
        with open(path, "rb") as handle:
            data = handle.read()
    except OSError as error:
        raise Error("cannot open %s: %s" % (path, error.strerror or error)) from None
    try:
        header_end, start, compact, timecodes, cameras = _header(data)
    except _Damage as damage:
        raise Error("%s: offset %d: %s" % (path, damage.offset, damage)) from None
    body = _Body(len(cameras))
    error = None
    try:
        body.read(data, header_end)
    except _Damage as damage:
        error = "%s: offset %d: %s" % (path, damage.offset, damage)
        if not partial:
            raise Error(error) from None
    return body.result(path, start, compact, timecodes, cameras, error)


def _header(data):
    if not data:
        raise _Damage(0, "empty file, no recording header")
    if data[:8] != MAGIC:
        raise _Damage(0, "not a frameyard recording (bad magic)")
    if len(data) < _PREAMBLE.size:
        raise _Damage(len(data), "file ends inside the recording header")
    _, major, minor, length = _PREAMBLE.unpack_from(data)
    if major != MAJOR:
        raise _Damage(8, "recording format version %d.%d is not readable here (this reader reads version %d.x)"
                      % (major, minor, MAJOR))
    if length > _MAX_HEADER:
        raise _Damage(12, "header of %d bytes announced" % length)
    end = _PREAMBLE.size + length
    if len(data) < end:
        raise _Damage(len(data), "file ends inside the recording header (%d bytes announced, %d present)"
                      % (length, len(data) - _PREAMBLE.size))
    cur = _Cursor(data, _PREAMBLE.size, end, "header")
    start_us, flags, count = cur.unpack(">QBH")
    cameras = []
    for _ in range(count):
        name = cur.text()
        width, height, given = cur.unpack(">HHB")
        region = Region(*(float(v) for v in cur.unpack(">4f")))
        threshold, n_settings = cur.unpack(">HH")
        settings = {}
        for _ in range(n_settings):
            setting_name = cur.text()
            value, minimum, maximum, precision = cur.unpack(">fffi")
            settings[setting_name] = Setting(float(value), float(minimum), float(maximum), int(precision))
        cameras.append(Camera(name=name, region=region, settings=settings, threshold=threshold,
                              width=width, height=height, size_given=bool(given)))
    # A newer minor version appends fields to the header: they are skipped.
    return end, start_us / 1e6, bool(flags & 1), bool(flags & 2), cameras


class _Body:
    """The records; a Python step per record and camera, the positions gathered as bytes and
    decoded by numpy in one go."""

    def __init__(self, camera_count):
        self.camera_count = camera_count
        self.micros, self.timecodes, self.counts, self.parts = [], [], [], []
        self.rates, self.notes = [], []

    def read(self, data, pos):
        size = len(data)
        while pos < size:
            if size - pos < 5:
                raise _Damage(pos, "record cut short (%d of its 5 header bytes present)" % (size - pos))
            kind, length = data[pos], struct.unpack_from(">I", data, pos + 1)[0]
            if length > _MAX_RECORD:
                raise _Damage(pos, "record of %d bytes announced" % length)
            if size - pos - 5 < length:
                raise _Damage(pos, "record cut short (type '%s', %d bytes announced, %d present)"
                              % (chr(kind), length, size - pos - 5))
            start, end = pos + 5, pos + 5 + length
            if kind == 0x46:    # 'F'
                self._frame(data, start, end)
            elif kind == 0x52:  # 'R'
                micros, which, rate = _Cursor(data, start, end, "record of type 'R'").unpack(">QBf")
                self.rates.append((micros / 1e6, "timecode" if which == 1 else "frame", float(rate)))
            elif kind == 0x4E:  # 'N'
                micros, = _Cursor(data, start, end, "record of type 'N'").unpack(">Q")
                self.notes.append((micros / 1e6, data[start + 8:end].decode("utf-8", errors="replace")))
            # Records of unknown types come from a newer minor version: skipped by their length.
            pos = end

    def _frame(self, data, start, end):
        cur = _Cursor(data, start, end, "record of type 'F'")
        micros, flags, timecode, cameras = cur.unpack(">QB4sH")
        if cameras != self.camera_count:
            raise _Damage(cur.pos - 2, "frame of %d cameras in a recording of %d" % (cameras, self.camera_count))
        counts, parts = [], []
        for _ in range(cameras):
            n, = cur.unpack(">H")
            at = cur.take(8 * n)
            parts.append(data[at:at + 8 * n])
            counts.append(n)
        # Only a whole frame counts: a damaged one leaves nothing behind.
        self.parts.extend(parts)
        self.micros.append(micros)
        self.timecodes.append(tuple(timecode) if flags & 1 else (-1, -1, -1, -1))
        self.counts.append(counts)

    def result(self, path, start, compact, timecodes, cameras, error):
        joined = b"".join(self.parts)
        xy = np.frombuffer(joined, ">f4").astype(np.float32).reshape(-1, 2)
        return Recording(
            path=path, start=start, compact=compact, timecodes=timecodes, cameras=cameras,
            times=np.array(self.micros, dtype=np.uint64).astype(np.float64) / 1e6,
            timecodes_array=np.array(self.timecodes, dtype=np.int16).reshape(-1, 4),
            counts=np.array(self.counts, dtype=np.int32).reshape(len(self.micros), len(cameras)),
            xy=xy, rates=self.rates, notes=self.notes, error=error)
