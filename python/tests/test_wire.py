"""The decoders on bytes written down by hand from the protocol description, and on the
transcripts of docs/protocol.md (the bytes the C++ codec is checked against)."""
import os
import struct
from pathlib import Path

import numpy as np
import pytest

import frameyard
from frameyard import _transcript, _wire as wire

TRANSCRIPTS = Path(os.environ.get("FRAMEYARD_TRANSCRIPTS") or Path(__file__).resolve().parents[2] / "docs" / "transcripts")


def decode_whole(decode, data):
    """Decodes one item, checking that every shorter prefix reads as incomplete."""
    for cut in range(len(data)):
        assert decode(bytearray(data[:cut]), 0) is None, cut
    item = decode(bytearray(data), 0)
    assert item[-1] == len(data)
    return item[:-1]


def test_realtime_items():
    tagged = wire.RealtimeDecoder(1, tagged=True, handshake=False)
    kind, (timecode, centroids, flags) = decode_whole(tagged.decode, b"f\0\0\0\x02\0\0")
    assert kind == "frame" and timecode is None and centroids[0].shape == (0, 2) and flags[0].shape == (0,)

    compact = wire.RealtimeDecoder(2, compact=True, timecodes=True)
    assert compact.decode(b"t", 0)[0] == "query" and compact.decode(b"r", 0)[0] == "ready"
    body = b"t\x01\x02\x03\x04" + b"\0\x01\x05\x00\x0a\x40" + b"\0\0"
    kind, (timecode, centroids, flags) = decode_whole(compact.decode, body)
    assert timecode == (1, 2, 3, 4) and centroids[0].tolist() == [[10.0, 20.5]] and flags is None

    full = wire.RealtimeDecoder(2, handshake=False)
    points = struct.pack(">ffH", 1.5, 511.25, 1) + struct.pack(">ffH", 0.0, 3.0, 1)
    _, (_, centroids, flags) = decode_whole(full.decode, b"\0\x02" + points + b"\0\x01" + points[:10])
    assert centroids[0].tolist() == [[1.5, 511.25], [0.0, 3.0]] and centroids[1].tolist() == [[1.5, 511.25]]
    assert centroids[0].dtype.isnative and flags[1].tolist() == [1]
    assert decode_whole(full.decode, b"m\0\0\0\x02[]") == ("message", "[]")

    with pytest.raises(frameyard.Error, match="2001 centroids"):
        full.decode(b"\x07\xd1", 0)
    with pytest.raises(frameyard.Error, match="unknown item 'x'"):
        tagged.decode(b"x", 0)
    with pytest.raises(frameyard.Error, match="expected 't' from the host, got 'H'"):
        wire.RealtimeDecoder(1).decode(b"HTTP", 0)


def test_live_feature_items():
    segments = struct.pack(">9H", *range(1, 10))
    kind, (timecode, image, segs) = decode_whole(wire.decode_livefeat, b"\xff\xff\x05t\x01\x02\x03\x04\0\x03" + segments)
    assert timecode == (1, 2, 3, 4) and image is None and segs.tolist() == [[1, 2, 3], [4, 5, 6], [7, 8, 9]]
    pixels = bytes(range(6))
    item = decode_whole(wire.decode_livefeat, b"\xff\xff\x05i\0\x03\0\x02" + pixels + b"\0\0")
    assert item[1][1].tolist() == [[0, 1, 2], [3, 4, 5]] and item[1][2].shape == (0, 3)
    assert decode_whole(wire.decode_livefeat, b"\xff\xff\x01m\0\0\0\x04\"ok\"") == ("message", '"ok"')
    for bad, message in ((b"\xff\xff\x00", "Invalid frame header"), (b"\xff\xff\x02t\0", "Corrupt frame header"),
                         (b"\xff\xff\x06m\0\0\0\0\0", "Corrupt frame header")):
        with pytest.raises(frameyard.Error, match=message):
            wire.decode_livefeat(bad, 0)


def test_acquisition_records():
    assert wire.progress_value(5, 10) == 0x7FFF and wire.progress_value(10, 10) == 65535
    request = wire.acquire_request(70000, 100, True, False)
    assert request == b"a0\x00\x64" + b"\0\0\xff\xff" + b"\0\0\x11\x71" + b"\xff\xff" + b"\0\0"

    # Start id 0: progress records and field 0 both begin with u16 0.
    decoder = wire.AcquireDecoder(1, 0, 2)
    stream = (b"\0\0\0\x01" + struct.pack(">H", wire.progress_value(1, 2)) + b"\0\0\0\x02\xff\xff"
              + b"\0\0t\x01\x02\x03\x04" + b"11" + b"\0\x01\0\x01\x07" + b"\xff\xff\0\x08\0\x01\x05\x00\x0a\x40\0\x01"
              + b"\0\x01" + b"00" + b"\xff\xff")
    items, pos = [], 0
    while pos < len(stream):
        *item, pos = decoder.decode(stream, pos)
        items.append(item)
    assert [k for k, _ in items] == ["progress", "progress", "field", "field", "end"]
    number, timecode, images, centroids, flags = items[2][1]
    assert (number, timecode) == (0, (1, 2, 3, 4)) and images[0].tolist() == [[7]]
    assert centroids[0].tolist() == [[10.0, 20.5]] and flags[0].tolist() == [1]
    assert items[3][1][2:] == (None, None, None)
    with pytest.raises(frameyard.Error, match="malformed centroid block"):
        wire.AcquireDecoder(1, 5, 1).decode(b"\0\x05" + b"01" + b"\xff\xff\0\x09\0\x01" + b"\0" * 6, 0)


def test_mask_tables():
    assert wire.encode_mask_table([[]]) == b"\0\x01$"
    table = [np.array([[1.5, 2, 3], [4, 5, 6]], np.float32), np.zeros((0, 3)), [[7, 8, 9]]]
    decoded = wire.decode_mask_table(wire.encode_mask_table(table))
    assert [t.tolist() for t in decoded] == [[[1.5, 2, 3], [4, 5, 6]], [], [[7, 8, 9]]]
    # An unknown record is skipped by its length.
    assert wire.decode_mask_table(b"\0\x01x\0\0\0\x05abcde$")[0].shape == (0, 3)
    with pytest.raises(frameyard.Error, match="does not decode"):
        wire.decode_mask_table(b"\0\x02$")


SAMPLE = """@ transcript 1
@ scenario sample
@ library full
@ kind realtime
@ cameras 1
@ expect frames=2 messages=1 replies=1
# enable messages, then a tagged stream
> 43 00 00 00 1a 22 65 6e 61 62 6c 65 5f 72 65 61 6c 74 69 6d 65 5f 6d 65 73 73 61 67 65 73 22
< 00 00 00 04 22 6f 6b 22   # "ok"
> 52 31
! frame
< 66 00 00 00 02 00 00
! threshold 0 40
< 6d 00 00 00 02 5b 5d
< 66 00 00 00 0c 00 01 41 20 00 00 41 a4 00 00 00 01
"""


def test_transcript_reader_and_decoder():
    transcript = _transcript.parse(SAMPLE, "sample.txt")
    assert transcript.meta["scenario"] == "sample" and transcript.expect == {"frames": 2, "messages": 1, "replies": 1}
    assert [side for side, _ in transcript.chunks] == [">", "<", ">", "!", "<", "!", "<"]
    assert _transcript.check(transcript)["frames"] == 2
    wrong = _transcript.parse(SAMPLE.replace("frames=2", "frames=3"), "wrong.txt")
    with pytest.raises(frameyard.Error, match="frames=3 expected, 2 decoded"):
        _transcript.check(wrong)
    cut = _transcript.parse(SAMPLE[:-10], "cut.txt")
    with pytest.raises(frameyard.Error, match="end inside a realtime item"):
        _transcript.check(cut)
    with pytest.raises(frameyard.Error, match="bad.txt:2: unknown line marker"):
        _transcript.parse("@ transcript 1\n? what", "bad.txt")


TRANSCRIPT_FILES = sorted(TRANSCRIPTS.glob("*.txt")) if TRANSCRIPTS.is_dir() else []


def test_docs_transcripts_are_there():
    assert len(TRANSCRIPT_FILES) >= 20, "no transcripts in %s (set FRAMEYARD_TRANSCRIPTS)" % TRANSCRIPTS


@pytest.mark.parametrize("path", TRANSCRIPT_FILES, ids=[p.stem for p in TRANSCRIPT_FILES])
def test_docs_transcripts_decode_with_their_expected_counts(path):
    transcript = _transcript.read(path)
    assert transcript.meta["scenario"] == path.stem
    _transcript.check(transcript)
