"""The configure and command calls of frameyard.Host against a running simhost."""
import math

import numpy as np
import pytest

import frameyard


def test_cameras_describe_every_camera_in_host_order(host):
    cameras = host.cameras()
    assert [c.name for c in cameras] == ["cam1", "cam2", "cam3"]
    cam = cameras[0]
    # 320 x 240 maps with scale min(512/320, 368/240) = 1.5333: 245.3 units wide, centred at 256.
    assert cam.region.top == pytest.approx(72.0) and cam.region.bottom == pytest.approx(440.0)
    assert cam.region.left == pytest.approx(256 - 160 * 368 / 240, abs=1e-3)
    gain = cam.settings["gain"]
    assert (gain.minimum, gain.maximum, gain.precision) == (0.0, 16.0, 2)
    assert cam.threshold == host.thresholds()["cam1"]


def test_threshold_set_and_read_back(host):
    host.set_threshold("cam2", 41)
    assert host.thresholds()["cam2"] == 41
    host.set_threshold("cam2", 128)
    assert host.thresholds() == {c.name: c.threshold for c in host.cameras()}
    for bad in (256, -1, 2.5, True):
        with pytest.raises(frameyard.Error, match="0 to 255"):
            host.set_threshold("cam2", bad)


def test_setting_changes_and_reports_what_the_host_holds(host):
    assert host.set_setting("cam3", "gain", 2.5).value == 2.5
    assert host.cameras()[2].settings["gain"].value == 2.5
    # Above the range: the host keeps its value within it, and the call says so.
    held = host.set_setting("cam3", "gain", 99)
    assert held.value <= held.maximum
    with pytest.raises(frameyard.Error, match="no setting 'nope'.*gain"):
        host.set_setting("cam3", "nope", 1)
    with pytest.raises(frameyard.Error, match="finite"):
        host.set_setting("cam3", "gain", math.nan)
    host.set_setting("cam3", "gain", 1)


def test_circular_masks_replace_only_the_cameras_named(host):
    host.set_circular_masks({"cam1": [[10, 20, 3]], "cam3": [[100, 120, 8], [200, 210.5, 4]]})
    host.set_circular_masks({"cam3": [[50, 60, 5]]})
    masks = host.circular_masks()
    assert set(masks) == {"cam1", "cam2", "cam3"}
    assert masks["cam1"].dtype == np.float32 and masks["cam1"].tolist() == [[10, 20, 3]]
    assert masks["cam2"].shape == (0, 3)
    assert masks["cam3"].tolist() == [[50, 60, 5]]
    host.set_circular_masks({"cam1": [], "cam3": np.zeros((0, 3))})
    assert all(len(m) == 0 for m in host.circular_masks().values())
    with pytest.raises(frameyard.Error, match="x, y, radius"):
        host.set_circular_masks({"cam1": [[1, 2]]})


def test_command_replies_in_order_errors_included(host):
    assert host.command(["get_thresholds"]) == ["error", "no_wanted_cameras"]
    replies = host.command(["want_cameras", ["cam3", "cam1"]], ["get_thresholds"], "foo", b'["get_thresholds"')
    thresholds = host.thresholds()
    assert replies[:3] == ["ok", ["result", [thresholds["cam3"], thresholds["cam1"]]], ["error", "unknown_command"]]
    assert replies[3] == ["error", "bad_command"]
    assert host.command("enable_realtime_messages") == "ok"


def test_every_call_naming_a_camera_refuses_an_unknown_name(host):
    calls = [
        lambda: host.set_threshold("nosuch", 10),
        lambda: host.set_setting("nosuch", "gain", 1),
        lambda: host.set_circular_masks({"nosuch": [[1, 2, 3]]}),
        lambda: host.stream(cameras=["cam1", "nosuch"]),
        lambda: host.live("nosuch"),
    ]
    for call in calls:
        with pytest.raises(frameyard.Error, match=r"unknown camera 'nosuch' \(cameras: cam1, cam2, cam3\)"):
            call()
