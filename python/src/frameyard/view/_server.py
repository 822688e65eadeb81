"""The page, its script and style, and one WebSocket per open page."""
import asyncio
import json
import time
from pathlib import Path
from urllib.parse import urlsplit

from aiohttp import WSMsgType, web

from .. import Error
from .. import aio
from . import _packets as packets
from ._hub import Hub

STATIC = Path(__file__).resolve().parent / "static"
FILES = {"/": ("index.html", "text/html"), "/view.js": ("view.js", "application/javascript"),
         "/view.css": ("view.css", "text/css")}
MAX_FRAME_RATE = 60.0
# Frames a page may have unconfirmed. Socket buffers alone would hold seconds of frames for a
# page that stalls; counting confirmations keeps what waits for it to this many.
FRAMES_IN_FLIGHT = 2
SEEN = '{"op":"seen"}'
LIVE_SEGMENT_INTERVAL = 1.0 / 30.0
LIVE_WAIT = 1.0
MAX_PENDING_MESSAGES = 100


class Page:
    """One open page. Frames go latest-wins: the sender wakes on a new frame, waits out the
    page's 1/60 s slot and until the page has confirmed all but FRAMES_IN_FLIGHT - 1 of the
    frames sent, then takes whatever frame is newest by then, so a slow page skips frames
    instead of queueing them."""

    def __init__(self, hub, ws):
        self.hub, self.ws = hub, ws
        self._woken = asyncio.Event()
        self._acknowledged = asyncio.Event()
        self._in_flight = 0
        self._room = asyncio.Event()
        self._live = None
        self._tasks = set()
        self._cut_off = False

    def wake(self):
        self._woken.set()

    def post(self, message):
        """A JSON message outside the frame flow (status, configuration, notes, replies): rare
        and small, each sent in order by its own task. A page that lets them pile up is cut
        off; it reconnects and starts again from the current state."""
        if self._cut_off:
            return
        if len(self._tasks) >= MAX_PENDING_MESSAGES:
            self._cut_off = True
            self._spawn(self.ws.close())
            return
        self._spawn(self._send_json(message))

    def _spawn(self, coroutine):
        task = asyncio.ensure_future(coroutine)
        self._tasks.add(task)
        task.add_done_callback(self._tasks.discard)

    async def _send_json(self, message):
        if not self.ws.closed:
            try:
                await self.ws.send_str(json.dumps(message))
            except ConnectionError:
                pass

    async def send_frames(self):
        try:
            await self._send_frames()
        except ConnectionError:
            pass  # the page went away; its socket handler cleans up

    async def _send_frames(self):
        sent, sent_at = -1, 0.0
        while not self.ws.closed:
            await self._woken.wait()
            self._woken.clear()
            slot = sent_at + 1.0 / MAX_FRAME_RATE - time.monotonic()
            if slot > 0:
                await asyncio.sleep(slot)
            while self._in_flight >= FRAMES_IN_FLIGHT:
                self._room.clear()
                await self._room.wait()
            packet, sequence = self.hub.latest()
            if packet is None or sequence == sent:
                continue
            sent_at = time.monotonic()
            self._in_flight += 1
            await self.ws.send_bytes(packet)
            sent = sequence

    # ---- the live image of one camera

    def open_live(self, camera):
        self.close_live()
        self._acknowledged.clear()
        self._live = asyncio.ensure_future(self._follow_live(camera))

    def close_live(self):
        if self._live is not None:
            self._live.cancel()
            self._live = None

    def acknowledge(self):
        self._acknowledged.set()

    def frame_seen(self):
        self._in_flight = max(0, self._in_flight - 1)
        self._room.set()

    async def _follow_live(self, camera):
        """The package acknowledges an image when next() hands it over; asking for the next item
        only after the page has drawn the last image passes the page's pace on to the host."""
        try:
            self.hub.camera(camera)
            async with self.hub.host.live(camera, images=True) as live:
                segments_sent = 0.0
                while not self.ws.closed:
                    item = await live.next(timeout=LIVE_WAIT)
                    if item is None:
                        continue
                    now = time.monotonic()
                    if item.image is None and now - segments_sent < LIVE_SEGMENT_INTERVAL:
                        continue
                    segments_sent = now
                    wall_ms = (time.time() - (now - item.received)) * 1000.0
                    await self.ws.send_bytes(packets.live_packet(wall_ms, item))
                    if item.image is not None:
                        await self._acknowledged.wait()
                        self._acknowledged.clear()
        except (Error, OSError) as error:
            self.post({"type": "live_error", "camera": camera, "text": str(error)})

    async def handle(self, request):
        op = request.get("op") if isinstance(request, dict) else None
        if op == "seen":
            self.frame_seen()
        elif op == "ack":
            self.acknowledge()
        elif op == "live":
            self.open_live(request.get("camera"))
        elif op == "close_live":
            self.close_live()
        elif op in ("threshold", "setting"):
            self.post(await self.hub.change(request))
        else:
            self.post({"type": "refused", "text": "unknown request %r" % (op,)})

    def close(self):
        self.close_live()
        for task in list(self._tasks):
            task.cancel()


def same_origin(request):
    """A page elsewhere on the web may open a WebSocket to this view through its visitor's
    browser; only pages the view served itself get one."""
    origin = request.headers.get("Origin")
    return origin is None or urlsplit(origin).netloc == request.host


async def page_socket(request):
    hub = request.app["hub"]
    if not same_origin(request):
        raise web.HTTPForbidden(text="frameyard-view: WebSocket from another origin refused")
    ws = web.WebSocketResponse(heartbeat=10.0, max_msg_size=1 << 16)
    await ws.prepare(request)
    page = Page(hub, ws)
    hub.pages.add(page)
    sender = asyncio.ensure_future(page.send_frames())
    for message in [hub.status, hub.config(), *hub.notes]:
        page.post(message)
    try:
        async for message in ws:
            if message.type != WSMsgType.TEXT:
                continue
            if message.data == SEEN:  # sixty a second per page: spare them the JSON parser
                page.frame_seen()
                continue
            try:
                request_value = json.loads(message.data)
            except ValueError:
                page.post({"type": "refused", "text": "not JSON"})
                continue
            await page.handle(request_value)
    finally:
        hub.pages.discard(page)
        sender.cancel()
        page.close()
    return ws


async def static_file(request):
    name, kind = FILES[request.path]
    return web.Response(body=(STATIC / name).read_bytes(), content_type=kind,
                        headers={"Cache-Control": "no-cache"})


async def start(args):
    """Starts the view; returns (runner, (address, port)) once it listens."""
    hub = Hub(aio.Host(args.host, args.port, timeout=3.0), args.control)
    app = web.Application()
    app["hub"] = hub
    for path in FILES:
        app.router.add_get(path, static_file)
    app.router.add_get("/ws", page_socket)

    async def follow_host(app):
        task = asyncio.ensure_future(hub.run())
        yield
        task.cancel()

    app.cleanup_ctx.append(follow_host)
    runner = web.AppRunner(app, access_log=None)
    await runner.setup()
    site = web.TCPSite(runner, args.bind, args.http_port)
    await site.start()
    address = runner.addresses[0]
    return runner, (address[0], address[1])
