"""Realtime streams (full, compact, tagged), live features and acquisitions from the simhost."""
import time

import numpy as np
import pytest

import frameyard


def frames(stream, n):
    got = [stream.next(timeout=2.0) for _ in range(n)]
    assert all(isinstance(f, frameyard.Frame) for f in got), got
    return got


def test_full_form_with_timecodes(host):
    with host.stream() as stream:
        got = frames(stream, 5)
    for frame in got:
        assert frame.cameras == ("cam1", "cam2", "cam3")
        assert len(frame.timecode) == 4 and all(0 <= v < 256 for v in frame.timecode)
        for xy, flags in zip(frame.centroids, frame.flags):
            assert xy.dtype == np.float32 and xy.ndim == 2 and xy.shape[1] == 2
            assert flags.dtype == np.uint16 and flags.shape == (len(xy),) and np.all(flags == 1)
            assert np.all((xy >= 0) & (xy < 512))
        assert frame["cam2"] is frame.centroids[1]
    # Timecodes advance and arrival times are monotonic.
    assert len({f.timecode for f in got}) == 5
    assert all(a.received <= b.received for a, b in zip(got, got[1:]))
    with pytest.raises(frameyard.Error, match="unknown camera 'x'"):
        got[0]["x"]
    with pytest.raises(KeyError):
        got[0]["x"]


def test_compact_form_without_timecodes_in_the_wanted_order(host):
    with host.stream(cameras=["cam3", "cam1"], compact=True, timecodes=False) as stream:
        assert stream.cameras == ("cam3", "cam1")
        frame = frames(stream, 1)[0]
    assert frame.timecode is None and frame.flags is None
    assert [a.dtype for a in frame.centroids] == [np.float32, np.float32]
    # The compact form is 1/128 of a unit: every coordinate is a multiple of it.
    for xy in frame.centroids:
        assert np.array_equal(xy * 128, np.round(xy * 128))


def test_tagged_stream_carries_threshold_notifications_and_monitor_reports(host):
    with host.stream(cameras=["cam2"], messages=True) as stream:
        stream.set_threshold("cam2", 55)
        stream.send("enable_frame_rate_monitor")
        deadline = time.monotonic() + 5
        wanted = ["camera", 0, ["setting_changed", "_threshold", 55]]
        while (wanted not in stream.messages or not any(m[0] == "frame_rate" for m in stream.messages)) \
                and time.monotonic() < deadline:
            stream.next(timeout=0.5)
        assert wanted in stream.messages
        assert any(m[0] == "frame_rate" and m[1] > 0 for m in stream.messages)
        with pytest.raises(frameyard.Error, match="unknown camera 'cam1'"):
            stream.set_threshold("cam1", 1)
    assert host.thresholds()["cam2"] == 55
    host.set_threshold("cam2", 128)


def test_untagged_stream_still_gets_the_monitor_it_asked_for(host):
    with host.stream(timecodes=False) as stream:
        stream.send(["camera", 0, ["change_setting", "exposure", 12]])
        stream.send("enable_camera_online_states_monitor")
        deadline = time.monotonic() + 5
        while not stream.messages and time.monotonic() < deadline:
            stream.next(timeout=0.5)
        assert stream.messages and stream.messages[0][0] == "online_states"
        assert isinstance(stream.next(timeout=2.0), frameyard.Frame)
    assert host.cameras()[0].settings["exposure"].value == 12
    host.set_setting("cam1", "exposure", 10)


def test_iteration_and_the_end_of_a_stream(host):
    stream = host.stream(cameras=["cam1"])
    seen = 0
    for frame in stream:
        seen += 1
        if seen == 3:
            stream.close()
    assert seen == 3
    with pytest.raises(frameyard.Error, match="closed"):
        stream.next()


def test_live_frames_with_images_are_acknowledged(host):
    with host.live("cam2", images=True) as live:
        # The host sends at most two unacknowledged images: ten mean the package acknowledges.
        items = [live.next(timeout=2.0) for _ in range(10)]
    assert all(isinstance(i, frameyard.LiveFrame) for i in items), items
    for item in items:
        assert item.image.dtype == np.uint8 and item.image.shape == (240, 320)
        assert item.segments.dtype == np.uint16 and item.segments.ndim == 2 and item.segments.shape[1] == 3
        assert item.timecode is not None
    assert any(len(i.segments) for i in items)


def test_live_frames_without_images_and_switching_them_on(host):
    with host.live("cam1", images=False) as live:
        first = live.next(timeout=2.0)
        assert first.image is None and first.segments.dtype == np.uint16
        live.set_images(True)
        deadline = time.monotonic() + 5
        item = first
        while item.image is None and time.monotonic() < deadline:
            item = live.next(timeout=2.0)
        assert item.image is not None


def test_acquisition_with_images_and_centroids(host, tmp_path):
    fractions = []
    acq = host.acquire(fields=6, start=0, centroids=True, images=True, progress=fractions.append)
    assert [f.id for f in acq.fields] == list(range(6))
    assert fractions == sorted(fractions) and fractions[-1] == 1.0 and len(fractions) == 6
    for fld in acq.fields:
        assert fld.timecode is not None
        assert set(fld.centroids) == set(fld.images) == {"cam1", "cam2", "cam3"}
        for name in fld.centroids:
            assert fld.centroids[name].dtype == np.float32 and fld.centroids[name].shape[1] == 2
            assert fld.flags[name].shape == (len(fld.centroids[name]),)
            assert fld.images[name].shape == (240, 320) and fld.images[name].dtype == np.uint8
    acq.save(tmp_path / "run.npz")
    with np.load(tmp_path / "run.npz", allow_pickle=False) as archive:
        assert archive["cameras"].tolist() == ["cam1", "cam2", "cam3"]
        assert archive["ids"].tolist() == list(range(6))
        assert np.array_equal(archive["f5_c1_centroids"], acq.fields[5].centroids["cam2"])
        assert np.array_equal(archive["f0_c2_image"], acq.fields[0].images["cam3"])


def test_acquisition_of_centroids_from_a_start_id_stopped_early(host):
    def progress(fraction):
        return fraction < 0.05  # False: stop the recording

    acq = host.acquire(fields=2000, start=500, progress=progress)
    assert 1 <= len(acq) < 2000
    assert acq.fields[0].id == 500 and all(not f.images for f in acq)
    with pytest.raises(frameyard.Error, match="1 to 16777216"):
        host.acquire(fields=0)
