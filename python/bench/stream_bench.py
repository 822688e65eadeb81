#!/usr/bin/env python3
"""One Python client taking a realtime stream of 500 frames/s, 8 cameras x 200 centroids each,
full form, from frameyard-simhost: frames received against frames the host sent, and the CPU the
client used (time.process_time, as % of one core). With frameyard-client at hand, the C++
client's CPU on the same stream is measured beside it.

    /usr/bin/python3 python/bench/stream_bench.py [--seconds 10] [--fps 500] [--cameras 8] [--blobs 200]

Binaries: FRAMEYARD_SIMHOST and FRAMEYARD_CLIENT, else ../build/default/tools/ from python/.
"""
import argparse
import os
import re
import resource
import socket
import subprocess
import sys
import time
from pathlib import Path

PYTHON_DIR = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(PYTHON_DIR / "src"))

import frameyard  # noqa: E402

TOOLS = PYTHON_DIR.parent / "build" / "default" / "tools"


def binary(env, name):
    path = Path(os.environ.get(env) or TOOLS / name)
    return str(path) if path.exists() else None


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_host(args, port):
    simhost = binary("FRAMEYARD_SIMHOST", "frameyard-simhost")
    if simhost is None:
        sys.exit("frameyard-simhost not found: build it or set FRAMEYARD_SIMHOST")
    process = subprocess.Popen([simhost, "--port", str(port), "--quiet", "--cameras", str(args.cameras),
                                "--blobs", str(args.blobs), "--fps", str(args.fps)],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    deadline = time.monotonic() + 10
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return process
        except OSError:
            if time.monotonic() > deadline or process.poll() is not None:
                process.kill()
                sys.exit("frameyard-simhost did not start")
            time.sleep(0.05)


def stop_host(process):
    """Stops the host by its pid; returns the frames it says it served."""
    process.terminate()
    out, _ = process.communicate(timeout=10)
    served = re.search(r"stopped after [\d.]+ s, (\d+) frames served", out)
    return int(served.group(1)) if served else None


def python_client(args):
    port = free_port()
    process = start_host(args, port)
    host = frameyard.Host("127.0.0.1", port, timeout=5.0)
    received = centroids = 0
    stream = host.stream(compact=False, timecodes=True)
    # Warm up: the first frames also start the host's frame production.
    while received < args.fps // 2:
        frame = stream.next(timeout=2.0)
        if frame is None:
            sys.exit("no frames from the host")
        received += 1
    cpu0, wall0, measured0 = time.process_time(), time.monotonic(), received
    while time.monotonic() - wall0 < args.seconds:
        frame = stream.next(timeout=2.0)
        if frame is None:
            sys.exit("the stream stalled")
        received += 1
        centroids += sum(len(c) for c in frame.centroids)
    cpu, wall = time.process_time() - cpu0, time.monotonic() - wall0
    measured = received - measured0
    # Every frame the host served must arrive: stop the host and read the stream to its end.
    served = None
    try:
        served = stop_host(process)
        while True:
            if stream.next(timeout=2.0) is not None:
                received += 1
    except frameyard.Error:
        pass
    stream.close()
    return {"measured": measured, "wall": wall, "cpu": cpu, "centroids": centroids, "received": received,
            "served": served}


def cpp_client(args):
    client = binary("FRAMEYARD_CLIENT", "frameyard-client")
    if client is None:
        return None
    port = free_port()
    process = start_host(args, port)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    subprocess.run([client, "--port", str(port), "stream", "--timecodes", "--seconds", str(args.seconds)],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    wall = time.monotonic() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    stop_host(process)
    return {"cpu": (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), "wall": wall}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--fps", type=int, default=500)
    parser.add_argument("--cameras", type=int, default=8)
    parser.add_argument("--blobs", type=int, default=200)
    args = parser.parse_args()

    py = python_client(args)
    rate = py["measured"] / py["wall"]
    print("python client: %d frames in %.1f s (%.1f frames/s), %.0f centroids/frame, CPU %.1f %% of one core"
          % (py["measured"], py["wall"], rate, py["centroids"] / max(py["measured"], 1), 100 * py["cpu"] / py["wall"]))
    if py["served"] is None:
        print("frames: %d received; the host did not report what it served" % py["received"])
    else:
        print("frames: %d served by the host, %d received (%s)" % (
            py["served"], py["received"], "every frame" if py["received"] >= py["served"] - 1 else "FRAMES LOST"))
    cpp = cpp_client(args)
    if cpp is not None:
        print("C++ frameyard-client stream on the same stream: CPU %.1f %% of one core over %.1f s"
              % (100 * cpp["cpu"] / cpp["wall"], cpp["wall"]))


if __name__ == "__main__":
    main()
