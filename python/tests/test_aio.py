"""frameyard.aio: the same calls as coroutines, several hosts' sessions side by side."""
import asyncio

import numpy as np
import pytest

import frameyard
import frameyard.aio


def run(coroutine):
    return asyncio.run(asyncio.wait_for(coroutine, 30))


def test_configure_and_command_calls(simhost):
    async def main():
        host = frameyard.aio.Host("127.0.0.1", simhost.port, timeout=5.0)
        cameras = await host.cameras()
        await host.set_threshold("cam1", 33)
        thresholds = await host.thresholds()
        held = await host.set_setting("cam1", "exposure", 20)
        await host.set_circular_masks({"cam2": [[1, 2, 3]]})
        masks = await host.circular_masks()
        await host.set_circular_masks({"cam2": []})
        replies = await host.command(["want_cameras", ["cam1"]], ["get_thresholds"])
        await host.set_threshold("cam1", 128)
        await host.set_setting("cam1", "exposure", 10)
        with pytest.raises(frameyard.Error, match="unknown camera 'zz'"):
            await host.set_threshold("zz", 1)
        return cameras, thresholds, held, masks, replies

    cameras, thresholds, held, masks, replies = run(main())
    assert [c.name for c in cameras] == ["cam1", "cam2", "cam3"]
    assert thresholds["cam1"] == 33 and held.value == 20
    assert masks["cam2"].tolist() == [[1, 2, 3]]
    assert replies == ["ok", ["result", [33]]]


def test_streams_live_and_acquisition_at_once(simhost):
    async def realtime(host):
        async with host.stream(cameras=["cam2"], compact=True, messages=True) as stream:
            first = await stream.next(timeout=2.0)
            await stream.send("enable_frame_rate_monitor")
            got = [first]
            async for frame in stream:
                got.append(frame)
                if len(got) == 20:
                    break
            return got, list(stream.messages)

    async def live(host):
        session = await host.live("cam3", images=True)
        async with session:
            return [await session.next(timeout=2.0) for _ in range(6)]

    async def main():
        host = frameyard.aio.Host("127.0.0.1", simhost.port, timeout=5.0)
        progress = []

        async def report(fraction):
            progress.append(fraction)

        return await asyncio.gather(realtime(host), live(host),
                                    host.acquire(fields=4, images=True, progress=report)), progress

    ((frames, messages), items, acq), progress = run(main())
    assert len(frames) == 20 and all(f.cameras == ("cam2",) and f.flags is None for f in frames)
    assert any(m[0] == "frame_rate" for m in messages)
    assert all(i.image is not None and i.image.shape == (240, 320) for i in items)
    assert [f.id for f in acq] == [0, 1, 2, 3] and progress[-1] == 1.0
    assert all(f.images["cam1"].dtype == np.uint8 for f in acq)


def test_silence_is_an_error_not_a_hang():
    async def main():
        server = await asyncio.start_server(lambda r, w: None, "127.0.0.1", 0)
        port = server.sockets[0].getsockname()[1]
        host = frameyard.aio.Host("127.0.0.1", port, timeout=0.3)
        try:
            with pytest.raises(frameyard.Error, match="no answer from the host for 0.3 s"):
                await host.cameras()
        finally:
            server.close()

    run(main())
