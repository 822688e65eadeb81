"""The bytes of every frameyard protocol, without I/O.

Decoders take a buffer and a position and return (item, end) once the whole item is there, or
None while bytes are missing; they raise Error on bytes that cannot be what the host sends.
Arrays come out in native byte order, decoded with numpy from big-endian views, never a loop per
centroid or pixel.
"""
import json
import math
import re
import struct

import numpy as np

from ._errors import Error
from ._model import Camera, Region, Setting

# Far above anything a host sends (the largest frame of 64 cameras of 2000 centroids is 1.3 MB);
# a larger announcement means the stream is not what we think it is.
MAX_ITEM = 64 * 1024 * 1024
MAX_CENTROIDS = 2000

_U16 = struct.Struct(">H")
_U32 = struct.Struct(">I")
FULL_CENTROID = np.dtype([("xy", ">f4", (2,)), ("flags", ">u2")])
COMPACT_CENTROID = np.dtype((">u2", (2,)))
SEGMENT = np.dtype((">u2", (3,)))
ACQUIRED_CENTROID = np.dtype((">u2", (3,)))


def u16(buf, at):
    return (buf[at] << 8) | buf[at + 1]


def u32(buf, at):
    return _U32.unpack_from(buf, at)[0]


def pack_u16(value):
    return _U16.pack(value)


def pack_u32(value):
    return _U32.pack(value)


def from_fixed_point(values):
    """The compact form's 1/128-unit integers back to display units (float32, exact)."""
    return values.astype(np.float32) / np.float32(128.0)


# ---- JSON texts
#
# The host writes strings without escapes and numbers in %g style, so a non-finite number comes
# as inf or nan; requests go out with raw UTF-8 strings, which is what the host compares.

_NON_FINITE = re.compile(r"(?<=[\[,:])(-?)(inf|nan)(?=[\],}])")


def parse_json(text, what):
    if isinstance(text, (bytes, bytearray)):
        text = bytes(text).decode("utf-8", errors="replace")
    try:
        return json.loads(text, strict=False)
    except ValueError:
        pass
    repaired = _NON_FINITE.sub(lambda m: m.group(1) + ("Infinity" if m.group(2) == "inf" else "NaN"), text)
    try:
        return json.loads(repaired, strict=False)
    except ValueError:
        shown = text if len(text) <= 60 else text[:57] + "..."
        raise Error("%s is not JSON: %r" % (what, shown)) from None


def dump_json(value):
    """A request text; refuses what the host could not read back as sent."""
    try:
        return json.dumps(value, ensure_ascii=False, allow_nan=False, separators=(",", ":")).encode("utf-8")
    except (TypeError, ValueError) as error:
        raise Error("cannot send %r as JSON: %s" % (value, error)) from None


def check_name(name, what="camera name"):
    # Names travel unescaped: a quote or backslash could not arrive as written.
    if not isinstance(name, str) or '"' in name or "\\" in name:
        raise Error("invalid %s %r" % (what, name))
    return name


# ---- Camera descriptions


def _region(obj):
    if not isinstance(obj, dict):
        raise Error("camera description: image region is not an object")
    return Region(*(float(obj.get(key, 0.0)) for key in ("left_edge_x", "right_edge_x", "top_edge_y", "bottom_edge_y")))


def _setting(obj):
    if not isinstance(obj, dict) or not isinstance(obj.get("name"), str):
        raise Error("camera description: a number setting has no name")
    precision = float(obj.get("precision", 0))
    return obj["name"], Setting(
        value=float(obj.get("value", 0.0)),
        minimum=float(obj.get("minimum", -math.inf)),
        maximum=float(obj.get("maximum", math.inf)),
        precision=int(math.floor(precision + 0.5)) if abs(precision) < 1e6 else 0,
    )


def parse_cameras(value):
    """Camera objects (a JSON array of them) to Camera records without thresholds."""
    if not isinstance(value, list):
        raise Error("camera descriptions are not an array")
    cameras = []
    for index, obj in enumerate(value):
        if not isinstance(obj, dict) or not isinstance(obj.get("name"), str):
            raise Error("camera description %d has no name" % (index + 1))
        settings = obj.get("number_settings", [])
        if not isinstance(settings, list):
            raise Error("camera '%s': number_settings is not an array" % obj["name"])
        disabled = obj.get("disabled", 0)
        cameras.append(Camera(
            name=obj["name"],
            region=_region(obj["image_region"]) if "image_region" in obj else Region(),
            settings=dict(_setting(s) for s in settings),
            acquire_region=_region(obj["acquire_image_region"]) if "acquire_image_region" in obj else None,
            disabled=bool(disabled) if isinstance(disabled, (int, float, bool)) else False,
        ))
    return cameras


# ---- Command exchange


def command_request(text):
    return b"C" + pack_u32(len(text)) + text


def decode_sized(buf, at, what):
    """u32 length and that many bytes: (bytes, end) or None."""
    if len(buf) - at < 4:
        return None
    length = u32(buf, at)
    if length > MAX_ITEM:
        raise Error("the host announced %d bytes of %s" % (length, what))
    end = at + 4 + length
    if len(buf) < end:
        return None
    return bytes(buf[at + 4:end]), end


# ---- Configure requests


def encode_mask_table(table):
    """A circular-mask table: one float32 (K, 3) array (x, y, radius) per camera."""
    out = [pack_u16(len(table))]
    for masks in table:
        masks = np.asarray(masks, dtype=np.float32).reshape(-1, 3)
        if len(masks):
            out.append(b"c" + pack_u32(12 * len(masks) + 4) + pack_u32(len(masks)))
            out.append(masks.astype(">f4").tobytes())
        out.append(b"$")
    return b"".join(out)


def decode_mask_table(data):
    """The host's table back to float32 (K, 3) arrays; unknown records are skipped by length."""
    bad = Error("the host sent a circular-mask table that does not decode")
    if len(data) < 2:
        raise bad
    count, pos, table = u16(data, 0), 2, []
    for _ in range(count):
        chunks = []
        if pos >= len(data):
            raise bad
        tag, pos = data[pos], pos + 1
        while tag != 0x24:  # '$'
            length, start = 0, pos
            if len(data) - pos >= 4:
                length, pos = u32(data, pos), pos + 4
                start = pos
            used = 0
            if tag == 0x63:  # 'c'
                if len(data) - pos < 4:
                    raise bad
                k = u32(data, pos)
                if len(data) - pos - 4 < 12 * k:
                    raise bad
                chunks.append(np.frombuffer(data, ">f4", 3 * k, pos + 4).reshape(k, 3))
                used = 4 + 12 * k
            if length < used or start + length >= len(data):
                raise bad
            pos = start + length
            tag, pos = data[pos], pos + 1
        table.append(np.concatenate(chunks).astype(np.float32) if chunks else np.zeros((0, 3), np.float32))
    return table


# ---- Realtime stream


class RealtimeDecoder:
    """The server side of a realtime session: the timecode query, the start signal, then frames
    and JSON messages, untagged or tagged ('f'/'m' items)."""

    def __init__(self, camera_count, compact=False, timecodes=False, tagged=False, handshake=True):
        self.camera_count = camera_count
        self.compact = compact
        self.timecodes = timecodes and handshake
        self.tagged = tagged
        # What the server sends before frames: its 't' query, then 'r' on the first frame.
        self.awaiting = b"tr" if handshake else b""

    def decode(self, buf, at):
        """(kind, value, end): kind 'query', 'ready', 'frame' ((timecode, centroids, flags)) or
        'message' (text); None while the item is incomplete."""
        if at >= len(buf):
            return None
        if self.awaiting:
            expected = self.awaiting[0]
            if buf[at] != expected:
                raise Error("expected %r from the host, got %r" % (chr(expected), _shown(buf[at])))
            self.awaiting = self.awaiting[1:]
            return ("query" if expected == 0x74 else "ready"), None, at + 1
        tag = buf[at]
        if self.tagged:
            if tag not in (0x66, 0x6D):
                raise Error("unknown item %r in the realtime stream" % _shown(tag))
            sized = decode_sized(buf, at + 1, "a frame" if tag == 0x66 else "a message")
            if sized is None:
                return None
            body, end = sized
            if tag == 0x6D:
                return "message", body.decode("utf-8", errors="replace"), end
            return "frame", self.decode_body(body, None), end
        # Untagged, a frame starts with its timecode 't' or a camera's count (high byte at most
        # 7), so an 'm' can only be a monitor message the client asked for.
        if tag == 0x6D:
            sized = decode_sized(buf, at + 1, "a message")
            if sized is None:
                return None
            return "message", sized[0].decode("utf-8", errors="replace"), sized[1]
        end = self._untagged_end(buf, at)
        if end is None:
            return None
        return "frame", self.decode_body(bytes(buf[at:end]), self.camera_count), end

    def _untagged_end(self, buf, at):
        pos = at
        if self.timecodes:
            if buf[pos] != 0x74:
                raise Error("frame without its timecode: %r" % _shown(buf[pos]))
            pos += 5
        size = 4 if self.compact else 10
        n = len(buf)
        for _ in range(self.camera_count):
            if pos + 2 > n:
                return None
            count = (buf[pos] << 8) | buf[pos + 1]
            if count > MAX_CENTROIDS:
                raise Error("frame announces %d centroids for one camera" % count)
            pos += 2 + count * size
        return pos if pos <= n else None

    def decode_body(self, body, camera_count):
        """A frame body to (timecode, [float32 (K, 2)], [uint16 (K,)] or None)."""
        pos, timecode = 0, None
        if self.timecodes:
            if len(body) < 5 or body[0] != 0x74:
                raise Error("frame without its timecode record")
            timecode, pos = (body[1], body[2], body[3], body[4]), 5
        size = 4 if self.compact else 10
        counts, parts = [], []
        while (len(counts) < camera_count) if camera_count is not None else (pos < len(body)):
            if pos + 2 > len(body):
                raise Error("truncated frame: %d of its bytes present" % len(body))
            count = (body[pos] << 8) | body[pos + 1]
            if count > MAX_CENTROIDS:
                raise Error("frame announces %d centroids for one camera" % count)
            pos += 2
            counts.append(count)
            parts.append(body[pos:pos + count * size])
            pos += count * size
        if pos != len(body):
            raise Error("frame body of %d bytes holds %d" % (len(body), pos) if pos > len(body)
                        else "frame body has %d bytes too many" % (len(body) - pos))
        joined = b"".join(parts)
        total = len(joined) // size
        if self.compact:
            xy = from_fixed_point(np.frombuffer(joined, COMPACT_CENTROID, total))
            flags_all = None
        else:
            raw = np.frombuffer(joined, FULL_CENTROID, total)
            xy = raw["xy"].astype(np.float32)
            flags_all = raw["flags"].astype(np.uint16)
        centroids, flags, start = [], ([] if flags_all is not None else None), 0
        for count in counts:
            centroids.append(xy[start:start + count])
            if flags is not None:
                flags.append(flags_all[start:start + count])
            start += count
        return timecode, centroids, flags


def opening(compact, handshake=True):
    """'R' and the opening options; the final byte is accepted whatever it is."""
    return b"R" + (b"f" if compact else b"") + (b"t" if handshake else b"") + b"1"


def threshold_command(position, threshold):
    return b"t" + pack_u16(position) + pack_u16(threshold)


def message_command(value):
    text = dump_json(value)
    return b"m" + pack_u32(len(text)) + text


# ---- Live features

NO_SEGMENTS = np.zeros((0, 3), np.uint16)


def decode_livefeat(buf, at):
    """('frame', (timecode, image, segments), end) or ('message', text, end); None while
    incomplete."""
    n = len(buf)
    if n - at < 2:
        return None
    word = u16(buf, at)
    pos, timecode, image = at + 2, None, None
    if word == 0xFFFF:
        if pos >= n:
            return None
        length = buf[pos]
        if length == 0:
            raise Error("Invalid frame header.")
        if n - pos - 1 < length:
            return None
        header = bytes(buf[pos + 1:pos + 1 + length])
        pos += 1 + length
        h, width, height, is_message = 0, 0, 0, False
        if h < length and header[h] == 0x74:
            if length - h < 5:
                raise Error("Corrupt frame header.")
            timecode, h = (header[h + 1], header[h + 2], header[h + 3], header[h + 4]), h + 5
        has_image = h < length and header[h] == 0x69
        if has_image:
            if length - h < 5:
                raise Error("Corrupt frame header.")
            width, height, h = u16(header, h + 1), u16(header, h + 3), h + 5
        if h < length and header[h] == 0x6D:
            is_message, h = True, h + 1
        if h != length or (is_message and (timecode or has_image)):
            raise Error("Corrupt frame header.")
        if is_message:
            sized = decode_sized(buf, pos, "a message")
            if sized is None:
                return None
            return "message", sized[0].decode("utf-8", errors="replace"), sized[1]
        if has_image:
            if n - pos < width * height:
                return None
            image = np.frombuffer(bytes(buf[pos:pos + width * height]), np.uint8).reshape(height, width)
            pos += width * height
        if n - pos < 2:
            return None
        word = u16(buf, pos)
        if word == 0xFFFF:
            raise Error("a live-feature header followed by another header")
        pos += 2
    end = pos + 6 * word
    if n < end:
        return None
    segments = np.frombuffer(bytes(buf[pos:end]), SEGMENT, word).astype(np.uint16) if word else NO_SEGMENTS.copy()
    return "frame", (timecode, image, segments), end


def select_camera(position):
    return b"c" + pack_u16(position)


def images_command(on):
    return b"i" + (b"\x01" if on else b"\x00")


ACKNOWLEDGE = b"i\x02"


# ---- Acquisition


def acquire_request(fields, start, centroids, images, rate=0):
    """'a', the mode, the start field id, one all-wanted frame list per kind asked for, the rate."""
    if centroids and images:
        mode = b"1"
    elif centroids:
        mode = b"0"
    elif images:
        mode = b"2"
    else:
        raise Error("an acquisition needs centroids or images")
    runs, left = [], fields
    while left > 0:
        run = min(left, 0xFFFF)
        runs.append(pack_u16(0) + pack_u16(run))
        left -= run
    frame_list = b"".join(runs) + pack_u16(0xFFFF)
    return (b"a" + mode + pack_u16(start) + (frame_list if centroids else b"") + (frame_list if images else b"")
            + pack_u16(rate))


def progress_value(recorded, requested):
    """The progress value a host computes: recorded / requested x 65535 in single precision."""
    if requested == 0:
        return 0
    value = np.float32(recorded) / np.float32(requested) * np.float32(65535.0)
    return int(min(max(value, 0.0), 65535.0))


class AcquireDecoder:
    """What the host sends once recording has started: progress records, then field records
    and the end marker."""

    def __init__(self, camera_count, start, requested):
        self.camera_count = camera_count
        self.start = start
        self.requested = requested
        self.recorded = 0
        self.fields_read = 0
        self.in_data = False

    def _is_progress(self, buf, at):
        # A progress record and the first field record both start with u16 0 when the start
        # field id is 0; a progress record goes on with a growing count within the request and
        # exactly the progress value the host computes from it.
        if self.start != 0:
            return True
        count = u16(buf, at + 2)
        if count <= self.recorded or count > self.requested:
            return False
        return u16(buf, at + 4) == progress_value(count, self.requested)

    def decode(self, buf, at):
        """('progress', (field number, value), end), ('field', (number, timecode, images,
        centroids, flags), end) or ('end', None, end); None while incomplete."""
        n = len(buf)
        if n - at < 2:
            return None
        word = u16(buf, at)
        if not self.in_data:
            if word == 0:
                if n - at < 6:
                    return None
                if self._is_progress(buf, at):
                    number, value = u16(buf, at + 2), u16(buf, at + 4)
                    # Field numbers travel as 16 bits; the count only grows.
                    count = (number - self.start) & 0xFFFF
                    self.recorded += (count - self.recorded) & 0xFFFF
                    return "progress", (number, value), at + 6
            self.in_data = True
        if word == 0xFFFF and self.fields_read >= self.recorded:
            return "end", None, at + 2
        return self._field(buf, at, word)

    def _field(self, buf, at, number):
        n, pos, timecode = len(buf), at + 2, None
        if pos >= n:
            return None
        if buf[pos] == 0x74:
            if n - pos < 5:
                return None
            timecode, pos = (buf[pos + 1], buf[pos + 2], buf[pos + 3], buf[pos + 4]), pos + 5
        if n - pos < 2:
            return None
        flags = buf[pos:pos + 2]
        if any(f not in (0x30, 0x31) for f in flags):
            raise Error("malformed field record %d: flags %r" % (number, bytes(flags)))
        has_images, has_globs = flags[0] == 0x31, flags[1] == 0x31
        pos += 2
        images, centroids, flag_arrays = [], [], []
        for _ in range(self.camera_count if (has_images or has_globs) else 0):
            if has_images:
                if n - pos < 4:
                    return None
                width, height = u16(buf, pos), u16(buf, pos + 2)
                pos += 4
                if n - pos < width * height:
                    return None
                images.append(np.frombuffer(bytes(buf[pos:pos + width * height]), np.uint8).reshape(height, width))
                pos += width * height
            if has_globs:
                if n - pos < 6:
                    return None
                marker, length, count = u16(buf, pos), u16(buf, pos + 2), u16(buf, pos + 4)
                if marker != 0xFFFF or length != ((3 * count + 1) * 2) & 0xFFFF:
                    raise Error("malformed centroid block in field %d" % number)
                pos += 6
                if n - pos < 6 * count:
                    return None
                raw = np.frombuffer(bytes(buf[pos:pos + 6 * count]), ACQUIRED_CENTROID, count)
                centroids.append(from_fixed_point(raw[:, :2]))
                flag_arrays.append(raw[:, 2].astype(np.uint16))
                pos += 6 * count
        self.fields_read += 1
        return "field", (number, timecode, images if has_images else None,
                         centroids if has_globs else None, flag_arrays if has_globs else None), pos


def _shown(byte):
    return chr(byte) if 32 <= byte < 127 else "\\x%02x" % byte
