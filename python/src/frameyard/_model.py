"""What the package hands to its callers: cameras, frames, live frames, acquired fields."""
import math
import time
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

import numpy as np

from ._errors import Error, unknown_camera

Timecode = Tuple[int, int, int, int]


@dataclass(frozen=True)
class Region:
    """A rectangle in display units (a 512-unit space centred at 256, 256)."""

    left: float = 0.0
    right: float = 0.0
    top: float = 0.0
    bottom: float = 0.0


@dataclass(frozen=True)
class Setting:
    """A numeric camera setting; an unbounded side is -inf or +inf, precision 0 when none."""

    value: float
    minimum: float = -math.inf
    maximum: float = math.inf
    precision: int = 0


@dataclass
class Camera:
    """One camera as the host describes it."""

    name: str
    region: Region = field(default_factory=Region)
    settings: Dict[str, Setting] = field(default_factory=dict)
    threshold: int = 0
    acquire_region: Optional[Region] = None
    disabled: bool = False
    # Recordings only: the image size the positions refer to, and whether the recorder was told it.
    width: Optional[int] = None
    height: Optional[int] = None
    size_given: Optional[bool] = None


class Frame:
    """One realtime frame: per camera of the stream, a float32 (K, 2) array of centroids."""

    __slots__ = ("cameras", "timecode", "centroids", "flags", "received")

    def __init__(self, cameras, timecode, centroids, flags, received=None):
        self.cameras: Tuple[str, ...] = cameras
        self.timecode: Optional[Timecode] = timecode
        self.centroids: List[np.ndarray] = centroids
        self.flags: Optional[List[np.ndarray]] = flags
        self.received: float = time.monotonic() if received is None else received

    def __getitem__(self, name) -> np.ndarray:
        try:
            return self.centroids[self.cameras.index(name)]
        except ValueError:
            raise unknown_camera(name, self.cameras) from None

    def __len__(self):
        return len(self.centroids)

    def __repr__(self):
        counts = ", ".join("%s: %d" % (n, len(c)) for n, c in zip(self.cameras, self.centroids))
        return "Frame(timecode=%r, %s)" % (self.timecode, counts)


class LiveFrame:
    """One live-feature frame of the selected camera: run segments, optionally an 8-bit image."""

    __slots__ = ("camera", "timecode", "segments", "image", "received")

    def __init__(self, camera, timecode, segments, image, received=None):
        self.camera: Optional[str] = camera
        self.timecode: Optional[Timecode] = timecode
        self.segments: np.ndarray = segments
        self.image: Optional[np.ndarray] = image
        self.received: float = time.monotonic() if received is None else received

    def __repr__(self):
        shape = None if self.image is None else self.image.shape
        return "LiveFrame(camera=%r, timecode=%r, segments=%d, image=%r)" % (
            self.camera, self.timecode, len(self.segments), shape)


@dataclass(repr=False)
class Field:
    """One acquired field: per camera name its centroids (float32 (K, 2), display units),
    flags (uint16 (K,)) and image (uint8 (h, w)), each only when the field carries them."""

    id: int
    timecode: Optional[Timecode] = None
    centroids: Dict[str, np.ndarray] = field(default_factory=dict)
    flags: Dict[str, np.ndarray] = field(default_factory=dict)
    images: Dict[str, np.ndarray] = field(default_factory=dict)

    def __repr__(self):
        counts = ", ".join("%s: %d" % (n, len(c)) for n, c in self.centroids.items())
        return "Field(id=%d, timecode=%r, centroids {%s}, images %s)" % (
            self.id, self.timecode, counts, sorted(self.images))


@dataclass
class Acquisition:
    """The downloaded fields of one acquisition, in the host's order."""

    cameras: List[str]
    fields: List[Field]

    def __len__(self):
        return len(self.fields)

    def __iter__(self):
        return iter(self.fields)

    def save(self, path):
        """Writes every field's arrays to one numpy archive (numpy.load reads it without pickle).

        Keys: `cameras` (names), `ids` (F,), `timecodes` (F, 4; -1 where a field has none) and
        per field index f and camera index c `f{f}_c{c}_centroids`, `..._flags`, `..._image`."""
        arrays = {
            "cameras": np.array(self.cameras, dtype=str),
            "ids": np.array([f.id for f in self.fields], dtype=np.int64),
            "timecodes": np.array([f.timecode if f.timecode else (-1, -1, -1, -1) for f in self.fields],
                                  dtype=np.int16).reshape(-1, 4),
        }
        for f_index, fld in enumerate(self.fields):
            for c_index, name in enumerate(self.cameras):
                prefix = "f%d_c%d_" % (f_index, c_index)
                if name in fld.centroids:
                    arrays[prefix + "centroids"] = fld.centroids[name]
                    arrays[prefix + "flags"] = fld.flags[name]
                if name in fld.images:
                    arrays[prefix + "image"] = fld.images[name]
        try:
            np.savez(path, **arrays)
        except OSError as error:
            raise Error("cannot write %s: %s" % (path, error.strerror or error)) from None
