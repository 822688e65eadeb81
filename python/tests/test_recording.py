"""Recordings made by frameyard-client record, read by the package and checked against the
tool's own CSV export."""
import csv
import io
import subprocess

import numpy as np
import pytest

import frameyard


@pytest.fixture(scope="module")
def recording(simhost, tmp_path_factory):
    from conftest import tool
    client = tool("FRAMEYARD_CLIENT", "frameyard-client")
    path = tmp_path_factory.mktemp("rec") / "run.fyrec"
    subprocess.run([client, "--port", str(simhost.port), "record", "--out", str(path), "--seconds", "0.6",
                    "--cameras", "cam3,cam1", "--image-size", "320x240"],
                   check=True, stdout=subprocess.DEVNULL, timeout=30)
    exported = subprocess.run([client, "export", str(path), "--csv", "-"], check=True, capture_output=True,
                              text=True, timeout=30).stdout
    return path, list(csv.DictReader(io.StringIO(exported))), client


def test_recording_reads_as_the_client_tool_exports_it(recording):
    path, rows, _ = recording
    rec = frameyard.read_recording(path)
    assert [c.name for c in rec.cameras] == ["cam3", "cam1"]
    assert (rec.cameras[0].width, rec.cameras[0].height, rec.cameras[0].size_given) == (320, 240, True)
    assert "gain" in rec.cameras[0].settings and 0 <= rec.cameras[1].threshold <= 255
    assert len(rec) > 20 and rec.error is None
    table = rec.centroids()
    assert table.dtype.names == ("frame", "time", "camera", "x", "y")
    assert table["x"].dtype == np.float32 and table["time"].dtype == np.float64
    assert len(table) == len(rows)
    assert np.array_equal(table["frame"], [int(r["frame"]) for r in rows])
    assert np.array_equal(np.array([rec.cameras[c].name for c in table["camera"]]), [r["camera"] for r in rows])
    assert np.allclose(table["x"], [float(r["x"]) for r in rows], rtol=1e-6)
    assert np.allclose(table["y"], [float(r["y"]) for r in rows], rtol=1e-6)
    assert np.allclose(table["time"], [float(r["receive_time"]) for r in rows], atol=1e-6)
    assert np.all(np.diff(rec.times) >= 0)
    first = rec.frame(0)
    assert len(first) == 2 and np.array_equal(first[1], np.column_stack([table["x"], table["y"]])[
        (table["frame"] == 0) & (table["camera"] == 1)])


def test_a_damaged_recording_names_the_offset_as_the_tool_does(recording, tmp_path):
    path, _, client = recording
    data = path.read_bytes()
    cut = tmp_path / "cut.fyrec"
    cut.write_bytes(data[:len(data) * 2 // 3])
    tool = subprocess.run([client, "export", str(cut), "--csv", "/dev/null"], capture_output=True, text=True)
    assert tool.returncode == 1
    with pytest.raises(frameyard.Error) as error:
        frameyard.read_recording(cut)
    assert "offset" in str(error.value) and str(error.value) in tool.stderr
    partial = frameyard.read_recording(cut, partial=True)
    assert 0 < len(partial) < len(frameyard.read_recording(path)) and partial.error == str(error.value)

    cases = {b"": "offset 0: empty file", b"GIF89a" + data[6:]: "offset 0: not a frameyard recording",
             data[:8] + b"\0\2" + data[10:]: "offset 8: recording format version 2.0", data[:20]: "offset 20: file ends"}
    for content, message in cases.items():
        cut.write_bytes(content)
        with pytest.raises(frameyard.Error, match=message):
            frameyard.read_recording(cut)
    with pytest.raises(frameyard.Error, match="cannot open"):
        frameyard.read_recording(tmp_path / "missing.fyrec")
