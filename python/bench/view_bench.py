#!/usr/bin/env python3
"""frameyard-view under load: a host of 8 cameras x 200 centroids at 100 frames/s, five pages
open in one headless browser. Reports the view's CPU (% of one core, from /proc) and resident
memory, and per page the frames drawn per second and the largest age of a frame on arrival
(wall clock at the page minus the time the view received the frame from the host).

    /usr/bin/python3 python/bench/view_bench.py [--seconds 10] [--pages 5] [--cameras 8] [--blobs 200] [--fps 100]

Needs aiohttp and chromium; binaries from FRAMEYARD_SIMHOST, else ../build/default/tools/.
"""
import argparse
import asyncio
import os
import sys
import time
from pathlib import Path

PYTHON_DIR = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(PYTHON_DIR / "src"))
sys.path.insert(0, str(PYTHON_DIR / "tests"))
os.environ.setdefault("FRAMEYARD_SIMHOST", str(PYTHON_DIR.parent / "build" / "default" / "tools" / "frameyard-simhost"))

import aiohttp  # noqa: E402

from browser import Chromium, Page, View  # noqa: E402
from conftest import SimHost  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    fields = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def memory_kib(pid):
    status = dict(line.split(":", 1) for line in Path("/proc/%d/status" % pid).read_text().splitlines())
    return int(status["VmRSS"].split()[0]), int(status["VmHWM"].split()[0])


async def measure(args, chromium, view):
    async with aiohttp.ClientSession() as session:
        pages = [await Page.open(session, chromium, view.url) for _ in range(args.pages)]
        for page in pages:
            await page.wait_for("typeof state !== 'undefined' && state.frames > 10", 10)
        await asyncio.sleep(1.0)  # past the pages' start-up
        for page in pages:
            await page.evaluate("state.ageMax = 0, state.late = 0, state.frames = 0")
        cpu0, t0 = cpu_seconds(view.process.pid), time.monotonic()
        rss_max = 0
        while time.monotonic() - t0 < args.seconds:
            await asyncio.sleep(0.5)
            rss_max = max(rss_max, memory_kib(view.process.pid)[0])
        cpu1, t1 = cpu_seconds(view.process.pid), time.monotonic()
        results = [await page.evaluate("[state.frames, state.ageMax, state.late]") for page in pages]
        for page in pages:
            await page.close()
        return (cpu1 - cpu0) / (t1 - t0), t1 - t0, rss_max, results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--pages", type=int, default=5)
    parser.add_argument("--cameras", type=int, default=8)
    parser.add_argument("--blobs", type=int, default=200)
    parser.add_argument("--fps", type=float, default=100.0)
    args = parser.parse_args()
    sim = SimHost("--cameras", str(args.cameras), "--blobs", str(args.blobs), "--fps", str(args.fps))
    view = chromium = None
    try:
        view = View(sim.port)
        chromium = Chromium()
        cpu, elapsed, rss_max, results = asyncio.run(measure(args, chromium, view))
        hwm = memory_kib(view.process.pid)[1]
    finally:
        for process in (chromium, view, sim):
            if process is not None:
                process.stop()
    print("host: %d cameras x %d centroids at %g frames/s; %d pages for %.1f s" %
          (args.cameras, args.blobs, args.fps, args.pages, elapsed))
    print("view: CPU %.1f %% of one core, resident %.1f MiB (peak %.1f MiB)" % (cpu * 100, rss_max / 1024, hwm / 1024))
    worst = 0.0
    for number, (frames, age_max, late) in enumerate(results, 1):
        worst = max(worst, age_max)
        print("page %d: %.1f frames/s drawn, largest frame age %.0f ms, %d frames older than 100 ms" %
              (number, frames / elapsed, age_max, late))
    print("largest frame age on any page: %.0f ms (%s 100 ms)" % (worst, "within" if worst <= 100 else "OVER"))


if __name__ == "__main__":
    main()
