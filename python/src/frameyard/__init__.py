"""frameyard: every protocol of a frameyard camera host from Python, data as numpy arrays.

    import frameyard
    host = frameyard.Host("127.0.0.1", 4000, timeout=5.0)
    with host.stream() as stream:
        frame = stream.next(timeout=1.0)

Every failure is a frameyard.Error carrying one line fit to show a user; every wait for the
host is bounded by the host's time-out. frameyard.aio has the same calls as coroutines.
"""
from ._errors import Error
from ._model import Acquisition, Camera, Field, Frame, LiveFrame, Region, Setting
from ._recording import Recording, read_recording
from ._sync import Host, Live, Stream
from . import aio

__version__ = "0.1.0"

__all__ = ["Error", "Host", "Stream", "Live", "Camera", "Region", "Setting", "Frame", "LiveFrame", "Field",
           "Acquisition", "Recording", "read_recording", "aio"]
