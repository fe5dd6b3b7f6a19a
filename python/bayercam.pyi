"""The bayercam camera from Python: frames as NumPy arrays."""

import os
from typing import Iterator, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

Image = npt.NDArray[np.uint8]

class Error(Exception):
    """A failed camera call; str() is the library's message."""

    code: int  # the library's negative errno-style code

class NotFound(Error): ...
class Busy(Error): ...
class Timeout(Error, TimeoutError): ...
class AccessDenied(Error, PermissionError): ...
class InvalidArgument(Error, ValueError): ...
class DeviceError(Error): ...
class OutOfMemory(Error, MemoryError): ...

class Control:
    """One camera control: its value (read and write), range and access."""

    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...
    @value.setter
    def value(self, value: int) -> None: ...
    @property
    def min(self) -> Optional[int]: ...
    @property
    def max(self) -> Optional[int]: ...
    @property
    def default(self) -> Optional[int]: ...
    @property
    def access(self) -> str:
        """'get/set', 'get' or 'set'."""

class Controls(Mapping[str, Control]):
    """The camera's controls by name."""

    def __getitem__(self, name: str) -> Control: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...

class Frame:
    """One delivered frame; its arrays are copies that outlive the stream."""

    @property
    def array(self) -> Image:
        """(height, width, 4) uint8, BGRA, top row first."""
    @property
    def raw(self) -> Optional[Image]:
        """(1024, 1360) uint8 RGGB Bayer samples of the whole sensor, with raw=True."""
    @property
    def sequence(self) -> int: ...
    @property
    def timestamp_ns(self) -> int: ...
    @property
    def dropped(self) -> int: ...

class Stream(Iterator[Frame]):
    """Frames from Camera.stream(); the camera stops streaming when it ends or is dropped."""

    def __iter__(self) -> "Stream": ...
    def __next__(self) -> Frame: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Stream": ...
    def __exit__(self, *args: object) -> None: ...

class Camera:
    """An open camera; a context manager that closes it."""

    @property
    def closed(self) -> bool: ...
    @property
    def controls(self) -> Controls: ...
    @property
    def region(self) -> Tuple[int, int, int, int]:
        """(x, y, w, h) of the sensor region delivered."""
    @region.setter
    def region(self, region: Sequence[int]) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Camera": ...
    def __exit__(self, *args: object) -> None: ...
    def capture(self, timeout_ms: int = 3000) -> Image:
        """The next frame, (height, width, 4) uint8, BGRA, top row first."""
    def stream(
        self, count: Optional[int] = None, raw: bool = False, timeout_ms: int = 3000
    ) -> Stream: ...
    def get(self, name: str) -> int: ...
    def set(self, **values: int) -> None: ...

def open(
    selector: Optional[str] = None,
    settings_dir: Union[str, os.PathLike[str], None] = None,
    auto_exposure: bool = False,
) -> Camera:
    """Opens 'sim', 'sim:scene=...', 'usb:VID:PID[:SERIAL]', 'usb-path:...' or the first camera."""

def list_cameras() -> list[str]:
    """Selectors of the attached real cameras."""

def convert(
    raw: Image, *, region: Optional[Sequence[int]] = None, **settings: int
) -> Image:
    """The colour pipeline on a raw (1024, 1360) frame from the default settings plus `settings`."""
