"""A headless browser driven over the DevTools protocol, and frameyard-view as a process: what
the view's tests and its benchmark share. Processes are stopped by their own pid."""
import asyncio
import base64
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import frameyard

CHROMIUM = os.environ.get("FRAMEYARD_CHROMIUM", "/usr/bin/chromium")
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
                  "--disable-backgrounding-occluded-windows"]


def stop_process(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class View:
    """frameyard-view on a free port of 127.0.0.1, showing the host at `port`."""

    def __init__(self, port, *options):
        env = dict(os.environ)
        package_root = str(Path(frameyard.__file__).resolve().parents[1])
        env["PYTHONPATH"] = package_root + os.pathsep + env.get("PYTHONPATH", "")
        self.process = subprocess.Popen([sys.executable, "-m", "frameyard.view", "--port", str(port),
                                         "--http-port", "0", *options],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        line = self._first_line(10.0)
        if not line.startswith("frameyard-view: http://"):
            self.stop()
            raise RuntimeError("frameyard-view did not start: %r %r" % (line, self.process.stderr.read()))
        self.url = line.split()[1]
        self.http_port = int(self.url.rstrip("/").rsplit(":", 1)[1])

    def _first_line(self, seconds):
        ready, _, _ = select.select([self.process.stdout], [], [], seconds)
        return self.process.stdout.readline().decode() if ready else ""

    def stop(self):
        stop_process(self.process)


class Chromium:
    """One headless browser; pages are opened in it over DevTools."""

    def __init__(self, width=1100, height=1000):
        self.profile = tempfile.mkdtemp(prefix="frameyard-view-chromium-")
        self.process = subprocess.Popen([CHROMIUM, *CHROMIUM_FLAGS, "--user-data-dir=" + self.profile,
                                         "--remote-debugging-port=0", "--window-size=%d,%d" % (width, height),
                                         "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = Path(self.profile) / "DevToolsActivePort"
        deadline = time.monotonic() + 20
        while not (port_file.exists() and port_file.read_text().strip()):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("chromium did not start")
            time.sleep(0.05)
        self.devtools = "http://127.0.0.1:%s" % port_file.read_text().split()[0]

    def stop(self):
        stop_process(self.process)
        shutil.rmtree(self.profile, ignore_errors=True)


class Page:
    """One browser tab: evaluate JavaScript, wait for a condition, take a screenshot."""

    def __init__(self, session, target, ws):
        self.session, self.target, self.ws = session, target, ws
        self._next_id = 0

    @classmethod
    async def open(cls, session, chromium, url):
        async with session.put(chromium.devtools + "/json/new?" + url) as reply:
            target = await reply.json()
        ws = await session.ws_connect(target["webSocketDebuggerUrl"], max_msg_size=0)
        return cls(session, target, ws)

    async def call(self, method, **params):
        self._next_id += 1
        await self.ws.send_str(json.dumps({"id": self._next_id, "method": method, "params": params}))
        while True:
            message = json.loads((await self.ws.receive(timeout=30)).data)
            if message.get("id") == self._next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message["result"]

    async def evaluate(self, expression):
        result = await self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    async def wait_for(self, expression, seconds=5.0):
        """The expression's value once it is truthy; AssertionError naming the last value otherwise."""
        deadline = time.monotonic() + seconds
        while True:
            value = await self.evaluate(expression)
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError("after %g s still %r: %s" % (seconds, value, expression))
            await asyncio.sleep(0.1)

    async def screenshot(self):
        return base64.b64decode((await self.call("Page.captureScreenshot", format="png"))["data"])

    async def close(self):
        await self.ws.close()
        async with self.session.get(self.session_url("/json/close/" + self.target["id"])):
            pass

    def session_url(self, path):
        ws_url = self.target["webSocketDebuggerUrl"]
        return "http://" + ws_url.split("/")[2] + path
