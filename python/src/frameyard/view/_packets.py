"""Binary messages to the page, little-endian and 4-byte aligned so the page reads them with
typed arrays. JSON would cost the view more than the frames themselves at 100 frames/s."""
import struct

import numpy as np

FRAME, LIVE = 1, 2
# type, 0, camera count, sequence number, wall-clock ms of arrival from the host
FRAME_HEAD = struct.Struct("<BBHId")
# centroid count, timecode bytes, frames/s as received, flags (1: timecode present)
CAMERA_HEAD = struct.Struct("<I4BfI")
# type, has image, 0, width, height, segment count, timecode bytes, flags (1: timecode), wall ms
LIVE_HEAD = struct.Struct("<BBHHHI4BId")


def _timecode(timecode):
    return (tuple(timecode), 1) if timecode is not None else ((0, 0, 0, 0), 0)


def frame_packet(sequence, wall_ms, frame, rates):
    parts = [FRAME_HEAD.pack(FRAME, 0, len(frame.cameras), sequence & 0xFFFFFFFF, wall_ms)]
    codes, has_code = _timecode(frame.timecode)
    for xy, rate in zip(frame.centroids, rates):
        parts.append(CAMERA_HEAD.pack(len(xy), *codes, rate, has_code))
        parts.append(np.ascontiguousarray(xy, dtype="<f4").tobytes())
    return b"".join(parts)


def live_packet(wall_ms, item):
    """The image (when the item has one) padded to 4 bytes, then the segments as u16 triples in
    wire order: first column, row, last column."""
    image = item.image
    height, width = image.shape if image is not None else (0, 0)
    codes, has_code = _timecode(item.timecode)
    parts = [LIVE_HEAD.pack(LIVE, image is not None, 0, width, height, len(item.segments), *codes, has_code, wall_ms)]
    if image is not None:
        pixels = np.ascontiguousarray(image, dtype=np.uint8).tobytes()
        parts.append(pixels + b"\0" * (-len(pixels) % 4))
    parts.append(np.ascontiguousarray(item.segments, dtype="<u2").tobytes())
    return b"".join(parts)
