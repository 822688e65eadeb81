"""Transcript files (docs/transcripts/*.txt): recorded exchanges with a host, client and server
bytes in order. The package decodes the server's bytes with its own decoders, so the Python
codec is checked against the same bytes as the C++ one.

    python3 -m frameyard._transcript docs/transcripts/*.txt
"""
import sys
from dataclasses import dataclass, field
from typing import Dict, List, Tuple

from . import _wire as wire
from ._errors import Error

MARKERS = "@#><!"


@dataclass
class Transcript:
    path: str
    meta: Dict[str, str] = field(default_factory=dict)
    expect: Dict[str, int] = field(default_factory=dict)
    # ('>' or '<', bytes) chunks and ('!', event text) host events, in file order.
    chunks: List[Tuple[str, object]] = field(default_factory=list)

    def client_bytes(self):
        return b"".join(data for side, data in self.chunks if side == ">")

    def server_bytes(self):
        return b"".join(data for side, data in self.chunks if side == "<")

    def flag(self, key, default=False):
        return self.meta.get(key, "1" if default else "0") == "1"


def parse(text, path="<transcript>"):
    """Reads one transcript; raises Error naming the line of anything malformed."""
    result = Transcript(path)
    seen_data = False
    for number, line in enumerate(text.split("\n"), 1):
        if not line.strip():
            continue
        marker, rest = line[0], line[1:].strip()
        where = "%s:%d" % (path, number)
        if marker not in MARKERS:
            raise Error("%s: unknown line marker %r" % (where, marker))
        if marker == "#":
            continue
        if marker == "@":
            if seen_data:
                raise Error("%s: metadata after the first data line" % where)
            key, _, value = rest.partition(" ")
            if key == "expect":
                for pair in value.split():
                    name, _, count = pair.partition("=")
                    if not count.isdigit():
                        raise Error("%s: bad expectation %r" % (where, pair))
                    result.expect[name] = int(count)
            else:
                result.meta[key] = value.strip()
            continue
        seen_data = True
        if marker == "!":
            result.chunks.append(("!", rest))
            continue
        hex_part = rest.split("#", 1)[0]
        try:
            data = bytes(int(word, 16) for word in hex_part.split())
        except ValueError:
            raise Error("%s: bytes that are not two-digit hex" % where) from None
        if any(len(word) != 2 for word in hex_part.split()):
            raise Error("%s: bytes that are not two-digit hex" % where)
        if result.chunks and result.chunks[-1][0] == marker:
            result.chunks[-1] = (marker, result.chunks[-1][1] + data)
        else:
            result.chunks.append((marker, data))
    for key in ("transcript", "scenario", "library", "kind", "cameras"):
        if key not in result.meta:
            raise Error("%s: no '@ %s' line" % (path, key))
    if result.meta["transcript"] != "1":
        raise Error("%s: transcript format %s is not readable here" % (path, result.meta["transcript"]))
    return result


def read(path):
    try:
        with open(path, encoding="utf-8") as handle:
            return parse(handle.read(), str(path))
    except OSError as error:
        raise Error("cannot read %s: %s" % (path, error.strerror or error)) from None


# ---- Decoding the server's side


class _Client:
    """The client's bytes read in order, as far as a decoder needs them."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def byte(self):
        if self.pos >= len(self.data):
            return None
        self.pos += 1
        return self.data[self.pos - 1]

    def peek(self):
        return self.data[self.pos] if self.pos < len(self.data) else None

    def u16(self):
        if len(self.data) - self.pos < 2:
            raise Error("client bytes end inside a request")
        self.pos += 2
        return wire.u16(self.data, self.pos - 2)

    def skip(self, n):
        self.pos += n


class _Server:
    def __init__(self, data, path):
        self.data, self.pos, self.path = data, 0, path

    def item(self, decode, what):
        found = decode(self.data, self.pos)
        if found is None:
            raise Error("%s: the server's bytes end inside %s (offset %d)" % (self.path, what, self.pos))
        self.pos = found[-1]
        return found[:-1]

    def take(self, n, what):
        if len(self.data) - self.pos < n:
            raise Error("%s: the server's bytes end inside %s (offset %d)" % (self.path, what, self.pos))
        self.pos += n
        return self.data[self.pos - n:self.pos]

    def left(self):
        return len(self.data) - self.pos


def decode(transcript):
    """Counts of what the server's bytes hold: frames, messages, images, replies, progress,
    fields. Raises Error when the bytes do not decode, or bytes are left over."""
    client = _Client(transcript.client_bytes())
    server = _Server(transcript.server_bytes(), transcript.path)
    counts = {"frames": 0, "messages": 0, "images": 0, "replies": 0, "progress": 0, "fields": 0}
    # Command exchanges may come before the session, on the same connection.
    requests = []
    while client.peek() == 0x43:  # 'C'
        client.skip(1)
        if len(client.data) - client.pos < 4:
            raise Error("%s: a command request without its length" % transcript.path)
        length = wire.u32(client.data, client.pos)
        requests.append(client.data[client.pos + 4:client.pos + 4 + length].strip())
        client.skip(4 + length)
        if server.left() == 0:
            break  # a request the server could not read (a refused length): no reply
        reply, = server.item(lambda b, a: wire.decode_sized(b, a, "a command reply"), "a command reply")
        wire.parse_json(reply, "%s: a command reply" % transcript.path)
        counts["replies"] += 1
    session = client.byte()
    if session == 0x52:    # 'R'
        _realtime(transcript, client, server, counts, b'"enable_realtime_messages"' in requests)
    elif session == 0x66:  # 'f'
        _livefeat(server, counts)
    elif session == 0x61:  # 'a'
        _acquire(transcript, client, server, counts)
    elif session == 0x63:  # 'c'
        counts["replies"] += _configure(transcript, client, server)
    if server.left():
        raise Error("%s: %d server bytes left over at offset %d" % (transcript.path, server.left(), server.pos))
    return counts


def _realtime(transcript, client, server, counts, messages_enabled):
    # The opening: 'f' (compact), then 't' (the timecode query), then one final byte.
    option = client.byte()
    compact = option == 0x66
    if compact:
        option = client.byte()
    handshake = option == 0x74
    if handshake:
        client.byte()
    answer = client.byte() if handshake else None
    compact = transcript.flag("compact", compact)
    timecodes = transcript.flag("timecodes", answer == 0x31)
    tagged = transcript.flag("tagged", messages_enabled)
    decoder = wire.RealtimeDecoder(int(transcript.meta["cameras"]), compact=compact, timecodes=timecodes,
                                   tagged=tagged, handshake=handshake)
    while server.left():
        kind, _ = server.item(decoder.decode, "a realtime item")
        if kind == "frame":
            counts["frames"] += 1
        elif kind == "message":
            counts["messages"] += 1


def _livefeat(server, counts):
    while server.left():
        kind, value = server.item(wire.decode_livefeat, "a live-feature item")
        if kind == "message":
            counts["messages"] += 1
        else:
            counts["frames"] += 1
            counts["images"] += value[1] is not None


def _frame_list(client):
    total = 0
    while True:
        unwanted = client.u16()
        if unwanted == 0xFFFF:
            return total
        total += unwanted + client.u16()


def _acquire(transcript, client, server, counts):
    mode = client.byte()
    start = client.u16()
    globs_fields = _frame_list(client) if mode in (0x30, 0x31) else 0
    images_fields = _frame_list(client) if mode in (0x31, 0x32) else 0
    requested = max(globs_fields, images_fields)
    if server.left() == 0:
        return
    cameras = wire.u16(server.take(2, "the camera count"), 0)
    if cameras == 0 or server.left() == 0:
        return
    if server.take(1, "the ready signal") != b"R":
        raise Error("%s: no 'R' where the server signals ready" % transcript.path)
    # Each 'G' the client sent is answered by 'r' once the host has the next field.
    steps = client.data[client.pos:].count(b"G")
    while steps and server.left() and server.data[server.pos] == 0x72:
        server.take(1, "a step signal")
        steps -= 1
    decoder = wire.AcquireDecoder(cameras, start, requested)
    while server.left():
        kind, value = server.item(decoder.decode, "an acquisition record")
        if kind == "progress":
            counts["progress"] += 1
        elif kind == "field":
            counts["fields"] += 1
            counts["images"] += len(value[2] or [])
        else:
            break


def _configure(transcript, client, server):
    """Reads the answer to a configure request; returns how many answers there were (0 or 1)."""
    direction, letter = client.byte(), client.byte()
    if direction != 0x67 or letter is None:  # only get requests are answered
        return 0
    sized = lambda b, a: wire.decode_sized(b, a, "a configure answer")  # noqa: E731
    if letter == 0x61:    # 'a'
        server.take(4, "the aspect answer")
    elif letter == 0x63:  # 'c': the count, with or without the capability word
        server.take(4 if server.left() >= 4 else 2, "the camera count")
    elif letter == 0x6D:  # 'm'
        data, = server.item(sized, "the mask table")
        wire.decode_mask_table(data)
    elif letter == 0x73:  # 's'
        text, = server.item(sized, "the camera descriptions")
        wire.parse_cameras(wire.parse_json(text, "%s: camera descriptions" % transcript.path))
    elif letter == 0x74:  # 't'
        count = wire.u16(server.take(2, "the threshold count"), 0)
        server.take(2 * count, "the thresholds")
    else:
        server.take(4, "the unknown-letter answer")
    return 1


def check(transcript):
    """Decodes a transcript and compares with its '@ expect' counts; returns the counts."""
    counts = decode(transcript)
    for key, wanted in transcript.expect.items():
        if key not in counts:
            raise Error("%s: expectation %r is not one this decoder counts" % (transcript.path, key))
        if counts[key] != wanted:
            raise Error("%s: %s=%d expected, %d decoded" % (transcript.path, key, wanted, counts[key]))
    return counts


def main(paths):
    failed = 0
    for path in paths:
        try:
            counts = check(read(path))
            print("%s: ok %s" % (path, " ".join("%s=%d" % kv for kv in counts.items() if kv[1])))
        except Error as error:
            failed += 1
            print(error)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
