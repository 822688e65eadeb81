"""frameyard-view against frameyard-simhost: what a page shows in a real headless browser, what
the server lets a page change, and how it feeds a page that does not keep up."""
import asyncio
import io
import json
import os
import struct
import subprocess
import sys
import time
from pathlib import Path

import pytest

from conftest import PREREQUISITES_REQUIRED, SimHost, prerequisite

try:
    import aiohttp
except ImportError:
    aiohttp = None

from browser import CHROMIUM, Chromium, Page, View

# Skipped without them, except where prerequisites are required: there the tests run and fail.
needs_aiohttp = pytest.mark.skipif(aiohttp is None and not PREREQUISITES_REQUIRED,
                                   reason="aiohttp is not installed (Debian: python3-aiohttp)")
needs_browser = pytest.mark.skipif((aiohttp is None or not os.access(CHROMIUM, os.X_OK)) and not PREREQUISITES_REQUIRED,
                                   reason="the browser tests need aiohttp and %s (Debian: python3-aiohttp, chromium)"
                                   % CHROMIUM)
FRAME_HEAD = struct.Struct("<BBHId")
SEEN = '{"op":"seen"}'  # what a page says for each frame it has drawn

PANELS = "[...document.querySelectorAll('[data-camera]')].map(p => p.dataset.camera)"
READINGS = """[...document.querySelectorAll('[data-camera]')].map(p => [
    Number(p.querySelector('.count').textContent), Number(p.querySelector('.fps').textContent)])"""
CANVAS_RECTS = """[...document.querySelectorAll('[data-camera] canvas, #live-canvas')].map(c => {
    const r = c.getBoundingClientRect(); return [r.left, r.top, r.right, r.bottom]; })"""
BANNER_SHOWN = "!document.getElementById('banner').hidden"


@pytest.fixture(scope="module")
def chromium():
    prerequisite(aiohttp is not None and os.access(CHROMIUM, os.X_OK),
                 "the browser tests need aiohttp and %s" % CHROMIUM)
    browser = Chromium()
    yield browser
    browser.stop()


@pytest.fixture
def view_of(request):
    views = []

    def start(port, *options):
        views.append(View(port, *options))
        return views[-1]

    yield start
    for view in views:
        view.stop()


def in_browser(chromium, url, steps):
    async def run():
        async with aiohttp.ClientSession() as session:
            page = await Page.open(session, chromium, url)
            try:
                return await steps(page)
            finally:
                await page.close()
    return asyncio.run(run())


def distinct_colours(png, box):
    from PIL import Image
    image = Image.open(io.BytesIO(png)).convert("RGB")
    return len(set(image.crop(tuple(int(v) for v in box)).getdata()))


def test_importing_the_package_leaves_aiohttp_out():
    code = "import sys, frameyard; print('aiohttp' in sys.modules)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env=dict(os.environ, PYTHONPATH=str(Path(__file__).resolve().parents[1] / "src")))
    assert out.stdout.strip() == "False"


@needs_browser
def test_page_shows_every_camera_live_and_its_image(simhost, host, chromium, view_of):
    view = view_of(simhost.port)

    async def steps(page):
        cameras = await page.wait_for("%s.length === 3 && %s" % (PANELS, PANELS))
        readings = await page.wait_for("(r => r.every(([n, fps]) => n > 0 && fps > 0) && r)(%s)" % READINGS)
        assert cameras == [c.name for c in host.cameras()]
        assert all(count == 12 for count, _ in readings), readings
        assert await page.evaluate("document.querySelector('[data-camera] .timecode').textContent.length") == 11
        # read-only: the fields are there with their ranges but cannot be changed
        assert await page.evaluate("[...document.querySelectorAll('[data-camera] input')].every(i => i.disabled)")
        assert await page.evaluate("document.querySelector('[data-camera] .range').textContent") == "range 0 … 255"
        # a click opens that camera's live image; the page acknowledges each image it draws
        await page.evaluate("document.querySelector('[data-camera=\"cam2\"]').click()")
        await page.wait_for("state.liveImages >= 3", 5)
        assert await page.evaluate("document.getElementById('live-name').textContent") == "cam2"
        assert await page.evaluate("[document.getElementById('live-canvas').width,"
                                   " document.getElementById('live-canvas').height]") == [320, 240]
        await page.evaluate("document.querySelector('[data-camera=\"cam1\"] details').open = true")
        png = await page.screenshot()
        return png, await page.evaluate(CANVAS_RECTS)

    png, rects = in_browser(chromium, view.url, steps)
    keep = os.environ.get("FRAMEYARD_VIEW_SCREENSHOT")
    if keep:
        Path(keep).write_bytes(png)
    assert len(rects) == 4
    for box in rects:  # the region outline and blobs over the background; grey levels in the image
        assert distinct_colours(png, box) >= 3, box


@needs_aiohttp
def test_read_only_view_refuses_changes(simhost, host, view_of):
    view = view_of(simhost.port)
    before = host.thresholds()

    async def ask():
        async with aiohttp.ClientSession() as session:
            async with session.ws_connect(view.url + "ws") as ws:
                await ws.send_str(json.dumps({"op": "threshold", "camera": "cam1", "value": (before["cam1"] + 7) % 256}))
                await ws.send_str(json.dumps({"op": "setting", "camera": "cam1", "setting": "gain", "value": 1}))
                replies = []
                while len(replies) < 2:
                    message = await ws.receive(timeout=5)
                    if message.type == aiohttp.WSMsgType.TEXT and json.loads(message.data)["type"] in ("refused", "changed"):
                        replies.append(json.loads(message.data))
                return replies

    replies = asyncio.run(ask())
    assert [r["type"] for r in replies] == ["refused", "refused"]
    assert "--control" in replies[0]["text"]
    assert host.thresholds() == before


@needs_aiohttp
def test_websocket_from_another_origin_is_refused(simhost, view_of):
    view = view_of(simhost.port, "--control")

    async def connect():
        async with aiohttp.ClientSession() as session:
            with pytest.raises(aiohttp.WSServerHandshakeError) as refused:
                await session.ws_connect(view.url + "ws", headers={"Origin": "http://elsewhere.example"})
            return refused.value.status

    assert asyncio.run(connect()) == 403


@needs_browser
def test_threshold_and_setting_changed_from_the_page_reach_the_host(simhost, host, chromium, view_of):
    view = view_of(simhost.port, "--control")
    before = host.thresholds()["cam3"]
    gain_before = host.cameras()[2].settings["gain"].value
    wanted = 17 if before != 17 else 18

    async def steps(page):
        await page.wait_for("document.querySelectorAll('[data-camera=\"cam3\"] input').length > 0")
        await page.evaluate("""(() => {
            const input = document.querySelector('[data-camera="cam3"] input');
            input.value = '%d';
            input.dispatchEvent(new Event('change'));
        })()""" % wanted)
        await page.wait_for("document.getElementById('reply').textContent === 'cam3: threshold %d'" % wanted)
        await page.evaluate("""(() => {
            const input = [...document.querySelectorAll('[data-camera="cam3"] label')]
                .find(l => l.firstChild.textContent === 'gain').querySelector('input');
            input.value = '2.5';
            input.dispatchEvent(new Event('change'));
        })()""")
        await page.wait_for("document.getElementById('reply').textContent === 'cam3: gain 2.5'")
        # the host's notification of the change lands in the running log
        return await page.wait_for("[...document.querySelectorAll('#notes li')].map(li => li.textContent)"
                                   ".find(t => t.includes('_threshold'))")

    try:
        note = in_browser(chromium, view.url, steps)
        assert host.thresholds()["cam3"] == wanted
        assert host.cameras()[2].settings["gain"].value == 2.5
        assert str(wanted) in note
    finally:
        host.set_threshold("cam3", before)
        host.set_setting("cam3", "gain", gain_before)


@needs_browser
def test_banner_while_the_host_is_away(chromium, view_of):
    sim = SimHost("--cameras", "2", "--blobs", "5")
    view = view_of(sim.port)

    async def steps(page):
        try:
            await page.wait_for("(r => r.length === 2 && r.every(([n]) => n === 5))(%s)" % READINGS)
            assert not await page.evaluate(BANNER_SHOWN)
            sim.stop()
            text = await page.wait_for(BANNER_SHOWN + " && document.getElementById('banner').textContent", 5)
            assert "unreachable" in text
            await page.wait_for("document.querySelectorAll('[data-camera].stale').length === 2", 3)
            again = SimHost("--cameras", "2", "--blobs", "5", port=sim.port)
        finally:
            sim.stop()
        try:
            await page.wait_for("!(%s)" % BANNER_SHOWN, 6)
            await page.wait_for("document.querySelectorAll('[data-camera].stale').length === 0", 3)
        finally:
            again.stop()

    in_browser(chromium, view.url, steps)


@needs_aiohttp
def test_a_page_that_does_not_read_gets_the_latest_frame_not_a_backlog(view_of):
    # Frames of 4 x 2000 centroids (64 kB): a backlog of a few seconds would be many megabytes.
    sim = SimHost("--cameras", "4", "--blobs", "2000", "--fps", "100")
    view = view_of(sim.port)

    async def run():
        async with aiohttp.ClientSession() as session:
            async with session.ws_connect(view.url + "ws", max_msg_size=0) as ws:
                sequences, started = [], time.monotonic()
                while time.monotonic() - started < 2.0:
                    message = await ws.receive(timeout=5)
                    if message.type == aiohttp.WSMsgType.BINARY:
                        sequences.append(FRAME_HEAD.unpack_from(message.data)[3])
                        await ws.send_str(SEEN)
                await asyncio.sleep(3.0)  # a page that stops reading
                resumed, ages, caught_up = time.monotonic(), [], None
                while time.monotonic() - resumed < 2.0:
                    message = await ws.receive(timeout=5)
                    if message.type == aiohttp.WSMsgType.BINARY:
                        ages.append(time.time() * 1000 - FRAME_HEAD.unpack_from(message.data)[4])
                        if caught_up is None and ages[-1] < 100:
                            caught_up = len(ages)
                        await ws.send_str(SEEN)
                return sequences, ages, caught_up

    try:
        sequences, ages, caught_up = asyncio.run(run())
    finally:
        sim.stop()
    assert 60 <= len(sequences) <= 2.0 * 60 + 3, len(sequences)  # at most 60 a second from 100
    assert max(b - a for a, b in zip(sequences, sequences[1:])) >= 2  # frames in between were dropped
    # 3 s of 60 frames would be 180 messages queued; only the two frames in flight waited
    assert caught_up is not None and caught_up <= 3, (caught_up, [round(a) for a in ages[:5]])
