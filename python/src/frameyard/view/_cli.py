"""The command line of frameyard-view."""
import argparse
import asyncio
import signal
import sys


def parse(argv):
    parser = argparse.ArgumentParser(
        prog="frameyard-view",
        description="Serves a page that shows a frameyard host's cameras live in any browser.")
    parser.add_argument("--host", default="127.0.0.1", help="address of the frameyard host (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=4000, help="port of the frameyard host (default 4000)")
    parser.add_argument("--http-port", type=int, default=8080,
                        help="port the page is served on (default 8080; 0 picks a free one)")
    parser.add_argument("--bind", default="127.0.0.1",
                        help="address the page is served on (default 127.0.0.1; 0.0.0.0 offers it to the network)")
    parser.add_argument("--control", action="store_true",
                        help="let the page change thresholds and settings (otherwise they are read-only)")
    parser.add_argument("--seconds", type=float, default=0.0, help="stop after S seconds (default 0: run until interrupted)")
    args = parser.parse_args(argv)
    if not 0 <= args.http_port <= 65535 or not 1 <= args.port <= 65535:
        parser.error("ports are 1 to 65535 (--http-port may be 0)")
    if args.seconds < 0:
        parser.error("--seconds is not negative")
    return args


async def serve(args):
    from ._server import start
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for number in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(number, stop.set)
    runner, address = await start(args)
    mode = "may change the host" if args.control else "read-only"
    print("frameyard-view: http://%s:%d/ showing %s:%d (%s)" % (address[0], address[1], args.host, args.port, mode),
          flush=True)
    try:
        if args.seconds:
            try:
                await asyncio.wait_for(stop.wait(), args.seconds)
            except asyncio.TimeoutError:
                pass
        else:
            await stop.wait()
    finally:
        await runner.cleanup()


def main(argv=None):
    args = parse(sys.argv[1:] if argv is None else argv)
    try:
        import aiohttp  # noqa: F401
    except ImportError:
        print("frameyard-view needs aiohttp (Debian: python3-aiohttp; pip: frameyard[view])", file=sys.stderr)
        return 2
    try:
        asyncio.run(serve(args))
    except OSError as error:
        print("frameyard-view: cannot serve on %s:%d: %s" % (args.bind, args.http_port, error.strerror or error),
              file=sys.stderr)
        return 1
    return 0
